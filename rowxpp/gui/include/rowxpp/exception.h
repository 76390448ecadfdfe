// Exception and XBPException: classes of class methods only, through which
// the library (and an application) raises its argument errors. Each raise
// method builds an Error, fills it in one fixed way and hands it to the
// calling thread's error block; the block's result comes back unchanged.
//
// The two classes differ in the sub-system their errors carry ("BASE" or
// "XBP", the per-class class variable `module`) and in XBPException's
// raiseDuplicateKey. In C++ the class methods are sent through a view of
// the class object:
//     XBPException().raiseParameterType(xpp::Array{oXbp});
// Sends by name reach the same code: xpp::Send(Value(&XBPEXCEPTION()), ...).
#pragma once

#include <memory>

#include "xpp/xpp.h"

namespace rowxpp {

// The class functions: each makes its class once, under the class lock
// (XBPEXCEPTION makes EXCEPTION first), runs its initClass once and answers
// the same class object from then on.
xpp::Class& EXCEPTION();
xpp::Class& XBPEXCEPTION();

// The class methods of Exception, sent to a class object (Exception's or a
// subclass's): `module` is read from that class.
class Exception {
public:
    Exception() : Exception(EXCEPTION()) {}
    explicit Exception(xpp::Class& cls) : cls_(&cls) {}

    xpp::Class& ClassObject() const { return *cls_; }

    // The raise family: Error():new(), prepareError(oError, code, NIL, 0,
    // NIL, xArgs), then the error block's result.
    xpp::Value raiseParameterValue(const xpp::Value& xArgs = {}) const;   // 1
    xpp::Value raiseParameterType(const xpp::Value& xArgs = {}) const;    // 2
    xpp::Value raiseParameterCount(const xpp::Value& xArgs = {}) const;   // 3
    xpp::Value raiseMemberVarAccess(const xpp::Value& xArgs = {}) const;  // 28
    xpp::Value raiseIDSC(const xpp::Value& xArgs = {}) const;             // 41
    xpp::Value raiseObjectState(const xpp::Value& xArgs = {}) const;      // 104

protected:
    // prepareError(oError, xDescription, nGenCode, nSubCode, nOsCode,
    // xArgs): fills the error; `args` holds the arguments as passed (their
    // count matters for `args`). Answers the class object.
    xpp::Class& prepareError(xpp::Args args) const;
    // Eval(ErrorBlock(), oError).
    xpp::Value raise(const std::shared_ptr<xpp::Error>& error) const;
    // One member of the raise family; `frame` is the method's procedure name.
    xpp::Value Raise(const char* frame, int code, const xpp::Value& xArgs) const;

private:
    xpp::Class* cls_;
};

class XBPException : public Exception {
public:
    XBPException() : Exception(XBPEXCEPTION()) {}
    explicit XBPException(xpp::Class& cls) : Exception(cls) {}
    xpp::Value raiseDuplicateKey(const xpp::Value& xArgs = {}) const;  // 96
};

}  // namespace rowxpp
