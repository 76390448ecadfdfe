// Rollback journals of transactions, so that a transaction cut short by a
// crash is undone and a committed one stays whole.
//
// Before a transaction first changes a stored record of a table it writes the
// record's stored bytes to the table's journal ("<table>-kivjournal-<pid>-<n>",
// beside the table); an appended record is noted before it is written. Each
// journal names the transaction's commit mark ("<first table>-kivtx-<pid>-<n>"),
// which lists the journals. Removing the mark is the commit; the journals go
// after it. The owning process keeps every one of these files locked while it
// lives: a journal nobody holds belongs to a process that died. The next open
// of the table undoes it when its mark still exists (the transaction never
// committed) and just removes it when the mark is gone.
//
// A table may hold the records a transaction appends in memory until the
// commit (TableFile::Append); their notes are written then, all at once,
// just before the records reach the file.
//
// Durability: a note reaches the disk, with the journal's and the mark's
// names in their folders, before the change it protects is written; the
// tables' data reaches it before the mark is removed, and the removal
// before the commit returns. An undo reaches the disk before its journals
// go.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qel32 {

class TableFile;

class Journal {
public:
    Journal() = default;
    // A journal left unfinished (the connection went without a commit) keeps
    // what was written, as the records themselves do.
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Notes the stored record before its first change in the transaction, or
    // a record just appended. Returns the journal's length before the note:
    // CutBack to it once the change is undone.
    off_t Note(const std::shared_ptr<TableFile>& file, uint32_t recno, bool appended);
    // The journal's length, for a record appended and held in memory: its
    // note comes with NoteAppends.
    off_t Length(const std::shared_ptr<TableFile>& file) { return PartFor(file).length; }
    // Notes the appended records first..last of a table that held them, in
    // one write, before they are written.
    void NoteAppends(const TableFile& file, uint32_t first, uint32_t last);
    void CutBack(const TableFile& file, off_t length);
    // A table holds appended or changed records of this transaction: they
    // are written at the commit and dropped when the transaction is undone.
    void Holding(std::shared_ptr<TableFile> file) {
        for (const auto& held : holding_)
            if (held == file) return;
        holding_.push_back(std::move(file));
    }
    // The transaction committed: the mark goes first, then the journals.
    void Commit();
    // Every change was undone: the journals go first, then the mark.
    void Discard();
    // An undo failed: the files stay, unlocked, for the next open to finish.
    void Abandon();

private:
    struct Part {
        std::shared_ptr<TableFile> file;
        std::string path;
        int fd = -1;
        off_t length = 0;
        bool durable = false;  // the journal's name and the mark are on disk
    };
    // Brings the part's notes (and, the first time, the names and the mark)
    // to the disk.
    void SyncPart(Part& part);
    Part& PartFor(const std::shared_ptr<TableFile>& file);
    void Finish(bool markFirst);
    // Ends the holding of appended records in every table: written or dropped.
    void EndHolding(bool keep);

    std::string markPath_;
    int markFd_ = -1;
    off_t markLength_ = 0;
    std::vector<Part> parts_;
    std::vector<std::shared_ptr<TableFile>> holding_;
};

// Undoes or removes the journals of dead processes beside a table just
// opened (a file this process may write). atOpen: the open's own reading
// of the folder serves (kivwin::FolderSnapshot); otherwise it is read anew.
void RecoverJournals(TableFile& file, bool atOpen = false);
// Whether any journal (of a living process or a dead one) lies beside the table.
bool JournalsBeside(const TableFile& file);

}  // namespace qel32
