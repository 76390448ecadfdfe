// What the tests through Qt share: a folder for pictures, the events the
// loop would hand on, and the pixels that differ from a background.
#pragma once

#include <stdlib.h>

#include <QApplication>
#include <QImage>
#include <QRect>
#include <QWidget>
#include <filesystem>
#include <string>
#include <vector>

#include "gui_test_support.h"

// A private folder for the pictures, removed with the object.
class PictureDir {
public:
    PictureDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "rowxppgui.XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~PictureDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// One event as the loop took it and what its window answered.
struct Handled {
    int event;
    Value result;
};

// Hands every event queued so far (Qt's own pending work done first) to its
// window, as an event loop does; answers them in order.
inline std::vector<Handled> DispatchQueued() {
    QApplication::processEvents();
    xt::SetWaitHook([] { return false; });  // nothing more will come
    std::vector<Handled> out;
    for (;;) {
        xpp::Ref mp1, mp2, oXbp;
        int event = xbp::AppEvent(mp1, mp2, oXbp);
        if (event == xbp::xbeP_None) break;
        auto window = oXbp.Get().As<xbp::Window>();
        out.push_back({event, window->HandleEvent(event, mp1.Get(), mp2.Get())});
    }
    xt::SetWaitHook(nullptr);
    return out;
}

// The results of the handled events of code `event`.
inline std::vector<int64_t> ResultsOf(const std::vector<Handled>& handled, int event) {
    std::vector<int64_t> out;
    for (auto& h : handled)
        if (h.event == event) out.push_back(h.result.IsNum() ? h.result.Int() : -1);
    return out;
}

// The pixels of `image` inside `area` (all of it by default) that are not `background`: their
// bounding box and their number.
struct Ink {
    QRect box;
    int count = 0;
};
inline Ink InkOf(const QImage& image, QRgb background, QRect area = QRect()) {
    area = area.isNull() ? image.rect() : area.intersected(image.rect());
    Ink ink;
    int left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            if ((image.pixel(x, y) & 0xFFFFFF) == (background & 0xFFFFFF)) continue;
            ++ink.count;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    if (ink.count > 0) ink.box = QRect(QPoint(left, top), QPoint(right, bottom));
    return ink;
}

// The pixels where two pictures of one size differ.
inline Ink DifferenceOf(const QImage& a, const QImage& b) {
    Ink ink;
    if (a.size() != b.size()) return {QRect(), -1};
    QImage diff(a.size(), QImage::Format_RGB32);
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            diff.setPixel(x, y, (a.pixel(x, y) & 0xFFFFFF) == (b.pixel(x, y) & 0xFFFFFF) ? 0xFFFFFF : 0);
    return InkOf(diff, 0xFFFFFF);
}
