// The code page of a DBF table's stored text. A table's header (byte 29)
// names the page its characters are in; the engine's callers work in
// Windows-1252. Tables marked with another page are converted on the way
// in and out; those marked 1252 (0x03, 0x57) or not marked (0) are not,
// and there an open's OEM character type means text stored in code page 850.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qel32 {

// The header mark of the tables the engine creates: Windows-1252.
constexpr uint8_t kCodePage1252 = 0x03;

// Whether text of a table with this mark is stored in a page of its own:
// cp437 (0x01 and its country variants), cp850 (0x02 ...), cp852 (0x64,
// 0x1F ...), cp866 (0x65, 0x26), cp1250 (0xC8) or cp1251 (0xC9).
bool IsForeignCodePage(uint8_t mark);

// Stored text as the caller reads it (Windows-1252). A stored character
// that Windows-1252 lacks reads as '?'.
std::string StoredToAnsi(std::string_view stored, uint8_t mark, bool oem);

// The caller's text as the table stores it. A character the table's page
// lacks is refused (KIV_ERR_CONVERSION naming the field), never stored as
// another.
std::string AnsiToStored(std::string_view text, uint8_t mark, bool oem, const std::string& field);

}  // namespace qel32
