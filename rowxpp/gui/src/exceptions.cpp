// The exception classes: class objects with a per-class `module`, and the
// raise family that fills an Error and hands it to the error block.
#include "rowxpp/exception.h"

namespace rowxpp {

namespace {

constexpr int64_t kAllModules = 4294967295;

// Registers a raise method for sends by name: the receiving class object is
// the class the method reads `module` from.
template <class View>
void AddRaise(xpp::Class& cls, const char* name, xpp::Value (View::*method)(const xpp::Value&) const) {
    cls.AddMessage(name, [method](xpp::Object& self, xpp::Args& args) {
        View view(static_cast<xpp::Class&>(self));
        return (view.*method)(args.Get(1));
    });
}

}  // namespace

xpp::Class& EXCEPTION() {
    static xpp::ClassSlot slot;
    return slot.Get("Exception", nullptr, [](xpp::Class& c) {
        c.AddClassVar("module");
        // initClass
        c.SetVar("module", "BASE");
        AddRaise<Exception>(c, "raiseParameterValue", &Exception::raiseParameterValue);
        AddRaise<Exception>(c, "raiseParameterType", &Exception::raiseParameterType);
        AddRaise<Exception>(c, "raiseParameterCount", &Exception::raiseParameterCount);
        AddRaise<Exception>(c, "raiseMemberVarAccess", &Exception::raiseMemberVarAccess);
        AddRaise<Exception>(c, "raiseIDSC", &Exception::raiseIDSC);
        AddRaise<Exception>(c, "raiseObjectState", &Exception::raiseObjectState);
    });
}

xpp::Class& XBPEXCEPTION() {
    static xpp::ClassSlot slot;
    auto lock = xpp::ClassLock();
    xpp::Class& parent = EXCEPTION();
    return slot.Get("XBPException", &parent, [](xpp::Class& c) {
        // initClass: its own copy of `module`; the superclass's initClass
        // is not called
        c.SetVar("module", "XBP");
        AddRaise<XBPException>(c, "raiseDuplicateKey", &XBPException::raiseDuplicateKey);
    });
}

xpp::Class& Exception::prepareError(xpp::Args args) const {
    XPP_FRAME("EXCEPTION:PREPAREERROR");
    auto error = args.Get(1).As<xpp::Error>();
    if (!error) {
        xpp::RuntimeError(xpp::EG_NOMETHOD, 1004, "subSystem", xpp::Array{args.Get(1)});
        return *cls_;
    }
    xpp::Value description = args.Get(2), genCode = args.Get(3), subCode = args.Get(4), osCode = args.Get(5),
               xArgs = args.Get(6);
    error->subSystem = cls_->Var("module");
    error->subCode = subCode;
    error->genCode = genCode;
    error->canDefault = true;
    error->canRetry = false;
    error->canSubstitute = true;
    if (description.IsNum()) {
        error->description = xpp::LoadResource(description.Int(), kAllModules);
        if (genCode.IsNil()) error->genCode = description;
    } else {
        error->description = description;
    }
    error->operation = xpp::ProcName(2);
    error->thread = xpp::ThreadID();
    error->severity = static_cast<int>(xpp::ES_ERROR);
    if (!osCode.IsNum()) {
        if (int pending = xpp::DosError(); pending != 0) error->osCode = pending;
    } else {
        error->osCode = osCode;
    }
    if (xArgs.IsArray()) error->args = xArgs;
    else if (args.PCount() > 2) error->args = xpp::Array{xArgs};
    return *cls_;
}

xpp::Value Exception::raise(const std::shared_ptr<xpp::Error>& error) const {
    return xpp::Eval(xpp::Value(xpp::ErrorBlock()), xpp::Args{xpp::Value(error)});
}

xpp::Value Exception::Raise(const char* frame, int code, const xpp::Value& xArgs) const {
    XPP_FRAME(frame);
    auto error = xpp::Error::New();
    prepareError(xpp::Args{xpp::Value(error), code, xpp::Value(), 0, xpp::Value(), xArgs});
    return raise(error);
}

xpp::Value Exception::raiseParameterValue(const xpp::Value& xArgs) const {
    return Raise("EXCEPTION:RAISEPARAMETERVALUE", 1, xArgs);
}
xpp::Value Exception::raiseParameterType(const xpp::Value& xArgs) const {
    return Raise("EXCEPTION:RAISEPARAMETERTYPE", 2, xArgs);
}
xpp::Value Exception::raiseParameterCount(const xpp::Value& xArgs) const {
    return Raise("EXCEPTION:RAISEPARAMETERCOUNT", 3, xArgs);
}
xpp::Value Exception::raiseMemberVarAccess(const xpp::Value& xArgs) const {
    return Raise("EXCEPTION:RAISEMEMBERVARACCESS", 28, xArgs);
}
xpp::Value Exception::raiseIDSC(const xpp::Value& xArgs) const { return Raise("EXCEPTION:RAISEIDSC", 41, xArgs); }
xpp::Value Exception::raiseObjectState(const xpp::Value& xArgs) const {
    return Raise("EXCEPTION:RAISEOBJECTSTATE", 104, xArgs);
}
xpp::Value XBPException::raiseDuplicateKey(const xpp::Value& xArgs) const {
    return Raise("XBPEXCEPTION:RAISEDUPLICATEKEY", 96, xArgs);
}

}  // namespace rowxpp
