// Values of the Xbase++ runtime: NIL, character, numeric, date, logical,
// array, code block and object reference, with argument lists that keep
// their exact count and by-reference cells.
//
// Arrays, code blocks and objects have reference semantics: copying a Value
// copies the reference, never the contents. Arrays are 1-based, as in the
// language; every function taking an index says so.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace xpp {

class Value;
class Object;
class ArrayBatch;
class Args;
using ObjectRef = std::shared_ptr<Object>;

// NIL, the value of whatever was not given.
struct Nil {
    friend bool operator==(Nil, Nil) { return true; }
};

// A calendar date held as a Julian day number; the empty date is distinct
// from every real date and sorts before all of them.
class Date {
public:
    Date() = default;
    static Date FromJulian(int32_t julianDay);
    // The empty date when the parts do not make a real date (years 1..9999).
    static Date FromYMD(int year, int month, int day);
    int32_t Julian() const { return jd_; }
    bool IsEmpty() const { return jd_ == 0; }
    int Year() const;   // 0 for the empty date
    int Month() const;  // 0 for the empty date
    int Day() const;    // 0 for the empty date
    friend auto operator<=>(const Date&, const Date&) = default;

private:
    int32_t jd_ = 0;
};

// A numeric value: an exact 64-bit integer, an exact decimal (a count of
// its last decimal place: VAL("12.50") is 1250 hundredths, with 2
// decimals), or a double that keeps the number of decimals it is displayed
// with.
class Number {
public:
    Number() = default;
    Number(int64_t i) : i_(i) {}  // NOLINT: implicit by design
    // A double shown with `decimals` places (0..15).
    static Number Double(double d, int decimals);
    // A double shown with as many places as its shortest exact text needs (at most 9).
    static Number FromDouble(double d);
    // The exact number units / 10^decimals (decimals 0..kMaxDecimals; 0
    // gives an integer).
    static Number Decimal(int64_t units, int decimals);
    static constexpr int kMaxDecimals = 18;
    bool IsInteger() const { return isInt_ && dec_ == 0; }
    bool IsExact() const { return isInt_; }  // an integer or an exact decimal
    // Of an exact number: the count of its last decimal place (the integer
    // itself for an integer); 0 for a double.
    int64_t Units() const { return isInt_ ? i_ : 0; }
    int64_t AsInt() const;   // truncated toward zero (saturated outside 64 bits)
    // The nearest double (an exact decimal may have none that is exact).
    double AsDouble() const { return !isInt_ ? d_ : (dec_ == 0 ? static_cast<double>(i_) : DecimalAsDouble()); }
    int Decimals() const { return dec_; }

private:
    friend class Value;
    double DecimalAsDouble() const;
    union {
        int64_t i_ = 0;  // an integer, or the units of an exact decimal
        double d_;       // a double
    };
    int32_t dec_ = 0;
    bool isInt_ = true;
};

namespace detail {
struct ArrayData;
struct BlockData;

// The counts at the start of every array's header.
struct ArrayCounts {
    std::atomic<uint32_t> refs{1};
    std::atomic<uint32_t> version{0};
};

struct TextData {
    std::atomic<uint32_t> refs{1};
    bool inBlock = false;  // made by an ArrayBatch, in one of its blocks
    std::string text;
};

// The text of a character value, shared by copies of the value until one
// of them is changed in place; none for the empty text.
class SharedText {
public:
    SharedText() = default;
    explicit SharedText(std::string text);
    SharedText(const SharedText& other) noexcept : d_(other.d_) {
        if (d_) d_->refs.fetch_add(1, std::memory_order_relaxed);
    }
    SharedText(SharedText&& other) noexcept : d_(other.d_) { other.d_ = nullptr; }
    SharedText& operator=(const SharedText& other) noexcept;
    SharedText& operator=(SharedText&& other) noexcept;
    ~SharedText() {
        if (d_) Drop();
    }
    const std::string& Get() const;
    std::string* Mutable();  // a text of its own, to change in place

private:
    friend class xpp::ArrayBatch;
    friend class xpp::Value;
    void Drop() noexcept;
    TextData* d_ = nullptr;
};
}  // namespace detail

