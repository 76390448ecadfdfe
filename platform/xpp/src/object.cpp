// Objects, class objects, class variables and message sends.
#include <mutex>

#include "internal.h"
#include "xpp/error.h"
#include "xpp/object.h"

namespace xpp {

namespace {
// Counts every assignment and addition of a class variable in any class
// (a shared variable's cell serves several classes); the logical readings
// of variable handles hold the count they were made at. Changed under the
// lock of the class concerned.
std::atomic<uint64_t> varsVersion{1};

std::recursive_mutex& TheClassLock() {
    static auto* lock = new std::recursive_mutex;  // lives to the very end of the process
    return *lock;
}

// Class objects live for the whole process, as in the language.
std::vector<std::shared_ptr<Class>>& Classes() {
    static auto* classes = new std::vector<std::shared_ptr<Class>>;
    return *classes;
}
}  // namespace

std::string detail::UpperAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

namespace {

char UpperChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    if (a == b) return true;
    for (size_t i = 0; i < a.size(); ++i)
        if (UpperChar(a[i]) != UpperChar(b[i])) return false;
    return true;
}

// The upper-case form of a name as a lookup key: in place for the usual
// short names, on the heap for long ones.
class UpperKey {
public:
    explicit UpperKey(std::string_view name) {
        if (name.size() <= sizeof small_) {
            for (size_t i = 0; i < name.size(); ++i) small_[i] = UpperChar(name[i]);
            view_ = std::string_view(small_, name.size());
        } else {
            large_ = detail::UpperAscii(name);
            view_ = large_;
        }
    }
    UpperKey(const UpperKey&) = delete;
    UpperKey& operator=(const UpperKey&) = delete;
    std::string_view View() const { return view_; }

private:
    char small_[64];
    std::string large_;
    std::string_view view_;
};

}  // namespace

std::unique_lock<std::recursive_mutex> ClassLock() {
    return std::unique_lock<std::recursive_mutex>(TheClassLock());
}

// ------------------------------------------------------------------ Object

std::string Object::className() const { return classObject().Name(); }

bool Object::isDerivedFrom(std::string_view name) const { return classObject().DerivesFrom(name); }

bool Object::isDerivedFrom(const Class& cls) const { return classObject().DerivesFrom(cls); }

bool Object::isDerivedFrom(const Value& nameOrClass) const {
    if (nameOrClass.IsChar()) return isDerivedFrom(std::string_view(nameOrClass.Str()));
    if (auto cls = nameOrClass.As<Class>()) return isDerivedFrom(*cls);
    return false;
}

// ------------------------------------------------------------------- Class

Class::Class(std::string name, Class* parent) : name_(std::move(name)), parent_(parent) {
    if (!parent_) return;
    std::lock_guard<std::mutex> g(parent_->varsLock_);
    for (const auto& [key, slot] : parent_->vars_) {
        if (slot.shared) vars_[key] = slot;
        else vars_[key] = Slot{false, std::make_shared<Value>(*slot.cell)};
    }
}

bool Class::DerivesFrom(const Class& other) const {
    for (const Class* c = this; c; c = c->parent_)
        if (c == &other) return true;
    return false;
}

bool Class::DerivesFrom(std::string_view name) const {
    for (const Class* c = this; c; c = c->parent_)
        if (SameIgnoringCase(c->name_, name)) return true;
    return false;
}

void Class::AddSharedVar(std::string_view name, Value initial) {
    std::lock_guard<std::mutex> g(varsLock_);
    ++varsGeneration_;
    varsVersion.fetch_add(1, std::memory_order_release);
    vars_[detail::UpperAscii(name)] = Slot{true, std::make_shared<Value>(std::move(initial))};
}

void Class::AddClassVar(std::string_view name, Value initial) {
    std::lock_guard<std::mutex> g(varsLock_);
    ++varsGeneration_;
    varsVersion.fetch_add(1, std::memory_order_release);
    vars_[detail::UpperAscii(name)] = Slot{false, std::make_shared<Value>(std::move(initial))};
}

bool Class::HasVar(std::string_view name) const {
    std::lock_guard<std::mutex> g(varsLock_);
    return vars_.find(UpperKey(name).View()) != vars_.end();
}

