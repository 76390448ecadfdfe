// The box a text takes in a presentation space, in the point order of the
// runtime's GraQueryTextBox: {upper left, lower left, upper right, lower
// right, end point}, relative to the start point, as the platform measures
// it in the space's font; where it cannot (no Qt application), the box of
// fixed cells: 8 pixels per character, 16 pixels high.
#pragma once

#include <string>

#include "xbp/xbp.h"

namespace rowxpp::gui {

inline constexpr int kCellWidth = 8;
inline constexpr int kCellHeight = 16;

xpp::Array GraQueryTextBox(const xbp::XbpBasePresSpace& ps, const std::string& text);

}  // namespace rowxpp::gui
