// Binding the values of a parameter collection to the numbered parameters of
// a prepared engine statement. The query component binds its Params with it;
// the connection's statement execution does too.
#ifndef CHECKER_KIVPARAMS_H
#define CHECKER_KIVPARAMS_H

#include <cstdint>
#include <string>

#include "kivds/db.h"
#include "kivds/rtl.h"
#include "qel32.h"

namespace checker {

class TKivDataSet;

// Julian day number of the TDateTime day 0 (30 December 1899).
constexpr int64_t kJulianOfDayZero = KIV_JULIAN_1899_12_30;

// The Julian day number and the milliseconds of the day of a TDateTime.
// Days are truncated towards zero; the time of day is the fraction's
// magnitude (a negative TDateTime still carries its time as a positive
// fraction), rounded to the nearest millisecond with ties to even. Raises
// EKIVDatabaseError (5121) when the day number does not fit 32 bits.
struct TJulianStamp {
  int32_t day = 0;
  int32_t milliseconds = 0;
};
TJulianStamp JulianStampOf(kivds::TDateTime value, const std::string& paramName);

// A BCD value as plain text with '.' as the decimal point, whatever the
// locale says ("-12.5", "0", "1000").
std::string BcdToPlainText(const kivds::TBcd& value);

// Binds parameter i of `params` (from 0) to engine parameter i + 1 of
// `statement`, by its data type:
//   null (any type)               KivSetEmpty
//   ftBoolean                     KivSetLogical 1 / 0
//   ftFloat, ftCurrency           KivSetDouble
//   ftDate                        KivSetJulian (whole days + 2415019)
//   ftTime                        KivSetMilliseconds (the day's milliseconds)
//   ftDateTime                    KivSetTimeStampRaw (day, milliseconds)
//   bytes, var-bytes, blob, graphic   KivSetBinary (kind 6, the whole value)
//   ftBCD                         KivSetString, the number with '.'
//   string, integer and memo kinds    KivSetString with the bytes of AsString
// ftUnknown raises "The field named: '<name>' has the DataType of ftUnknown,
// which is invalid."; every other type raises "The field named: '<name>' has
// a DataType that is not supported." before anything of that parameter is
// sent. Engine results go through CheckQELResult with `dataSet` (may be null).
void BindParamsToStatement(KIVHANDLE statement, const kivds::TParams& params, TKivDataSet* dataSet = nullptr);

}  // namespace checker

#endif
