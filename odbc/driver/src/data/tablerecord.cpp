#include "data/tablerecord.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "util/engine.h"
#include "qel32.h"
#include "data/valuetext.h"

namespace kivodbc {
namespace {

constexpr uint16_t kOrdinalAppend = 2;
constexpr uint16_t kOrdinalAtBof = 4;
constexpr uint16_t kOrdinalAtEof = 5;
constexpr uint16_t kOrdinalBegin = 6;
constexpr uint16_t kOrdinalDelete = 31;
constexpr uint16_t kOrdinalPieceRead = 45;
constexpr uint16_t kOrdinalPieceLength = 46;
constexpr uint16_t kOrdinalRecordNumber = 47;
constexpr uint16_t kOrdinalGetDouble = 54;
constexpr uint16_t kOrdinalGetField = 58;
constexpr uint16_t kOrdinalFieldLength = 60;
constexpr uint16_t kOrdinalLastError = 74;
constexpr uint16_t kOrdinalGetLogical = 75;
constexpr uint16_t kOrdinalMemoLength = 77;
constexpr uint16_t kOrdinalGoTo = 102;
constexpr uint16_t kOrdinalBottom = 103;
constexpr uint16_t kOrdinalTop = 105;
constexpr uint16_t kOrdinalIsEmpty = 107;
constexpr uint16_t kOrdinalSetBinary = 132;
constexpr uint16_t kOrdinalSetDouble = 138;
constexpr uint16_t kOrdinalSetEmpty = 139;
constexpr uint16_t kOrdinalSetField = 142;
constexpr uint16_t kOrdinalSetLogical = 145;
constexpr uint16_t kOrdinalSetLong = 146;
constexpr uint16_t kOrdinalSkip = 158;
constexpr uint16_t kOrdinalWrite = 163;
constexpr uint16_t kOrdinalTextToJulian = 183;
constexpr uint16_t kOrdinalJulianToText = 184;
constexpr uint16_t kOrdinalGetJulian = 188;
constexpr uint16_t kOrdinalSetJulian = 193;
constexpr uint16_t kOrdinalSetLastError = 194;
constexpr uint16_t kOrdinalCancelUpdate = 196;
constexpr uint16_t kOrdinalSetMilliseconds = 249;
constexpr uint16_t kOrdinalSetStampText = 268;
constexpr uint16_t kOrdinalGetMilliseconds = 250;

constexpr uint16_t kOwnTableType = 3;
constexpr size_t kSavedErrorSize = 600;

// Keeps a failure as the session's last error and returns it.
uint32_t Keep(EngineTable* table, uint32_t code) {
  if (code != 0 && table->session != nullptr) table->session->lastError = code;
  return code;
}

// Calls the engine function of `ordinal`; a function that cannot be bound
// fails like an engine call.
template <typename F, typename... Args>
uint32_t Call(EngineTable* table, uint16_t ordinal, Args... args) {
  auto function = Engine<F>(ordinal);
  if (function == nullptr) return Keep(table, kRecordError);
  return Keep(table, function(args...));
}

KIVFIELD FieldOf(size_t index) { return KIV_FIELD(index + 1); }

bool IsPieceType(uint16_t type) {
  return type == KIV_FT_BINARY || type == KIV_FT_IMAGE || type == KIV_FT_GENERAL || type == KIV_FT_PICTURE;
}

bool IsVariableType(uint16_t type) {
  return (type >= KIV_FT_MEMO && type <= KIV_FT_VARCHAR) || type == KIV_FT_GENERAL || type == KIV_FT_PICTURE;
}

// Reads the date of a Julian day number as year, month and day.
uint32_t SplitJulian(EngineTable* table, int32_t julian, SQLSMALLINT* year, SQLUSMALLINT* month,
                     SQLUSMALLINT* day) {
  char text[16] = {};
  uint32_t length = sizeof text - 1;
  if (uint32_t code = Call<decltype(&KivConvertJulianToString)>(table, kOrdinalJulianToText,
                                                                 static_cast<double>(julian), text, &length))
    return code;
  // The engine answers YYYYMMDD (blanks for no date): read the digits in place.
  auto digits = [&](size_t from, size_t count) {
    int value = 0;
    for (size_t i = from; i < from + count && text[i] >= '0' && text[i] <= '9'; ++i)
      value = value * 10 + (text[i] - '0');
    return value;
  };
  *year = static_cast<SQLSMALLINT>(digits(0, 4));
  *month = static_cast<SQLUSMALLINT>(digits(4, 2));
  *day = static_cast<SQLUSMALLINT>(digits(6, 2));
  return 0;
}

uint32_t WriteDate(EngineTable* table, KIVFIELD field, int year, unsigned month, unsigned day) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02u%02u", year, month, day);
  double julian = 0;
  if (uint32_t code = Call<decltype(&KivConvertStringToJulian)>(table, kOrdinalTextToJulian, text, uint16_t{8}, &julian))
    return code;
  return Call<decltype(&KivSetJulian)>(table, kOrdinalSetJulian, table->handle, field, static_cast<int32_t>(julian));
}

uint32_t TooLongIsTruncation(uint32_t code, bool rangeToo) {
  if (code == KIV_ERR_VALUE_CUT || (rangeToo && code == KIV_ERR_INT_RANGE)) return kValueTruncated;
  return code;
}

// Text and binary targets.
uint32_t ReadBytes(EngineTable* table, size_t field, uint16_t engineType, uint32_t offset, bool text, char* target,
                   SQLLEN capacity, SQLLEN* length, int* emptyMark) {
  const SQLLEN room = std::max<SQLLEN>(capacity - (text ? 1 : 0), 0);
  auto finish = [&](SQLLEN delivered) {
    if (text && capacity > 0) target[std::min(delivered, room)] = 0;
  };
  if (IsPieceType(engineType)) {
    uint32_t got = static_cast<uint32_t>(std::min<SQLLEN>(room, UINT32_MAX));
    uint32_t code = Call<decltype(&KivGetBinary)>(table, kOrdinalPieceRead, table->handle, FieldOf(field), offset,
                                                 static_cast<void*>(target), &got);
    if (code == KIV_ERR_OFFSET_BEYOND) return Keep(table, kNoDataFound);
    if (code != 0 && code != KIV_ERR_BUFFER_TOO_SMALL) return code;
    if (code == KIV_ERR_BUFFER_TOO_SMALL) {
      uint32_t total = 0;
      if (uint32_t lengthCode = Call<decltype(&KivGetBinaryLength)>(table, kOrdinalPieceLength, table->handle,
                                                                    FieldOf(field), &total))
        return lengthCode;
      *length = static_cast<SQLLEN>(total) - offset;
      finish(room);
      return Keep(table, kValueTruncated);
    }
    *length = got;
    finish(got);
    return 0;
  }
  if (offset != 0) {
    uint32_t size = 0;
    if (uint32_t code = FieldDataLength(table, field, &size)) return code;
    if (offset >= size) return Keep(table, kNoDataFound);
    std::vector<char> whole(size + 1);
    uint32_t got = size + 1;
    uint32_t code = Call<decltype(&KivGetField)>(table, kOrdinalGetField, table->handle, FieldOf(field), whole.data(),
                                                &got, static_cast<uint16_t>(table->trim ? 1 : 0));
    if (code != 0 && code != KIV_ERR_BUFFER_TOO_SMALL) return code;
    got = std::min<uint32_t>(got, size);
    if (offset >= got) return Keep(table, kNoDataFound);
    const SQLLEN rest = got - offset;
    const SQLLEN copied = std::min(rest, room);
    if (copied > 0) std::memcpy(target, whole.data() + offset, static_cast<size_t>(copied));
    finish(copied);
    *length = rest;
    return copied < rest ? Keep(table, kValueTruncated) : 0;
  }
  const bool numeric = engineType == KIV_FT_NUMERIC;
  uint32_t got = static_cast<uint32_t>(std::min<SQLLEN>(room, UINT32_MAX));
  uint32_t code = Call<decltype(&KivGetField)>(table, kOrdinalGetField, table->handle, FieldOf(field), target, &got,
                                              static_cast<uint16_t>(!numeric && table->trim ? 1 : 0));
  if (code != 0 && code != KIV_ERR_BUFFER_TOO_SMALL) return code;
  *length = got;
  const SQLLEN delivered = std::min<SQLLEN>(got, room);
  finish(delivered);
  if (numeric && table->tableType != kOwnTableType && delivered > 0 &&
      NumberTextIsZero(target, static_cast<size_t>(delivered)))
    *emptyMark = kZeroValue;
  return code == KIV_ERR_BUFFER_TOO_SMALL ? Keep(table, kValueTruncated) : 0;
}

}  // namespace

