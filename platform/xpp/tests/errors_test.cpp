// The error block, runtime errors, the procedure stack and BREAK.
#include <gtest/gtest.h>

#include "xpp/xpp.h"

using namespace xpp;

namespace {

struct Seen {
    std::vector<std::string> names;
    std::vector<int> lines;
    std::shared_ptr<Error> error;
};

Value Innermost(const Array& a) {
    XPP_FRAME("INNERMOST");
    XPP_LINE();
    return a.Get(5);  // out of range
}

Value Middle(const Array& a) {
    XPP_FRAME("MIDDLE");
    XPP_LINE();
    return Innermost(a);
}

Value Outer(const Array& a) {
    XPP_FRAME("OUTER");
    XPP_LINE();
    return Middle(a);
}

TEST(ErrorBlock, ARuntimeErrorThreeDeepReachesTheBlockWithEachLevel) {
    Seen seen;
    Block old = ErrorBlock(Block([&](Args& args) -> Value {
        seen.error = args.Get(1).As<Error>();
        for (int level = 0; level < 4; ++level) {
            seen.names.push_back(ProcName(level));
            seen.lines.push_back(ProcLine(level));
        }
        return "substituted";
    }));
    Array a{1, 2};
    Value result = Outer(a);
    ErrorBlock(old);
    // the block's result is what the raiser goes on with
    EXPECT_EQ(result.Str(), "substituted");
    ASSERT_TRUE(seen.error);
    EXPECT_EQ(seen.error->subSystem.Str(), "BASE");
    EXPECT_EQ(seen.error->genCode.Int(), EG_BOUND);
    EXPECT_EQ(seen.error->description.Str(), "Bound error");
    EXPECT_EQ(seen.error->operation.Str(), "array access");
    EXPECT_EQ(seen.error->thread.Int(), ThreadID());
    EXPECT_TRUE(seen.error->canSubstitute.Log());
    EXPECT_EQ(Var2Char(seen.error->args), "{{1, 2}, 5}");
    EXPECT_EQ(seen.names, (std::vector<std::string>{"INNERMOST", "MIDDLE", "OUTER", ""}));
    EXPECT_LT(seen.lines[0], seen.lines[1]);  // INNERMOST is written above MIDDLE, above OUTER
    EXPECT_LT(seen.lines[1], seen.lines[2]);
    EXPECT_GT(seen.lines[2], 0);
    EXPECT_EQ(seen.lines[3], 0);
    EXPECT_EQ(ProcName(0), "");  // the frames are gone
}

TEST(ErrorBlock, FrameNamesStayRightWhenFramesComeAndGo) {
    {
        std::string name = "COPIED";
        Frame copied(name, 10);
        name = "CHANGED";  // the frame holds its own copy
        {
            XPP_FRAME("LITERAL");
            EXPECT_EQ(ProcName(0), "LITERAL");
            EXPECT_EQ(ProcName(1), "COPIED");
        }
        {
            // a frame pushed where another was tells its own name and line
            Frame again(std::string(40, 'L'), 20);
            EXPECT_EQ(ProcName(0), std::string(40, 'L'));
            EXPECT_EQ(ProcLine(0), 20);
            XPP_FRAME("DEEPER");
            EXPECT_EQ(ProcName(1), std::string(40, 'L'));
        }
        {
            XPP_FRAME("SHORT");  // a literal after a copied name at the same depth
            EXPECT_EQ(ProcName(0), "SHORT");
        }
        EXPECT_EQ(ProcName(0), "COPIED");
        EXPECT_EQ(ProcLine(0), 10);
    }
    EXPECT_EQ(ProcName(0), "");
}

TEST(ErrorBlock, GenericRuntimeErrors) {
    std::vector<std::string> seen;
    Block old = ErrorBlock(Block([&](Args& a) -> Value {
        auto e = a.Get(1).As<Error>();
        seen.push_back(Var2Char(e->genCode) + "/" + Var2Char(e->subCode) + " " + e->description.Str() + ": " +
                       e->operation.Str());
        return Value();
    }));
    ArrayGet(Value(), 1);          // element access on NIL
    ArrayPut(Value(5), 1, 2);      // element assignment on a number
    ArrayGet(Value(Array{1}), 2);  // index out of range
    Array{1}.Set(0, 1);
    Send(Value(), "commit");       // a message to NIL
    Ge(Date(), "x");               // operands of mismatched types
    ErrorBlock(old);
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "1/1068 Argument error: array access", "1/1069 Argument error: array assign",
                        "2/1132 Bound error: array access", "2/1133 Bound error: array assign",
                        "13/1004 No exported method: commit", "1/1076 Argument error: >="}));
}

