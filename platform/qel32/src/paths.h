// Paths arrive in Windows form ("C:\DATA\CUST.DBF", "c:data", "\\srv\share",
// upper-cased or not). They are mapped onto the Linux file system:
// backslashes become slashes, a drive letter maps through the environment
// variable KIV_DRIVE_<letter> (a drive-relative name like "C:CUST" or a bare
// "C:" means the current directory, "C:\X" means "/X" when no mapping is set),
// and every existing component is found without regard to case.
#pragma once

#include <string>
#include <string_view>

namespace qel32 {

// kivwin::MapPath: the rule above, shared with the runtime's file functions.
std::string MapPath(std::string_view path, const std::string& base = std::string());

// The file's extension including the dot ("" when none), as given.
std::string Extension(std::string_view path);
// path without its extension.
std::string StripExtension(std::string_view path);
// The directory part ("" when none) and the file-name part.
std::string DirectoryPart(std::string_view path);
std::string FilePart(std::string_view path);

// An existing file "stem + ext" found without regard to the case of ext
// (and stem), or "" when there is none.
std::string FindWithExtension(const std::string& stem, std::string_view ext);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

bool EqualsNoCase(std::string_view a, std::string_view b);
std::string Upper(std::string_view text);

}  // namespace qel32