uint32_t EnsureImplicitTransaction(EngineSession* session) {
  if (session == nullptr || session->autocommit != 0) return 0;
  auto inTransaction = Engine<decltype(&KivInTransaction)>(kOrdinalInTransaction);
  auto begin = Engine<decltype(&KivBeginTransaction)>(kOrdinalBegin);
  if (inTransaction == nullptr || begin == nullptr) return session->lastError = kRecordError;
  uint16_t open = 0;
  if (uint32_t code = inTransaction(session->engineConnection, &open)) return session->lastError = code;
  if (open != 0) return 0;
  if (uint32_t code = begin(session->engineConnection)) return session->lastError = code;
  return 0;
}

void ResetTableCursor(EngineTable* table) {
  if (table->session != nullptr) table->session->lastError = 0;
  table->firstStep = true;
  table->atEnd = false;
  table->stepCount = 0;
}

uint32_t StepTableRecord(EngineTable* table) {
  if (uint32_t code = EnsureImplicitTransaction(table->session)) return code;
  if (table->atEnd) return kRecordEdge;
  uint32_t code;
  if (table->firstStep) {
    code = Call<decltype(&KivGotoTop)>(table, table->backwards ? kOrdinalBottom : kOrdinalTop, table->handle);
    table->firstStep = false;
  } else {
    code = Call<decltype(&KivSkip)>(table, kOrdinalSkip, table->handle, int32_t{table->backwards ? -1 : 1});
  }
  if (code != 0) return code;
  uint16_t edge = 0;
  if ((code = Call<decltype(&KivAtEOF)>(table, table->backwards ? kOrdinalAtBof : kOrdinalAtEof, table->handle,
                                        &edge)))
    return code;
  if (edge != 0) return kRecordEdge;
  ++table->stepCount;
  return 0;
}

