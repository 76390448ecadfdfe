// Values, arrays, code blocks and argument lists.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <atomic>
#include <mutex>
#include <thread>

#include "internal.h"
#include "xpp/error.h"
#include "xpp/object.h"
#include "xpp/value.h"

namespace xpp {

namespace detail {

// The guard of one array: held only for a short copy, move or resize of its
// element list (never while a value is released or any other code runs),
// so a spin is cheaper than a mutex; a long wait gives the processor away.
class ArrayLock {
public:
    void lock() noexcept {
        for (int spins = 0; locked_.exchange(true, std::memory_order_acquire);) {
            while (locked_.load(std::memory_order_relaxed)) {
                if (++spins > 100) std::this_thread::yield();
            }
        }
    }
    void unlock() noexcept { locked_.store(false, std::memory_order_release); }

private:
    std::atomic<bool> locked_{false};
};

struct ArrayData {
    mutable ArrayLock lock;
    std::vector<Value> items;
};

}  // namespace detail

// ------------------------------------------------------------------- Date

Date Date::FromJulian(int32_t julianDay) {
    Date d;
    d.jd_ = julianDay < 0 ? 0 : julianDay;
    return d;
}

Date Date::FromYMD(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return Date();
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    int limit = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    if (day > limit) return Date();
    int a = (14 - month) / 12;
    int y = year + 4800 - a;
    int m = month + 12 * a - 3;
    Date d;
    d.jd_ = day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
    return d;
}

namespace {
void SplitJulian(int32_t jd, int& year, int& month, int& day) {
    if (jd <= 0) {
        year = month = day = 0;
        return;
    }
    int64_t a = jd + 32044;
    int64_t b = (4 * a + 3) / 146097;
    int64_t c = a - 146097 * b / 4;
    int64_t d = (4 * c + 3) / 1461;
    int64_t e = c - 1461 * d / 4;
    int64_t m = (5 * e + 2) / 153;
    day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
    month = static_cast<int>(m + 3 - 12 * (m / 10));
    year = static_cast<int>(100 * b + d - 4800 + m / 10);
}
}  // namespace

int Date::Year() const {
    int y, m, d;
    SplitJulian(jd_, y, m, d);
    return y;
}
int Date::Month() const {
    int y, m, d;
    SplitJulian(jd_, y, m, d);
    return m;
}
int Date::Day() const {
    int y, m, d;
    SplitJulian(jd_, y, m, d);
    return d;
}

// ----------------------------------------------------------------- Number

Number Number::Double(double d, int decimals) {
    Number n;
    n.isInt_ = false;
    n.d_ = d;
    n.dec_ = decimals < 0 ? 0 : (decimals > 15 ? 15 : decimals);
    return n;
}

Number Number::FromDouble(double d) {
    int decimals = 0;
    if (std::isfinite(d)) {
        for (; decimals < 9; ++decimals) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.*f", decimals, d);
            if (std::strtod(buf, nullptr) == d) break;
        }
    }
    return Double(d, decimals);
}

