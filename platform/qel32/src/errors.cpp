#include "errors.h"

#include <cstring>

namespace qel32 {

namespace {

struct LastError {
    uint32_t code = 0;
    std::string text;
};

thread_local LastError tLastError;

struct CodeEntry {
    KIVRESULT code;
    const char* text;
};

constexpr CodeEntry kCodeTexts[] = {
    {KIV_ERR_TRUNCATED, "Value truncated"},
    {KIV_ERR_SQL_DECLINED, "The engine does not process this statement"},
    {KIV_ERR_OUT_OF_MEMORY, "Out of memory"},
    {KIV_ERR_TABLE_EXISTS, "Table already exists"},
    {KIV_ERR_INT_RANGE, "Value does not fit the field"},
    {KIV_ERR_EMPTY_ARGUMENT, "Empty argument"},
    {KIV_ERR_BUFFER_TOO_SMALL, "Buffer too small"},
    {KIV_ERR_FILE_NOT_FOUND, "File not found"},
    {KIV_ERR_IO, "File input/output error"},
    {KIV_ERR_CORRUPT_FILE, "File is not a valid table or is damaged"},
    {KIV_ERR_INVALID_HANDLE, "Invalid handle"},
    {KIV_ERR_INVALID_ARGUMENT, "Invalid argument"},
    {KIV_ERR_UNCLOSED_QUOTE, "Unclosed quoted argument"},
    {KIV_ERR_FIELD_NOT_FOUND, "Field not found"},
    {KIV_ERR_BAD_FIELD_DEF, "Invalid field definition"},
    {KIV_ERR_NOT_APPLICABLE, "Not applicable"},
    {KIV_ERR_BAD_LOCK_MODE, "Invalid lock mode"},
    {KIV_ERR_NO_SUCH_RECORD, "No such record"},
    {KIV_ERR_CONNECTION_GONE, "Connection is not open"},
    {KIV_ERR_RECORD_LOCKED, "Record is locked by another user"},
    {KIV_ERR_TABLE_LOCKED, "Table is locked by another user"},
    {KIV_ERR_NO_FILTER, "No filter is set"},
    {KIV_ERR_NO_SCOPE, "No scope is set"},
    {KIV_ERR_READ_ONLY, "Table is open read-only"},
    {KIV_ERR_NO_RELATIVE_POS, "Relative position not available"},
    {KIV_ERR_SHARING, "Table is in use by another user"},
    {KIV_ERR_CONVERSION, "Value cannot be converted"},
    {KIV_ERR_PERMISSION, "Permission denied"},
    {KIV_ERR_NO_MORE_TABLES, "No more tables"},
    {KIV_ERR_STATIC_VIEW, "The cursor is a static view and cannot be locked or changed"},
    {KIV_ERR_NO_CURRENT_RECORD, "No current record"},
    {KIV_ERR_VALUE_CUT, "Value is longer than the field and was cut"},
    {KIV_ERR_EXPRESSION, "Invalid expression"},
    {KIV_ERR_OFFSET_BEYOND, "Offset is beyond the end of the value"},
    {KIV_ERR_NOTHING_TO_CANCEL, "No pending changes to cancel"},
    {KIV_ERR_NOTHING_LOCKED, "Nothing is locked"},
    {KIV_ERR_PASSWORD_MISSING, "Password is missing"},
    {KIV_ERR_PASSWORD_REQUIRED, "Password is required to open encrypted table!"},
    {KIV_ERR_STATEMENT_CLOSED, "Statement is closed"},
    {KIV_ERR_NO_ROW_COUNT, "No affected-row count is available"},
    {KIV_ERR_DD_UNKNOWN_NAME, "Name is not known to the data dictionary"},
    {KIV_ERR_DD_NO_MORE_OBJECTS, "No more dictionary objects"},
    {KIV_ERR_DD_NO_PROPERTY, "Dictionary property has no value"},
    {KIV_ERR_NOT_AVAILABLE, "function not available in this engine build"},
    {KIV_ERR_LOGIN, "Login failed"},
    {KIV_ERR_NO_PRIVILEGE, "Insufficient privileges"},
    {KIV_ERR_SQL, "SQL error"},
    {KIV_ERR_SQL_STATEMENT, "SQL statement error"},
};

}  // namespace

EngineError::EngineError(KIVRESULT code) : std::runtime_error(CodeText(code)), code_(code) {}

void Throw(KIVRESULT code, std::string text) { throw EngineError(code, std::move(text)); }
void Throw(KIVRESULT code) { throw EngineError(code); }

const char* CodeText(KIVRESULT code) {
    for (const auto& e : kCodeTexts)
        if (e.code == code) return e.text;
    return "";
}

KIVRESULT SetLastError(KIVRESULT code, std::string_view text) {
    tLastError.code = code;
    tLastError.text.assign(text);
    return code;
}

void ClearLastError() {
    tLastError.code = 0;
    tLastError.text.clear();
}

uint32_t LastErrorCode() { return tLastError.code; }
const std::string& LastErrorText() { return tLastError.text; }

KIVRESULT CopyOut(std::string_view text, char* buf, uint32_t* len) {
    if (!len) return KIV_ERR_INVALID_ARGUMENT;
    const uint32_t capacity = buf ? *len : 0;
    const uint32_t n = static_cast<uint32_t>(text.size());
    const uint32_t copied = n < capacity ? n : capacity;
    if (copied) std::memcpy(buf, text.data(), copied);
    if (buf && copied < capacity) buf[copied] = '\0';
    *len = n;
    return n > capacity ? KIV_ERR_BUFFER_TOO_SMALL : KIV_OK;
}

KIVRESULT CopyOutBytes(std::string_view bytes, void* buf, uint32_t* len) {
    if (!len) return KIV_ERR_INVALID_ARGUMENT;
    const uint32_t capacity = buf ? *len : 0;
    const uint32_t n = static_cast<uint32_t>(bytes.size());
    const uint32_t copied = n < capacity ? n : capacity;
    if (copied) std::memcpy(buf, bytes.data(), copied);
    *len = n;
    return n > capacity ? KIV_ERR_BUFFER_TOO_SMALL : KIV_OK;
}

}  // namespace qel32