int32_t TextToInt(const char* text, size_t length) {
  char digits[128];
  length = std::min<size_t>(length, sizeof digits - 1);
  size_t n = 0;
  while (n < length && text[n] != 0) {
    digits[n] = text[n];
    ++n;
  }
  digits[n] = 0;
  return static_cast<int32_t>(std::strtol(digits, nullptr, 10));
}

uint32_t FieldDataLength(EngineTable* table, size_t field, uint32_t* length) {
  *length = 0;
  const uint16_t type = field < table->columns.size() ? table->columns[field].engineType : 0;
  if (IsVariableType(type))
    return Call<decltype(&KivGetMemoLength)>(table, kOrdinalMemoLength, table->handle, FieldOf(field), length);
  return Call<decltype(&KivGetFieldLength)>(table, kOrdinalFieldLength, table->handle, FieldOf(field), length);
}

uint32_t ReadTableField(EngineTable* table, size_t field, uint32_t offset, int16_t wanted, void* target,
                        SQLLEN capacity, SQLLEN* length, int* emptyMark) {
  *length = 0;
  *emptyMark = 0;
  if (field >= table->columns.size()) return Keep(table, kRecordError);
  const uint16_t type = table->columns[field].engineType;
  const bool own = table->tableType == kOwnTableType;
  uint16_t empty = 0;
  if (uint32_t code = Call<decltype(&KivIsEmpty)>(table, kOrdinalIsEmpty, table->handle, FieldOf(field), &empty))
    return code;
  if (empty != 0) {
    if (own) {
      *length = SQL_NULL_DATA;
      return 0;
    }
    if (type >= 1 && type <= 9) *emptyMark = kEmptyField;
    // Dates, memo-like fields and timestamps (whose empty value is no valid
    // timestamp) read as null; numbers, text and logicals as their zero.
    if (type == KIV_FT_DATE || type == KIV_FT_MEMO || type == KIV_FT_BINARY || type == KIV_FT_IMAGE ||
        type == KIV_FT_COMPACTDATE || type == KIV_FT_TIMESTAMP || type == KIV_FT_MODTIME) {
      *length = SQL_NULL_DATA;
      return 0;
    }
  }
  switch (wanted) {
    case kValueText:
    case kValueBinary:
      return ReadBytes(table, field, type, offset, wanted == kValueText, static_cast<char*>(target), capacity, length,
                       emptyMark);
    case kValueDouble: {
      double value = 0;
      if (type == KIV_FT_LOGICAL) {
        uint16_t logical = 0;
        if (uint32_t code = Call<decltype(&KivGetLogical)>(table, kOrdinalGetLogical, table->handle, FieldOf(field),
                                                          &logical))
          return code;
        value = logical != 0 ? 1.0 : 0.0;
      } else if (uint32_t code = Call<decltype(&KivGetDouble)>(table, kOrdinalGetDouble, table->handle,
                                                               FieldOf(field), &value)) {
        return code;
      }
      if (!own && value == 0.0) *emptyMark = kZeroValue;
      std::memcpy(target, &value, sizeof value);
      *length = sizeof value;
      return 0;
    }
    case kValueDate:
    case kValueTimestamp: {
      int32_t julian = 0;
      if (uint32_t code = Call<decltype(&KivGetJulian)>(table, kOrdinalGetJulian, table->handle, FieldOf(field),
                                                       &julian))
        return code;
      if (!own && julian == 0) *emptyMark = kZeroValue;
      SQL_TIMESTAMP_STRUCT stamp{};
      if (uint32_t code = SplitJulian(table, julian, &stamp.year, &stamp.month, &stamp.day)) return code;
      if (wanted == kValueDate) {
        SQL_DATE_STRUCT date{stamp.year, stamp.month, stamp.day};
        std::memcpy(target, &date, sizeof date);
        *length = sizeof date;
        return 0;
      }
      int32_t ms = 0;
      if (uint32_t code = Call<decltype(&KivGetMilliseconds)>(table, kOrdinalGetMilliseconds, table->handle,
                                                             FieldOf(field), &ms))
        return code;
      stamp.hour = static_cast<SQLUSMALLINT>(ms / 3600000);
      stamp.minute = static_cast<SQLUSMALLINT>(ms / 60000 % 60);
      stamp.second = static_cast<SQLUSMALLINT>(ms / 1000 % 60);
      stamp.fraction = static_cast<SQLUINTEGER>(ms % 1000) * 1000000u;
      std::memcpy(target, &stamp, sizeof stamp);
      *length = sizeof stamp;
      return 0;
    }
    case kValueTime: {
      int32_t ms = 0;
      if (uint32_t code = Call<decltype(&KivGetMilliseconds)>(table, kOrdinalGetMilliseconds, table->handle,
                                                             FieldOf(field), &ms))
        return code;
      SQL_TIME_STRUCT time{static_cast<SQLUSMALLINT>(ms / 3600000), static_cast<SQLUSMALLINT>(ms / 60000 % 60),
                           static_cast<SQLUSMALLINT>(ms / 1000 % 60)};
      std::memcpy(target, &time, sizeof time);
      *length = sizeof time;
      return 0;
    }
  }
  return Keep(table, kRecordError);
}

