#include "index.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "codepages.h"
#include "errors.h"
#include "paths.h"

namespace qel32 {

// ------------------------------------------------------------ ImageSource

int ImageSource::FieldIndex(std::string_view name) const {
    const auto& fields = file_.fields();
    for (size_t i = 0; i < fields.size(); ++i)
        if (EqualsNoCase(fields[i].name, name)) return static_cast<int>(i);
    return -1;
}

const FieldDef& ImageSource::Field(int index) const { return file_.fields()[static_cast<size_t>(index)]; }

Value ImageSource::FieldValue(int index) {
    const FieldDef& f = Field(index);
    if (!image_) return Value::Empty();
    // Keys and conditions see text as the caller does, in Windows-1252 also
    // where the table stores another code page.
    const uint8_t page = file_.codePage();
    if (IsBlobType(f.type)) {
        if (IsEmptyImage(f, image_, file_.type())) return Value::Empty();
        std::string data = file_.ReadBlob(f, image_);
        if (IsForeignCodePage(page) && (f.type == KIV_FT_MEMO || f.type == KIV_FT_VARCHAR))
            data = StoredToAnsi(data, page, false);
        return Value::OfText(data);
    }
    Value v = DecodeField(f, image_, file_.type());
    if (IsForeignCodePage(page) && (f.type == KIV_FT_CHARACTER || f.type == KIV_FT_CICHARACTER))
        v.text = StoredToAnsi(v.text, page, false);
    return v;
}

// ------------------------------------------------------------ Tag

namespace {

int CompareKeys(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    const int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
    if (c) return c;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

}  // namespace

Tag::Tag(IndexedTable& file, std::string name, std::string keyText, std::string forText, uint32_t flags)
    : file_(file), name_(Upper(name)), keyText_(std::move(keyText)), forText_(std::move(forText)), flags_(flags) {
    ImageSource fields(file_, nullptr, 0);  // names only: no record
    key_ = Expression::Parse(keyText_, fields);
    if (!forText_.empty()) {
        for_ = Expression::Parse(forText_, fields);
        if (for_->type() != XValue::Type::Logical)
            Throw(KIV_ERR_EXPRESSION, "The condition of order " + name_ + " is not logical");
    }
    const int length = key_->KeyLength();
    if (length <= 0 || length > 4082) Throw(KIV_ERR_EXPRESSION, "The key of order " + name_ + " is too long");
    keyLength_ = static_cast<uint32_t>(length);
}

void Tag::Redefine(const std::string& keyText, const std::string& forText, const std::string& whileText,
                   uint32_t flags) {
    Tag fresh(file_, name_, keyText, forText, flags);  // checks the texts first
    keyText_ = keyText;
    forText_ = forText;
    flags_ = flags;
    key_ = std::move(fresh.key_);
    for_ = std::move(fresh.for_);
    keyLength_ = fresh.keyLength_;
    Build(whileText);
}

uint16_t Tag::keyType() const {
    switch (key_->type()) {
        case XValue::Type::Logical: return KIV_KEY_LOGICAL;
        case XValue::Type::Numeric: return KIV_KEY_NUMERIC;
        case XValue::Type::Date: return KIV_KEY_DATE;
        default: return KIV_KEY_CHARACTER;
    }
}

std::string Tag::Stored(std::string_view key) const {
    std::string out(key);
    if (descending())
        for (char& c : out) c = static_cast<char>(~static_cast<unsigned char>(c));
    return out;
}

bool Tag::KeyOf(const uint8_t* image, uint32_t recno, std::string& key) {
    ImageSource source(file_, image, recno);
    if (for_ && !for_->EvaluateLogical(source, true)) return false;
    key = Stored(key_->Key(source));
    return true;
}

uint32_t Tag::LowerBound(std::string_view key, uint32_t recno) const {
    uint32_t lo = 0, hi = Size();
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        int c = CompareKeys(KeyAt(mid).substr(0, key.size()), key);
        if (c == 0 && recno) c = recnos_[mid] < recno ? -1 : recnos_[mid] > recno ? 1 : 0;
        if (c < 0) lo = mid + 1;
        else hi = mid;
    }
    return lo;
}

uint32_t Tag::UpperBoundPrefix(std::string_view key) const {
    uint32_t lo = 0, hi = Size();
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (CompareKeys(KeyAt(mid).substr(0, key.size()), key) <= 0) lo = mid + 1;
        else hi = mid;
    }
    return lo;
}

uint32_t Tag::Find(std::string_view key, uint32_t recno) const {
    const uint32_t i = LowerBound(key, recno);
    if (i < Size() && recnos_[i] == recno && KeyAt(i) == key) return i;
    return Size();
}

void Tag::Insert(const std::string& key, uint32_t recno) {
    if (unique()) {
        const uint32_t first = LowerBound(key);
        if (first < Size() && KeyAt(first) == key) return;  // a unique order keeps the first record of a key
    }
    // Appends with growing keys go to the end without a search.
    uint32_t at;
    if (recnos_.empty() || CompareKeys(KeyAt(Size() - 1), key) < 0 ||
        (KeyAt(Size() - 1) == key && recnos_.back() < recno))
        at = Size();
    else
        at = LowerBound(key, recno);
    keys_.insert(static_cast<size_t>(at) * keyLength_, key);
    recnos_.insert(recnos_.begin() + at, recno);
    ++version_;
}

