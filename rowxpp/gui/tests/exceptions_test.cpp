// Exception and XBPException: the errors their raise methods build.
#include <gtest/gtest.h>

#include "gui_test_support.h"

namespace {

using RaiseMethod = Value (Exception::*)(const Value&) const;
struct RaiseCase {
    const char* name;
    RaiseMethod method;
    int code;
    bool xbpOnly;
};
Value RaiseDuplicateKey(const Exception& e, const Value& x) {
    return XBPException(e.ClassObject()).raiseDuplicateKey(x);
}
const std::vector<RaiseCase> kRaises = {
    {"raiseParameterValue", &Exception::raiseParameterValue, 1, false},
    {"raiseParameterType", &Exception::raiseParameterType, 2, false},
    {"raiseParameterCount", &Exception::raiseParameterCount, 3, false},
    {"raiseMemberVarAccess", &Exception::raiseMemberVarAccess, 28, false},
    {"raiseIDSC", &Exception::raiseIDSC, 41, false},
    {"raiseDuplicateKey", nullptr, 96, true},
    {"raiseObjectState", &Exception::raiseObjectState, 104, false},
};

// The routine of the application that raises: its name is the error's
// operation.
Value RaiseFromApplication(const Exception& cls, const RaiseCase& r, const Value& xArgs) {
    XPP_FRAME("APPLICATIONROUTINE");
    return r.method ? (cls.*r.method)(xArgs) : RaiseDuplicateKey(cls, xArgs);
}

}  // namespace

TEST(Exceptions, EveryRaiseMethodFillsTheErrorOfItsClass) {
    struct ClassCase {
        const char* name;
        xpp::Class& (*classFunction)();
        const char* subSystem;
    };
    const std::vector<ClassCase> classes = {{"Exception", &EXCEPTION, "BASE"}, {"XBPException", &XBPEXCEPTION, "XBP"}};
    for (const ClassCase& k : classes) {
        for (const RaiseCase& r : kRaises) {
            if (r.xbpOnly && std::string(k.name) == "Exception") continue;
            SCOPED_TRACE(std::string(k.name) + ":" + r.name);
            CapturedErrors rec;
            xpp::DosError(0);
            Array passed{1, 2};
            RaiseFromApplication(Exception(k.classFunction()), r, passed);
            ASSERT_EQ(rec.errors.size(), 1u);
            const xpp::Error& e = *rec.errors[0];
            EXPECT_EQ(e.subSystem.Str(), k.subSystem);
            EXPECT_EQ(e.genCode.Int(), r.code);
            EXPECT_TRUE(e.subCode.IsNum() && e.subCode.Int() == 0);
            Value text = xpp::LoadResource(r.code, 4294967295);
            ASSERT_TRUE(text.IsChar());
            EXPECT_FALSE(text.Str().empty());
            EXPECT_EQ(e.description.Str(), text.Str());
            EXPECT_TRUE(e.canDefault.Log());
            EXPECT_FALSE(e.canRetry.Log());
            EXPECT_TRUE(e.canSubstitute.Log());
            EXPECT_EQ(e.severity.Int(), 2);
            EXPECT_EQ(e.thread.Int(), xpp::ThreadID());
            EXPECT_EQ(e.operation.Str(), "APPLICATIONROUTINE");
            EXPECT_EQ(e.osCode.Int(), 0) << "no pending system error: as Error():new() made it";
            ASSERT_TRUE(e.args.IsArray());
            EXPECT_TRUE(e.args.Arr().Same(passed)) << "the very array";
            passed.Add(3);
            EXPECT_EQ(e.args.Arr().Len(), 3u) << "a change after the raise shows in the error";
        }
    }
}

TEST(Exceptions, ArgumentsThatAreNoArrayAreWrappedInOne) {
    CapturedErrors rec;
    XBPException().raiseParameterType(5);
    Exception().raiseParameterCount();
    XBPException().raiseDuplicateKey("k");
    ASSERT_EQ(rec.errors.size(), 3u);
    EXPECT_EQ(xpp::Var2Char(rec.errors[0]->args), xpp::Var2Char(Array{5}));
    EXPECT_EQ(rec.errors[0]->subSystem.Str(), "XBP");
    EXPECT_EQ(rec.errors[0]->genCode.Int(), 2);
    EXPECT_EQ(xpp::Var2Char(rec.errors[1]->args), xpp::Var2Char(Array{Value()}));
    EXPECT_EQ(rec.errors[1]->args.Arr().Len(), 1u);
    EXPECT_EQ(xpp::Var2Char(rec.errors[2]->args), xpp::Var2Char(Array{"k"}));
}