uint32_t WriteTableField(EngineTable* table, size_t field, uint16_t engineType, int16_t type, const void* value,
                         SQLLEN length) {
  const KIVFIELD f = FieldOf(field);
  const uint32_t h = table->handle;
  if (length == SQL_NULL_DATA) return Call<decltype(&KivSetEmpty)>(table, kOrdinalSetEmpty, h, f);
  switch (type) {
    case kValueText: {
      const char* text = static_cast<const char*>(value);
      const size_t size = length == SQL_NTS ? std::strlen(text) : static_cast<size_t>(std::max<SQLLEN>(length, 0));
      return Keep(table, TooLongIsTruncation(Call<decltype(&KivSetField)>(table, kOrdinalSetField, h, f, value,
                                                                           static_cast<uint32_t>(size)),
                                             false));
    }
    case kValueInteger: {
      int32_t number;
      std::memcpy(&number, value, sizeof number);
      const uint32_t code =
          engineType == KIV_FT_LOGICAL
              ? Call<decltype(&KivSetLogical)>(table, kOrdinalSetLogical, h, f, uint16_t{number != 0})
              : Call<decltype(&KivSetLong)>(table, kOrdinalSetLong, h, f, number);
      return Keep(table, TooLongIsTruncation(code, true));
    }
    case kValueDouble: {
      double number;
      std::memcpy(&number, value, sizeof number);
      const uint32_t code =
          engineType == KIV_FT_LOGICAL
              ? Call<decltype(&KivSetLogical)>(table, kOrdinalSetLogical, h, f, uint16_t{number != 0.0})
              : Call<decltype(&KivSetDouble)>(table, kOrdinalSetDouble, h, f, number);
      return Keep(table, TooLongIsTruncation(code, false));
    }
    case kValueDate: {
      SQL_DATE_STRUCT date;
      std::memcpy(&date, value, sizeof date);
      return WriteDate(table, f, date.year, date.month, date.day);
    }
    case kValueTime: {
      SQL_TIME_STRUCT time;
      std::memcpy(&time, value, sizeof time);
      const int32_t ms = time.hour * 3600000 + time.minute * 60000 + time.second * 1000;
      return Call<decltype(&KivSetMilliseconds)>(table, kOrdinalSetMilliseconds, h, f, ms);
    }
    case kValueTimestamp: {
      SQL_TIMESTAMP_STRUCT stamp;
      std::memcpy(&stamp, value, sizeof stamp);
      const int32_t ms = (stamp.hour * 3600 + stamp.minute * 60 + stamp.second) * 1000 +
                         static_cast<int32_t>(stamp.fraction / 1000000u);
      if (engineType == KIV_FT_TIMESTAMP || engineType == KIV_FT_MODTIME) {
        // The engine sets a timestamp field whole: a time alone does not go into it.
        char text[48];
        std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d.%03d", stamp.year, stamp.month, stamp.day,
                      ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
        return Call<decltype(&KivSetTimeStampText)>(table, kOrdinalSetStampText, h, f, static_cast<const char*>(text),
                                                    static_cast<uint32_t>(std::strlen(text)));
      }
      if (uint32_t code = WriteDate(table, f, stamp.year, stamp.month, stamp.day)) return code;
      return Call<decltype(&KivSetMilliseconds)>(table, kOrdinalSetMilliseconds, h, f, ms);
    }
    case kValueBinary: {
      const uint32_t size = static_cast<uint32_t>(std::max<SQLLEN>(length, 0));
      const uint32_t code =
          engineType == KIV_FT_RAW
              ? Call<decltype(&KivSetField)>(table, kOrdinalSetField, h, f, value, size)
              : Call<decltype(&KivSetBinary)>(table, kOrdinalSetBinary, h, f, uint16_t{0}, size, uint32_t{0}, value,
                                             size);
      return Keep(table, TooLongIsTruncation(code, false));
    }
  }
  return Keep(table, kRecordError);
}

