#include "imagebytes.h"
#include "checker/kivfields.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "checker/kivdata.h"
#include "checker/kiverror.h"
#include "kivwin/win.h"

namespace checker {

using namespace kivds;

namespace {

void PutLE32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

bool AllBytes(const uint8_t* p, uint32_t n, uint8_t value) {
  for (uint32_t i = 0; i < n; ++i)
    if (p[i] != value) return false;
  return true;
}

bool BlanksOrZeros(const uint8_t* p, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i)
    if (p[i] != ' ' && p[i] != 0) return false;
  return true;
}

// Writes the two 32-bit words of an 8-byte sentinel (as far as the field reaches).
void PutWords(uint8_t* p, uint32_t length, uint32_t low, uint32_t high) {
  uint8_t words[8];
  PutLE32(words, low);
  PutLE32(words + 4, high);
  std::memcpy(p, words, std::min<uint32_t>(length, 8));
}

}  // namespace

// ---- Field definitions ---------------------------------------------------

int TQELFieldDefs::IndexOf(std::string_view name) const {
  for (int i = 0; i < Count(); ++i)
    if (kivwin::CompareStringA(kivwin::LOCALE_USER_DEFAULT, kivwin::NORM_IGNORECASE, Items(i)->Name,
                               name) == kivwin::CSTR_EQUAL)
      return i;
  return -1;
}

TQELFieldDef* TQELFieldDefs::Find(std::string_view name) const {
  const int i = IndexOf(name);
  return i < 0 ? nullptr : Items(i);
}

TQELFieldDef* TQELFieldDefs::ByNumber(int fieldNo) const {
  if (fieldNo < 1 || fieldNo > Count()) return nullptr;
  TQELFieldDef* def = Items(fieldNo - 1);
  if (def->FieldNo == fieldNo) return def;
  for (int i = 0; i < Count(); ++i)
    if (Items(i)->FieldNo == fieldNo) return Items(i);
  return nullptr;
}

TKivBCDField::TKivBCDField(TComponent* owner) : TBCDField(owner, ftBCD) {
  if (owner == nullptr || !owner->InState(csLoading)) SetCurrency(true);
}

// ---- Type mapping --------------------------------------------------------

TEngineFieldMapping MapEngineFieldType(TKivDataSet* dataSet, uint16_t engineType, uint32_t length,
                                       uint16_t decimals, uint16_t engineTableType,
                                       bool numericsAsFloats) {
  const int len = static_cast<int>(length);
  switch (engineType) {
    case KIV_FT_LOGICAL: return {ftBoolean, 0, 0};
    case KIV_FT_NUMERIC:
      if (engineTableType == KIV_TABLE_KDT && !numericsAsFloats) {
        const TFieldType type = (decimals > 4 || length > 18) ? ftFMTBcd : ftBCD;
        return {type, decimals, decimals != 0 ? len - 2 : len - 1};
      }
      if (decimals != 0 || length > 4) return {ftFloat, 0, 0};
      return {ftSmallint, 0, 0};
    case KIV_FT_DATE:
    case KIV_FT_COMPACTDATE: return {ftDate, 0, 0};
    case KIV_FT_CHARACTER:
    case KIV_FT_CICHARACTER: return {ftString, len, 0};
    case KIV_FT_MEMO:
    case KIV_FT_VARCHAR: return {ftMemo, 1, 0};
    case KIV_FT_BINARY:
    case KIV_FT_IMAGE: return {ftBlob, 1, 0};
    case KIV_FT_DOUBLE: return {ftFloat, 0, 0};
    case KIV_FT_INTEGER: return {ftInteger, 0, 0};
    case KIV_FT_SHORTINT: return {ftSmallint, 0, 0};
    case KIV_FT_TIME: return {ftTime, 0, 0};
    case KIV_FT_TIMESTAMP:
    case KIV_FT_MODTIME: return {ftDateTime, 0, 0};
    case KIV_FT_AUTOINC: return {ftAutoInc, 0, 0};
    case KIV_FT_RAW: return {ftBytes, len, 0};
    case KIV_FT_CURDOUBLE: return {ftCurrency, 0, 0};
    case KIV_FT_MONEY: return {ftBCD, 4, 20};
    case KIV_FT_ROWVERSION: return {ftBCD, 0, 20};
    default:
      KivDataSetError(dataSet, "Unknown field type (" + std::to_string(engineType) + ") encountered.");
  }
}

// ---- Empty values --------------------------------------------------------

