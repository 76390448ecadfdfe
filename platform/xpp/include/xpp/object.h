// The object model: an object base, class objects with class variables and
// a once-only class initialisation, SYNC guards and message sends by name.
//
// An Xbase++ class becomes a C++ class deriving from xpp::Object. Its class
// function keeps a ClassSlot and answers the class object:
//
//     xpp::Class& SQLConnection::ClassObject() {
//         static xpp::ClassSlot slot;
//         return slot.Get("SQLConnection", nullptr, [](xpp::Class& c) {
//             c.AddClassVar("DisplayErrors", true);   // per class
//             c.AddSharedVar("Connections", xpp::Array());  // one for the family
//         });
//     }
//     xpp::Class& SQLConnection::classObject() const { return ClassObject(); }
//
// A subclass passes its parent's class object (`&SQLConnection::ClassObject()`)
// so that isDerivedFrom() and class variables follow the whole ancestry.
// Superclass-qualified calls are plain C++ base calls.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "xpp/value.h"

namespace xpp {

class Class;

// The base of every runtime object. Objects are held through shared
// references (ObjectRef); cycles are the owner's to break.
class Object : public std::enable_shared_from_this<Object> {
public:
    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    virtual ~Object() = default;

    // The class object of the object's class.
    virtual Class& classObject() const = 0;
    std::string className() const;
    // True when the object's class, or any of its ancestors, is named `name`
    // (letter case does not matter).
    bool isDerivedFrom(std::string_view name) const;
    bool isDerivedFrom(const char* name) const { return isDerivedFrom(std::string_view(name)); }
    bool isDerivedFrom(const std::string& name) const { return isDerivedFrom(std::string_view(name)); }
    // True when `cls` is the object's class or one of its ancestors.
    bool isDerivedFrom(const Class& cls) const;
    bool isDerivedFrom(const Value& nameOrClass) const;

    // The recursive lock taken by a SYNC method of this object.
    std::recursive_mutex& SyncLock() const { return sync_; }

private:
    friend class Value;
    mutable std::recursive_mutex sync_;
    // Values holding the object count here and share one reference to
    // it, kept while any of them is left; the lock guards the first
    // holder's arrival and the last one's leaving.
    std::atomic<uint32_t> valueRefs_{0};
    std::mutex valueLock_;
    ObjectRef self_;
};

// A method that a class answers to a send by name.
using Method = std::function<Value(Object& self, Args& args)>;

// A class object. It is itself an object (an "O" value), whose class is
// itself; class SYNC methods lock it.
class Class : public Object {
public:
    Class(std::string name, Class* parent);
    Class& classObject() const override { return const_cast<Class&>(*this); }

    const std::string& Name() const { return name_; }
    Class* Parent() const { return parent_; }
    // True when this class is `other` or derives from it.
    bool DerivesFrom(const Class& other) const;
    bool DerivesFrom(std::string_view name) const;

    // A shared class variable: one value for this class and all its subclasses.
    void AddSharedVar(std::string_view name, Value initial = {});
    // A per-class class variable: each subclass holds its own copy, which
    // starts with the value its parent held when the subclass was made.
    void AddClassVar(std::string_view name, Value initial = {});
    bool HasVar(std::string_view name) const;
    // Reads and assigns a class variable (names without regard to case). An
    // unknown name raises the runtime's "no exported variable" error; the
    // reader then answers the error block's result.
    Value Var(std::string_view name) const;
    void SetVar(std::string_view name, Value value);

    // A class variable found by name once and read often: Var(handle) reads
    // it without a search (searching again after variables were added to the
    // class); VarLog(handle) reads a logical one without taking the class's
    // lock while no class variable of any class was assigned or added since
    // its last read. A handle serves the first class it is used with; any
    // other class searches for the name each time.
    class VarHandle {
    public:
        explicit VarHandle(std::string_view name);
        VarHandle(const VarHandle&) = delete;
        VarHandle& operator=(const VarHandle&) = delete;

    private:
        friend class Class;
        std::string name_;  // as given, for the error
        std::string key_;   // upper case
        std::atomic<const Class*> owner_{nullptr};
        // guarded by the owner's lock
        uint64_t generation_ = 0;
        std::shared_ptr<Value> cell_;
        // the last logical reading: (version << 1) | value
        std::atomic<uint64_t> logical_{0};
    };
    Value Var(VarHandle& handle) const;
    bool VarLog(VarHandle& handle) const;

    // Registers a message for sends by name (without regard to case).
    void AddMessage(std::string_view name, Method method);
    // The method answering `name` here or in an ancestor; null when none.
    const Method* FindMessage(std::string_view name) const;

private:
    struct Slot {
        bool shared;
        std::shared_ptr<Value> cell;
    };
    std::string name_;
    Class* parent_;
    mutable std::mutex varsLock_;
    // keyed by upper-case name; looked up by views of such names
    std::map<std::string, Slot, std::less<>> vars_;
    // Counts the variables added (a slot made anew), for the handles.
    uint64_t varsGeneration_ = 1;
    // The cell of a handle's variable, under varsLock_; null when unknown.
    const Value* CellOf(VarHandle& handle) const;
    std::map<std::string, Method, std::less<>> messages_;
};

// The slot behind a class function. Get() makes the class object on the
// first call, under the runtime's re-entrant class lock, and runs `init`
// (the class initialisation) once, right after. Later calls answer the
// same object. A class function called again from inside its own
// initialisation answers the object being initialised.
class ClassSlot {
public:
    // Once made, the class is answered here, without making `init` into a
    // function on every call.
    Class& Get(std::string_view name, Class* parent) {
        if (Class* c = ready_.load(std::memory_order_acquire)) return *c;
        return Make(name, parent, {});
    }
    template <class Init>
    Class& Get(std::string_view name, Class* parent, Init&& init) {
        if (Class* c = ready_.load(std::memory_order_acquire)) return *c;
        return Make(name, parent, std::function<void(Class&)>(std::forward<Init>(init)));
    }

private:
    Class& Make(std::string_view name, Class* parent, const std::function<void(Class&)>& init);
    std::atomic<Class*> ready_{nullptr};
    Class* made_ = nullptr;
};

// Holds the runtime's re-entrant class lock (ClassSlot takes it itself).
std::unique_lock<std::recursive_mutex> ClassLock();

// The guard of a SYNC method: takes the recursive lock of one object (or of
// a class object) until the end of the scope, and gives it back while
// unwinding from a Break or any other exception.
class Sync {
public:
    explicit Sync(const Object& object) : lock_(object.SyncLock()) {}

private:
    std::unique_lock<std::recursive_mutex> lock_;
};

// Sends `message` by name to an object value. A target that is not an object,
// or whose class does not answer the message, raises the runtime's
// "no exported method" error and answers the error block's result.
Value Send(const Value& target, std::string_view message, Args args = {});

}  // namespace xpp
