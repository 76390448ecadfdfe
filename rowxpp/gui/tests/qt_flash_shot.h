// The flash window as Qt shows it, taken inside the flash's one-second
// sleep: its widget, its lines and a picture of its client area.
#pragma once

#include <QPointer>

#include "flash_support.h"
#include "qt_support.h"

struct FlashShot {
    bool taken = false;
    QPointer<QWidget> widget;
    QString title;
    bool window = false, visible = false;
    QRect geometry;
    std::vector<std::string> captions;
    std::vector<QRect> lines;  // the statics' rectangles in the picture
    QImage picture;            // read back from the PNG file
};

// Takes the shot at the scene's first sleep, the picture through a PNG file.
inline void ShootAtSleep(FlashScene& scene, FlashShot& shot, const std::string& png) {
    scene.AtSleep([&scene, &shot, png] {
        auto dialogs = Dialogs(scene.app);
        if (dialogs.size() != 1) return;
        auto dialog = dialogs[0];
        QWidget* w = xt::WidgetOf(dialog);
        if (!w) return;
        shot.widget = w;
        shot.title = w->windowTitle();
        shot.window = w->isWindow();
        shot.visible = w->isVisible();
        shot.geometry = w->geometry();
        for (auto& k : dialog->drawingArea()->Children()) {
            auto line = std::dynamic_pointer_cast<XbpStatic>(k);
            if (!line) continue;
            shot.captions.push_back(line->caption.Str());
            QWidget* label = xt::WidgetOf(line);
            shot.lines.push_back(label ? label->geometry() : QRect());
        }
        if (!xt::GrabToPng(dialog, png)) return;
        shot.picture = QImage(QString::fromStdString(png));
        shot.taken = !shot.picture.isNull();
    });
}

inline constexpr QRgb kYellow = 0xFFFF00;

// Checks that the picture is yellow but for text inside the rectangles of
// the lines that have any, each of those holding some.
inline void ExpectTextOnlyInTheLines(const FlashShot& shot) {
    const Ink all = InkOf(shot.picture, kYellow);
    int inLines = 0;
    for (size_t i = 0; i < shot.lines.size(); ++i) {
        const Ink line = InkOf(shot.picture, kYellow, shot.lines[i]);
        inLines += line.count;
        if (!shot.captions[i].empty()) {
            EXPECT_GT(line.count, 10) << "line " << i + 1 << " \"" << shot.captions[i] << "\" shows no text";
        } else {
            EXPECT_EQ(line.count, 0) << "line " << i + 1 << " is empty";
        }
    }
    EXPECT_EQ(all.count, inLines) << "text outside the lines";
    EXPECT_EQ(shot.picture.pixel(0, 0) & 0xFFFFFF, kYellow);
    EXPECT_EQ(shot.picture.pixel(shot.picture.width() - 1, shot.picture.height() - 1) & 0xFFFFFF, kYellow);
}
