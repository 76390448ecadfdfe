// The driver's message table and the posting of pending diagnostics.
//
// Driver codes 2000-2300 are ids of texts "S2ST5 S3ST5 message": the ODBC 2
// SQLSTATE, a blank, the ODBC 3 SQLSTATE, a blank and the message. Any other
// code is an engine code; its text is built from the engine's last error when
// it is posted.
#ifndef KIVODBC_MESSAGES_H
#define KIVODBC_MESSAGES_H

#include <cstdint>
#include <string>
#include <string_view>

#include "handles/records.h"

namespace kivodbc {

// Driver codes the driver itself posts in many places.
constexpr uint16_t kNoData = 2001;
constexpr uint16_t kMemoryError = 2101;
constexpr uint16_t kDataTruncated = 2102;
constexpr uint16_t kNotSupported = 2103;
constexpr uint16_t kConnectionInUse = 2106;
constexpr uint16_t kInvalidCursorState = 2107;
constexpr uint16_t kInvalidColumnNumber = 2108;
constexpr uint16_t kConversionError = 2109;
constexpr uint16_t kDriverNotCapable = 2110;
constexpr uint16_t kOutOfRange = 2111;
constexpr uint16_t kAssignmentError = 2112;
constexpr uint16_t kInternalError = 2119;
constexpr uint16_t kNoTypeEntry = 2120;
constexpr uint16_t kInvalidConnectionString = 2139;
constexpr uint16_t kUnableToConnect = 2140;
constexpr uint16_t kOptionTypeOutOfRange = 2143;
constexpr uint16_t kDivisionByZero = 2153;
constexpr uint16_t kInvalidParameterNumber = 2168;
constexpr uint16_t kOptionValueChanged = 2169;
constexpr uint16_t kFeatureNotImplemented = 2177;
constexpr uint16_t kFunctionSequenceError = 2179;
constexpr uint16_t kImplicitDescriptor = 2181;
constexpr uint16_t kInvalidAttributeValue = 2182;
constexpr uint16_t kInvalidAttribute = 2184;
constexpr uint16_t kFeatureNotImplementedHyc00 = 2185;
constexpr uint16_t kIndicatorRequired = 2186;
constexpr uint16_t kInvalidDescriptorIndex = 2187;
constexpr uint16_t kDataInPieces = 2191;
constexpr uint16_t kInvalidLength = 2199;
constexpr uint16_t kOperationCanceled = 2233;
constexpr uint16_t kCancelDeclined = 2234;
constexpr uint16_t kEngineLibraryOlder = 2235;
constexpr uint16_t kNumericOverflow = 2232;

// Codes of the setup dialog's texts in the same table.
constexpr uint32_t kSetupTitle = 5000;

bool IsDriverCode(uint32_t code);
// Warning codes give SQL_SUCCESS_WITH_INFO instead of SQL_ERROR.
bool IsWarningCode(uint32_t code);
// SQL_SUCCESS for 0, SQL_SUCCESS_WITH_INFO for a warning, SQL_ERROR otherwise.
SQLRETURN ResultOfCode(uint32_t code);

// The text of resource `id` (0, 2001-2235, 5000-5020); empty when it has none.
std::string LoadDriverString(uint32_t id);
// The "S2ST5 S3ST5 message" source of a driver code. A driver code without a
// text gives a general error, never an empty state.
std::string DriverMessageSource(uint32_t code);

// Writes the message source of `code` into `buffer` (kMessageSize bytes):
// the driver text for driver codes, else "HY000 HY000 [Kestrane][Morvane SQL][DAX] "
// and the engine's text (its last error when that is `code`, else the text
// the engine gives for `code`). At most 511 characters.
void BuildDiagnosticText(uint32_t code, char* buffer);
void BuildDiagnosticText(EngineSession* session, char* buffer);
// BuildDiagnosticText into the statement's engine text, then the details
// appended within 511 characters.
void BuildDiagnosticTextWithDetail(EngineSession* session, StmtRecord* stmt, const char* first,
                                   const char* second);

// Copies `text` into an argument-text field, cut to its capacity.
void SetArgumentText(char* field, std::string_view text);

// Posting: the code becomes the handle's pending code (with `argument` as the
// text for a trailing "%s" when given); engine codes get their message built
// into the handle's buffer. Returns ResultOfCode(code).
SQLRETURN PostEnvError(EnvRecord* env, uint32_t code);
SQLRETURN PostConnError(ConnRecord* conn, uint32_t code, std::string_view argument = {});
SQLRETURN PostDescError(DescRecord* desc, uint32_t code, std::string_view argument = {});
// 0 for code 0. Otherwise the statement's pending code, and the session's last
// error when the connection has a session; the message goes to the engine text.
SQLRETURN PostStatementError(StmtRecord* stmt, uint32_t code, std::string_view argument = {});

// Posts `code` on a handle of any type; SQL_INVALID_HANDLE when there is none.
SQLRETURN PostError(SQLSMALLINT handleType, SQLHANDLE handle, uint32_t code);
// Posts 2177 for an entry point that this build does not carry yet.
SQLRETURN PostNotImplemented(SQLSMALLINT handleType, SQLHANDLE handle);

}  // namespace kivodbc

#endif
