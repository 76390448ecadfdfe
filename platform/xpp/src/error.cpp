// Error objects, the error block, BREAK and the default error handling.
#include <cstdio>
#include <unistd.h>

#include "internal.h"
#include "xpp/error.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

namespace xpp {

Class& Error::ClassObject() {
    static ClassSlot slot;
    return slot.Get("Error", nullptr);
}

std::shared_ptr<Error> Error::New() {
    auto e = std::make_shared<Error>();
    e->thread = ThreadID();
    return e;
}

std::string GenCodeText(int genCode) {
    switch (genCode) {
        case EG_ARG: return "Argument error";
        case EG_BOUND: return "Bound error";
        case EG_ZERODIV: return "Zero divide";
        case EG_NOMETHOD: return "No exported method";
        case EG_NOVAR: return "No exported variable";
        default: return "";
    }
}

namespace {

std::string Report(const Error& e) {
    std::string out = "Error " + Var2Char(e.subSystem) + "/" + Var2Char(e.subCode) + "  " +
                      Var2Char(e.description) + "\n";
    out += "Operation: " + Var2Char(e.operation) + "\n";
    out += "genCode: " + Var2Char(e.genCode) + "  osCode: " + Var2Char(e.osCode) +
           "  severity: " + Var2Char(e.severity) + "  thread: " + Var2Char(e.thread) + "\n";
    if (e.args.IsArray()) out += "Args: " + Var2Char(e.args) + "\n";
    out += detail::CallStackReport();
    return out;
}

Value DefaultHandler(Args& args) {
    Value v = args.Get(1);
    auto e = v.As<Error>();
    if (!e) {
        // Not an error object: a BREAK with the value, as the language's
        // default handler does for anything it does not know.
        Break(v);
    }
    detail::EndByError(Report(*e));
}

}  // namespace

Block DefaultErrorBlock() {
    static const Block* block = new Block(DefaultHandler);
    return *block;
}

Block ErrorBlock() {
    auto& st = detail::State();
    return st.errorBlock.IsSet() ? st.errorBlock : DefaultErrorBlock();
}

Block ErrorBlock(Block newBlock) {
    Block old = ErrorBlock();
    detail::State().errorBlock = std::move(newBlock);
    return old;
}

Value RaiseError(const std::shared_ptr<Error>& error) {
    Block b = ErrorBlock();
    return b(error);
}

Value RuntimeError(int genCode, int subCode, std::string operation, Array args) {
    auto e = Error::New();
    e->subSystem = "BASE";
    e->genCode = genCode;
    e->subCode = subCode;
    e->description = GenCodeText(genCode);
    e->operation = std::move(operation);
    e->args = std::move(args);
    e->canSubstitute = true;
    e->severity = static_cast<int>(ES_ERROR);
    return RaiseError(e);
}

detail::SequenceDepth::SequenceDepth() { ++detail::State().sequenceDepth; }
detail::SequenceDepth::~SequenceDepth() { --detail::State().sequenceDepth; }

void Break(Value value) {
    if (detail::State().sequenceDepth > 0) throw BreakException{std::move(value)};
    detail::EndByError("Break without a recovery sequence: " + Var2Char(value) + "\n" +
                       detail::CallStackReport());
}

}  // namespace xpp
