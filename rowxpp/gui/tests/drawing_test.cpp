// Caption and formatted text drawing, with DrawTextA and SetTextAlign
// journaled by the stand-in library.
#include <gtest/gtest.h>

#include <sstream>

#include "gui_test_support.h"
#include "textbox.h"

namespace {

class Drawing : public ::testing::Test {
protected:
    void SetUp() override {
        map_.Map("USER32.DLL", STUB_SYSCALLS);
        map_.Map("GDI32.DLL", STUB_SYSCALLS);
        XBPPRESSPACE();
        ps_ = xbp::New<XbpPresSpace>();
        ps_->create(Value(), Array{200, 100});
        keptTilde_ = xpp::Set(xpp::SET_CAPTIONTILDE, false);
        keptCharset_ = xpp::Set(xpp::SET_CHARSET, 0);
        keptApp_ = xpp::SetAppWindow(Value());
        StubClear();
        xt::ClearJournal();
    }
    void TearDown() override {
        xpp::Set(xpp::SET_CAPTIONTILDE, keptTilde_);
        xpp::Set(xpp::SET_CHARSET, keptCharset_);
        xpp::SetAppWindow(keptApp_);
    }
    // The DrawTextA lines of the log as "text length l,t,r,b format",
    // after a check that each follows SetTextAlign(hDC, 0) of its hDC.
    std::vector<std::string> Draws() {
        std::vector<std::string> out;
        std::istringstream log(StubLog());
        std::string line, align;
        while (std::getline(log, line)) {
            if (line.rfind("SetTextAlign ", 0) == 0) {
                align = line;
                continue;
            }
            if (line.rfind("DrawTextA ", 0) != 0) continue;
            std::string rest = line.substr(10);
            std::string hdc = rest.substr(0, rest.find(' '));
            EXPECT_EQ(align, "SetTextAlign " + hdc + " 0") << "SetTextAlign(hDC, 0) comes first";
            align.clear();
            out.push_back(rest.substr(hdc.size() + 1));
        }
        StubClear();
        return out;
    }
    int JournalCount(const std::string& what) {
        int n = 0;
        for (auto& c : xt::Journal())
            if (c.what == what) ++n;
        return n;
    }

    MapGuard map_;
    std::shared_ptr<XbpPresSpace> ps_;
    Value keptTilde_, keptCharset_, keptApp_;
};

}  // namespace

TEST_F(Drawing, TheFormatPassed) {
    struct Case {
        const char* name;
        bool caption;
        Value format, tabWidth;
        int64_t passed;
    };
    const std::vector<Case> cases = {
        {"caption, no format", true, Value(), Value(), 100},
        {"caption, 1", true, 1, Value(), 97},
        {"caption, single line", true, 32, Value(), 96},
        {"caption, 36", true, 36, Value(), 100},
        {"formatted, 0 with tab width 4", false, 0, 4, 1152},
        {"formatted, 128 with tab width 4", false, 128, 4, 1152},
        {"formatted, a width already present is replaced", false, 128 + 7 * 256, 4, 1152},
        {"formatted, width 300", false, 0, 300, 128 + 255 * 256},
        {"formatted, no tab width", false, 37, Value(), 37},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Args args{Array{10, 10}, Array{100, 30}, "Save", c.format, c.tabWidth};
        Value r = c.caption ? ps_->DrawCaptionStr(args) : ps_->DrawFormattedStr(args);
        EXPECT_TRUE(r.Log());
        EXPECT_EQ(Draws(), std::vector<std::string>{"Save 4 10,70,100,90 " + std::to_string(c.passed)});
    }
}

TEST_F(Drawing, TheRectangleIsTheSameForBothVerticalOrders) {
    // device y counts from the top of the 100 pixel high image
    ps_->DrawFormattedStr(Args{Array{10, 10}, Array{100, 30}, "x", 0});
    ps_->DrawFormattedStr(Args{Array{10, 30}, Array{100, 10}, "x", 0});
    ps_->DrawFormattedStr(Args{Array{100, 30, 99}, Array{10, 10, 99}, "x", 0});
    EXPECT_EQ(Draws(), (std::vector<std::string>{"x 1 10,70,100,90 0", "x 1 10,70,100,90 0", "x 1 100,70,10,90 0"}));
}

