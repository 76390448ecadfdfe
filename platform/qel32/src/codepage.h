// Character data of tables with the OEM character type is stored in code
// page 850; callers see code page 1252.
#pragma once

#include <string>
#include <string_view>

namespace qel32 {

std::string OemToAnsi(std::string_view text);
std::string AnsiToOem(std::string_view text);

}  // namespace qel32