uint32_t SetTableField(EngineTable* table, size_t field, uint16_t engineType, int16_t type, const void* value,
                       SQLLEN length) {
  if (uint32_t code = EnsureImplicitTransaction(table->session)) return code;
  return WriteTableField(table, field, engineType, type, value, length);
}

uint32_t AppendBlankRecord(EngineTable* table) {
  if (uint32_t code = EnsureImplicitTransaction(table->session)) return code;
  return Call<decltype(&KivAppendRecord)>(table, kOrdinalAppend, table->handle);
}

uint32_t WriteTableRecord(EngineTable* table) {
  if (uint32_t code = EnsureImplicitTransaction(table->session)) return code;
  const uint32_t code = Call<decltype(&KivWriteRecord)>(table, kOrdinalWrite, table->handle);
  if (code == 0) return 0;
  // The discard would overwrite the engine's last error: keep the write's.
  char text[kSavedErrorSize] = {};
  uint32_t saved = code;
  uint32_t room = sizeof text - 1;
  if (auto lastError = Engine<decltype(&KivGetLastError)>(kOrdinalLastError)) lastError(&saved, text, &room);
  if (auto cancel = Engine<decltype(&KivCancelUpdate)>(kOrdinalCancelUpdate)) cancel(table->handle);
  if (auto setLastError = Engine<decltype(&KivSetLastError)>(kOrdinalSetLastError)) setLastError(saved, text);
  return Keep(table, code);
}

uint32_t DeleteTableRecord(EngineTable* table) {
  if (uint32_t code = EnsureImplicitTransaction(table->session)) return code;
  if (uint32_t code = Call<decltype(&KivDeleteRecord)>(table, kOrdinalDelete, table->handle)) return code;
  return WriteTableRecord(table);
}

uint32_t DiscardRecordChanges(EngineTable* table) {
  auto cancel = Engine<decltype(&KivCancelUpdate)>(kOrdinalCancelUpdate);
  if (cancel == nullptr) return Keep(table, kRecordError);
  const uint32_t code = cancel(table->handle);
  return code == KIV_ERR_NOTHING_TO_CANCEL ? 0 : Keep(table, code);
}

uint32_t CurrentRecordNumber(EngineTable* table, uint32_t* number) {
  *number = 0;
  return Call<decltype(&KivGetBookmark)>(table, kOrdinalRecordNumber, table->handle, number);
}

uint32_t GoToRecord(EngineTable* table, uint32_t number) {
  if (uint32_t code = EnsureImplicitTransaction(table->session)) return code;
  if (uint32_t code = Call<decltype(&KivGotoBookmark)>(table, kOrdinalGoTo, table->handle, number)) return code;
  uint16_t end = 0;
  if (uint32_t code = Call<decltype(&KivAtEOF)>(table, kOrdinalAtEof, table->handle, &end)) return code;
  return end != 0 ? kRecordEdge : 0;
}

}  // namespace kivodbc