Value Class::Var(std::string_view name) const {
    {
        std::lock_guard<std::mutex> g(varsLock_);
        auto it = vars_.find(UpperKey(name).View());
        if (it != vars_.end()) return *it->second.cell;
    }
    return RuntimeError(EG_NOVAR, 1005, std::string(name), Array());
}

Class::VarHandle::VarHandle(std::string_view name) : name_(name), key_(detail::UpperAscii(name)) {}

const Value* Class::CellOf(VarHandle& handle) const {
    const Class* owner = nullptr;
    if (!handle.owner_.compare_exchange_strong(owner, this) && owner != this) {
        // another class's handle
        auto it = vars_.find(handle.key_);
        return it != vars_.end() ? it->second.cell.get() : nullptr;
    }
    if (handle.generation_ != varsGeneration_) {
        auto it = vars_.find(handle.key_);
        handle.cell_ = it != vars_.end() ? it->second.cell : nullptr;
        handle.generation_ = varsGeneration_;
    }
    return handle.cell_.get();
}

Value Class::Var(VarHandle& handle) const {
    {
        std::lock_guard<std::mutex> g(varsLock_);
        if (const Value* cell = CellOf(handle)) return *cell;
    }
    return RuntimeError(EG_NOVAR, 1005, handle.name_, Array());
}

bool Class::VarLog(VarHandle& handle) const {
    if (handle.owner_.load(std::memory_order_acquire) == this) {
        uint64_t last = handle.logical_.load(std::memory_order_acquire);
        if ((last >> 1) == varsVersion.load(std::memory_order_acquire)) return (last & 1) != 0;
    }
    {
        std::lock_guard<std::mutex> g(varsLock_);
        // the count first: a change after it makes the reading old
        uint64_t version = varsVersion.load(std::memory_order_acquire);
        if (const Value* cell = CellOf(handle)) {
            bool value = cell->Log();
            if (handle.owner_.load(std::memory_order_relaxed) == this)
                handle.logical_.store((version << 1) | (value ? 1 : 0), std::memory_order_release);
            return value;
        }
    }
    return RuntimeError(EG_NOVAR, 1005, handle.name_, Array()).Log();
}

void Class::SetVar(std::string_view name, Value value) {
    {
        std::lock_guard<std::mutex> g(varsLock_);
        auto it = vars_.find(UpperKey(name).View());
        if (it != vars_.end()) {
            std::swap(*it->second.cell, value);
            varsVersion.fetch_add(1, std::memory_order_release);
            return;  // the old value goes after the lock is released
        }
    }
    RuntimeError(EG_NOVAR, 1006, std::string(name), Array{value});
}

void Class::AddMessage(std::string_view name, Method method) {
    std::lock_guard<std::mutex> g(varsLock_);
    messages_[detail::UpperAscii(name)] = std::move(method);
}

const Method* Class::FindMessage(std::string_view name) const {
    UpperKey key(name);
    for (const Class* c = this; c; c = c->parent_) {
        std::lock_guard<std::mutex> g(c->varsLock_);
        auto it = c->messages_.find(key.View());
        if (it != c->messages_.end()) return &it->second;
    }
    return nullptr;
}

// --------------------------------------------------------------- ClassSlot

Class& ClassSlot::Make(std::string_view name, Class* parent, const std::function<void(Class&)>& init) {
    auto lock = ClassLock();
    if (Class* c = ready_.load(std::memory_order_acquire)) return *c;
    if (made_) return *made_;  // asked again from inside its own initialisation
    auto cls = std::make_shared<Class>(std::string(name), parent);
    Classes().push_back(cls);
    made_ = cls.get();
    if (init) init(*made_);
    ready_.store(made_, std::memory_order_release);
    return *made_;
}

// -------------------------------------------------------------------- Send

Value Send(const Value& target, std::string_view message, Args args) {
    ObjectRef obj = target.Obj();
    if (obj) {
        if (const Method* m = obj->classObject().FindMessage(message)) return (*m)(*obj, args);
    }
    return RuntimeError(EG_NOMETHOD, 1004, std::string(message), Array{target});
}

}  // namespace xpp