bool IsEmptyFieldImage(uint16_t engineTableType, uint16_t engineType, const uint8_t* p,
                       uint32_t length) {
  if (engineTableType == KIV_TABLE_KDT) {
    switch (engineType) {
      case KIV_FT_LOGICAL: return length < 1 || p[0] == ' ';
      case KIV_FT_NUMERIC:
      case KIV_FT_DATE:
      case KIV_FT_CHARACTER:
      case KIV_FT_COMPACTDATE:
      case KIV_FT_RAW:
      case KIV_FT_CICHARACTER: return AllBytes(p, length, 0);
      case KIV_FT_MEMO:
      case KIV_FT_BINARY:
      case KIV_FT_IMAGE:
      case KIV_FT_VARCHAR: return length >= 4 && ReadImage<uint32_t>(p) == 0;
      case KIV_FT_DOUBLE:
      case KIV_FT_CURDOUBLE: return length >= 8 && ReadImage<uint32_t>(p) == 0x00000020u && ReadImage<uint32_t>(p + 4) == 0x80000000u;
      case KIV_FT_INTEGER: return length >= 4 && ReadImage<uint32_t>(p) == 0x80000000u;
      case KIV_FT_SHORTINT: return length >= 2 && p[0] == 0x00 && p[1] == 0x80;
      case KIV_FT_TIME:
      case KIV_FT_AUTOINC: return length >= 4 && ReadImage<uint32_t>(p) == 0xFFFFFFFFu;
      case KIV_FT_TIMESTAMP:
      case KIV_FT_MODTIME: return length >= 4 && ReadImage<uint32_t>(p) == 0;
      case KIV_FT_MONEY:
      case KIV_FT_ROWVERSION: return length >= 8 && ReadImage<uint32_t>(p) == 0 && ReadImage<uint32_t>(p + 4) == 0x80000000u;
      default: return true;
    }
  }
  switch (engineType) {
    case KIV_FT_LOGICAL:
    case KIV_FT_NUMERIC:
    case KIV_FT_CHARACTER: return BlanksOrZeros(p, length);
    case KIV_FT_DATE: return BlanksOrZeros(p, length) || (length == 4 && ReadImage<uint32_t>(p) == 0);
    case KIV_FT_MEMO:
    case KIV_FT_BINARY:
    case KIV_FT_IMAGE:
    case KIV_FT_VARCHAR: return length >= 4 && ReadImage<uint32_t>(p) == 0;
    case KIV_FT_COMPACTDATE: return AllBytes(p, length, 0);
    case KIV_FT_DOUBLE:
    case KIV_FT_INTEGER:
    case KIV_FT_SHORTINT:
    case KIV_FT_CURDOUBLE: return false;
    default: return true;
  }
}

void BlankFieldImage(uint16_t engineTableType, uint16_t engineType, uint8_t* p, uint32_t length) {
  if (engineTableType == KIV_TABLE_KDT) {
    switch (engineType) {
      case KIV_FT_LOGICAL:
        if (length >= 1) p[0] = ' ';
        return;
      case KIV_FT_MEMO:
      case KIV_FT_BINARY:
      case KIV_FT_IMAGE:
      case KIV_FT_VARCHAR: std::memset(p, 0, std::min<uint32_t>(length, 4)); return;
      case KIV_FT_DOUBLE:
      case KIV_FT_CURDOUBLE: PutWords(p, length, 0x00000020u, 0x80000000u); return;
      case KIV_FT_INTEGER: PutWords(p, std::min<uint32_t>(length, 4), 0x80000000u, 0); return;
      case KIV_FT_SHORTINT:
        if (length >= 2) {
          p[0] = 0x00;
          p[1] = 0x80;
        }
        return;
      case KIV_FT_TIME:
      case KIV_FT_AUTOINC: std::memset(p, 0xFF, std::min<uint32_t>(length, 4)); return;
      case KIV_FT_TIMESTAMP:
      case KIV_FT_MODTIME: PutWords(p, length, 0, 0xFFFFFFFFu); return;
      case KIV_FT_MONEY:
      case KIV_FT_ROWVERSION: PutWords(p, length, 0, 0x80000000u); return;
      default: std::memset(p, 0, length); return;  // 2, 3, 4, 9, 16, 20 and the rest
    }
  }
  const bool zeros = (engineType >= KIV_FT_MEMO && engineType <= KIV_FT_SHORTINT) ||
                     engineType == KIV_FT_CURDOUBLE;
  std::memset(p, zeros ? 0 : ' ', length);
}

