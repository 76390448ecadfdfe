// Indexes: orders of a table's records by a key expression, kept in memory
// and maintained on every write, stored in index files of our own format.
//
// Files: ".ntx" holds one order (tables of type 1); ".cdx" and ".kdi" hold
// several tags (types 2 and 3). A table's production index (its stem with
// ".cdx" or ".kdi") opens with the table. A file records the state of the
// table it was written for (the change counter of its header, its size and
// time); when the table changed without it, by any process, its orders are
// built again from their expressions.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "expr.h"
#include "fields.h"

namespace qel32 {

// What the indexes read of their table (the table file is one): its fields
// and records, blob values, and the state an index file is saved for.
class IndexedTable {
public:
    virtual const std::string& path() const = 0;
    // The code page mark of a DBF table's header; 0 for other tables.
    virtual uint8_t codePage() const = 0;
    virtual uint16_t type() const = 0;
    virtual const std::vector<FieldDef>& fields() const = 0;
    virtual uint32_t recordLength() const = 0;
    // The record count; fresh re-reads it from the header (other processes).
    virtual uint32_t Count(bool fresh) = 0;
    // Reads n records starting at recno into out. Returns the number read.
    virtual uint32_t ReadRecords(uint32_t recno, uint32_t n, uint8_t* out) = 0;
    // Whether recno was appended and waits for its first write (its keys
    // come with that write).
    virtual bool AwaitsFirstWrite(uint32_t recno) = 0;
    virtual std::string ReadBlob(const FieldDef& f, const uint8_t* image) = 0;
    // The change counter the orders in memory agree with.
    virtual uint32_t indexedChanges() const = 0;
    // The table file's state, which an index file is saved with.
    virtual bool Stat(struct stat& st) const = 0;

protected:
    ~IndexedTable() = default;
};

// A record of a table as expressions read it: an image and the file its blob
// fields live in.
class ImageSource : public RecordSource {
public:
    ImageSource(IndexedTable& file, const uint8_t* image, uint32_t recno) : file_(file), image_(image), recno_(recno) {}
    int FieldIndex(std::string_view name) const override;
    const FieldDef& Field(int index) const override;
    Value FieldValue(int index) override;
    uint32_t RecordNumber() override { return recno_; }
    bool Deleted() override { return image_ && image_[0] == '*'; }
    void Reset(const uint8_t* image, uint32_t recno) {
        image_ = image;
        recno_ = recno;
    }

private:
    IndexedTable& file_;
    const uint8_t* image_;
    uint32_t recno_;
};

// One order: its definition and its sorted entries (key bytes, then the
// record number, so that equal keys keep record order).
class Tag {
public:
    Tag(IndexedTable& file, std::string name, std::string keyText, std::string forText, uint32_t flags);
    // Gives the order a new definition and builds it, keeping the object
    // (index handles refer to it).
    void Redefine(const std::string& keyText, const std::string& forText, const std::string& whileText,
                  uint32_t flags);
    const std::string& keyText() const { return keyText_; }

    const std::string& name() const { return name_; }
    const Expression& key() const { return *key_; }
    const Expression* condition() const { return for_.get(); }
    const std::string& forText() const { return forText_; }
    uint32_t flags() const { return flags_; }
    bool unique() const { return flags_ & KIV_INDEXFLAG_UNIQUE; }
    bool descending() const { return flags_ & KIV_INDEXFLAG_DESCENDING; }
    uint32_t keyLength() const { return keyLength_; }
    uint16_t keyType() const;

    // Entries, in order.
    uint32_t Size() const { return static_cast<uint32_t>(recnos_.size()); }
    uint32_t RecordAt(uint32_t i) const { return recnos_[i]; }
    std::string_view KeyAt(uint32_t i) const {
        return std::string_view(keys_.data() + static_cast<size_t>(i) * keyLength_, keyLength_);
    }
    // The stored key of a record image, or false when the record does not
    // belong in the order (its FOR condition is false).
    bool KeyOf(const uint8_t* image, uint32_t recno, std::string& key);
    // First entry at or after (key, recno); with recno 0 the first with key.
    uint32_t LowerBound(std::string_view key, uint32_t recno = 0) const;
    // First entry whose key is greater than key (compared on key's length).
    uint32_t UpperBoundPrefix(std::string_view key) const;
    // The entry of a record, or Size() when the order does not hold it.
    uint32_t Find(std::string_view key, uint32_t recno) const;

    void Insert(const std::string& key, uint32_t recno);
    void Erase(const std::string& key, uint32_t recno);
    // Takes out the entry of a record, whatever its key.
    void EraseRecord(uint32_t recno);
    void Clear();
    // Builds the order from every record of the file.
    void Build(const std::string& whileText = std::string());

    // Key bytes as stored for a key value (descending orders invert them).
    std::string Stored(std::string_view key) const;
    // Changes with every change of the entries.
    uint64_t version() const { return version_; }

private:
    friend class IndexFile;
    IndexedTable& file_;
    std::string name_;
    std::string keyText_;
    std::string forText_;
    uint32_t flags_;
    std::unique_ptr<Expression> key_;
    std::unique_ptr<Expression> for_;
    uint32_t keyLength_ = 0;
    std::string keys_;               // Size() keys of keyLength_ bytes
    std::vector<uint32_t> recnos_;
    uint64_t version_ = 1;
};

// The file name of the table an index file was written for; empty for a
// file written before index files named their table, or one not readable.
std::string IndexFileOwner(const std::string& path);
// Whether an index file may serve the table at tablePath: a file that names
// no table serves any table of its stem; one that names a table serves
// tables of that table's extension (a copy under another stem included).
bool IndexFileServes(const std::string& indexPath, const std::string& tablePath);

// One open index file of a table.
class IndexFile {
public:
    // Opens (rebuilding stale orders) or, with create, starts a new file.
    IndexFile(IndexedTable& file, std::string path, bool create);
    const std::string& path() const { return path_; }
    bool multiTag() const { return multiTag_; }
    std::vector<std::unique_ptr<Tag>>& tags() { return tags_; }
    Tag* FindTag(std::string_view name);
    // Adds (or replaces) an order and builds it.
    Tag* AddTag(const std::string& name, const std::string& keyText, const std::string& forText,
                const std::string& whileText, uint32_t flags);
    // Writes the file (to a new file renamed over the old one) for the table
    // in tableState whose change counter is changes.
    void Save(const struct stat& tableState, uint32_t changes);
    bool dirty = false;
    // The change counter the file on disk was written for.
    uint32_t savedChanges = 0;

private:
    IndexedTable& file_;
    std::string path_;
    bool multiTag_;
    std::vector<std::unique_ptr<Tag>> tags_;
};

}  // namespace qel32
