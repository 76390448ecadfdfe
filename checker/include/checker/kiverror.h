// Engine errors of the dataset components.
//
// Every engine call's 32-bit result goes through CheckQELResult, which turns a
// non-zero result into an EKIVDatabaseError carrying the engine's last error.
// The components' own checks raise EKIVDatabaseError too (code 5121 unless a
// Part names another). A per-thread flag keeps the construction of one error
// from raising another: while it is set, CheckQELResult returns quietly and a
// new error is built with an empty message.
#ifndef CHECKER_KIVERROR_H
#define CHECKER_KIVERROR_H

#include <cstdint>
#include <string>

#include "kivds/rtl.h"
#include "qel32.h"

namespace checker {

class TKivDataSet;

// Codes of the components' own errors.
constexpr uint32_t kKivOwnError = 5121;           // every own check unless named otherwise
constexpr uint32_t kKivRecordChanged = 5186;      // "Record was changed by another user."
constexpr uint32_t kKivStaticViewRefused = 5064;  // the static-view refusal
constexpr uint32_t kKivNoCode = 0;                // "Numeric out of range:" and default values

class EKIVDatabaseError : public kivds::EDatabaseError {
 public:
  // `dataSet` may be null. The message becomes "Name: message" when the
  // dataset has a name.
  EKIVDatabaseError(TKivDataSet* dataSet, const std::string& message, uint32_t code);
  EKIVDatabaseError(const EKIVDatabaseError& other);
  EKIVDatabaseError& operator=(const EKIVDatabaseError& other);
  // Clears this thread's flag (never for an error built while the flag was
  // set: that one is part of another error's construction).
  ~EKIVDatabaseError() override;

  uint32_t EngineErrorCode = 0;
  int32_t SQLErrorCode = 0;  // native SQL error code taken from the text, else 0
  std::string DataSetInstanceName;
  std::string DataSetInstanceOwner;
  std::string DatabaseName;
  std::string DatabasePath;
  std::string TableName;
  std::string ColumnName;

 private:
  bool nested_ = false;  // built while this thread's flag was set
};

// This thread's error flag (set while an EKIVDatabaseError is being built).
bool& EngineErrorFlag();

// Returns when `result` is 0 or this thread's flag is set; otherwise raises
// the engine's last error.
void CheckQELResult(TKivDataSet* dataSet, KIVRESULT result);

// Reads KivGetLastError (601-byte buffer, length 600) and raises an
// EKIVDatabaseError with its text and code. When the engine reports no last
// error (code 0), the error carries `failedCode`, the failing call's own
// result, and a text that names that code.
[[noreturn]] void RaiseLastEngineError(TKivDataSet* dataSet, KIVRESULT failedCode);

// Reads the engine's last error (601-byte buffer, length 600) into `code`
// and `text`; false when the engine cannot hand it out.
bool ReadLastEngineError(uint32_t& code, std::string& text);
// The text of a failed call for which the engine kept no error.
std::string NoEngineErrorText(KIVRESULT failedCode);

// Raises one of the components' own errors.
[[noreturn]] void KivDataSetError(TKivDataSet* dataSet, const std::string& message,
                                  uint32_t code = kKivOwnError);

// ParseNativeError: the integer after "NATIVEERROR = " (up to the next ';' or
// the end) when the upper-cased message holds "ERROR 7200:" and
// "NATIVEERROR = "; 0 when absent. Raises EConvertError for a non-numeric
// native part (the constructor swallows that and keeps 0).
int32_t ParseNativeError(const std::string& message);

// The text after the first `column "` (at most 900 characters), cut at the
// next double quote; empty without that marker.
std::string ColumnNameFromMessage(const std::string& message);

}  // namespace checker

#endif