TEST(Exceptions, APendingSystemErrorBecomesTheOsCode) {
    CapturedErrors rec;
    EXPECT_EQ(xpp::FOpen("/nonexistent-folder-of-the-test/none.txt", 0), -1);
    int pending = xpp::DosError();
    ASSERT_NE(pending, 0);
    Exception().raiseObjectState(Array{});
    xpp::DosError(0);
    Exception().raiseObjectState(Array{});
    ASSERT_EQ(rec.errors.size(), 2u);
    EXPECT_EQ(rec.errors[0]->osCode.Int(), pending);
    EXPECT_EQ(rec.errors[1]->osCode.Int(), 0);
}

TEST(Exceptions, TheErrorBlocksResultComesBackUnchanged) {
    {
        CapturedErrors rec(true);
        Value r = XBPException().raiseParameterType(Array{});
        EXPECT_TRUE(r.IsLogical() && r.Log());
    }
    {
        CapturedErrors rec("substitute");
        EXPECT_EQ(Exception().raiseIDSC(1).Str(), "substitute");
    }
}

TEST(Exceptions, EachClassKeepsItsOwnModule) {
    XBPEXCEPTION();
    CapturedErrors rec;
    Exception().raiseIDSC(Array{});
    XBPException().raiseIDSC(Array{});
    Exception().raiseIDSC(Array{});
    ASSERT_EQ(rec.errors.size(), 3u);
    EXPECT_EQ(rec.errors[0]->subSystem.Str(), "BASE");
    EXPECT_EQ(rec.errors[1]->subSystem.Str(), "XBP");
    EXPECT_EQ(rec.errors[2]->subSystem.Str(), "BASE");
    EXPECT_EQ(XBPEXCEPTION().Parent(), &EXCEPTION());
    EXPECT_EQ(&XBPEXCEPTION(), &XBPEXCEPTION());
}

TEST(Exceptions, RaisesSentByNameReachTheSameMethodsWithTheReceiversModule) {
    CapturedErrors rec;
    Value xbp(XBPEXCEPTION().shared_from_this());
    Value base(EXCEPTION().shared_from_this());
    xpp::Send(xbp, "raiseParameterType", Args{5});
    xpp::Send(xbp, "RAISEDUPLICATEKEY", Args{Array{}});
    xpp::Send(base, "raiseParameterCount", Args{Array{}});
    xpp::Send(base, "raiseDuplicateKey", Args{Array{}});  // Exception has no such method
    ASSERT_EQ(rec.errors.size(), 4u);
    EXPECT_EQ(rec.errors[0]->subSystem.Str(), "XBP");
    EXPECT_EQ(rec.errors[0]->genCode.Int(), 2);
    EXPECT_EQ(rec.errors[1]->genCode.Int(), 96);
    EXPECT_EQ(rec.errors[2]->subSystem.Str(), "BASE");
    EXPECT_EQ(rec.errors[2]->genCode.Int(), 3);
    EXPECT_EQ(rec.errors[3]->genCode.Int(), xpp::EG_NOMETHOD);
}

TEST(Exceptions, TheThreadIsTheRaisingThread) {
    std::shared_ptr<xpp::Error> seen;
    int id = 0;
    auto t = xpp::Thread::New();
    t->start(xpp::Block([&](Args&) -> Value {
        xpp::ErrorBlock(xpp::Block([&](Args& a) -> Value {
            seen = a.Get(1).As<xpp::Error>();
            return Value();
        }));
        id = xpp::ThreadID();
        XBPException().raiseParameterValue(Array{});
        return Value();
    }));
    t->synchronize();
    ASSERT_TRUE(seen);
    EXPECT_NE(id, xpp::ThreadID());
    EXPECT_EQ(seen->thread.Int(), id);
}