int64_t Number::AsInt() const {
    if (isInt_) return i_;
    if (std::isnan(d_)) return 0;
    if (d_ >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
    if (d_ <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(d_);
}

// ------------------------------------------------------------------ Array

Array::Array() : d_(std::make_shared<detail::ArrayData>()) {}
Array::Array(size_t count) : Array() { d_->items.resize(count); }
Array::Array(std::initializer_list<Value> items) : Array() { d_->items.assign(items); }
Array::Array(std::vector<Value> items) : Array() { d_->items = std::move(items); }

size_t Array::Len() const {
    std::lock_guard<detail::ArrayLock> g(d_->lock);
    return d_->items.size();
}

Value Array::Get(size_t index) const {
    {
        std::lock_guard<detail::ArrayLock> g(d_->lock);
        if (index >= 1 && index <= d_->items.size()) return d_->items[index - 1];
    }
    return RuntimeError(EG_BOUND, 1132, "array access", Array{*this, Value(static_cast<int64_t>(index))});
}

void Array::Set(size_t index, Value value) const {
    Value old;  // released outside the lock
    {
        std::lock_guard<detail::ArrayLock> g(d_->lock);
        if (index >= 1 && index <= d_->items.size()) {
            old = std::move(d_->items[index - 1]);
            d_->items[index - 1] = std::move(value);
            return;
        }
    }
    RuntimeError(EG_BOUND, 1133, "array assign", Array{*this, Value(static_cast<int64_t>(index))});
}

void Array::Add(Value value) const {
    std::lock_guard<detail::ArrayLock> g(d_->lock);
    d_->items.push_back(std::move(value));
}

void Array::Resize(size_t count) const {
    // Dropped elements are released outside the lock: a few from here, more
    // from a list.
    Value few[4];
    std::vector<Value> many;
    std::lock_guard<detail::ArrayLock> g(d_->lock);
    auto& items = d_->items;
    if (count < items.size()) {
        size_t dropped = items.size() - count;
        if (dropped <= std::size(few)) {
            for (size_t i = 0; i < dropped; ++i) few[i] = std::move(items[count + i]);
        } else {
            many.assign(std::make_move_iterator(items.begin() + static_cast<ptrdiff_t>(count)),
                        std::make_move_iterator(items.end()));
        }
    }
    items.resize(count);
}

void Array::Remove(size_t index) const {
    Value dropped;
    std::lock_guard<detail::ArrayLock> g(d_->lock);
    if (index < 1 || index > d_->items.size()) return;
    dropped = std::move(d_->items[index - 1]);
    d_->items.erase(d_->items.begin() + static_cast<ptrdiff_t>(index - 1));
}

void Array::InsertAt(size_t index, Value value) const {
    std::lock_guard<detail::ArrayLock> g(d_->lock);
    if (index < 1) index = 1;
    if (index > d_->items.size() + 1) index = d_->items.size() + 1;
    d_->items.insert(d_->items.begin() + static_cast<ptrdiff_t>(index - 1), std::move(value));
}

size_t Array::FindSame(const void* identity, size_t first, size_t last) const {
    if (identity == nullptr) return 0;
    std::lock_guard<detail::ArrayLock> g(d_->lock);
    for (size_t i = first; i < last && i < d_->items.size(); ++i)
        if (d_->items[i].Identity() == identity) return i + 1;
    return 0;
}

std::vector<Value> Array::Items() const {
    std::lock_guard<detail::ArrayLock> g(d_->lock);
    return d_->items;
}

void Array::ItemsInto(std::vector<Value>& into) const {
    into.clear();  // the old elements go before the lock is taken
    std::lock_guard<detail::ArrayLock> g(d_->lock);
    into.assign(d_->items.begin(), d_->items.end());
}

void Array::Assign(std::vector<Value> items) const {
    {
        std::lock_guard<detail::ArrayLock> g(d_->lock);
        d_->items.swap(items);
    }
    // the old elements go with `items`, after the lock is released
}

void Array::Clear() const { Assign({}); }

// -------------------------------------------------------------------- Ref

Ref::Ref() : cell_(std::make_shared<Value>()) {}
Ref::Ref(Value initial) : cell_(std::make_shared<Value>(std::move(initial))) {}
Value Ref::Get() const { return *cell_; }
void Ref::Set(Value v) const { *cell_ = std::move(v); }

// ------------------------------------------------------------------ Block

Block::Block(Fn fn) {
    if (fn) fn_ = std::make_shared<const Fn>(std::move(fn));
}

Value Block::Eval(Args& args) const {
    if (!fn_) return RuntimeError(EG_NOMETHOD, 1004, "EVAL", Array());
    return (*fn_)(args);
}

Value Block::Eval(Args&& args) const { return Eval(args); }

Value Eval(const Value& block, Args args) {
    if (!block.IsBlock() || !block.Blk().IsSet())
        return RuntimeError(EG_ARG, 1004, "EVAL", Array{block});
    return block.Blk().Eval(args);
}

void Args::Put(size_t n, Value v) {
    if (Passed(n)) items_[n - 1].Set(std::move(v));
}

// ------------------------------------------------------------------ Value

char Value::Type() const {
    static const char kTypes[] = {'U', 'C', 'N', 'D', 'L', 'A', 'B', 'O'};
    return kTypes[v_.index()];
}

const std::string& Value::Str() const {
    static const std::string kEmpty;
    if (auto* s = std::get_if<std::string>(&v_)) return *s;
    return kEmpty;
}
Number Value::Num() const {
    if (auto* n = std::get_if<Number>(&v_)) return *n;
    return Number();
}
bool Value::Log() const {
    if (auto* b = std::get_if<bool>(&v_)) return *b;
    return false;
}
Date Value::Dat() const {
    if (auto* d = std::get_if<Date>(&v_)) return *d;
    return Date();
}
Array Value::Arr() const {
    if (auto* a = std::get_if<Array>(&v_)) return *a;
    return Array();
}
Block Value::Blk() const {
    if (auto* b = std::get_if<Block>(&v_)) return *b;
    return Block();
}
const void* Value::Identity() const {
    if (auto* a = std::get_if<Array>(&v_)) return a->Identity();
    if (auto* o = std::get_if<ObjectRef>(&v_)) return o->get();
    return nullptr;
}
ObjectRef Value::Obj() const {
    if (auto* o = std::get_if<ObjectRef>(&v_)) return *o;
    return nullptr;
}

}  // namespace xpp
