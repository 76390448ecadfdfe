// Work in the area of another alias: fields, record numbers, blocks, and
// the caller's current area afterwards.
#include "area_support.h"

using namespace qelxpp;
using namespace qeltest;
using xpp::Value;
namespace qt = qelxpp::testing;

namespace {

class OtherAreaTest : public LoadedTest {
protected:
    void SetUp() override {
        LoadedTest::SetUp();
        QELSETTABLETYPE(2);
        for (const char* file : {"MINE.DBF", "THEIRS.DBF"})
            ASSERT_TRUE(DBCREATE(file, xpp::Array{Value(Field("NAME", "C", 10, 0)), Value(Field("QTY", "N", 5, 0))}).Log());
        OpenWithRecord("THEIRS.DBF", "B");
        FIELDPUT(1, "theirs1");
        ASSERT_EQ(0u, KivAppendRecord(CurrentTable()));
        FIELDPUT(1, "theirs2");
        OpenWithRecord("MINE.DBF", "A");
        FIELDPUT(1, "mine");
        for (int area : {1, 2}) qt::WorkAreaRecord(area).Arr().Set(WA_PENDING, 0);
        ExpectNoErrors();
    }
};

TEST_F(OtherAreaTest, FieldsRecordNumbersAndBlocksOfAnotherArea) {
    EXPECT_EQ(SELECT().Int(), 2);
    EXPECT_EQ(FIELDWGET("b", " name ").Str(), "theirs2   ");
    EXPECT_EQ(FIELDWPUT("B", "Qty", 7).Int(), 7);
    EXPECT_EQ(FIELDWGET2("B", 2).Int(), 7);
    EXPECT_EQ(FIELDWPUT2("B", 1, "two").Str(), "two");
    EXPECT_EQ(QELWRECNO("B").Int(), 2);
    EXPECT_EQ(RECNO().Int(), 1);
    EXPECT_EQ(FIELDGET(1).Str(), "mine      ");
    EXPECT_EQ(qt::WorkAreaRecord(1).Arr().Get(WA_PENDING).Int(), 2);
    EXPECT_EQ(qt::WorkAreaRecord(2).Arr().Get(WA_PENDING).Int(), 0);

    std::string seen;
    Value sum = QELWBLOCK("B", xpp::Block([&](xpp::Args& a) {
                              seen = ALIAS().Str() + " " + std::to_string(a.PCount());
                              for (size_t i = 3; i <= 10; ++i)
                                  if (!a.Get(i).IsNil()) seen += " extra";
                              return xpp::Plus(a.Get(1), a.Get(2));
                          }),
                          1, 2);
    EXPECT_EQ(sum.Int(), 3);
    EXPECT_EQ(seen, "B 10");

    Value block = FIELDWBLOCK("NAME", "B");
    ASSERT_TRUE(block.IsBlock());
    EXPECT_EQ(xpp::Eval(block).Str(), "two       ");
    EXPECT_EQ(xpp::Eval(block, xpp::Args{Value("three")}).Str(), "three");
    EXPECT_EQ(FIELDWGET("B", "NAME").Str(), "three     ");
    EXPECT_EQ(SELECT().Int(), 2);
    EXPECT_EQ(ALIAS().Str(), "A");
    ExpectNoErrors();
}

TEST_F(OtherAreaTest, UnknownNamesAndAliases) {
    KivTestRecordCalls(1);
    EXPECT_TRUE(FIELDWPUT("B", "NOPE", 1).IsNil());
    ExpectError("QEL_-100, Assert");
    EXPECT_TRUE(FIELDWGET("B", "NOPE").IsNil());
    Value block = FIELDWBLOCK("NOPE", "B");
    EXPECT_TRUE(xpp::Eval(block).IsNil());
    EXPECT_TRUE(xpp::Eval(block, xpp::Args{Value(5)}).IsNil());
    ExpectNoErrors();
    EXPECT_EQ(CallLog(), "");
    EXPECT_EQ(qt::WorkAreaRecord(1).Arr().Get(WA_PENDING).Int(), 0);
    KivTestRecordCalls(0);
    // An alias that names no area: reported, the work runs here.
    EXPECT_EQ(QELWRECNO("NOWHERE").Int(), 1);
    ExpectError("QEL_-999, Alias doesn't exist:[NOWHERE]");
    EXPECT_EQ(SELECT().Int(), 2);
    // The writers write nothing through such an alias, not even here.
    Value into = FIELDWBLOCK("NAME", "NOWHERE");
    ExpectError("QEL_-999, Alias doesn't exist:[NOWHERE]");
    struct {
        const char* what;
        std::function<Value()> call;
    } writes[] = {
        {"FIELDWPUT", [] { return FIELDWPUT("NOWHERE", "NAME", "Bob"); }},
        {"FIELDWPUT2", [] { return FIELDWPUT2("NOWHERE", 1, "Bob"); }},
        {"block", [&] { return xpp::Eval(into, xpp::Args{Value("Bob")}); }},
    };
    for (auto& w : writes) {
        SCOPED_TRACE(w.what);
        EXPECT_TRUE(CallsOf([&] { EXPECT_TRUE(w.call().IsNil()); }).find("KivSetField") == std::string::npos);
        ExpectError("QEL_-999, Alias doesn't exist:[NOWHERE]");
        EXPECT_EQ(SELECT().Int(), 2);
    }
    EXPECT_EQ(qt::WorkAreaRecord(2).Arr().Get(WA_PENDING).Int(), 0);
    EXPECT_EQ(FIELDGET(1).Str(), "mine      ");
    ExpectNoErrors();
}

TEST_F(OtherAreaTest, CurrentAreaComesBackWhenTheErrorBlockLeaves) {
    xpp::Block recording = xpp::ErrorBlock(xpp::Block([](xpp::Args&) -> Value { xpp::Break("left"); }));
    struct {
        const char* what;
        std::function<void()> call;
    } cases[] = {
        {"FIELDWPUT", [] { FIELDWPUT("B", "NOPE", 1); }},
        {"FIELDWGET2", [] { FIELDWGET2("B", 9); }},
        {"QELWBLOCK", [] { QELWBLOCK("B", xpp::Block([](xpp::Args&) -> Value { xpp::Break("inner"); })); }},
        {"block", [] { xpp::Eval(FIELDWBLOCK("NAME", "B"), xpp::Args{Value("x")}); }},
    };
    for (auto& c : cases) {
        bool broke = false;
        KivTestFailCall("KivSetField", 5009, "planted", 1);
        xpp::Sequence(c.call, [&](const Value&) { broke = true; });
        EXPECT_TRUE(broke) << c.what;
        EXPECT_EQ(SELECT().Int(), 2) << c.what;
        KivTestClearFaults();
    }
    xpp::ErrorBlock(recording);
    // The frames the log names for a write through the block.
    KivTestFailCall("KivSetField", 5009, "planted", 1);
    xpp::Eval(FIELDWBLOCK("NAME", "B"), xpp::Args{Value("x")});
    ASSERT_EQ(errors.size(), 1u);
    errors.clear();
    EXPECT_NE(Log().find("Called from _FIELDPUT("), std::string::npos);
    EXPECT_NE(Log().find("Called from _FIELDWPUT2("), std::string::npos);
}

}  // namespace
