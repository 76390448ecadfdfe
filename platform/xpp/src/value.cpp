// Values, arrays, code blocks and argument lists.
#include <algorithm>
#include <cmath>
#include <new>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <atomic>
#include <mutex>
#include <thread>
#include <type_traits>

#include <sys/mman.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define XPP_LEAK_CHECKED 1
#endif

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

// The header of an array. The elements follow it in the same block (the
// room, for an array made with its size) or live in a vector that follows
// it instead (an array that grew past its room, or was made from a vector).
struct ArrayData {
    ArrayCounts counts;  // first: Array reads them through its pointer
    mutable ArrayLock lock;
    bool inRoom = false;  // the elements are in the room
    bool inBlock = false; // made by an ArrayBatch, in one of its blocks
    uint16_t room = 0;    // the room's capacity
    uint16_t used = 0;    // the elements in the room

    static constexpr size_t kHeader = 16;
    static constexpr size_t kMaxRoom = 0xFFFF;

    char* Tail() { return reinterpret_cast<char*>(this) + kHeader; }
    Value* Room() { return std::launder(reinterpret_cast<Value*>(Tail())); }
    std::vector<Value>& Vec() { return *std::launder(reinterpret_cast<std::vector<Value>*>(Tail())); }
    Value* Begin() { return inRoom ? Room() : Vec().data(); }
    size_t Size() { return inRoom ? used : Vec().size(); }
    void Changed() { counts.version.store(counts.version.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed); }

    // The bytes of an array with room for `room` elements (none: a vector).
    static size_t Bytes(size_t room) {
        bool inRoom = room > 0 && room <= kMaxRoom;
        size_t tail = inRoom ? room * sizeof(Value) : sizeof(std::vector<Value>);
        return kHeader + std::max(tail, sizeof(std::vector<Value>));
    }

    // A new header with room for `room` elements (none: a vector), in
    // `place` (Bytes(room) bytes) or in a new allocation.
    static ArrayData* Make(size_t room, void* place = nullptr) {
        bool inRoom = room > 0 && room <= kMaxRoom;
        void* block = place ? place : ::operator new(Bytes(room));
        auto* d = new (block) ArrayData;
        d->inBlock = place != nullptr;
        if (inRoom) {
            d->inRoom = true;
            d->room = static_cast<uint16_t>(room);
        } else {
            new (d->Tail()) std::vector<Value>();
        }
        return d;
    }

    static void Release(ArrayData* d) {
        if (d == nullptr || d->counts.refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
        if (d->inRoom) {
            Value* e = d->Room();
            for (size_t i = 0; i < d->used; ++i) e[i].~Value();
        } else {
            d->Vec().~vector();
        }
        bool inBlock = d->inBlock;
        d->~ArrayData();
        if (inBlock) ReleaseBlock(BlockOf(d));
        else ::operator delete(d);
    }

    // ---- the blocks of an ArrayBatch
    // A block is a mapping aligned to kBlockAlign (at most that long) that
    // starts with its header: an array finds its block by its address.
    struct Block {
        std::atomic<size_t> live{1};  // its arrays, and the batch while it makes arrays in it
        size_t bytes = 0;
    };
    static constexpr size_t kBlockAlign = size_t{2} << 20;
    static constexpr size_t kBlockHeader = 16;

    static Block* BlockOf(void* d) {
        return reinterpret_cast<Block*>(reinterpret_cast<uintptr_t>(d) & ~(uintptr_t{kBlockAlign} - 1));
    }
    static Block* NewBlock(size_t bytes);
    static void ReleaseBlock(Block* b);

    // Moves the elements from the room into a vector (under the lock); the
    // room's block then holds the vector.
    void ToVector() {
        if (!inRoom) return;
        std::vector<Value> items;
        items.reserve(std::max<size_t>(2 * used, 4));
        Value* e = Room();
        for (size_t i = 0; i < used; ++i) {
            items.push_back(std::move(e[i]));
            e[i].~Value();
        }
        inRoom = false;
        used = 0;
        new (Tail()) std::vector<Value>(std::move(items));
    }
};

// MADV_POPULATE_WRITE (Linux 5.14); an older system refuses it harmlessly.
constexpr int kPopulateWrite = 23;

ArrayData::Block* ArrayData::NewBlock(size_t bytes) {
    // an aligned mapping: twice the alignment, less what lies outside
    size_t span = 2 * kBlockAlign;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    auto start = reinterpret_cast<uintptr_t>(raw);
    uintptr_t aligned = (start + kBlockAlign - 1) & ~(uintptr_t{kBlockAlign} - 1);
    if (aligned > start) munmap(raw, aligned - start);
    uintptr_t end = aligned + bytes;
    if (start + span > end) munmap(reinterpret_cast<void*>(end), start + span - end);
    // A whole block goes in one large page where the system has them, and
    // is made present at once: it is filled anyway, and one call costs far
    // less than a fault per page.
    if (bytes == kBlockAlign) {
        madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);
        madvise(reinterpret_cast<void*>(aligned), bytes, kPopulateWrite);
    }
    auto* b = new (reinterpret_cast<void*>(aligned)) Block;
    b->bytes = bytes;
#ifdef XPP_LEAK_CHECKED
    // the leak checker reads what the arrays in the block point to
    __lsan_register_root_region(b, bytes);
#endif
    return b;
}