// ---- Compact dates -------------------------------------------------------

std::string CompactDateToText(const uint8_t b[3]) {
  const int year = b[0] * 128 + b[1] / 2;
  const int month = (b[1] & 1) * 8 + b[2] / 32;
  const int day = b[2] & 31;
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02d%02d", year, month, day);
  return text;
}

void TextToCompactDate(std::string_view text, uint8_t b[3]) {
  if (text.size() < 8) throw EConvertError("'" + std::string(text) + "' is not a valid date");
  const int year = StrToInt(text.substr(0, 4));
  const int month = StrToInt(text.substr(4, 2));
  const int day = StrToInt(text.substr(6, 2));
  const int yearMonth = year * 2 + month / 8;  // 16 bits, big-endian
  b[0] = static_cast<uint8_t>((yearMonth >> 8) & 0xFF);
  b[1] = static_cast<uint8_t>(yearMonth & 0xFF);
  b[2] = static_cast<uint8_t>((month * 32 + day) & 0xFF);
}

// ---- BCD in fixed format -------------------------------------------------

std::string BcdToStrF(const TBcd& value, int precision, int digits) {
  precision = std::clamp(precision, 1, 64);
  digits = std::clamp(digits, 0, 64);
  const int scale = std::min<int>(value.Scale, value.Precision);
  const int intCount = value.Precision - scale;
  const std::string all(value.Digits, value.Precision);  // integer digits, then decimals
  const size_t first = all.find_first_not_of('0');
  const char sep = FormatSettings().DecimalSeparator;
  if (first == std::string::npos) {  // zero
    std::string zero = "0";
    if (digits > 0) zero += std::string(1, sep) + std::string(static_cast<size_t>(digits), '0');
    return zero;
  }
  // value = 0.mantissa x 10^(exponent + 1); exponent is that of the first digit.
  std::string mantissa = all.substr(first);
  int exponent = intCount - static_cast<int>(first) - 1;
  auto roundTo = [](std::string& m, size_t keep) -> bool {  // true on a carry out of the top
    if (m.size() <= keep) return false;
    const bool up = m[keep] >= '5';
    m.resize(keep);
    if (!up) return false;
    for (size_t i = keep; i-- > 0;) {
      if (m[i] != '9') {
        ++m[i];
        return false;
      }
      m[i] = '0';
    }
    m.insert(m.begin(), '1');
    return true;
  };
  if (roundTo(mantissa, static_cast<size_t>(precision))) {
    mantissa.pop_back();  // 9.99 -> 10.0: same digits, one power of ten more
    ++exponent;
  }
  const std::string sign = value.Negative ? "-" : "";
  if (exponent + 1 > precision) {
    while (mantissa.size() < static_cast<size_t>(precision)) mantissa += '0';
    std::string text = sign + mantissa.substr(0, 1);
    if (precision > 1) text += std::string(1, sep) + mantissa.substr(1);
    char e[16];
    std::snprintf(e, sizeof e, "E%c%03d", exponent < 0 ? '-' : '+', exponent < 0 ? -exponent : exponent);
    return text + e;
  }
  // Plain digits with the point after exponent + 1 of them, rounded to `digits` decimals.
  std::string intPart, frac;
  if (exponent >= 0) {
    intPart = mantissa.substr(0, std::min<size_t>(mantissa.size(), static_cast<size_t>(exponent) + 1));
    while (intPart.size() < static_cast<size_t>(exponent) + 1) intPart += '0';
    if (mantissa.size() > static_cast<size_t>(exponent) + 1) frac = mantissa.substr(static_cast<size_t>(exponent) + 1);
  } else {
    intPart = "0";
    frac = std::string(static_cast<size_t>(-exponent - 1), '0') + mantissa;
  }
  std::string whole = intPart + frac;
  const size_t keep = intPart.size() + static_cast<size_t>(digits);
  if (whole.size() < keep) whole += std::string(keep - whole.size(), '0');
  roundTo(whole, keep);  // a carry (99.995 -> 100.00) adds an integer digit
  const size_t intDigits = whole.size() - static_cast<size_t>(digits);
  std::string text = whole.substr(0, intDigits);
  if (digits > 0) text += std::string(1, sep) + whole.substr(intDigits);
  const bool zero = whole.find_first_not_of('0') == std::string::npos;
  return (zero ? "" : sign) + text;
}

}  // namespace checker
