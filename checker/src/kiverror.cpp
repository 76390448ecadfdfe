#include "checker/kiverror.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "checker/kivdata.h"

namespace checker {

namespace {

thread_local bool tBuildingError = false;

// Keeps the first `limit` characters of a text.
std::string Prefix(const std::string& s, size_t limit) { return s.substr(0, std::min(limit, s.size())); }

}  // namespace

bool& EngineErrorFlag() { return tBuildingError; }

int32_t ParseNativeError(const std::string& message) {
  const std::string upper = kivds::AnsiUpperCase(message);  // one byte per character: same positions
  static const std::string kMarker = "NATIVEERROR = ";
  if (upper.find("ERROR 7200:") == std::string::npos) return 0;
  const size_t at = upper.find(kMarker);
  if (at == std::string::npos) return 0;
  const size_t start = at + kMarker.size();
  const size_t end = message.find(';', start);
  return kivds::StrToInt(message.substr(start, end == std::string::npos ? std::string::npos : end - start));
}

std::string ColumnNameFromMessage(const std::string& message) {
  static const std::string kMarker = "column \"";
  const size_t at = message.find(kMarker);
  if (at == std::string::npos) return {};
  std::string rest = Prefix(message.substr(at + kMarker.size()), 900);
  const size_t quote = rest.find('"');
  if (quote != std::string::npos) rest.resize(quote);
  return rest;
}

EKIVDatabaseError::EKIVDatabaseError(TKivDataSet* dataSet, const std::string& message,
                                     uint32_t code)
    : kivds::EDatabaseError(std::string()) {
  if (tBuildingError) {
    // Part of another error's construction on this thread: stays empty.
    nested_ = true;
    return;
  }
  tBuildingError = true;
  EngineErrorCode = code;
  // Exceptions of the library's family (a failed path resolution, a failed
  // conversion) are swallowed: the error keeps what was filled so far. Any
  // other exception propagates once the message is set and the flag cleared.
  std::exception_ptr pending;
  auto guarded = [&pending](auto&& step) {
    if (pending) return;
    try {
      step();
    } catch (const kivds::Exception&) {
    } catch (...) {
      pending = std::current_exception();
    }
  };
  if (dataSet != nullptr) {
    guarded([&] {
      DataSetInstanceName = dataSet->Name();
      if (dataSet->Owner() != nullptr) DataSetInstanceOwner = dataSet->Owner()->Name();
      DatabaseName = dataSet->DatabaseName();
      DatabasePath = dataSet->GetDatabasePath();
      TableName = dataSet->GetTableName();
      if (code == 5147 || code == 5148 || code == 5149) ColumnName = ColumnNameFromMessage(message);
    });
  }
  SQLErrorCode = 0;
  guarded([&] { SQLErrorCode = ParseNativeError(message); });
  SetMessage(DataSetInstanceName.empty() ? message : DataSetInstanceName + ": " + message);
  tBuildingError = false;
  if (pending) std::rethrow_exception(pending);
}

EKIVDatabaseError::EKIVDatabaseError(const EKIVDatabaseError& other) = default;
EKIVDatabaseError& EKIVDatabaseError::operator=(const EKIVDatabaseError& other) = default;

EKIVDatabaseError::~EKIVDatabaseError() {
  if (!nested_) tBuildingError = false;
}

void CheckQELResult(TKivDataSet* dataSet, KIVRESULT result) {
  if (result == KIV_OK || tBuildingError) return;
  RaiseLastEngineError(dataSet, result);
}

bool ReadLastEngineError(uint32_t& code, std::string& text) {
  code = 0;
  text.clear();
  char buffer[601] = {};
  uint32_t len = 600;
  const KIVRESULT rc = KivGetLastError(&code, buffer, &len);
  if (rc != KIV_OK && rc != KIV_ERR_BUFFER_TOO_SMALL) {
    code = 0;
    return false;
  }
  text.assign(buffer, strnlen(buffer, std::min<uint32_t>(len, 600)));
  return true;
}

std::string NoEngineErrorText(KIVRESULT failedCode) {
  return "Engine call failed with code " + std::to_string(failedCode) + " and left no error text.";
}

void RaiseLastEngineError(TKivDataSet* dataSet, KIVRESULT failedCode) {
  uint32_t code = 0;
  std::string message;
  ReadLastEngineError(code, message);
  if (code == 0) {
    // The engine kept no error for the failed call: report the call's own code.
    code = failedCode;
    message = NoEngineErrorText(failedCode);
  } else if (message.empty()) {
    message = "Engine error " + std::to_string(code) + ".";
  }
  throw EKIVDatabaseError(dataSet, message, code);
}

void KivDataSetError(TKivDataSet* dataSet, const std::string& message, uint32_t code) {
  throw EKIVDatabaseError(dataSet, message, code);
}

}  // namespace checker