void ArrayData::ReleaseBlock(Block* b) {
    if (b->live.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    size_t bytes = b->bytes;
    b->~Block();
#ifdef XPP_LEAK_CHECKED
    __lsan_unregister_root_region(b, bytes);
#endif
    munmap(b, bytes);
}

static_assert(sizeof(ArrayData) <= ArrayData::kHeader, "the header fits its room's offset");
static_assert(std::is_standard_layout_v<ArrayData>, "an array's counts are at the start of its header");
static_assert(sizeof(ArrayData::Block) <= ArrayData::kBlockHeader);
static_assert(alignof(Value) <= ArrayData::kHeader && alignof(std::vector<Value>) <= ArrayData::kHeader);

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

Number Number::Decimal(int64_t units, int decimals) {
    Number n(units);
    n.dec_ = decimals < 0 ? 0 : (decimals > kMaxDecimals ? kMaxDecimals : decimals);
    return n;
}

double Number::DecimalAsDouble() const {
    // both parts exact as doubles: the one division rounds correctly
    constexpr int64_t kExact = int64_t{1} << 53;
    if (i_ >= -kExact && i_ <= kExact) return static_cast<double>(i_) / static_cast<double>(detail::TenTo(dec_));
    char text[40];
    std::snprintf(text, sizeof text, "%llde-%d", static_cast<long long>(i_), static_cast<int>(dec_));
    return std::strtod(text, nullptr);
}

int64_t Number::AsInt() const {
    if (isInt_) return dec_ == 0 ? i_ : i_ / detail::TenTo(dec_);
    if (std::isnan(d_)) return 0;
    if (d_ >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
    if (d_ <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(d_);
}

// ------------------------------------------------------------------ Array

Array::Array() : d_(detail::ArrayData::Make(0)) {}

Array::Array(size_t count) : d_(detail::ArrayData::Make(count)) {
    if (d_->inRoom) {
        Value* e = d_->Room();
        for (size_t i = 0; i < count; ++i) new (e + i) Value();
        d_->used = static_cast<uint16_t>(count);
    } else {
        d_->Vec().resize(count);
    }
}

Array::Array(std::initializer_list<Value> items) : d_(detail::ArrayData::Make(items.size())) {
    if (d_->inRoom) {
        Value* e = d_->Room();
        for (const Value& v : items) new (e + d_->used++) Value(v);
    } else {
        d_->Vec().assign(items);
    }
}

Array::Array(std::vector<Value> items) : d_(detail::ArrayData::Make(0)) { d_->Vec() = std::move(items); }

Array& Array::operator=(const Array& other) noexcept {
    if (other.d_) other.d_->counts.refs.fetch_add(1, std::memory_order_relaxed);
    detail::ArrayData* old = d_;
    d_ = other.d_;
    detail::ArrayData::Release(old);
    return *this;
}

Array& Array::operator=(Array&& other) noexcept {
    if (this != &other) {
        detail::ArrayData* old = d_;
        d_ = other.d_;
        other.d_ = nullptr;
        detail::ArrayData::Release(old);
    }
    return *this;
}

void Array::Drop() noexcept { detail::ArrayData::Release(d_); }

Array Array::Take(std::vector<Value>& items) {
    if (items.empty() || items.size() > detail::ArrayData::kMaxRoom) {
        Array a(std::move(items));
        items.clear();
        return a;
    }
    Array a(detail::ArrayData::Make(items.size()));
    Value* e = a.d_->Room();
    for (Value& v : items) new (e + a.d_->used++) Value(std::move(v));
    items.clear();
    return a;
}

ArrayBatch::~ArrayBatch() {
    if (block_) detail::ArrayData::ReleaseBlock(reinterpret_cast<detail::ArrayData::Block*>(block_));
}

void* ArrayBatch::Place(size_t room) {
    if (made_++ < kUsual || room == 0 || room > detail::ArrayData::kMaxRoom) return nullptr;
    return PlaceBytes(detail::ArrayData::Bytes(room));
}

void* ArrayBatch::PlaceBytes(size_t bytes) {
    using detail::ArrayData;
    // blocks of 256 kB, doubling up to 2 MB
    constexpr size_t kFirstBlock = size_t{256} << 10;
    bytes = (bytes + 7) & ~size_t{7};
    if (bytes > ArrayData::kBlockAlign - ArrayData::kBlockHeader) return nullptr;
    if (!block_ || used_ + bytes > size_) {
        size_t next = size_ == 0 ? kFirstBlock : std::min(2 * size_, ArrayData::kBlockAlign);
        ArrayData::Block* fresh = ArrayData::NewBlock(next);
        if (!fresh) return nullptr;
        if (block_) ArrayData::ReleaseBlock(reinterpret_cast<ArrayData::Block*>(block_));
        block_ = reinterpret_cast<char*>(fresh);
        used_ = ArrayData::kBlockHeader;
        size_ = next;
    }
    reinterpret_cast<ArrayData::Block*>(block_)->live.fetch_add(1, std::memory_order_relaxed);
    void* place = block_ + used_;
    used_ += bytes;
    return place;
}

void ArrayBatch::MoveText(Value& v) {
    detail::SharedText* text = v.TextIf();
    if (!text || !text->d_ || text->d_->inBlock) return;
    // Every text of the row was held by it before the first was moved, so
    // an old place met again is the same text, even once it was released.
    for (const auto& [old, moved] : seen_) {
        if (old == text->d_) {
            moved->refs.fetch_add(1, std::memory_order_relaxed);
            text->Drop();
            text->d_ = moved;
            return;
        }
    }
    void* place = PlaceBytes(sizeof(detail::TextData));
    if (!place) return;
    auto* data = new (place) detail::TextData;
    data->inBlock = true;
    data->text = text->d_->text;
    seen_.emplace_back(text->d_, data);
    text->Drop();
    text->d_ = data;
}

Array ArrayBatch::Take(std::vector<Value>& items) {
    void* place = Place(items.size());
    if (!place) return Array::Take(items);
    Array a(detail::ArrayData::Make(items.size(), place));
    Value* e = a.d_->Room();
    for (Value& v : items) new (e + a.d_->used++) Value(std::move(v));
    items.clear();
    return a;
}

Array ArrayBatch::TakeFrom(const Array& from, size_t more, bool* nested) {
    detail::ArrayData* source = from.d_;
    std::lock_guard<detail::ArrayLock> g(source->lock);
    source->Changed();
    size_t n = source->Size();
    Value* in = source->Begin();
    void* place = Place(n + more);
    Array a(detail::ArrayData::Make(n + more, place));
    if (!a.d_->inRoom) a.d_->Vec().reserve(n + more);
    if (nested) *nested = false;
    for (size_t i = 0; i < n; ++i) {
        if (nested && in[i].IsArray()) *nested = true;
        if (a.d_->inRoom) new (a.d_->Room() + a.d_->used++) Value(std::move(in[i]));
        else a.d_->Vec().push_back(std::move(in[i]));
        in[i] = Value();  // what a move leaves is released here: nothing of it is left
    }
    return a;
}

Array ArrayBatch::TakeRow(const Array& values, const Value& extra, const Array& fetched, bool* nested) {
    bool nestedFetched = false;
    Array row = TakeFrom(values, 2, nested);
    Array taken = TakeFrom(fetched, 0, nested ? &nestedFetched : nullptr);
    if (nested) *nested = *nested || nestedFetched;
    if (made_ > kUsual) {
        for (Array* a : {&row, &taken}) {
            Value* e = a->d_->Begin();
            for (size_t i = 0, n = a->d_->Size(); i < n; ++i) MoveText(e[i]);
        }
        seen_.clear();
    }
    row.Add(extra);
    row.Add(std::move(taken));
    return row;
}

size_t Array::Len() const {
    std::lock_guard<detail::ArrayLock> g(d_->lock);
    return d_->Size();
}

namespace {
// Whether releasing `v` runs no other code (no array, block or object).
bool Plain(const Value& v) { return !(v.IsArray() || v.IsBlock() || v.IsObject()); }
}  // namespace

Value Array::Get(size_t index) const {
    {
        std::lock_guard<detail::ArrayLock> g(d_->lock);
        if (index >= 1 && index <= d_->Size()) return d_->Begin()[index - 1];
    }
    return RuntimeError(EG_BOUND, 1132, "array access", Array{*this, Value(static_cast<int64_t>(index))});
}

void Array::Set(size_t index, Value value) const {
    Value old;  // released outside the lock
    {
        std::lock_guard<detail::ArrayLock> g(d_->lock);
        if (index >= 1 && index <= d_->Size()) {
            Value& e = d_->Begin()[index - 1];
            old = std::move(e);
            e = std::move(value);
            d_->Changed();
            return;
        }
    }
    RuntimeError(EG_BOUND, 1133, "array assign", Array{*this, Value(static_cast<int64_t>(index))});
}

void Array::SetMany(std::vector<std::pair<size_t, Value>>& pairs) const {
    size_t done = 0;
    {
        std::lock_guard<detail::ArrayLock> g(d_->lock);
        d_->Changed();
        Value* e = d_->Begin();
        size_t n = d_->Size();
        // old values that hold more than plain data change places with the
        // new, to be released after the lock
        for (; done < pairs.size() && pairs[done].first >= 1 && pairs[done].first <= n; ++done) {
            Value& to = e[pairs[done].first - 1];
            if (Plain(to)) to = std::move(pairs[done].second);
            else std::swap(to, pairs[done].second);
        }
    }
    for (; done < pairs.size(); ++done) Set(pairs[done].first, std::move(pairs[done].second));
}

void Array::Add(Value value) const {
    std::lock_guard<detail::ArrayLock> g(d_->lock);
    d_->Changed();
    if (d_->inRoom && d_->used < d_->room) {
        new (d_->Room() + d_->used) Value(std::move(value));
        ++d_->used;
        return;
    }
    d_->ToVector();
    d_->Vec().push_back(std::move(value));
}

void Array::Resize(size_t count) const {
    // Dropped elements are released outside the lock: a few from here, more
    // from a list.
    Value few[4];
    std::vector<Value> many;
    std::lock_guard<detail::ArrayLock> g(d_->lock);
    d_->Changed();
    size_t size = d_->Size();
    Value* e = d_->Begin();
    if (count < size) {
        size_t dropped = size - count;
        if (dropped <= std::size(few)) {
            for (size_t i = 0; i < dropped; ++i) few[i] = std::move(e[count + i]);
        } else {
            many.assign(std::make_move_iterator(e + count), std::make_move_iterator(e + size));
        }
    }
    if (d_->inRoom && count <= d_->room) {
        for (size_t i = count; i < size; ++i) e[i].~Value();
        for (size_t i = size; i < count; ++i) new (e + i) Value();
        d_->used = static_cast<uint16_t>(count);
        return;
    }
    d_->ToVector();
    d_->Vec().resize(count);
}

void Array::Remove(size_t index) const {
    Value dropped;
    std::lock_guard<detail::ArrayLock> g(d_->lock);
    if (index < 1 || index > d_->Size()) return;
    d_->Changed();
    if (d_->inRoom) {
        Value* e = d_->Room();
        dropped = std::move(e[index - 1]);
        std::move(e + index, e + d_->used, e + index - 1);
        e[--d_->used].~Value();
        return;
    }
    auto& items = d_->Vec();
    dropped = std::move(items[index - 1]);
    items.erase(items.begin() + static_cast<ptrdiff_t>(index - 1));
}

void Array::InsertAt(size_t index, Value value) const {
    std::lock_guard<detail::ArrayLock> g(d_->lock);
    d_->Changed();
    size_t size = d_->Size();
    if (index < 1) index = 1;
    if (index > size + 1) index = size + 1;
    if (d_->inRoom && d_->used < d_->room) {
        Value* e = d_->Room();
        new (e + size) Value(std::move(value));
        std::rotate(e + index - 1, e + size, e + size + 1);
        ++d_->used;
        return;
    }
    d_->ToVector();
    auto& items = d_->Vec();
    items.insert(items.begin() + static_cast<ptrdiff_t>(index - 1), std::move(value));
}

size_t Array::FindSame(const void* identity, size_t first, size_t last) const {
    if (identity == nullptr) return 0;
    std::lock_guard<detail::ArrayLock> g(d_->lock);
    const Value* e = d_->Begin();
    for (size_t i = first, n = d_->Size(); i < last && i < n; ++i)
        if (e[i].Identity() == identity) return i + 1;
    return 0;
}

std::vector<Value> Array::Items() const {
    std::lock_guard<detail::ArrayLock> g(d_->lock);
    const Value* e = d_->Begin();
    return std::vector<Value>(e, e + d_->Size());
}

void Array::ItemsInto(std::vector<Value>& into) const {
    into.clear();  // the old elements go before the lock is taken
    std::lock_guard<detail::ArrayLock> g(d_->lock);
    const Value* e = d_->Begin();
    into.assign(e, e + d_->Size());
}

void Array::Fill(const Value& value) const {
    std::vector<Value> old;  // elements that hold more than plain data go after the lock
    std::lock_guard<detail::ArrayLock> g(d_->lock);
    d_->Changed();
    Value* e = d_->Begin();
    for (size_t i = 0, n = d_->Size(); i < n; ++i) {
        // NIL over NIL and a logical over the same: nothing to do
        if (e[i].IsNil() && value.IsNil()) continue;
        if (e[i].IsLogical() && value.IsLogical() && e[i].Log() == value.Log()) continue;
        if (!Plain(e[i])) old.push_back(std::move(e[i]));
        e[i] = value;
    }
}

void Array::Assign(std::vector<Value> items) const {
    {
        std::lock_guard<detail::ArrayLock> g(d_->lock);
        d_->Changed();
        d_->ToVector();
        d_->Vec().swap(items);
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

namespace detail {
struct BlockData {
    std::atomic<uint32_t> refs{1};
    const Block::Fn fn;
};
}  // namespace detail

Block::Block(Fn fn) {
    if (fn) d_ = new detail::BlockData{{1}, std::move(fn)};
}

Block::Block(const Block& other) noexcept : d_(other.d_) {
    if (d_) d_->refs.fetch_add(1, std::memory_order_relaxed);
}

Block& Block::operator=(const Block& other) noexcept {
    if (other.d_) other.d_->refs.fetch_add(1, std::memory_order_relaxed);
    if (d_) Drop();
    d_ = other.d_;
    return *this;
}

Block& Block::operator=(Block&& other) noexcept {
    if (this != &other) {
        if (d_) Drop();
        d_ = other.d_;
        other.d_ = nullptr;
    }
    return *this;
}

void Block::Drop() noexcept {
    if (d_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete d_;
    d_ = nullptr;
}

Value Block::Eval(Args& args) const {
    if (!d_) return RuntimeError(EG_NOMETHOD, 1004, "EVAL", Array());
    return d_->fn(args);
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
    static const char kTypes[] = {'U', 'C', 'N', 'D', 'L', 'C', 'A', 'B', 'O'};
    return kTypes[kind_];
}

void Value::AddRef() const noexcept {
    switch (kind_) {
        case kText: u_.text.d_->refs.fetch_add(1, std::memory_order_relaxed); break;
        case kArray:
            if (u_.arr.d_) u_.arr.Counts()->refs.fetch_add(1, std::memory_order_relaxed);
            break;
        case kBlock:
            if (u_.blk.d_) u_.blk.d_->refs.fetch_add(1, std::memory_order_relaxed);
            break;
        case kObject: u_.obj->valueRefs_.fetch_add(1, std::memory_order_relaxed); break;
        default: break;
    }
}

void Value::Release() noexcept {
    switch (kind_) {
        case kText: u_.text.~SharedText(); break;
        case kArray: u_.arr.~Array(); break;
        case kBlock: u_.blk.~Block(); break;
        case kObject: {
            Object* o = u_.obj;
            // not the last holder: the count alone goes down
            uint32_t n = o->valueRefs_.load(std::memory_order_relaxed);
            while (n > 1)
                if (o->valueRefs_.compare_exchange_weak(n, n - 1, std::memory_order_acq_rel)) break;
            if (n <= 1) {
                // perhaps the last: decided under the lock, while the shared
                // reference still keeps the object
                ObjectRef last;
                {
                    std::lock_guard<std::mutex> g(o->valueLock_);
                    if (o->valueRefs_.fetch_sub(1, std::memory_order_acq_rel) == 1) last = std::move(o->self_);
                }
            }
            break;
        }
        default: break;
    }
}

void Value::SetObject(ObjectRef o) {
    Object* p = o.get();
    uint32_t n = p->valueRefs_.load(std::memory_order_acquire);
    bool counted = false;
    while (n >= 1 && !counted) counted = p->valueRefs_.compare_exchange_weak(n, n + 1, std::memory_order_acq_rel);
    if (!counted) {
        std::lock_guard<std::mutex> g(p->valueLock_);
        // the shared reference is in place before the count says so
        if (p->valueRefs_.load(std::memory_order_acquire) == 0) p->self_ = std::move(o);
        p->valueRefs_.fetch_add(1, std::memory_order_acq_rel);
    }
    u_.obj = p;
    kind_ = kObject;
}

std::string* Value::MutableStr() {
    if (kind_ == kText) return u_.text.Mutable();
    if (kind_ != kChar) return nullptr;
    new (&u_.text) detail::SharedText();
    kind_ = kText;
    return u_.text.Mutable();
}

namespace detail {

SharedText::SharedText(std::string text) {
    if (!text.empty()) d_ = new TextData{{1}, false, std::move(text)};
}

SharedText& SharedText::operator=(const SharedText& other) noexcept {
    if (other.d_) other.d_->refs.fetch_add(1, std::memory_order_relaxed);
    if (d_) Drop();
    d_ = other.d_;
    return *this;
}

SharedText& SharedText::operator=(SharedText&& other) noexcept {
    if (this != &other) {
        if (d_) Drop();
        d_ = other.d_;
        other.d_ = nullptr;
    }
    return *this;
}

void SharedText::Drop() noexcept {
    if (d_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        if (d_->inBlock) {
            d_->~TextData();
            ArrayData::ReleaseBlock(ArrayData::BlockOf(d_));
        } else {
            delete d_;
        }
    }
    d_ = nullptr;
}

const std::string& SharedText::Get() const {
    static const std::string kEmpty;
    return d_ ? d_->text : kEmpty;
}

std::string* SharedText::Mutable() {
    if (!d_) {
        d_ = new TextData{{1}, false, std::string()};
    } else if (d_->refs.load(std::memory_order_acquire) != 1) {
        auto* own = new TextData{{1}, false, d_->text};
        Drop();
        d_ = own;
    }
    return &d_->text;
}

}  // namespace detail

const std::string& Value::Str() const {
    static const std::string kEmpty;
    return kind_ == kText ? u_.text.Get() : kEmpty;
}
Array Value::Arr() const { return kind_ == kArray ? u_.arr : Array(); }
Block Value::Blk() const { return kind_ == kBlock ? u_.blk : Block(); }
const void* Value::Identity() const {
    if (kind_ == kArray) return u_.arr.Identity();
    if (kind_ == kObject) return u_.obj;
    return nullptr;
}
ObjectRef Value::Obj() const {
    // a holder of the object: its shared reference stays while this value does
    if (kind_ == kObject) return u_.obj->self_;
    return nullptr;
}

}  // namespace xpp
