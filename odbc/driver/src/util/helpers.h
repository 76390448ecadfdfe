// Small shared routines of the driver: buffer growth, field-type names,
// catalog pattern escaping, numeric rescaling and the driver's own files.
#ifndef KIVODBC_HELPERS_H
#define KIVODBC_HELPERS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kivodbc {

// The next size of a growing buffer that must hold `needed` bytes.
uint32_t NextBufferSize(uint32_t current, uint32_t needed);

// The engine field-type code of a type name: the first entry of the driver's
// ordered list that starts with `name` (case-sensitive); 0 when none does.
uint16_t FieldTypeFromName(const char* name);

// Puts a backslash before every '%', '_' and '\' of the NUL-terminated text,
// which never grows past `capacity` characters: its last character is dropped
// before an insertion when it is full.
void EscapeCatalogPattern(char* text, size_t capacity);

// Statuses of RescaleNumericText.
constexpr int kRescaleExact = 0;
constexpr int kRescaleFractionCut = 1;
constexpr int kRescaleOutOfRange = 2;

// Rewrites a decimal text to exactly `scale` fraction digits within
// `precision` digits into `out` (`capacity` bytes, always NUL-terminated when
// capacity > 0). Returns a status above.
int RescaleNumericText(const char* text, size_t length, char* out, size_t capacity, int precision,
                       int scale);
// "-0.00" and the like lose their sign.
void TrimNegativeZero(char* text);

// A conversion status as a driver code (driver side) or an engine code.
int32_t ConversionStatusToError(int status, bool engineSide);

// Full file name of the driver library itself (found from its own code).
std::string DriverModulePath();
// Folder of the driver library, without a trailing '/'.
std::string DriverFolder();

// Looks for a file the driver needs: with no path, the driver's folder first;
// then for "kiv.ini" the folder named by kivini_path; else the given path (or
// the standard search order when none is given). `extension` is added to a
// name without one.
std::optional<std::string> SearchDriverFile(const char* path, const std::string& file,
                                            const char* extension = nullptr);

}  // namespace kivodbc

#endif
