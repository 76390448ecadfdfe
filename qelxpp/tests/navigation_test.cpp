// The record pointer: moves and where it stands, in natural order and in
// the order of an index; the loops built from single skips; a free work
// area; failing engine calls.
#include <qel32.h>

#include "area_support.h"

using namespace qelxpp;
using namespace qeltest;
using xpp::Value;
namespace qt = qelxpp::testing;

namespace {

class NavigationTest : public LoadedTest {
protected:
    // The order NAME of the table's own index, controlling.
    void ByName() {
        ASSERT_TRUE(ORDCREATE(Value(), "NAME", "NAME").IsNil());
        ASSERT_TRUE(ORDLISTADD().Log());
        ASSERT_EQ(INDEXORD().Int(), 1);
    }
    // RECNO, BOF, EOF, LASTREC and RECSIZE in one line.
    std::string Where() {
        return std::to_string(RECNO().Int()) + (BOF().Log() ? " bof" : "") + (EOF_().Log() ? " eof" : "") + " of " +
               std::to_string(LASTREC().Int()) + " size " + std::to_string(RECSIZE().Int());
    }
    struct Move {
        const char* what;
        std::function<Value()> move;
        const char* where;
    };
    void ExpectMoves(const std::vector<Move>& moves) {
        for (const Move& m : moves) {
            SCOPED_TRACE(m.what);
            EXPECT_TRUE(m.move().Log());
            EXPECT_EQ(Where(), m.where);
        }
        ExpectNoErrors();
    }
};

TEST_F(NavigationTest, MovesInNaturalOrder) {
    Letters();
    ExpectMoves({
        {"DBGOBOTTOM()", [] { return DBGOBOTTOM(); }, "10 of 10 size 19"},
        {"DBGOTOP()", [] { return DBGOTOP(); }, "1 of 10 size 19"},
        {"DBGOTO(4)", [] { return DBGOTO(4); }, "4 of 10 size 19"},
        {"DBSKIP()", [] { return DBSKIP(); }, "5 of 10 size 19"},
        {"DBSKIP(-1)", [] { return DBSKIP(-1); }, "4 of 10 size 19"},
        {"DBSKIP(0)", [] { return DBSKIP(0); }, "4 of 10 size 19"},
        {"DBSKIP(3)", [] { return DBSKIP(3); }, "7 of 10 size 19"},
        {"DBGOTOP() then DBSKIP(-1)", [] { return Value(DBGOTOP().Log() && DBSKIP(-1).Log()); }, "1 bof of 10 size 19"},
        {"DBGOBOTTOM() then DBSKIP()", [] { return Value(DBGOBOTTOM().Log() && DBSKIP().Log()); }, "11 eof of 10 size 19"},
    });
    EXPECT_EQ(RECCOUNT().Int(), 10);
}

// Top, bottom and skips follow the controlling order, DBGOTO the physical
// record; LASTREC counts the order's records.
TEST_F(NavigationTest, MovesInTheOrderOfAnIndex) {
    Letters();
    ByName();
    ExpectMoves({
        {"DBGOTOP()", [] { return DBGOTOP(); }, "4 of 10 size 19"},
        {"DBSKIP()", [] { return DBSKIP(); }, "2 of 10 size 19"},
        {"DBSKIP()", [] { return DBSKIP(); }, "6 of 10 size 19"},
        {"DBGOBOTTOM()", [] { return DBGOBOTTOM(); }, "5 of 10 size 19"},
        {"DBSKIP(-2)", [] { return DBSKIP(-2); }, "3 of 10 size 19"},
        {"DBGOTO(3)", [] { return DBGOTO(3); }, "3 of 10 size 19"},
        {"DBSKIP()", [] { return DBSKIP(); }, "8 of 10 size 19"},
        {"DBGOTO(10)", [] { return DBGOTO(10); }, "10 of 10 size 19"},
        {"DBSKIP(-1)", [] { return DBSKIP(-1); }, "1 of 10 size 19"},
    });
    // The position is the key's: record 1 is key 6 of 10 by NAME.
    EXPECT_DOUBLE_EQ(DBPOSITION().Dbl(), 60.0);
    EXPECT_TRUE(DBGOPOSITION(95).Log());
    EXPECT_EQ(RECNO().Int(), 5);
    EXPECT_EQ(DBSKIPPER(-2).Int(), -2);
    EXPECT_EQ(RECNO().Int(), 3);
    // The older index functions are the order-list functions.
    EXPECT_TRUE(DBCLEARINDEX().Log());
    EXPECT_EQ(INDEXORD().Int(), 0);
    ExpectMoves({{"DBGOTOP()", [] { return DBGOTOP(); }, "1 of 10 size 19"}});
    ASSERT_TRUE(ORDCREATE("NAMES", "BYNAME", "NAME").IsNil());
    EXPECT_TRUE(DBSETINDEX("NAMES").Log());
    EXPECT_EQ(ORDNAME().Str(), "BYNAME");
    EXPECT_EQ(ORDBAGNAME().Str(), "NAMES");
    ExpectMoves({{"DBGOTOP()", [] { return DBGOTOP(); }, "4 of 10 size 19"}});
    EXPECT_FALSE(DBSETINDEX("NOSUCH").Log());
    ASSERT_EQ(errors.size(), 1u);
    errors.clear();
}

TEST_F(NavigationTest, AnEmptyTableIsAtBothEnds) {
    Letters("EMPTY.DBF", 0);
    ExpectMoves({
        {"DBGOTOP()", [] { return DBGOTOP(); }, "1 bof eof of 0 size 19"},
        {"DBGOBOTTOM()", [] { return DBGOBOTTOM(); }, "1 bof eof of 0 size 19"},
        {"DBSKIP()", [] { return DBSKIP(); }, "1 bof eof of 0 size 19"},
    });
    EXPECT_EQ(DBPOSITION().Int(), 0);
    EXPECT_EQ(DBSKIPPER(3).Int(), 0);
    EXPECT_EQ(DBSKIPPER(-3).Int(), 0);
    EXPECT_TRUE(DBGOPOSITION(50).Log());
    EXPECT_EQ(Where(), "1 bof eof of 0 size 19");
    ExpectNoErrors();
}

// DBSKIPPER, DBPOSITION and DBGOPOSITION leave the last result as it was.
TEST_F(NavigationTest, SkipperCountsTheRecordsItMoved) {
    Letters();
    EXPECT_FALSE(DBCLEARFILTER().Log());  // no filter: the engine's 5037, reported
    ASSERT_EQ(errors.size(), 1u);
    errors.clear();
    struct Case {
        int from;
        int skip;
        int64_t skipped;
        int at;
    } cases[] = {
        {7, 10, 3, 10}, {2, -10, -1, 1}, {5, 0, 0, 5}, {9, 5, 1, 10}, {1, -3, 0, 1}, {3, 4, 4, 7}, {6, -2, -2, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("DBSKIPPER(" + std::to_string(c.skip) + ") from " + std::to_string(c.from));
        ASSERT_EQ(0u, KivGotoRecord(CurrentTable(), static_cast<uint32_t>(c.from)));
        EXPECT_EQ(DBSKIPPER(c.skip).Int(), c.skipped);
        EXPECT_EQ(qt::LastResult().Int(), 5037);
        EXPECT_EQ(Where(), std::to_string(c.at) + " of 10 size 19");  // never left at an end
        EXPECT_FALSE(DBCLEARFILTER().Log());
        errors.clear();
    }
    // In the order of an index the steps follow the keys.
    ByName();
    ASSERT_EQ(0u, KivGotoRecord(CurrentTable(), 8));  // I, the last but one key
    EXPECT_EQ(DBSKIPPER(5).Int(), 1);
    EXPECT_EQ(RECNO().Int(), 5);
    // A skip the engine refuses ends the loop as an end of file does.
    ASSERT_EQ(0u, KivGotoRecord(CurrentTable(), 4));
    KivTestFailCall("KivSkip", 5099, "planted", 1);
    EXPECT_EQ(DBSKIPPER(2).Int(), 0);
    EXPECT_EQ(RECNO().Int(), 5);  // the bottom key
    // So does an end test the engine cannot answer.
    ASSERT_EQ(0u, KivGotoRecord(CurrentTable(), 4));
    KivTestFailCall("KivAtEOF", 5099, "planted", 1);
    EXPECT_EQ(DBSKIPPER(2).Int(), 0);
    EXPECT_EQ(RECNO().Int(), 5);
    ASSERT_EQ(0u, KivGotoRecord(CurrentTable(), 5));
    KivTestFailCall("KivAtBOF", 5099, "planted", 1);
    EXPECT_EQ(DBSKIPPER(-2).Int(), 0);
    EXPECT_EQ(RECNO().Int(), 4);  // the top key
    ExpectNoErrors();
}

TEST_F(NavigationTest, PositionIsTheKeyNumberInPercent) {
    Letters("MANY.DBF", 200);
    EXPECT_FALSE(DBCLEARFILTER().Log());
    errors.clear();
    ASSERT_EQ(0u, KivGotoRecord(CurrentTable(), 50));
    EXPECT_DOUBLE_EQ(DBPOSITION().Dbl(), 25.0);
    ASSERT_EQ(0u, KivGotoRecord(CurrentTable(), 1));
    EXPECT_DOUBLE_EQ(DBPOSITION().Dbl(), 0.5);
    ASSERT_EQ(0u, KivGotoRecord(CurrentTable(), 200));
    EXPECT_DOUBLE_EQ(DBPOSITION().Dbl(), 100.0);
    KivTestFailCall("KivGetKeyCount", 5099, "planted", 1);
    EXPECT_EQ(DBPOSITION().Dbl(), 0.0);  // no count read
    EXPECT_EQ(qt::LastResult().Int(), 5037);
    ExpectNoErrors();
    // Unrounded: key 1 of 3.
    Letters("THREE.DBF", 3);
    EXPECT_NEAR(DBPOSITION().Dbl(), 100.0 / 3, 1e-9);
}

TEST_F(NavigationTest, GoPositionStepsUntilWithinTenPoints) {
    Letters();
    EXPECT_FALSE(DBCLEARFILTER().Log());
    errors.clear();
    struct Case {
        int from;
        double percent;
        int at;
        bool readsPosition;
    } cases[] = {
        {5, 95, 10, false}, {5, 5, 1, false},  {2, 50, 4, true},  {5, 50, 5, true},  {5, 45, 5, true},
        {1, 90, 8, true},   {10, 10, 2, true}, {9, 20, 3, true},  {1, 90.5, 10, false}, {3, 9.9, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("DBGOPOSITION(" + std::to_string(c.percent) + ") from " + std::to_string(c.from));
        ASSERT_EQ(0u, KivGotoRecord(CurrentTable(), static_cast<uint32_t>(c.from)));
        KivTestClearCallLog();
        KivTestRecordCalls(1);
        EXPECT_TRUE(DBGOPOSITION(c.percent).Log());
        KivTestRecordCalls(0);
        EXPECT_EQ(CallLog().find("KivGetKeyNum") != std::string::npos, c.readsPosition) << CallLog();
        EXPECT_EQ(RECNO().Int(), c.at);
        EXPECT_EQ(qt::LastResult().Int(), 0);  // RECNO's own
        EXPECT_FALSE(DBCLEARFILTER().Log());
        errors.clear();
    }
    ASSERT_EQ(0u, KivGotoRecord(CurrentTable(), 2));
    EXPECT_TRUE(DBGOPOSITION(50).Log());
    EXPECT_EQ(qt::LastResult().Int(), 5037);
    EXPECT_GE(DBPOSITION().Dbl(), 40.0);
    // An end test the engine cannot answer ends the steps at the top.
    ASSERT_EQ(0u, KivGotoRecord(CurrentTable(), 9));
    KivTestFailCall("KivAtBOF", 5099, "planted", 1);
    EXPECT_TRUE(DBGOPOSITION(30).Log());
    EXPECT_EQ(RECNO().Int(), 1);
    ExpectNoErrors();
}

// A free current area: fixed values without a report, -999 through
// QELNOTUSED, or the runtime's error for functions without an in-use test;
// none of them calls the engine.
TEST_F(NavigationTest, AFreeWorkArea) {
    Letters();
    ExpectOnFreeArea(2, {
                            {"BOF", [] { return BOF(); }, "L:.T.", kSilent},
                            {"EOF", [] { return EOF_(); }, "L:.T.", kSilent},
                            {"RECNO", [] { return RECNO(); }, "N:0", kSilent},
                            {"RECSIZE", [] { return RECSIZE(); }, "N:0", kSilent},
                            {"FOUND", [] { return FOUND(); }, "L:.F.", kNotInUse},
                            {"DBGOTOP", [] { return DBGOTOP(); }, "L:.F.", kNotInUse},
                            {"DBGOBOTTOM", [] { return DBGOBOTTOM(); }, "L:.F.", kNotInUse},
                            {"DBGOTO", [] { return DBGOTO(1); }, "L:.F.", kNotInUse},
                            {"DBSKIP", [] { return DBSKIP(); }, "L:.F.", kRuntimeError},
                            {"LASTREC", [] { return LASTREC(); }, "N:0", kRuntimeError},
                            {"RECCOUNT", [] { return RECCOUNT(); }, "N:0", kRuntimeError},
                            {"DBPOSITION", [] { return DBPOSITION(); }, "N:0", kRuntimeError},
                            {"DBSKIPPER", [] { return DBSKIPPER(1); }, "N:0", kRuntimeError},
                            {"DBGOPOSITION", [] { return DBGOPOSITION(50); }, "L:.F.", kRuntimeError},
                        });
}

// DBSKIPPER and DBGOPOSITION without an argument and DBGOTO() raise the
// runtime's argument error and move nothing.
TEST_F(NavigationTest, MissingArgumentsAreArgumentErrors) {
    Letters();
    ASSERT_EQ(0u, KivGotoRecord(CurrentTable(), 3));
    struct Case {
        const char* name;
        std::function<Value()> fn;
        const char* result;
    };
    const std::vector<Case> cases = {
        {"DBSKIPPER", [] { return DBSKIPPER(); }, "N:0"},
        {"DBGOPOSITION", [] { return DBGOPOSITION(); }, "L:.F."},
        {"DBGOTO", [] { return DBGOTO(); }, "L:.F."},
        {"DBGOTO", [] { return DBGOTO("4"); }, "L:.F."},
        {"DBSKIP", [] { return DBSKIP("2"); }, "L:.F."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KivTestClearCallLog();
        KivTestRecordCalls(1);
        EXPECT_EQ(Show(c.fn()), c.result);
        KivTestRecordCalls(0);
        EXPECT_EQ(CallLog(), "");
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0]->genCode.Int(), xpp::EG_ARG);
        EXPECT_EQ(errors[0]->operation.Str(), c.name);
        errors.clear();
        EXPECT_EQ(RECNO().Int(), 3);
    }
}

// An engine failure is reported and gives the function's failure value;
// EOF() alone reports nothing and answers end of file.
TEST_F(NavigationTest, EngineFailures) {
    Letters();
    ASSERT_EQ(0u, KivGotoRecord(CurrentTable(), 3));
    struct Case {
        const char* call;
        std::function<Value()> fn;
        const char* result;
        bool reported;
    };
    const std::vector<Case> cases = {
        {"KivAtBOF", [] { return BOF(); }, "L:.T.", true},
        {"KivAtEOF", [] { return EOF_(); }, "L:.T.", false},
        {"KivIsFound", [] { return FOUND(); }, "L:.F.", true},
        {"KivGetRecordNum", [] { return RECNO(); }, "N:0", true},
        {"KivGetRecordLength", [] { return RECSIZE(); }, "N:0", true},
        {"KivGetRecordCount", [] { return LASTREC(); }, "N:0", true},
        {"KivGotoTop", [] { return DBGOTOP(); }, "L:.F.", true},
        {"KivGotoBottom", [] { return DBGOBOTTOM(); }, "L:.F.", true},
        {"KivGotoRecord", [] { return DBGOTO(5); }, "L:.F.", true},
        {"KivSkip", [] { return DBSKIP(); }, "L:.F.", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        KivTestFailCall(c.call, 5099, "planted", 1);
        EXPECT_EQ(Show(c.fn()), c.result);
        EXPECT_EQ(qt::LastResult().Int(), 5099);
        if (c.reported)
            ExpectError("QEL_5099, planted");
        else
            EXPECT_TRUE(errors.empty());
    }
    // A record beyond the last: end of file, and the engine's refusal.
    EXPECT_FALSE(DBGOTO(11).Log());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->subCode.Int(), 5022);
    errors.clear();
    EXPECT_TRUE(EOF_().Log());
}

TEST_F(NavigationTest, RequestAndReleaseSelect) {
    Letters("FIRST.DBF");
    Letters("SECOND.DBF");
    EXPECT_TRUE(DBREQUEST("FIRST", true, Value(), false).Log());
    EXPECT_EQ(SELECT().Int(), 1);
    EXPECT_TRUE(DBRELEASE("second", 1).Log());
    EXPECT_EQ(SELECT().Int(), 2);
    EXPECT_TRUE(DBREQUEST(1).Log());
    EXPECT_EQ(SELECT().Int(), 1);
    ExpectNoErrors();
    EXPECT_FALSE(DBRELEASE("THIRD").Log());
    ExpectError("QEL_-999, Alias doesn't exist:[THIRD]");
    EXPECT_EQ(SELECT().Int(), 1);
}

}  // namespace