// An array: a shared, growable list of values. Two Array objects made from
// the same array (copies, or values holding it) see every change of each
// other; AClone() makes an independent copy. Each operation is atomic with
// respect to other threads; a walk over a changing array should work on
// Items() (a snapshot).
//
// An array made with its size (Array(n), a list, Take()) keeps its elements
// in the same block as its header: one allocation for a row of values.
class Array {
public:
    Array();                       // a new, empty array
    explicit Array(size_t count);  // a new array of `count` NIL elements
    Array(std::initializer_list<Value> items);
    explicit Array(std::vector<Value> items);
    Array(const Array& other) noexcept : d_(other.d_) {
        if (d_) Counts()->refs.fetch_add(1, std::memory_order_relaxed);
    }
    Array(Array&& other) noexcept : d_(other.d_) { other.d_ = nullptr; }
    Array& operator=(const Array& other) noexcept;
    Array& operator=(Array&& other) noexcept;
    ~Array() {
        if (d_) Drop();
    }

    // A new array of exactly the elements of `items`, moved; `items` is
    // left empty with its room, ready to be filled again.
    static Array Take(std::vector<Value>& items);

    size_t Len() const;
    // Element `index` (1-based). Out of range raises the runtime's bound
    // error; the error block's result is returned when it returns.
    Value Get(size_t index) const;
    // Assigns element `index` (1-based); out of range raises the bound error.
    void Set(size_t index, Value value) const;
    // Set() of each pair in order (index 1-based, value moved), in one
    // step. The pairs hold no value of use afterwards: the old elements go
    // when they are cleared.
    void SetMany(std::vector<std::pair<size_t, Value>>& pairs) const;
    void Add(Value value) const;               // append
    void Resize(size_t count) const;           // grow with NIL or cut
    void Remove(size_t index) const;           // remove one element (1-based), the array shrinks
    void InsertAt(size_t index, Value value) const;  // insert before `index` (1-based), the array grows
    std::vector<Value> Items() const;          // a snapshot of the elements
    void ItemsInto(std::vector<Value>& into) const;  // the same into `into`, its room reused
    void Fill(const Value& value) const;       // every element := value
    void Assign(std::vector<Value> items) const;  // replace all elements, same array
    void Clear() const;                        // empty in place, same array
    // A number that changes with every change of the array (its elements
    // or its length); equal numbers of one array mean no change between.
    uint32_t Version() const { return Counts()->version.load(std::memory_order_relaxed); }

    // The position (1-based) of the first element, from `first` (0-based)
    // up to `last`, that holds the very array or object `identity` names
    // (Value::Identity()); 0 when none.
    size_t FindSame(const void* identity, size_t first, size_t last) const;

    // Identity: true when both name the same array.
    bool Same(const Array& other) const { return d_ == other.d_; }
    const void* Identity() const { return d_; }

private:
    friend class ArrayBatch;
    friend class Value;
    explicit Array(detail::ArrayData* d) : d_(d) {}
    void Drop() noexcept;
    detail::ArrayCounts* Counts() const { return reinterpret_cast<detail::ArrayCounts*>(d_); }
    detail::ArrayData* d_;
};

// Makes many arrays in a few large blocks instead of one allocation each:
// for arrays made together that mostly go together, like the rows of a
// result. The first few arrays of a batch are made as usual, so that a
// small batch costs nothing more. An array made here is like any other;
// it may outlive the batch, and its block is given back when the last
// array in it is released.
class ArrayBatch {
public:
    ArrayBatch() = default;
    ~ArrayBatch();
    ArrayBatch(const ArrayBatch&) = delete;
    ArrayBatch& operator=(const ArrayBatch&) = delete;

