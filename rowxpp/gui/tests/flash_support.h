// What the flash window tests share: the text they flash, a recorder of
// the runtime's alerts, and an application with its application window.
#pragma once

#include "gui_test_support.h"
#include "xpp/testing.h"

inline const std::string kLine1 = "0123456789";                                // 10 characters
inline const std::string kLine2 = "The quick brown fox jumps over the lazy!";  // 40 characters
inline const std::string kText = kLine1 + "\r\n" + kLine2 + "\r\nthe last line, not shown";

// What Alert() was asked to show.
class AlertRecorder : public xpp::PresentationSink {
public:
    AlertRecorder() : kept_(xpp::SetPresentationSink(this)) {}
    ~AlertRecorder() override { xpp::SetPresentationSink(kept_); }
    int ConfirmBox(const Value&, const std::string&, const std::string&, int, int) override { return 1; }
    int Alert(const std::string& text, const Array&) override {
        alerts.push_back(text);
        return 1;
    }
    std::vector<std::string> alerts;

private:
    xpp::PresentationSink* kept_;
};

// A GUI (or console) application with a 640 x 480 application window and a
// test clock; everything back as it was at the end.
class FlashScene {
public:
    explicit FlashScene(int appType = xpp::APPTYPE_PM, bool withWindow = true)
        : clock_(2460000, 0), keptType_(xpp::AppType()), keptClock_(xpp::testing::SetClock(&clock_)) {
        xpp::SetAppType(appType);
        app = xbp::New<XbpDialog>(Args{Value(), Value(), Array{0, 0}, Array{640, 480}});
        app->create();
        app->Show();
        keptWindow_ = xpp::SetAppWindow(withWindow ? Value(app) : Value());
    }
    ~FlashScene() {
        xpp::SetAppWindow(keptWindow_);
        xpp::testing::SetClock(keptClock_);
        xpp::SetAppType(keptType_);
        app->destroy();
    }
    std::vector<int64_t> Sleeps() const { return clock_.Sleeps(); }
    // Runs `fn` inside the first Sleep (while the window is shown).
    void AtSleep(std::function<void()> fn) { clock_.AtSleep(1, std::move(fn)); }

    std::shared_ptr<XbpDialog> app;

private:
    xpp::testing::TestClock clock_;
    int keptType_;
    xpp::testing::Clock* keptClock_;
    Value keptWindow_;
};

// The dialogs on the application window (its drawing area aside).
inline std::vector<std::shared_ptr<XbpDialog>> Dialogs(const std::shared_ptr<XbpDialog>& app) {
    std::vector<std::shared_ptr<XbpDialog>> out;
    for (auto& k : app->Children())
        if (auto d = std::dynamic_pointer_cast<XbpDialog>(k)) out.push_back(d);
    return out;
}

