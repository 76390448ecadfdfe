#include "util/helpers.h"

#include <dlfcn.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "kivwin/win.h"

namespace kivodbc {

uint32_t NextBufferSize(uint32_t current, uint32_t needed) {
  if (static_cast<uint64_t>(current) * 2 >= needed) return current * 2;
  if (needed < 0x8000) return needed + 1024;
  if (needed > 0xFFFFF) return needed + 0x80000;
  return needed + needed / 8;
}

uint16_t FieldTypeFromName(const char* name) {
  static const struct {
    const char* name;
    uint16_t type;
  } kTypes[] = {{"CHARACTER", 4},  {"NUMERIC", 2},    {"DATE", 3},       {"DOUBLE", 10},
                {"CURDOUBLE", 17}, {"LOGICAL", 1},    {"MEMO", 5},       {"INTEGER", 11},
                {"IMAGE", 7},      {"BINARY", 6},     {"GENERAL", 51},   {"PICTURE", 52},
                {"VARCHAR", 8},    {"SHORTINT", 12},  {"SHORTDATE", 9},  {"TIME", 13},
                {"TIMESTAMP", 14}, {"AUTOINC", 15},   {"RAW", 16},       {"MONEY", 18},
                {"CICHARACTER", 20}, {"ROWVERSION", 21}, {"MODTIME", 22}};
  if (name == nullptr) name = "";
  const size_t length = std::strlen(name);
  for (const auto& entry : kTypes) {
    if (std::strlen(entry.name) >= length && std::strncmp(entry.name, name, length) == 0) return entry.type;
  }
  return 0;
}

void EscapeCatalogPattern(char* text, size_t capacity) {
  std::string value = text;
  for (size_t i = value.size(); i-- > 0;) {
    const char c = value[i];
    if (c != '%' && c != '_' && c != '\\') continue;
    if (value.size() >= capacity) value.pop_back();
    value.insert(i, 1, '\\');
  }
  if (value.size() > capacity) value.resize(capacity);
  std::memcpy(text, value.c_str(), value.size() + 1);
}

void TrimNegativeZero(char* text) {
  if (text[0] != '-') return;
  for (const char* p = text + 1; *p != 0; ++p)
    if (*p != '0' && *p != '.') return;
  std::memmove(text, text + 1, std::strlen(text));
}

int RescaleNumericText(const char* text, size_t length, char* out, size_t capacity, int precision,
                       int scale) {
  if (capacity == 0) return kRescaleOutOfRange;
  out[0] = 0;
  std::string_view s(text, length);
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  bool negative = false;
  if (!s.empty() && s.front() == '-') {
    negative = true;
    s.remove_prefix(1);
  }
  while (!s.empty() && s.front() == '0') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  const size_t point = s.find('.');
  if (point != std::string_view::npos)
    while (!s.empty() && s.back() == '0') s.remove_suffix(1);
  std::string_view integer = s.substr(0, point);
  std::string_view fraction = point == std::string_view::npos ? std::string_view() : s.substr(point + 1);

  int status = kRescaleExact;
  if (scale <= 0) {
    if (!fraction.empty()) status = kRescaleFractionCut;
    fraction = {};
    scale = 0;
  }
  if (static_cast<long>(integer.size()) > static_cast<long>(precision) - scale) return kRescaleOutOfRange;
  // The sign, the integer digits (a lone 0 when there are none) and the terminator must fit.
  const size_t integerDigits = integer.empty() ? 1 : integer.size();
  if ((negative ? 1 : 0) + integerDigits + 1 > capacity) return kRescaleOutOfRange;

  size_t n = 0;
  if (negative) out[n++] = '-';
  if (integer.empty()) {
    out[n++] = '0';
  } else {
    std::memcpy(out + n, integer.data(), integer.size());
    n += integer.size();
  }
  if (static_cast<long>(fraction.size()) > scale) status = kRescaleFractionCut;
  if (scale > 0) {
    // Room for the point and at least one digit, always leaving the terminator.
    if (n + 2 < capacity) {
      out[n++] = '.';
      for (int i = 0; i < scale; ++i) {
        if (n + 1 >= capacity) {
          status = kRescaleFractionCut;
          break;
        }
        out[n++] = static_cast<size_t>(i) < fraction.size() ? fraction[i] : '0';
      }
    } else {
      status = kRescaleFractionCut;
    }
  }
  out[n] = 0;
  TrimNegativeZero(out);
  return status;
}

int32_t ConversionStatusToError(int status, bool engineSide) {
  if (!engineSide) {
    switch (status) {
      case 0: return 0;
      case 1: return 2102;
      case 2: return 2232;
      case 4: return 2153;
      default: return 2119;
    }
  }
  switch (status) {
    case 0: return 0;
    case 1: return 5071;
    case 2: return 5005;
    case 3: return -1;
    case 4: return 2153;
    default: return 5048;
  }
}

std::string DriverModulePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&DriverModulePath), &info) == 0 || info.dli_fname == nullptr) return {};
  return info.dli_fname;
}

std::string DriverFolder() {
  const std::string path = DriverModulePath();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::optional<std::string> SearchDriverFile(const char* path, const std::string& file, const char* extension) {
  std::string name = file;
  if (extension != nullptr && name.find('.', name.rfind('/') + 1) == std::string::npos) name += extension;
  if (path == nullptr) {
    if (auto found = kivwin::SearchPath(name, DriverFolder())) return found;
    const char* iniFolder = std::getenv("kivini_path");
    if (strcasecmp(name.c_str(), "kiv.ini") == 0 && iniFolder != nullptr && *iniFolder != 0)
      return kivwin::SearchPath(name, iniFolder);
    return kivwin::SearchPath(name);
  }
  return kivwin::SearchPath(name, path);
}

}  // namespace kivodbc
