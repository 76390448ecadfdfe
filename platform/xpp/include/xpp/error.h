// Error objects, the per-thread error block, and non-local exits (BREAK and
// recovery sequences).
#pragma once

#include <memory>
#include <string>

#include "xpp/object.h"
#include "xpp/value.h"

namespace xpp {

// Generic codes (genCode) of the runtime's own errors.
enum GenCode : int {
    EG_ARG = 1,        // argument error (operands of mismatched types, wrong parameter type)
    EG_BOUND = 2,      // array index out of range
    EG_ZERODIV = 5,    // division by zero
    EG_NOMETHOD = 13,  // no exported method (a message the object does not answer, or sent to NIL)
    EG_NOVAR = 14,     // no exported variable
};

// Severity values.
enum Severity : int { ES_WHOCARES = 0, ES_WARNING = 1, ES_ERROR = 2, ES_CATASTROPHIC = 3 };

// The Error object. Every member is a Value, as in the language, so that a
// routine may assign NIL; Error::New() sets the defaults noted here.
class Error : public Object {
public:
    static Class& ClassObject();
    Class& classObject() const override { return ClassObject(); }
    // Error():new(). `thread` is the calling thread's id.
    static std::shared_ptr<Error> New();

    Value args;                  // NIL
    Value canDefault = false;
    Value canRetry = false;
    Value canSubstitute = false;
    Value cargo;                 // NIL
    Value description = "";
    Value filename = "";
    Value genCode = 0;
    Value operation = "";
    Value osCode = 0;
    Value severity = static_cast<int>(ES_ERROR);
    Value subCode = 0;
    Value subSystem = "";
    Value thread = 0;
    Value tries = 0;
};

// ERRORBLOCK(): the calling thread's error block. A thread starts with the
// default error block.
Block ErrorBlock();
// ERRORBLOCK(new): sets the calling thread's error block, answers the old one.
Block ErrorBlock(Block newBlock);
// The default error block: writes the error and the "Called from" lines to
// standard error, marks the end as an end by error, runs the EXIT
// procedures and ends the process with exit code 1.
Block DefaultErrorBlock();

// Evaluates the calling thread's error block with `error` and answers its
// result; a block that returns lets the raiser go on with that result.
Value RaiseError(const std::shared_ptr<Error>& error);

// Raises one of the runtime's own errors (subsystem "BASE") through the
// error block: the description is the runtime's text for `genCode`,
// `operation` names what failed ("array access", "<", ...), `args` the
// operands. canSubstitute is .T.: the block's result is answered.
Value RuntimeError(int genCode, int subCode, std::string operation, Array args = Array());

// The runtime's description text of a generic code ("" when it has none).
std::string GenCodeText(int genCode);

// What BREAK throws. Only a recovery sequence (Sequence) catches it; it does
// not derive from std::exception, so handlers of ordinary exceptions let it
// pass.
struct BreakException {
    Value value;
};

// BREAK(value): leaves to the nearest recovery sequence of the calling
// thread. With no recovery sequence active the program ends as by an
// unhandled runtime error (report on standard error, EXIT procedures,
// exit code 1).
[[noreturn]] void Break(Value value = {});

namespace detail {
struct SequenceDepth {
    SequenceDepth();
    ~SequenceDepth();
};
}  // namespace detail

// BEGIN SEQUENCE body RECOVER USING v ... END SEQUENCE: runs `body`; a Break
// inside it (at any depth) unwinds to here and `recover` runs with the
// value given to Break. Locks held through guards are released while
// unwinding. Other exceptions pass through.
template <class Body, class Recover>
void Sequence(Body&& body, Recover&& recover) {
    Value broken;
    {
        detail::SequenceDepth depth;
        try {
            body();
            return;
        } catch (BreakException& b) {
            broken = std::move(b.value);
        }
    }
    recover(broken);
}

}  // namespace xpp