TEST(ErrorBlock, ErrorObjectDefaultsAndRaise) {
    auto e = Error::New();
    EXPECT_EQ(e->className(), "Error");
    EXPECT_TRUE(e->args.IsNil());
    EXPECT_TRUE(e->cargo.IsNil());
    EXPECT_EQ(e->severity.Int(), ES_ERROR);
    EXPECT_EQ(e->genCode.Int(), 0);
    EXPECT_FALSE(e->canRetry.Log());
    EXPECT_EQ(e->thread.Int(), ThreadID());
    e->subSystem = "RowXpp 3.1.24";
    e->genCode = Value();  // members take NIL
    Block old = ErrorBlock(Block([](Args& a) -> Value { return a.Get(1).As<Error>()->subSystem; }));
    EXPECT_EQ(RaiseError(e).Str(), "RowXpp 3.1.24");
    Block mine = ErrorBlock(old);
    EXPECT_FALSE(mine.Same(old));
    EXPECT_TRUE(ErrorBlock().Same(old));
}

TEST(ErrorBlock, EachThreadHasItsOwnBlock) {
    Block old = ErrorBlock(Block([](Args&) { return Value(1); }));
    bool otherHasDefault = false;
    std::thread([&] { otherHasDefault = ErrorBlock().Same(DefaultErrorBlock()); }).join();
    EXPECT_TRUE(otherHasDefault);
    ErrorBlock(old);
}

TEST(Break, ReachesTheNearestRecoverySequence) {
    std::vector<std::string> log;
    Sequence(
        [&] {
            Sequence([&] { Break("inner"); }, [&](const Value& v) { log.push_back("inner " + v.Str()); });
            log.push_back("after inner");
            Break(Array{1, 2});
            log.push_back("not reached");
        },
        [&](const Value& v) { log.push_back("outer " + Var2Char(v)); });
    EXPECT_EQ(log, (std::vector<std::string>{"inner inner", "after inner", "outer {1, 2}"}));
    // a Break passes handlers of ordinary exceptions
    bool caughtAsStd = false;
    Value got;
    Sequence(
        [&] {
            try {
                Break(7);
            } catch (const std::exception&) {
                caughtAsStd = true;
            }
        },
        [&](const Value& v) { got = v; });
    EXPECT_FALSE(caughtAsStd);
    EXPECT_EQ(got.Int(), 7);
}

TEST(Break, AnErrorBlockThatBreaksLeavesTheRaiser) {
    // {|e| Break(e)}: the usual way a program recovers from a runtime error
    Block old = ErrorBlock(Block([](Args& a) -> Value { Break(a.Get(1)); }));
    bool after = false;
    Value got;
    Sequence(
        [&] {
            XPP_FRAME("RAISER");
            Lt(1, "a");
            after = true;
        },
        [&](const Value& v) { got = v; });
    ErrorBlock(old);
    EXPECT_FALSE(after);
    ASSERT_TRUE(got.As<Error>());
    EXPECT_EQ(got.As<Error>()->operation.Str(), "<");
    EXPECT_EQ(ProcName(0), "");  // the frame went with the unwinding
}

TEST(ErrorBlock, EvalOfANonBlockIsAnArgumentError) {
    Block old = ErrorBlock(Block([](Args& a) -> Value { return a.Get(1).As<Error>()->genCode; }));
    EXPECT_EQ(Eval(Value(3)).Int(), EG_ARG);
    EXPECT_EQ(Eval(Value(Block([](Args& a) { return Value(static_cast<int64_t>(a.PCount())); })), {1, 2, 3}).Int(), 3);
    ErrorBlock(old);
}

}  // namespace