    // As Array::Take().
    Array Take(std::vector<Value>& items);
    // A new array of the elements of `from`, moved out (each element of
    // `from` is NIL afterwards), with room for `more` elements that Add()
    // then appends in place. `nested`, when given, tells whether any of
    // the elements is an array.
    Array TakeFrom(const Array& from, size_t more, bool* nested = nullptr);
    // TakeFrom(values, 2), then `extra` and TakeFrom(fetched, 0) appended
    // to it. The texts of both go into the batch's blocks too; a text the
    // two arrays shared stays shared. `nested` as for TakeFrom, for both.
    Array TakeRow(const Array& values, const Value& extra, const Array& fetched, bool* nested = nullptr);

private:
    static constexpr size_t kUsual = 64;  // arrays made as usual first
    // The place of a new array of `room` elements in a block; null when
    // it goes to an allocation of its own.
    void* Place(size_t room);
    // The place of `bytes` in the block, a new one when it is full; null
    // when no block can be had.
    void* PlaceBytes(size_t bytes);
    // Moves the text of a character value into the block; a text met
    // before in the same row goes where that one went.
    void MoveText(Value& v);

    std::vector<std::pair<const detail::TextData*, detail::TextData*>> seen_;  // old and new places of a row's texts

    char* block_ = nullptr;  // the block arrays are made in now
    size_t used_ = 0;        // its bytes given out
    size_t size_ = 0;        // its bytes
    size_t made_ = 0;        // arrays made
};

// A by-reference cell (`@var`): a variable that a callee may assign. Copies
// of a Ref name the same cell.
class Ref {
public:
    Ref();
    explicit Ref(Value initial);
    Value Get() const;
    void Set(Value v) const;
    Value* Cell() const { return cell_.get(); }

private:
    friend class Arg;
    // No cell: the slot of an argument passed by value, never read.
    struct NoCell {};
    explicit Ref(NoCell) {}
    std::shared_ptr<Value> cell_;
};

// A code block: a C++ callable over an argument list. Missing arguments read
// as NIL, extra ones are ignored; arguments passed by reference write back.
class Block {
public:
    using Fn = std::function<Value(Args&)>;
    Block() = default;
    Block(Fn fn);  // NOLINT: implicit by design
    Block(const Block& other) noexcept;
    Block(Block&& other) noexcept : d_(other.d_) { other.d_ = nullptr; }
    Block& operator=(const Block& other) noexcept;
    Block& operator=(Block&& other) noexcept;
    ~Block() {
        if (d_) Drop();
    }
    bool IsSet() const { return d_ != nullptr; }
    Value Eval(Args& args) const;
    Value Eval(Args&& args) const;
    template <class... T>
    Value operator()(T&&... args) const;
    bool Same(const Block& other) const { return d_ == other.d_; }

private:
    friend class Value;
    void Drop() noexcept;
    detail::BlockData* d_ = nullptr;
};

