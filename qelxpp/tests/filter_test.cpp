// Filters, locate and continue, and relations, on the engine's expression
// texts.
#include <qel32.h>

#include "area_support.h"

using namespace qelxpp;
using namespace qeltest;
using xpp::Value;
namespace qt = qelxpp::testing;

namespace {

class FilterTest : public LoadedTest {
protected:
    void SetUp() override {
        LoadedTest::SetUp();
        Letters();
    }
    // The record numbers DBGOTOP and DBSKIP pass, up to the end of file.
    std::string Visible() {
        std::string out;
        for (DBGOTOP(); !EOF_().Log(); DBSKIP()) out += (out.empty() ? "" : " ") + std::to_string(RECNO().Int());
        return out;
    }
};

TEST_F(FilterTest, AFilterHidesRecordsUntilCleared) {
    bool evaluated = false;
    xpp::Block block([&](xpp::Args&) {
        evaluated = true;
        return Value(true);
    });
    EXPECT_TRUE(DBSETFILTER(block, "AMOUNT > 100").Log());
    EXPECT_EQ(Visible(), "5 6 7 8 9 10");
    EXPECT_EQ(Show(DBFILTER()), "C:AMOUNT > 100");
    EXPECT_FALSE(evaluated);
    // Texts go to the engine as they are: not trimmed, not upper-cased.
    EXPECT_TRUE(DBSETFILTER(Value(), "amount <= 50 ").Log());
    EXPECT_EQ(Visible(), "1 2");
    EXPECT_EQ(Show(DBFILTER()), "C:amount <= 50 ");
    EXPECT_TRUE(DBCLEARFILTER().Log());
    EXPECT_EQ(Visible(), "1 2 3 4 5 6 7 8 9 10");
    EXPECT_EQ(Show(DBFILTER()), "C:");
    EXPECT_EQ(qt::LastResult().Int(), 5037);  // none: told apart from a failure by the last result only
    ExpectNoErrors();
    // No filter to clear: the engine's answer is reported.
    EXPECT_FALSE(DBCLEARFILTER().Log());
    ExpectError("QEL_5037, No condition is set");
    EXPECT_EQ(Show(DBFILTER()), "C:");
    EXPECT_EQ(qt::LastResult().Int(), 5037);
    EXPECT_TRUE(errors.empty());
}

// A filter longer than DBFILTER's 255 characters comes back cut.
TEST_F(FilterTest, ALongFilterReadsBackCut) {
    std::string text = "AMOUNT > 100";
    while (text.size() <= 300) text += " .AND. NAME <> 'ZZZZZZZZ'";
    ASSERT_TRUE(DBSETFILTER(Value(), text).Log());
    EXPECT_EQ(Visible(), "5 6 7 8 9 10");
    EXPECT_EQ(DBFILTER().Str(), text.substr(0, 255));
    ExpectNoErrors();
}

// A condition that is not character reaches the engine as no text.
TEST_F(FilterTest, ConditionsThatAreNotText) {
    struct Case {
        const char* what;
        std::function<Value()> fn;
    };
    const std::vector<Case> cases = {
        {"DBSETFILTER with a block alone", [] { return DBSETFILTER(xpp::Block([](xpp::Args&) { return Value(true); })); }},
        {"DBSETFILTER()", [] { return DBSETFILTER(); }},
        {"DBLOCATE with a number", [] { return DBLOCATE(5); }},
        {"DBLOCATE with a block", [] { return DBLOCATE(xpp::Block([](xpp::Args&) { return Value(true); })); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Show(c.fn()), "L:.F.");
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0]->subCode.Int(), 5004);
        errors.clear();
    }
    EXPECT_EQ(Visible(), "1 2 3 4 5 6 7 8 9 10");
    EXPECT_EQ(Show(DBFILTER()), "C:");
}

TEST_F(FilterTest, LocateAndContinue) {
    DBGOBOTTOM();
    EXPECT_TRUE(DBLOCATE("NAME = 'B'", Value(), Value(), Value(), Value()).Log());
    EXPECT_EQ(RECNO().Int(), 2);
    EXPECT_TRUE(FOUND().Log());
    EXPECT_TRUE(DBCONTINUE().Log());
    EXPECT_EQ(RECNO().Int(), 6);
    EXPECT_TRUE(FOUND().Log());
    EXPECT_FALSE(DBCONTINUE().Log());
    EXPECT_FALSE(FOUND().Log());
    EXPECT_FALSE(DBLOCATE("NAME = 'Z'").Log());
    EXPECT_FALSE(FOUND().Log());
    ExpectNoErrors();
    // Locate searches the table's records (WA_TABLE), whatever order
    // controls navigation.
    ASSERT_TRUE(ORDCREATE(Value(), "NAME", "NAME").IsNil());
    ASSERT_TRUE(ORDLISTADD().Log());
    EXPECT_TRUE(DBLOCATE("AMOUNT > 60").Log());
    EXPECT_EQ(RECNO().Int(), 3);  // H, 75; by NAME A, 100 would come first
    EXPECT_TRUE(DBCONTINUE().Log());
    EXPECT_EQ(RECNO().Int(), 4);
    ExpectNoErrors();
    // An expression the engine cannot read is reported.
    EXPECT_FALSE(DBLOCATE("NAME = ").Log());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_GT(errors[0]->subCode.Int(), 0);
    errors.clear();
}

TEST_F(FilterTest, Relations) {
    EXPECT_EQ(Show(DBRELATION(1)), "C:");
    EXPECT_TRUE(DBCLEARRELATION().Log());
    KivTestFailCall("KivClearRelation", 5099, "planted", 1);
    EXPECT_FALSE(DBCLEARRELATION().Log());
    ExpectError("QEL_5099, planted");
}

TEST_F(FilterTest, AFreeWorkArea) {
    ExpectOnFreeArea(3, {
                            {"DBSETFILTER", [] { return DBSETFILTER(Value(), "AMOUNT > 1"); }, "L:.F.", kNotInUse},
                            {"DBCLEARFILTER", [] { return DBCLEARFILTER(); }, "L:.F.", kSilent},
                            {"DBFILTER", [] { return DBFILTER(); }, "C:", kSilent},
                            {"DBLOCATE", [] { return DBLOCATE("AMOUNT > 1"); }, "L:.F.", kNotInUse},
                            {"DBCONTINUE", [] { return DBCONTINUE(); }, "L:.F.", kNotInUse},
                            {"DBRELATION", [] { return DBRELATION(); }, "C:", kSilent},
                            {"DBCLEARRELATION", [] { return DBCLEARRELATION(); }, "L:.T.", kSilent},
                        });
}

}  // namespace
