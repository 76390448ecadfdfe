// BindParamsToStatement: parameter values onto engine statement parameters.
#include "checker/kivparams.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "checker/kiverror.h"

namespace checker {

using namespace kivds;

namespace {

[[noreturn]] void NotSupported(const std::string& name) {
  KivDataSetError(nullptr, "The field named: '" + name + "' has a DataType that is not supported.");
}

}  // namespace

TJulianStamp JulianStampOf(TDateTime value, const std::string& paramName) {
  const double whole = std::trunc(value);
  const double day = whole + static_cast<double>(kJulianOfDayZero);
  if (!std::isfinite(value) || day < static_cast<double>(std::numeric_limits<int32_t>::min()) ||
      day > static_cast<double>(std::numeric_limits<int32_t>::max()))
    KivDataSetError(nullptr, "The value of the parameter '" + paramName + "' is out of the range of dates.");
  // nearbyint rounds in the current mode: to nearest, ties to even.
  const double ms = std::nearbyint(std::fabs(value - whole) * static_cast<double>(MSecsPerDay));
  TJulianStamp stamp;
  stamp.day = static_cast<int32_t>(day);
  stamp.milliseconds = static_cast<int32_t>(ms);
  return stamp;
}

std::string BcdToPlainText(const TBcd& value) {
  std::string text = BcdToStr(value);
  const char separator = FormatSettings().DecimalSeparator;
  if (separator != '.')
    for (char& c : text)
      if (c == separator) c = '.';
  return text;
}

void BindParamsToStatement(KIVHANDLE statement, const TParams& params, TKivDataSet* dataSet) {
  for (int i = 0; i < params.Count(); ++i) {
    const TParam& param = *params[i];
    const KIVFIELD number = KIV_FIELD(i + 1);
    if (param.IsNull()) {
      CheckQELResult(dataSet, KivSetEmpty(statement, number));
      continue;
    }
    switch (static_cast<TFieldType>(static_cast<int>(param.DataType()) % 128)) {
      case ftUnknown:
        KivDataSetError(nullptr,
                        "The field named: '" + param.Name() + "' has the DataType of ftUnknown, which is invalid.");
      case ftBoolean:
        CheckQELResult(dataSet, KivSetLogical(statement, number, param.AsBoolean() ? 1 : 0));
        break;
      case ftFloat:
      case ftCurrency:
        CheckQELResult(dataSet, KivSetDouble(statement, number, param.AsFloat()));
        break;
      case ftDate:
        CheckQELResult(dataSet, KivSetJulian(statement, number, JulianStampOf(param.AsDateTime(), param.Name()).day));
        break;
      case ftTime:
        CheckQELResult(dataSet, KivSetMilliseconds(statement, number,
                                                   JulianStampOf(param.AsDateTime(), param.Name()).milliseconds));
        break;
      case ftDateTime: {
        const TJulianStamp stamp = JulianStampOf(param.AsDateTime(), param.Name());
        uint8_t raw[8];
        const uint32_t day = static_cast<uint32_t>(stamp.day);
        const uint32_t ms = static_cast<uint32_t>(stamp.milliseconds);
        for (int b = 0; b < 4; ++b) {
          raw[b] = static_cast<uint8_t>(day >> (8 * b));
          raw[4 + b] = static_cast<uint8_t>(ms >> (8 * b));
        }
        CheckQELResult(dataSet, KivSetTimeStampRaw(statement, number, raw));
        break;
      }
      case ftBytes:
      case ftVarBytes:
      case ftBlob:
      case ftGraphic: {
        std::vector<uint8_t> buffer(static_cast<size_t>(param.GetDataSize()));
        if (!buffer.empty()) param.GetData(buffer.data());
        const auto size = static_cast<uint32_t>(buffer.size());
        CheckQELResult(dataSet, KivSetBinary(statement, number, KIV_BINARY_KIND, size, 0, buffer.data(), size));
        break;
      }
      case ftBCD: {
        const std::string text = BcdToPlainText(param.AsBCD());
        CheckQELResult(dataSet, KivSetString(statement, number, text.data(), static_cast<uint32_t>(text.size())));
        break;
      }
      case ftString:
      case ftSmallint:
      case ftInteger:
      case ftWord:
      case ftAutoInc:
      case ftMemo:
      case ftFmtMemo:
      case ftFixedChar:
      case ftLargeint: {
        const std::string text = param.AsString();
        CheckQELResult(dataSet, KivSetString(statement, number, text.data(), static_cast<uint32_t>(text.size())));
        break;
      }
      default:
        // The OLE, cursor, wide-string, object and reference kinds, and the
        // kinds above ftDataSet: refused rather than left unbound.
        NotSupported(param.Name());
    }
  }
}

}  // namespace checker