// Any runtime value. The type letters are those of ValType().
//
// A value is 16 bytes: eight of payload (a number's bits, a date, a logical,
// or the one pointer of a text, array, code block or object) and its kind.
// Moving a value moves those bytes and leaves NIL behind.
class Value {
public:
    Value() noexcept { u_.bits = 0; }
    Value(Nil) noexcept : Value() {}
    Value(bool b) noexcept : kind_(kLogical) {
        u_.bits = 0;
        u_.log = b;
    }
    Value(int i) noexcept : Value(Number(i)) {}
    Value(long i) noexcept : Value(Number(static_cast<int64_t>(i))) {}
    Value(long long i) noexcept : Value(Number(static_cast<int64_t>(i))) {}
    Value(unsigned i) noexcept : Value(Number(static_cast<int64_t>(i))) {}
    Value(unsigned long i) noexcept : Value(Number(static_cast<int64_t>(i))) {}
    Value(unsigned long long i) noexcept : Value(Number(static_cast<int64_t>(i))) {}
    Value(double d) : Value(Number::FromDouble(d)) {}
    Value(Number n) noexcept : kind_(kNumber), numInt_(n.isInt_), numDec_(static_cast<uint8_t>(n.dec_)) {
        if (n.isInt_) u_.bits = n.i_;
        else u_.dbl = n.d_;
    }
    Value(const char* s) : Value(detail::SharedText(std::string(s))) {}
    Value(std::string s) : Value(detail::SharedText(std::move(s))) {}
    Value(std::string_view s) : Value(detail::SharedText(std::string(s))) {}
    Value(Date d) noexcept : kind_(kDate) {
        u_.bits = 0;
        u_.jd = d.Julian();
    }
    Value(Array a) noexcept : kind_(kArray) {
        u_.bits = 0;
        new (&u_.arr) Array(std::move(a));
    }
    Value(Block b) noexcept : kind_(kBlock) {
        u_.bits = 0;
        new (&u_.blk) Block(std::move(b));
    }
    template <class T, class = std::enable_if_t<std::is_base_of_v<Object, T>>>
    Value(std::shared_ptr<T> o) {
        u_.bits = 0;
        if (o) SetObject(ObjectRef(std::move(o)));
    }
    Value(const Value& other) : kind_(other.kind_), numInt_(other.numInt_), numDec_(other.numDec_) {
        u_.bits = other.u_.bits;
        if (kind_ >= kText) AddRef();
    }
    Value(Value&& other) noexcept : kind_(other.kind_), numInt_(other.numInt_), numDec_(other.numDec_) {
        u_.bits = other.u_.bits;
        other.kind_ = kNil;
    }
    Value& operator=(const Value& other) {
        if (this != &other) {
            Value copy(other);
            Swap(copy);
        }
        return *this;
    }
    Value& operator=(Value&& other) noexcept {
        if (this != &other) {
            Value moved(std::move(other));
            Swap(moved);
        }
        return *this;
    }
    ~Value() {
        if (kind_ >= kText) Release();
    }

    // "C", "N", "D", "L", "A", "B", "O" or "U" as a character.
    char Type() const;
    bool IsNil() const { return kind_ == kNil; }
    bool IsChar() const { return kind_ == kChar || kind_ == kText; }
    bool IsNum() const { return kind_ == kNumber; }
    bool IsDate() const { return kind_ == kDate; }
    bool IsLogical() const { return kind_ == kLogical; }
    bool IsArray() const { return kind_ == kArray; }
    bool IsBlock() const { return kind_ == kBlock; }
    bool IsObject() const { return kind_ == kObject; }

    // Readers. On a value of another type they answer the neutral value of
    // the asked type ("", 0, the empty date, .F., a new empty array, an
    // unset block, null): test the type first where it matters.
    const std::string& Str() const;
    Number Num() const {
        Number n;
        if (kind_ == kNumber) {
            if (numInt_) {
                n.i_ = u_.bits;
                n.dec_ = numDec_;
            } else {
                n.isInt_ = false;
                n.d_ = u_.dbl;
                n.dec_ = numDec_;
            }
        }
        return n;
    }
    int64_t Int() const { return Num().AsInt(); }
    double Dbl() const { return Num().AsDouble(); }
    bool Log() const { return kind_ == kLogical && u_.log; }
    Date Dat() const { return kind_ == kDate ? Date::FromJulian(u_.jd) : Date(); }
    Array Arr() const;
    // The array of a value of type "A" in place (no new reference); null
    // for any other value.
    const Array* ArrIf() const { return kind_ == kArray ? &u_.arr : nullptr; }
    Block Blk() const;
    ObjectRef Obj() const;
    // The array or object a value of type "A" or "O" holds, as an address
    // that tells one from another; null for any other value.
    const void* Identity() const;
    template <class T>
    std::shared_ptr<T> As() const {
        return std::dynamic_pointer_cast<T>(Obj());
    }
    // The bytes of a character value, for callees that fill a buffer in
    // place (native calls); null for a value of another type.
    std::string* MutableStr();

private:
    friend class ArrayBatch;
    // The kinds: those of the type letters, with a character value in two
    // (kChar, the empty text, holds no text of its own; kText does). The
    // kinds from kText on hold a reference.
    enum Kind : uint8_t { kNil, kChar, kNumber, kDate, kLogical, kText, kArray, kBlock, kObject };

