#include <algorithm>

#include "rowxpp/odbc_calls.h"
#include "rowxpp/sql_error.h"
#include "xpp/error.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

namespace rowxpp {
namespace {

const char* HandleWord(int64_t type) {
    switch (type) {
        case SQL_HANDLE_ENV: return "ENV";
        case SQL_HANDLE_DBC: return "DBC";
        case SQL_HANDLE_STMT: return "STMT";
        case SQL_HANDLE_DESC: return "DESC";
        default: return "";
    }
}

}  // namespace

xpp::Class& SQLError::ClassObject() {
    static xpp::ClassSlot slot;
    return slot.Get("SQLError", nullptr);
}

xpp::Class& SQLERROR() { return SQLError::ClassObject(); }

std::shared_ptr<SQLError> SQLError::New(const xpp::Value& owner, const xpp::Value& returnCode,
                                        const xpp::Value& sqlState, const xpp::Value& nativeError,
                                        const xpp::Value& message) {
    ClassObject();
    auto e = std::make_shared<SQLError>();
    e->Owner = owner;
    e->ReturnCode = returnCode;
    e->SQLState = sqlState;
    e->NativeError = nativeError;
    e->Message = message;
    e->Thread = xpp::ThreadID();
    return e;
}

std::string ASSTRING(const xpp::Value& value) {
    switch (value.Type()) {
        case 'N': return xpp::LTrim(xpp::Str(value));
        case 'C': return value.Str();
        case 'D': return xpp::DToC(value.Dat());
        case 'L': return value.Log() ? ".T." : ".F.";
        case 'O': return "Instance of: " + value.Obj()->className();
        case 'A': return "{array}";
        case 'U': return "NIL";
        default: return "";
    }
}

std::string DISPLAYERROR_(const xpp::Value& returnCode, const xpp::Value& handleType, const xpp::Value& handle,
                          const xpp::Value& display, const xpp::Value& block, const xpp::Value& owner) {
    XPP_FRAME("__DISPLAYERROR");
    bool hasBlock = block.IsBlock();
    bool shown = display.IsNil() ? true : display.Log();
    xpp::Array errors;
    std::string report;
    if (handle.Int() == 0) {
        report = std::string("NULL ") + HandleWord(handleType.Int()) + " handle\r\n";
        shown = true;  // a missing handle is always displayed
    } else {
        for (SQLSMALLINT record = 1;; ++record) {
            std::string state(6, ' ');
            std::string message(513, ' ');
            SQLINTEGER native = 0;
            SQLSMALLINT length = 0;
            int64_t rc = OdbcCall<44>(static_cast<SQLSMALLINT>(handleType.Int()), ToHandle(handle.Int()), record,
                                      reinterpret_cast<SQLCHAR*>(state.data()), &native,
                                      reinterpret_cast<SQLCHAR*>(message.data()), static_cast<SQLSMALLINT>(511),
                                      &length);
            if (rc == SQL_NO_DATA) break;
            if (rc == 65535 || rc == 65534) xpp::Break();
            state.erase(std::remove(state.begin(), state.end(), '\0'), state.end());
            state = xpp::Trim(state.substr(0, 5));
            // A message longer than the buffer arrives cut at what the driver wrote.
            std::string text = message.substr(0, std::clamp<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)), 0, 510));
            int64_t nativeError = LoWord_(native);
            if (hasBlock) errors.Add(xpp::Value(SQLError::New(owner, returnCode, state, nativeError, text)));
            report += "SQLState: " + state + ",  ErrorCode:" + ASSTRING(nativeError) + "\r\n" + text + "\r\n";
        }
    }
    if (shown) {
        report += "\r\nThread ID " + std::to_string(xpp::ThreadID());
        for (int n = 2; n <= 12; ++n) {
            std::string name = xpp::ProcName(n);
            if (name.empty()) break;
            report += "\r\nCalled from " + name + "(" + std::to_string(xpp::ProcLine(n)) + ")";
        }
        if (hasBlock) {
            xpp::Eval(block, {owner, report, returnCode, errors});
        } else if (xpp::AppType() == xpp::APPTYPE_PM) {
            bool info = returnCode.Int() == SQL_SUCCESS_WITH_INFO;
            xpp::ConfirmBox(xpp::Value(), report, info ? "SQL_SUCCESS_WITH_INFO results" : "SQL_ERROR results", 0,
                            info ? 64 : 16);
        } else if (!xpp::SetAppWindow().IsNil()) {
            xpp::Alert(xpp::StrTran(report, "\r\n", ";"));
        }
    }
    return report;
}

xpp::Value GETDIAGFIELD_(const xpp::Value& handleType, const xpp::Value& handle, const xpp::Value& record,
                         const xpp::Value& identifier, const xpp::Value& asText) {
    SQLSMALLINT number = static_cast<SQLSMALLINT>(record.IsNil() ? 1 : record.Int());
    SQLSMALLINT length = 0;
    int64_t rc;
    xpp::Value value;
    if (asText.IsLogical() && asText.Log()) {
        std::string buffer(6, ' ');
        rc = OdbcCall<43>(static_cast<SQLSMALLINT>(handleType.Int()), ToHandle(handle.Int()), number,
                          static_cast<SQLSMALLINT>(identifier.Int()), static_cast<SQLPOINTER>(buffer.data()),
                          static_cast<SQLSMALLINT>(6), &length);
        value = buffer.substr(0, 5);
    } else {
        // row counts are 8 bytes wide here
        int64_t cell = 0;
        rc = OdbcCall<43>(static_cast<SQLSMALLINT>(handleType.Int()), ToHandle(handle.Int()), number,
                          static_cast<SQLSMALLINT>(identifier.Int()), static_cast<SQLPOINTER>(&cell),
                          static_cast<SQLSMALLINT>(8), &length);
        value = cell;
    }
    return rc == SQL_SUCCESS ? value : xpp::Value();
}

}  // namespace rowxpp
