// How the cursor reads its own statement text: tabs and line breaks count
// as blanks wherever the text is searched or split.
#pragma once

#include <string>
#include <string_view>

namespace rowxpp {

// `text` with every tab, CR and LF made a blank; positions stay.
inline std::string Blanked(std::string_view text) {
    std::string s(text);
    for (char& ch : s) {
        if (ch == '\t' || ch == '\r' || ch == '\n') ch = ' ';
    }
    return s;
}

}  // namespace rowxpp