    explicit Value(detail::SharedText text) noexcept {
        u_.bits = 0;
        if (text.d_) {
            kind_ = kText;
            new (&u_.text) detail::SharedText(std::move(text));
        } else {
            kind_ = kChar;
        }
    }
    void SetObject(ObjectRef o);
    void AddRef() const noexcept;   // one more holder of the reference
    void Release() noexcept;        // one holder less (the value is being destroyed)
    void Swap(Value& other) noexcept {
        std::swap(u_.bits, other.u_.bits);
        std::swap(kind_, other.kind_);
        std::swap(numInt_, other.numInt_);
        std::swap(numDec_, other.numDec_);
    }
    // a text whose only pointer is in place: the value owns it
    detail::SharedText* TextIf() { return kind_ == kText ? &u_.text : nullptr; }

    union Payload {
        Payload() {}
        ~Payload() {}
        int64_t bits;  // every payload is read and written whole through this
        double dbl;
        int32_t jd;
        bool log;
        detail::SharedText text;
        Array arr;
        Block blk;
        Object* obj;
    } u_;
    Kind kind_ = kNil;
    bool numInt_ = false;
    uint8_t numDec_ = 0;
};
static_assert(sizeof(Value) == 16, "a value is its payload and its kind");

// One argument: a value, or a by-reference cell.
class Arg {
public:
    Arg(Value v) : value_(std::move(v)), ref_(Ref::NoCell{}) {}  // NOLINT
    Arg(const Ref& r) : ref_(r), byRef_(true) {}  // NOLINT
    template <class T, class = std::enable_if_t<std::is_constructible_v<Value, T&&> &&
                                                !std::is_same_v<std::decay_t<T>, Ref> &&
                                                !std::is_same_v<std::decay_t<T>, Value>>>
    Arg(T&& v) : value_(Value(std::forward<T>(v))), ref_(Ref::NoCell{}) {}  // NOLINT
    bool ByRef() const { return byRef_; }
    Value Get() const { return byRef_ ? ref_.Get() : value_; }
    void Set(Value v) {
        if (byRef_) ref_.Set(std::move(v));
        else value_ = std::move(v);
    }
    // The caller's cell of an argument passed by reference (none otherwise).
    const Ref& GetRef() const { return ref_; }

private:
    Value value_;
    Ref ref_;
    bool byRef_ = false;
};

// An argument list. It keeps its exact count: PCount() tells a NIL passed
// from an argument not passed. Positions are 1-based.
class Args {
public:
    Args() = default;
    Args(std::initializer_list<Arg> items) : items_(items) {}
    explicit Args(std::vector<Arg> items) : items_(std::move(items)) {}

    size_t PCount() const { return items_.size(); }
    bool Passed(size_t n) const { return n >= 1 && n <= items_.size(); }
    // Argument n; NIL when not passed.
    Value Get(size_t n) const { return Passed(n) ? items_[n - 1].Get() : Value(); }
    Value operator[](size_t n) const { return Get(n); }
    bool IsRef(size_t n) const { return Passed(n) && items_[n - 1].ByRef(); }
    // Assigns argument n: a by-reference argument writes back to the
    // caller's cell. Assigning an argument not passed does nothing.
    void Put(size_t n, Value v);
    void Add(Arg a) { items_.push_back(std::move(a)); }
    const std::vector<Arg>& Items() const { return items_; }

private:
    std::vector<Arg> items_;
};

template <class... T>
Value Block::operator()(T&&... args) const {
    Args a{Arg(std::forward<T>(args))...};
    return Eval(a);
}

// EVAL(): evaluates a block value; a value that is not a block raises the
// runtime's argument error.
Value Eval(const Value& block, Args args = {});

}  // namespace xpp
