// What the drawing methods put on the screen: the pixels of an image
// presentation space, drawn by the platform's DrawTextA, and a control
// centred by CENTERCONTROL as Qt shows it.
#include <gtest/gtest.h>

#include "qt_support.h"
#include "textbox.h"

namespace {

constexpr QRgb kWhite = 0xFFFFFF;

// Draws into a new 200 x 100 image space under the two settings: start
// {10, 10}, end {190, 60}, that is device pixels 10..190 by 40..90.
class Pixels : public ::testing::Test {
protected:
    void SetUp() override {
        XBPPRESSPACE();
        keptTilde_ = xpp::Set(xpp::SET_CAPTIONTILDE);
        keptCharset_ = xpp::Set(xpp::SET_CHARSET);
    }
    void TearDown() override {
        xpp::Set(xpp::SET_CAPTIONTILDE, keptTilde_);
        xpp::Set(xpp::SET_CHARSET, keptCharset_);
    }
    static std::shared_ptr<XbpPresSpace> Space() {
        auto ps = xbp::New<XbpPresSpace>();
        ps->create(Value(), Array{200, 100});
        return ps;
    }
    QImage Drawn(const std::string& text, int64_t format, bool tilde = false, int charset = 0) {
        xpp::Set(xpp::SET_CAPTIONTILDE, tilde);
        xpp::Set(xpp::SET_CHARSET, charset);
        auto ps = Space();
        EXPECT_TRUE(ps->DrawFormattedStr(Args{Array{10, 10}, Array{190, 60}, text, format}).Log()) << text;
        return ps->Image();
    }
    const QRect rect_{QPoint(10, 40), QPoint(189, 89)};

private:
    Value keptTilde_, keptCharset_;
};

}  // namespace

TEST_F(Pixels, ATildeMarkerDrawsAsTheAmpersandsUnderlineUnderItsLetter) {
    const QImage tilde = Drawn("~Save", 32, true);
    const QImage ampersand = Drawn("&Save", 32, false);
    const QImage plain = Drawn("Save", 32, false);
    const Ink text = InkOf(plain, kWhite);
    ASSERT_GT(text.count, 20);
    EXPECT_EQ(DifferenceOf(tilde, ampersand).count, 0);
    // a tilde drawn as itself is no underline
    EXPECT_GT(DifferenceOf(Drawn("~Save", 32, false), ampersand).count, 0);

    // the only difference to "Save": a line of at most two rows, not above
    // the letters' bottom, no wider than the "S"
    const Ink underline = DifferenceOf(ampersand, plain);
    const Ink s = InkOf(Drawn("S", 32), kWhite);
    ASSERT_GT(underline.count, 2);
    EXPECT_LE(underline.box.height(), 2);
    EXPECT_GE(underline.box.top(), text.box.bottom());
    EXPECT_GE(underline.box.left(), s.box.left() - 1);
    EXPECT_LE(underline.box.right(), s.box.right() + 1);
    EXPECT_LT(underline.box.right(), text.box.right() - s.box.width());
}

TEST_F(Pixels, CentredAndLeftAlignedSingleLines) {
    const Ink centred = InkOf(Drawn("Save", 33), kWhite);
    ASSERT_GT(centred.count, 20);
    const int left = centred.box.left() - rect_.left(), right = rect_.right() - centred.box.right();
    EXPECT_GT(left, 40);
    EXPECT_LE(std::abs(left - right), 2) << left << " / " << right;
    const Ink flush = InkOf(Drawn("Save", 32), kWhite);
    EXPECT_GE(flush.box.left(), rect_.left());
    EXPECT_LE(flush.box.left(), rect_.left() + 2);
    EXPECT_EQ(flush.box.top(), centred.box.top());
    EXPECT_TRUE(rect_.contains(centred.box));
}

TEST_F(Pixels, AnOemTextUnderTheOemSettingDrawsAsItsAnsiText) {
    const QImage oem = Drawn("gr\x81n", 32, false, 1);  // 0x81 is "ü" in code page 850
    const QImage ansi = Drawn("gr\xfcn", 32, false, 0);  // and 0xFC in Windows-1252
    EXPECT_GT(InkOf(ansi, kWhite).count, 20);
    EXPECT_EQ(DifferenceOf(oem, ansi).count, 0);
    EXPECT_GT(DifferenceOf(Drawn("gr\x81n", 32, false, 0), ansi).count, 0) << "unconverted, 0x81 is no ü";
}

TEST_F(Pixels, ACaptionWithoutEndPointStaysInsideItsTextBox) {
    xpp::Set(xpp::SET_CAPTIONTILDE, false);
    auto ps = Space();
    EXPECT_TRUE(xpp::ExactEq(ps->DrawCaptionStr(Args{Array{10, 10}, Value(), "Save"}), true));
    Array box = gui::GraQueryTextBox(*ps, "Save");
    const int w = static_cast<int>(box.Get(3).Arr().Get(1).Int() - box.Get(2).Arr().Get(1).Int());
    const int h = static_cast<int>(box.Get(3).Arr().Get(2).Int() - box.Get(2).Arr().Get(2).Int());
    // {10, 10} to {10 + w, 10 + h}: device pixels 10..10 + w by 90 - h..90
    const QRect inBox(QPoint(10, 90 - h), QPoint(10 + w, 90));
    const Ink text = InkOf(ps->Image(), kWhite);
    ASSERT_GT(text.count, 20);
    EXPECT_TRUE(inBox.contains(text.box)) << "box " << inBox.left() << "," << inBox.top() << " " << inBox.width()
                                          << "x" << inBox.height() << ", text " << text.box.left() << ","
                                          << text.box.top() << " " << text.box.width() << "x"
                                          << text.box.height();
}

TEST(CenterOnScreen, TheButtonsPixelsSitCentredInItsParent) {
    auto dlg = xbp::New<XbpDialog>(Args{Value(), Value(), Array{60, 60}, Array{301, 200}});
    dlg->titleBar = false;  // the client area is the whole 301 x 200
    dlg->create();
    dlg->drawingArea()->setColorBG(xbp::GRA_CLR_BLUE);
    const QRgb blue = static_cast<QRgb>(xbp::GraColorRGB(xbp::GRA_CLR_BLUE));
    auto button = xbp::New<XbpPushButton>(Args{Value(dlg->drawingArea()), Value(), Array{0, 0}, Array{100, 30}});
    button->create();
    const Ink before = InkOf(xt::Grab(dlg), blue);
    ASSERT_GT(before.count, 0);
    EXPECT_EQ(before.box.left(), 0);

    EXPECT_TRUE(CENTERCONTROL(Args{Value(button)}).IsNil());
    EXPECT_EQ(xpp::Var2Char(button->CurrentPos()), "{100.5, 85}");
    const QImage picture = xt::Grab(dlg);
    ASSERT_EQ(picture.size(), QSize(301, 200));
    const Ink after = InkOf(picture, blue);
    EXPECT_EQ(after.count, before.count) << "the whole button, moved";
    EXPECT_TRUE(QRect(100, 85, 100, 30).contains(after.box));
    const int left = after.box.left(), right = picture.width() - 1 - after.box.right();
    const int top = after.box.top(), bottom = picture.height() - 1 - after.box.bottom();
    EXPECT_LE(std::abs(left - right), 1) << left << " / " << right;
    EXPECT_LE(std::abs(top - bottom), 1) << top << " / " << bottom;
    dlg->destroy();
}
