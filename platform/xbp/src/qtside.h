// What the Qt adaptor and the drawing functions share.
#pragma once

#include <QFont>
#include <QPoint>
#include <QRect>
#include <string>

#include "xbp/xbp.h"

namespace xbp {

// The one place where positions change sides. The model counts from the
// bottom left of the parent, Qt from the top left; each value is truncated
// for Qt before the turn. `parentHeight` is the height of the parent's
// client area.
QRect QtRect(double x, double y, double w, double h, double parentHeight);
// A pixel of a widget of `height` pixels in the model's terms: pixel row 0
// is the bottom row.
xpp::Array ModelPixel(const QPoint& p, int height);

// The Qt font of a compound name "size.family" (points); an unknown or
// missing family is DejaVu Sans, a name without a size 8 points.
QFont QtFont(const std::string& compoundName);

// Whether the calling thread is the Qt application's thread.
bool OnQtThread();

}  // namespace xbp
