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
    void CutBack(const TableFile& file, off_t length);
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
    };
    Part& PartFor(const std::shared_ptr<TableFile>& file);
    void Finish(bool markFirst);

    std::string markPath_;
    int markFd_ = -1;
    off_t markLength_ = 0;
    std::vector<Part> parts_;
};

// Undoes or removes the journals of dead processes beside a table just
// opened (a file this process may write).
void RecoverJournals(TableFile& file);

}  // namespace qel32