void Tag::Erase(const std::string& key, uint32_t recno) {
    const uint32_t at = Find(key, recno);
    if (at == Size()) return;
    keys_.erase(static_cast<size_t>(at) * keyLength_, keyLength_);
    recnos_.erase(recnos_.begin() + at);
    ++version_;
}

void Tag::EraseRecord(uint32_t recno) {
    const auto it = std::find(recnos_.begin(), recnos_.end(), recno);
    if (it == recnos_.end()) return;
    const size_t at = static_cast<size_t>(it - recnos_.begin());
    keys_.erase(at * keyLength_, keyLength_);
    recnos_.erase(it);
    ++version_;
}

void Tag::Clear() {
    keys_.clear();
    recnos_.clear();
    ++version_;
}

void Tag::Build(const std::string& whileText) {
    Clear();
    std::unique_ptr<Expression> whileExpr;
    if (!whileText.empty()) {
        ImageSource fields(file_, nullptr, 0);  // names only: no record
        whileExpr = Expression::Parse(whileText, fields);
    }
    const uint32_t count = file_.Count(true);
    const uint32_t len = file_.recordLength();
    std::vector<uint8_t> chunk(static_cast<size_t>(len) * 512);
    struct Entry {
        std::string key;
        uint32_t recno;
    };
    std::vector<Entry> entries;
    entries.reserve(count);
    std::string key;
    for (uint32_t first = 1; first <= count; first += 512) {
        const uint32_t n = file_.ReadRecords(first, std::min<uint32_t>(512, count - first + 1), chunk.data());
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t* image = &chunk[static_cast<size_t>(i) * len];
            if (whileExpr) {
                ImageSource source(file_, image, first + i);
                if (!whileExpr->EvaluateLogical(source, true)) {
                    first = count + 1;
                    break;
                }
            }
            // a record appended and not written yet gets its keys with its first write
            if (file_.AwaitsFirstWrite(first + i)) continue;
            if (KeyOf(image, first + i, key)) entries.push_back({key, first + i});
        }
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        const int c = CompareKeys(a.key, b.key);
        return c < 0 || (c == 0 && a.recno < b.recno);
    });
    keys_.reserve(entries.size() * keyLength_);
    recnos_.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        if (unique() && i && entries[i].key == entries[i - 1].key) continue;
        keys_ += entries[i].key;
        recnos_.push_back(entries[i].recno);
    }
}

// ------------------------------------------------------------ IndexFile

namespace {

constexpr char kMagic[4] = {'K', 'I', 'X', '1'};

void Put32(std::string& out, uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); }
void Put64(std::string& out, uint64_t v) { out.append(reinterpret_cast<const char*>(&v), 8); }
void PutText(std::string& out, const std::string& s) {
    Put32(out, static_cast<uint32_t>(s.size()));
    out += s;
}

class Reader {
public:
    explicit Reader(const std::string& data, const std::string& path) : data_(data), path_(path) {}
    uint32_t U32() { return Take<uint32_t>(); }
    uint64_t U64() { return Take<uint64_t>(); }
    std::string Text() {
        const uint32_t n = U32();
        return Bytes(n);
    }
    std::string Bytes(size_t n) {
        if (n > data_.size() - pos_) Damaged();
        std::string out = data_.substr(pos_, n);
        pos_ += n;
        return out;
    }

private:
    template <class T>
    T Take() {
        if (sizeof(T) > data_.size() - pos_) Damaged();
        T v;
        std::memcpy(&v, data_.data() + pos_, sizeof v);
        pos_ += sizeof v;
        return v;
    }
    [[noreturn]] void Damaged() { Throw(KIV_ERR_CORRUPT_FILE, "Index file " + path_ + " is damaged"); }
    const std::string& data_;
    const std::string& path_;
    size_t pos_ = 0;
};

uint64_t MtimeNs(const struct stat& st) {
    return static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000ULL + static_cast<uint64_t>(st.st_mtim.tv_nsec);
}

}  // namespace

std::string IndexFileOwner(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::string();
    // magic, version, change counter, size, time, count, tags, owner's length
    std::string head(40, '\0');
    std::string owner;
    if (::pread(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size()) &&
        head.compare(0, 4, kMagic, 4) == 0) {
        Reader in(head, path);
        in.Bytes(4);
        const uint32_t version = in.U32();
        in.Bytes(28);
        const uint32_t length = in.U32();
        if (version >= 3 && length < 4096) {
            owner.assign(length, '\0');
            if (::pread(fd, owner.data(), length, 40) != static_cast<ssize_t>(length)) owner.clear();
        }
    }
    ::close(fd);
    return owner;
}

bool IndexFileServes(const std::string& indexPath, const std::string& tablePath) {
    const std::string owner = IndexFileOwner(indexPath);
    return owner.empty() || EqualsNoCase(Extension(owner), Extension(FilePart(tablePath)));
}

