// Diagnostics: SQLError objects (one per diagnostic record), the report of
// a failed ODBC call and its display.
#pragma once

#include <memory>
#include <string>

#include "xpp/object.h"
#include "xpp/value.h"

namespace rowxpp {

class SQLError : public xpp::Object {
public:
    static xpp::Class& ClassObject();
    xpp::Class& classObject() const override { return ClassObject(); }
    // Init(owner, return code, SQLSTATE, native error, message).
    static std::shared_ptr<SQLError> New(const xpp::Value& owner, const xpp::Value& returnCode,
                                         const xpp::Value& sqlState, const xpp::Value& nativeError,
                                         const xpp::Value& message);

    xpp::Value Owner;
    xpp::Value ReturnCode;
    xpp::Value SQLState;
    xpp::Value NativeError;
    xpp::Value Message;
    xpp::Value Thread;
    xpp::Value Cargo;
};

// SQLERROR(): the class object.
xpp::Class& SQLERROR();

// Reads every diagnostic record of `handle` into a report; with
// `display` (default .T.) hands it with SQLError objects to `block`, or
// shows it (ConfirmBox in a GUI program, Alert with an application window).
// A handle of 0 reports "NULL <type> handle" without an ODBC call.
std::string DISPLAYERROR_(const xpp::Value& returnCode, const xpp::Value& handleType, const xpp::Value& handle,
                          const xpp::Value& display = xpp::Value(), const xpp::Value& block = xpp::Value(),
                          const xpp::Value& owner = xpp::Value());

// One diagnostic field: a number (an 8-byte cell) or, with `asText`, up to 5
// characters; NIL unless the call answers 0.
xpp::Value GETDIAGFIELD_(const xpp::Value& handleType, const xpp::Value& handle, const xpp::Value& record,
                         const xpp::Value& identifier, const xpp::Value& asText = xpp::Value());

// The display text of any value.
std::string ASSTRING(const xpp::Value& value);

}  // namespace rowxpp