TEST_F(Drawing, CaptionMarkersAndCodePages) {
    struct Case {
        bool tilde;
        int charset;
        std::string text, drawn;
    };
    const std::vector<Case> cases = {
        {true, 0, "~Save", "&Save"},
        {true, 0, "Save~", "Save&"},
        {true, 0, "a~~b", "a~~b"},
        {true, 0, "~~~a", "~~&a"},
        {true, 0, "~a~b", "&a&b"},
        {false, 0, "~Save", "~Save"},
        {false, 0, "Save~", "Save~"},
        {false, 0, "a~~b", "a~~b"},
        {false, 1, "gr\x81n", "gr\xfcn"},  // OEM 850 to Windows-1252
        {false, 0, "gr\xfcn", "gr\xfcn"},
        {true, 1, "~\x81", "&\xfc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        xpp::Set(xpp::SET_CAPTIONTILDE, c.tilde);
        xpp::Set(xpp::SET_CHARSET, c.charset);
        EXPECT_TRUE(ps_->DrawFormattedStr(Args{Array{0, 0}, Array{50, 20}, c.text, 0}).Log());
        EXPECT_EQ(Draws(), std::vector<std::string>{c.drawn + " " + std::to_string(c.drawn.size()) +
                                                    " 0,80,50,100 0"});
    }
}

TEST_F(Drawing, DeviceContextsAndTheApplicationsCrt) {
    // no device: .F. at once, nothing drawn or unlocked
    auto bare = xbp::New<XbpPresSpace>();
    EXPECT_FALSE(bare->DrawFormattedStr(Args{Array{0, 0}, Array{50, 20}, "x", 0}).Log());
    EXPECT_TRUE(Draws().empty());
    EXPECT_EQ(JournalCount("XbpBasePresSpace:UnlockHDC"), 0);

    // the application window a CRT showing this space: invalidated with the
    // points as given, also when nothing was drawn
    auto crt = xbp::New<XbpCrt>();
    crt->create();
    auto own = std::dynamic_pointer_cast<XbpPresSpace>(crt->presSpace());
    ASSERT_TRUE(own);
    xpp::SetAppWindow(Value(crt));
    xt::ClearJournal();
    EXPECT_FALSE(own->DrawFormattedStr(Args{Array{10, 20}, Array{30, 40}, "", 0}).Log());
    EXPECT_EQ(Draws(), std::vector<std::string>{" 0 10,360,30,380 0"});
    EXPECT_EQ(JournalCount("XbpBasePresSpace:UnlockHDC"), 1);
    std::vector<std::string> invalidated;
    for (auto& c : xt::Journal())
        if (c.what == "XbpBaseCrt:InvalidateRect") invalidated.push_back(xpp::Var2Char(c.args.Get(1)));
    EXPECT_EQ(invalidated, std::vector<std::string>{"{10, 20, 30, 40}"});
    EXPECT_EQ(xt::LockedDeviceContexts(), 0);

    // another space: no invalidation
    xt::ClearJournal();
    EXPECT_TRUE(ps_->DrawFormattedStr(Args{Array{10, 20}, Array{30, 40}, "x", 0}).Log());
    EXPECT_EQ(JournalCount("XbpBaseCrt:InvalidateRect"), 0);

    // no application window: no error, the context unlocked
    xpp::SetAppWindow(Value());
    CapturedErrors errors;
    EXPECT_TRUE(own->DrawFormattedStr(Args{Array{10, 20}, Array{30, 40}, "x", 0}).Log());
    EXPECT_TRUE(errors.errors.empty());
    EXPECT_EQ(xt::LockedDeviceContexts(), 0);
    Draws();
    crt->destroy();
}

TEST_F(Drawing, ACaptionWithoutEndPointTakesTheTextsBox) {
    EXPECT_TRUE(ps_->DrawCaptionStr(Args{Array{10, 10}, Value(), "Save"}).Log());
    Array box = gui::GraQueryTextBox(*ps_, "Save");
    int64_t w = box.Get(3).Arr().Get(1).Int() - box.Get(2).Arr().Get(1).Int();
    int64_t h = box.Get(3).Arr().Get(2).Int() - box.Get(2).Arr().Get(2).Int();
    ASSERT_GT(w, 0);
    ASSERT_GT(h, 0);
    // start {10, 10} → device {10, 90}; end {10 + w, 10 + h} → {10 + w, 90 - h}
    EXPECT_EQ(Draws(), std::vector<std::string>{"Save 4 10," + std::to_string(90 - h) + "," + std::to_string(10 + w) +
                                                ",90 100"});
}

TEST_F(Drawing, ArgumentErrorsRaiseInOrderWithTheFiveParametersThenAnswerFalse) {
    Array start{10, 10}, end{100, 30};
    struct Case {
        const char* name;
        bool caption;
        Args args;
        std::vector<int> codes;
    };
    const std::vector<Case> cases = {
        {"caption, two arguments", true, Args{start, Value()}, {3, 2}},
        {"caption, two arguments with a text", true, Args{start, "x"}, {3, 2}},
        {"caption, a short start", true, Args{Array{10}, Value(), "x"}, {2}},
        {"caption, a start of another type", true, Args{5, Value(), "x"}, {2}},
        {"caption, a short end", true, Args{start, Array{1}, "x"}, {2}},
        {"caption, a number as text", true, Args{start, Value(), 5}, {2}},
        {"caption, all wrong", true, Args{Array{}, Array{}}, {3, 2, 2, 2}},
        {"formatted, three arguments", false, Args{start, end, "x"}, {3, 2}},
        {"formatted, a short start", false, Args{Array{1}, end, "x", 0}, {2}},
        {"formatted, a NIL end", false, Args{start, Value(), "x", 0}, {2}},
        {"formatted, a short end", false, Args{start, Array{1}, "x", 0}, {2}},
        {"formatted, a number as text", false, Args{start, end, 5, 0}, {2}},
        {"formatted, a text as format", false, Args{start, end, "x", "0"}, {2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CapturedErrors errors;
        Value r = c.caption ? ps_->DrawCaptionStr(c.args) : ps_->DrawFormattedStr(c.args);
        EXPECT_TRUE(r.IsLogical() && !r.Log());
        EXPECT_TRUE(Draws().empty());
        EXPECT_EQ(xt::LockedDeviceContexts(), 0);
        ASSERT_EQ(errors.errors.size(), c.codes.size());
        for (size_t i = 0; i < c.codes.size(); ++i) {
            const xpp::Error& e = *errors.errors[i];
            EXPECT_EQ(e.genCode.Int(), c.codes[i]);
            EXPECT_EQ(e.subSystem.Str(), "XBP");
            EXPECT_EQ(e.operation.Str(), c.caption ? "XBPPRESSPACE:DRAWCAPTIONSTR" : "XBPPRESSPACE:DRAWFORMATTEDSTR");
            ASSERT_TRUE(e.args.IsArray());
            Array params = e.args.Arr();
            ASSERT_EQ(params.Len(), 5u);
            for (size_t k = 1; k <= 5; ++k) EXPECT_EQ(xpp::Var2Char(params.Get(k)), xpp::Var2Char(c.args.Get(k)));
        }
    }
}

// The two drawing methods sent by name draw what the direct calls draw.
TEST_F(Drawing, DrawCaptionStrAndDrawFormattedStrAnswerByName) {
    const Value ps(ps_);
    EXPECT_TRUE(ps_->DrawCaptionStr(Args{Array{10, 10}, Value(), "~Save"}).Log());
    const auto direct = Draws();
    EXPECT_TRUE(xpp::Send(ps, "drawcaptionSTR", Args{Array{10, 10}, Value(), "~Save"}).Log());
    EXPECT_EQ(Draws(), direct);
    ASSERT_FALSE(direct.empty());
    const Args formatted{Array{0, 60}, Array{100, 0}, "a" + std::string(1, '\t') + "b", 64, 8};
    const Value r = ps_->DrawFormattedStr(formatted);
    const auto directFormatted = Draws();
    EXPECT_EQ(xpp::Var2Char(xpp::Send(ps, "DRAWFORMATTEDSTR", formatted)), xpp::Var2Char(r));
    EXPECT_EQ(Draws(), directFormatted);
}