IndexFile::IndexFile(IndexedTable& file, std::string path, bool create)
    : file_(file), path_(std::move(path)), multiTag_(!EqualsNoCase(Extension(path_), ".ntx")) {
    if (create) {
        dirty = true;
        return;
    }
    std::string data;
    {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) Throw(KIV_ERR_FILE_NOT_FOUND, "Index file " + path_ + " not found");
        char buf[65536];
        ssize_t r;
        while ((r = ::read(fd, buf, sizeof buf)) > 0) data.append(buf, static_cast<size_t>(r));
        ::close(fd);
    }
    Reader in(data, path_);
    if (in.Bytes(4) != std::string(kMagic, 4)) Throw(KIV_ERR_CORRUPT_FILE, path_ + " is not an index file");
    // Files of version 1 carry no change counter: their orders are built anew.
    const uint32_t version = in.U32();
    const bool counted = version >= 2;
    savedChanges = counted ? in.U32() : ~file_.indexedChanges();
    const uint64_t size = in.U64();
    const uint64_t mtime = in.U64();
    const uint32_t count = in.U32();
    const uint32_t tags = in.U32();
    if (version >= 3) in.Text();  // the table the file belongs to (IndexFileOwner)
    struct stat st;
    // Current only when no write of any process came after the file's save:
    // the table's change counter agrees, and (for other programs' writes)
    // so do its size, time and count.
    const bool current = counted && savedChanges == file_.indexedChanges() && file_.Stat(st) &&
                         static_cast<uint64_t>(st.st_size) == size && MtimeNs(st) == mtime &&
                         file_.Count(true) == count;
    for (uint32_t t = 0; t < tags; ++t) {
        const std::string name = in.Text();
        const std::string keyText = in.Text();
        const std::string forText = in.Text();
        const uint32_t flags = in.U32();
        const uint32_t keyLength = in.U32();
        const uint32_t entries = in.U32();
        auto tag = std::make_unique<Tag>(file_, name, keyText, forText, flags);
        if (current && keyLength == tag->keyLength_) {
            tag->keys_ = in.Bytes(static_cast<size_t>(entries) * keyLength);
            const std::string recnos = in.Bytes(static_cast<size_t>(entries) * 4);
            tag->recnos_.resize(entries);
            if (entries) std::memcpy(tag->recnos_.data(), recnos.data(), recnos.size());
        } else {
            in.Bytes(static_cast<size_t>(entries) * (static_cast<size_t>(keyLength) + 4));
            tag->Build();  // the table changed without this file
            dirty = true;
        }
        tags_.push_back(std::move(tag));
    }
}

Tag* IndexFile::FindTag(std::string_view name) {
    for (auto& t : tags_)
        if (EqualsNoCase(t->name(), name)) return t.get();
    return nullptr;
}

Tag* IndexFile::AddTag(const std::string& name, const std::string& keyText, const std::string& forText,
                       const std::string& whileText, uint32_t flags) {
    dirty = true;
    if (Tag* existing = FindTag(name)) {
        existing->Redefine(keyText, forText, whileText, flags);
        return existing;
    }
    auto tag = std::make_unique<Tag>(file_, name, keyText, forText, flags);
    tag->Build(whileText);
    if (!multiTag_ && !tags_.empty()) {
        // One order a file: the new definition takes the old order's place.
        tags_.front()->Redefine(keyText, forText, whileText, flags);
        return tags_.front().get();
    }
    tags_.push_back(std::move(tag));
    return tags_.back().get();
}

void IndexFile::Save(const struct stat& tableState, uint32_t changes) {
    std::string out(kMagic, 4);
    Put32(out, 3);
    Put32(out, changes);
    Put64(out, static_cast<uint64_t>(tableState.st_size));
    Put64(out, MtimeNs(tableState));
    Put32(out, file_.Count(false));
    Put32(out, static_cast<uint32_t>(tags_.size()));
    PutText(out, FilePart(file_.path()));
    for (const auto& t : tags_) {
        PutText(out, t->name_);
        PutText(out, t->keyText_);
        PutText(out, t->forText_);
        Put32(out, t->flags_);
        Put32(out, t->keyLength_);
        Put32(out, t->Size());
        out += t->keys_;
        out.append(reinterpret_cast<const char*>(t->recnos_.data()), t->recnos_.size() * 4);
    }
    const std::string temp = path_ + ".kivnew";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) Throw(KIV_ERR_IO, "Cannot write index file " + path_);
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t w = ::write(fd, out.data() + done, out.size() - done);
        if (w <= 0) {
            ::close(fd);
            ::unlink(temp.c_str());
            Throw(KIV_ERR_IO, "Cannot write index file " + path_);
        }
        done += static_cast<size_t>(w);
    }
    ::close(fd);
    if (::rename(temp.c_str(), path_.c_str()) != 0) {
        ::unlink(temp.c_str());
        Throw(KIV_ERR_IO, "Cannot replace index file " + path_);
    }
    dirty = false;
    savedChanges = changes;
}

}  // namespace qel32
