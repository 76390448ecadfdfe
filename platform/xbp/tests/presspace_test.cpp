// Presentation spaces, device-context locks and CRT windows.
#include <gtest/gtest.h>

#include "xbp/testing.h"
#include "xbp/xbp.h"

using namespace xbp;
namespace xt = xbp::testing;
using xpp::Args;
using xpp::Array;
using xpp::Ref;
using xpp::Value;

namespace {

// A program's own presentation space class.
class ProgramPresSpace : public XbpBasePresSpace {
public:
    static xpp::Class& ClassObject() {
        static xpp::ClassSlot slot;
        return slot.Get("XbpPresSpace", &XbpBasePresSpace::ClassObject());
    }
    xpp::Class& classObject() const override { return ClassObject(); }
};

}  // namespace

TEST(XbpPresSpace, MapPointToDeviceCoordinates) {
    auto ps = New<XbpBasePresSpace>();
    ps->create(Value(), Array{200, 100});
    struct Case {
        Array p;
        const char* want;
    } cases[] = {{Array{0, 0}, "{0, 100}"}, {Array{10, 100}, "{10, 0}"}, {Array{15, 30}, "{15, 70}"}};
    for (auto& c : cases) EXPECT_EQ(xpp::Var2Char(ps->MapPoint(c.p, true, true)), c.want);
}

TEST(XbpPresSpace, DeviceContextLocksNestAndGoStale) {
    auto ps = New<XbpBasePresSpace>();
    Ref none;
    EXPECT_EQ(ps->lockHDC(4, none), 0);  // no device yet
    EXPECT_EQ(xt::LockedDeviceContexts(), 0);
    ps->create(Value(), Array{50, 20});
    Ref h1, h2;
    int64_t l1 = ps->lockHDC(4, h1);
    int64_t l2 = ps->lockHDC(4, h2);
    EXPECT_NE(l1, 0);
    EXPECT_NE(l2, 0);
    EXPECT_EQ(h1.Get().Int(), h2.Get().Int());
    EXPECT_EQ(XbpBasePresSpace::FromHDC(h1.Get().Int()), ps);
    EXPECT_EQ(xt::LockedDeviceContexts(), 2);
    EXPECT_FALSE(ps->UnlockHDC(l2, h1.Get().Int() + 1));  // not its handle
    EXPECT_TRUE(ps->UnlockHDC(l2, h2.Get()));
    EXPECT_TRUE(ps->UnlockHDC(l1, h1.Get()));
    EXPECT_EQ(xt::LockedDeviceContexts(), 0);
    EXPECT_EQ(XbpBasePresSpace::FromHDC(h1.Get().Int()), nullptr);  // stale
    EXPECT_FALSE(ps->UnlockHDC(l1, h1.Get()));
    // A new lock gets a new handle: the stale one stays stale.
    Ref h3;
    int64_t l3 = ps->lockHDC(4, h3);
    EXPECT_NE(h3.Get().Int(), h1.Get().Int());
    EXPECT_EQ(XbpBasePresSpace::FromHDC(h1.Get().Int()), nullptr);
    ps->UnlockHDC(l3, h3.Get());
    EXPECT_EQ(xt::LockedDeviceContexts(), 0);
}

TEST(XbpCrt, InitGeometryAndItsOwnPresSpace) {
    xt::ClearJournal();
    auto crt = New<XbpBaseCrt>(Args{Value(), Value(), Array{0, 0}, 10, 40, "Title", false});
    bool seen = false;
    for (auto& c : xt::Journal())
        if (c.what == "XbpBaseCrt:init") {
            EXPECT_EQ(c.args.PCount(), 7u);
            seen = true;
        }
    EXPECT_TRUE(seen);
    EXPECT_EQ(crt->MaxRow(), 9);
    crt->FontWidth = 8;
    crt->FontHeight = 16;
    crt->create();
    EXPECT_EQ(xpp::Var2Char(crt->CurrentSize()), "{320, 160}");
    auto ps = crt->presSpace();
    EXPECT_EQ(ps, crt->presSpace());
    EXPECT_EQ(xpp::Var2Char(ps->DeviceSize()), "{320, 160}");
    EXPECT_TRUE(crt->InvalidateRect(Array{0, 0, 10, 10}));
    EXPECT_EQ(crt->SetModalState(2), 1);
    crt->destroy();
}

TEST(XbpCrt, ThePresSpaceClassIsSettable) {
    SetCrtPresSpaceFactory([] { return New<ProgramPresSpace>(); });
    auto crt = New<XbpBaseCrt>(Args{Value(), Value(), Array{0, 0}, 2, 2, "", false});
    EXPECT_TRUE(crt->presSpace()->isDerivedFrom("XbpPresSpace"));
    EXPECT_TRUE(crt->presSpace()->isDerivedFrom("XbpBasePresSpace"));
    SetCrtPresSpaceFactory(nullptr);
    auto plain = New<XbpBaseCrt>(Args{Value(), Value(), Array{0, 0}, 2, 2, "", false});
    EXPECT_FALSE(plain->presSpace()->isDerivedFrom("XbpPresSpace"));
    crt->destroy();
    plain->destroy();
}
