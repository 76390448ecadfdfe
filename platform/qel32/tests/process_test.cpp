// Several processes on one table: record locks, table locks and exclusive
// opens held in one process and met in another, and tables left behind by a
// process killed in the middle of its writes.
//
// Every helper process is forked while the parent has no table open, so no
// open file description (and so no byte-range lock) is shared between them.
// A child calls only the engine, talks through its socket and ends with _exit.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "qel32_test.h"
#include "system_support.h"

namespace {

using systest::TempDir;

bool SendAll(int fd, const void* data, size_t n) {
    const char* p = static_cast<const char*>(data);
    while (n) {
        const ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Waits up to a minute for data: a child that hangs fails the test, not CI.
bool RecvAll(int fd, void* data, size_t n) {
    char* p = static_cast<char*>(data);
    while (n) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 60000) <= 0) return false;
        const ssize_t r = ::recv(fd, p, n, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

// A forked process running body(socket); the parent keeps the other end.
class Child {
public:
    template <class Body>
    explicit Child(Body body) {
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(sv[0]);
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            body(sv[1]);
            ::_exit(0);
        }
        ::close(sv[1]);
        fd_ = sv[0];
    }
    ~Child() {
        Kill();
        if (fd_ >= 0) ::close(fd_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0 && fd_ >= 0; }
    int fd() const { return fd_; }

    // Kills the child with SIGKILL and reaps it; returns its wait status.
    int Kill() {
        if (pid_ > 0) ::kill(pid_, SIGKILL);
        return Wait();
    }

    // Waits for the child to end; returns its wait status.
    int Wait() {
        if (pid_ <= 0) return status_;
        while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return status_;
    }

    // What the child sent before it ended (after Kill).
    std::string Rest() {
        std::string out;
        char buf[512];
        ssize_t r;
        while ((r = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT)) > 0) out.append(buf, static_cast<size_t>(r));
        return out;
    }

private:
    pid_t pid_ = -1;
    int fd_ = -1;
    int status_ = 0;
};

// ------------------------------------------------------------------ peers

// What a peer does on request, one engine call (or a short sequence) each.
enum class Op : uint8_t {
    Open,          // arg: open options
    Close,
    LockRecord,    // arg: record number
    UnlockRecord,  // arg: record number
    LockTable,
    UnlockTable,
    Append,        // text: the NAME of the new record (which stays locked)
    AppendUnwritten,  // text: the NAME given to a new record not yet written
    Write,         // arg: record number, text: the new NAME
    Dump,          // the NAMEs of all records, each followed by '|'
    Begin,         // begins a transaction on the peer's connection
    Commit,
    Rollback,
    Move,          // arg: a number; moves 7 of BAL from record 1 to record 2, NOTE of record 1 := "p<arg>"
    WriteMany,     // arg: a number of writes of record 3, text: the NAME the last one leaves
    Die,           // not sent: the parent kills the peer
};

struct Reply {
    KIVRESULT code;
    std::string text;  // Dump's names, or the error text
};

KIVRESULT DoOp(KIVHANDLE conn, KIVHANDLE& t, Op op, uint32_t arg, const std::string& text, std::string& out) {
    const auto len = static_cast<uint32_t>(text.size());
    KIVRESULT rc = KIV_OK;
    switch (op) {
        case Op::Open:
            return KivOpenTable(conn, "shared", nullptr, KIV_TABLE_DEFAULT, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                KIV_RIGHTS_NO_CHECK, arg, &t);
        case Op::Close: return KivCloseTable(t);
        case Op::LockRecord: return KivLockRecord(t, arg);
        case Op::UnlockRecord: return KivUnlockRecord(t, arg);
        case Op::LockTable: return KivLockTable(t);
        case Op::UnlockTable: return KivUnlockTable(t);
        case Op::Append:
            if ((rc = KivAppendRecord(t)) || (rc = KivSetField(t, "NAME", text.data(), len))) return rc;
            return KivWriteRecord(t);
        case Op::AppendUnwritten:
            if ((rc = KivAppendRecord(t))) return rc;
            return KivSetField(t, "NAME", text.data(), len);
        case Op::Write:
            if ((rc = KivGotoRecord(t, arg)) || (rc = KivSetField(t, "NAME", text.data(), len))) return rc;
            return KivWriteRecord(t);
        case Op::Dump: {
            uint16_t eof = 0;
            for (rc = KivGotoTop(t); !rc && !(rc = KivAtEOF(t, &eof)) && !eof; rc = KivSkip(t, 1)) {
                std::string name;
                if ((rc = systest::GetText(t, "NAME", name))) return rc;
                out += name + "|";
            }
            return rc;
        }
        case Op::Begin: return KivBeginTransaction(conn);
        case Op::Commit: return KivCommitTransaction(conn);
        case Op::Rollback: return KivRollbackTransaction(conn);
        case Op::Move: {
            int32_t from = 0, to = 0;
            const std::string note = "p" + std::to_string(arg);
            if ((rc = KivLockRecord(t, 1)) || (rc = KivLockRecord(t, 2)) || (rc = KivGotoRecord(t, 1)) ||
                (rc = KivGetLong(t, "BAL", &from)) || (rc = KivSetLong(t, "BAL", from - 7)) ||
                (rc = KivSetField(t, "NOTE", note.data(), static_cast<uint32_t>(note.size()))) ||
                (rc = KivGotoRecord(t, 2)) || (rc = KivGetLong(t, "BAL", &to)) || (rc = KivSetLong(t, "BAL", to + 7)) ||
                (rc = KivWriteRecord(t)))
                return rc;
            return KivUnlockTable(t);
        }
        case Op::WriteMany:
            for (uint32_t i = 1; i <= arg && !rc; ++i) {
                const std::string name = i == arg ? text : "w" + std::to_string(i);
                if (!(rc = KivGotoRecord(t, 3)) &&
                    !(rc = KivSetField(t, "NAME", name.data(), static_cast<uint32_t>(name.size()))))
                    rc = KivWriteRecord(t);
            }
            return rc;
        case Op::Die: break;
    }
    return KIV_ERR_INVALID_ARGUMENT;
}

// A process with its own connection to dir that runs Ops for the parent.
class Peer {
public:
    explicit Peer(const std::string& dir)
        : child_([dir](int fd) {
              KIVHANDLE conn = 0, t = 0;
              const KIVRESULT connected = KivConnect(dir.c_str(), &conn);
              for (;;) {
                  uint8_t op;
                  uint32_t arg, len;
                  if (!RecvAll(fd, &op, 1) || !RecvAll(fd, &arg, 4) || !RecvAll(fd, &len, 4)) ::_exit(0);
                  std::string text(len, '\0');
                  if (len && !RecvAll(fd, text.data(), len)) ::_exit(0);
                  std::string out;
                  const KIVRESULT rc = connected ? connected : DoOp(conn, t, static_cast<Op>(op), arg, text, out);
                  if (rc) out = systest::LastError();
                  const auto outLen = static_cast<uint32_t>(out.size());
                  if (!SendAll(fd, &rc, 4) || !SendAll(fd, &outLen, 4) || !SendAll(fd, out.data(), outLen)) ::_exit(0);
              }
          }) {}

    Reply Call(Op op, uint32_t arg = 0, const std::string& text = {}) {
        if (op == Op::Die) {
            child_.Kill();
            return {KIV_OK, {}};
        }
        const uint8_t code = static_cast<uint8_t>(op);
        const auto len = static_cast<uint32_t>(text.size());
        Reply reply{0xFFFFFFFFu, "peer process gone"};
        uint32_t outLen = 0;
        if (!SendAll(child_.fd(), &code, 1) || !SendAll(child_.fd(), &arg, 4) || !SendAll(child_.fd(), &len, 4) ||
            !SendAll(child_.fd(), text.data(), len) || !RecvAll(child_.fd(), &reply.code, 4) ||
            !RecvAll(child_.fd(), &outLen, 4))
            return reply;
        reply.text.assign(outLen, '\0');
        if (outLen && !RecvAll(child_.fd(), reply.text.data(), outLen)) reply.text = "peer process gone";
        return reply;
    }

private:
    Child child_;
};

// Creates a table with the given NAMEs as its records, and closes it.
void CreateTable(const std::string& dir, const char* file, uint16_t type, const char* fields,
                 std::initializer_list<const char*> names = {}) {
    KIVHANDLE conn = 0, t = 0;
    SYS_ASSERT_OK(KivConnect(dir.c_str(), &conn));
    SYS_ASSERT_OK(KivCreateTable(conn, file, nullptr, type, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK,
                                 0, fields, &t));
    for (const char* name : names) {
        SYS_ASSERT_OK(KivAppendRecord(t));
        SYS_ASSERT_OK(KivSetField(t, "NAME", name, static_cast<uint32_t>(std::strlen(name))));
    }
    SYS_ASSERT_OK(KivCloseTable(t));
    SYS_ASSERT_OK(KivDisconnect(conn));
}

// The table the peers work on: "shared.dbf" with the records one, two, three.
void CreateSharedTable(const std::string& dir) {
    CreateTable(dir, "shared.dbf", KIV_TABLE_CDX, "NAME,C,20", {"one", "two", "three"});
}

#define PEER_OK(peer, ...)                             \
    do {                                               \
        const Reply r_ = (peer).Call(__VA_ARGS__);     \
        ASSERT_EQ(KIV_OK, r_.code) << r_.text;         \
    } while (0)

// ------------------------------------------------------------ lock contention

struct Step {
    Op op;
    uint32_t arg = 0;
    const char* text = "";
};

struct ContentionCase {
    const char* label;
    Step hold;           // the first process
    Step contend;        // the second process, while the first holds
    KIVRESULT whileHeld;
    Step release;        // the first process; afterwards the contender succeeds
};

void PrintTo(const ContentionCase& c, std::ostream* os) { *os << c.label; }

class LockContention : public ::testing::TestWithParam<ContentionCase> {};

TEST_P(LockContention, SecondProcessIsRefusedUntilTheFirstReleases) {
    const ContentionCase& c = GetParam();
    TempDir dir;
    CreateSharedTable(dir.path());
    Peer holder(dir.path()), contender(dir.path());
    PEER_OK(holder, Op::Open, KIV_OPEN_SHARED);
    PEER_OK(contender, Op::Open, KIV_OPEN_SHARED);
    PEER_OK(holder, c.hold.op, c.hold.arg, c.hold.text);

    const Reply before = holder.Call(Op::Dump);
    ASSERT_EQ(KIV_OK, before.code) << before.text;
    const Reply refused = contender.Call(c.contend.op, c.contend.arg, c.contend.text);
    EXPECT_EQ(c.whileHeld, refused.code) << refused.text;
    if (c.whileHeld != KIV_OK) {
        // A refused operation leaves the table as it was.
        const Reply after = holder.Call(Op::Dump);
        EXPECT_EQ(before.text, after.text);
    }

    PEER_OK(holder, c.release.op, c.release.arg, c.release.text);
    const Reply granted = contender.Call(c.contend.op, c.contend.arg, c.contend.text);
    EXPECT_EQ(KIV_OK, granted.code) << granted.text;
}

INSTANTIATE_TEST_SUITE_P(
    Process, LockContention,
    ::testing::Values(
        ContentionCase{"RecordAgainstSameRecord", {Op::LockRecord, 1}, {Op::LockRecord, 1}, KIV_ERR_RECORD_LOCKED,
                       {Op::UnlockRecord, 1}},
        ContentionCase{"RecordAgainstOtherRecord", {Op::LockRecord, 1}, {Op::LockRecord, 2}, KIV_OK,
                       {Op::UnlockRecord, 1}},
        ContentionCase{"RecordAgainstTable", {Op::LockRecord, 2}, {Op::LockTable}, KIV_ERR_TABLE_LOCKED,
                       {Op::UnlockRecord, 2}},
        ContentionCase{"RecordAgainstWrite", {Op::LockRecord, 1}, {Op::Write, 1, "changed"}, KIV_ERR_RECORD_LOCKED,
                       {Op::UnlockRecord, 1}},
        ContentionCase{"TableAgainstRecord", {Op::LockTable}, {Op::LockRecord, 3}, KIV_ERR_RECORD_LOCKED,
                       {Op::UnlockTable}},
        ContentionCase{"TableAgainstTable", {Op::LockTable}, {Op::LockTable}, KIV_ERR_TABLE_LOCKED, {Op::UnlockTable}},
        ContentionCase{"TableAgainstWrite", {Op::LockTable}, {Op::Write, 2, "changed"}, KIV_ERR_RECORD_LOCKED,
                       {Op::UnlockTable}},
        ContentionCase{"TableAgainstAppend", {Op::LockTable}, {Op::Append, 0, "late"}, KIV_ERR_TABLE_LOCKED,
                       {Op::UnlockTable}},
        ContentionCase{"AppendedRecordAgainstRecord", {Op::Append, 0, "four"}, {Op::LockRecord, 4},
                       KIV_ERR_RECORD_LOCKED, {Op::UnlockTable}},
        ContentionCase{"RecordReleasedByClose", {Op::LockRecord, 1}, {Op::LockRecord, 1}, KIV_ERR_RECORD_LOCKED,
                       {Op::Close}},
        ContentionCase{"TableReleasedByClose", {Op::LockTable}, {Op::LockTable}, KIV_ERR_TABLE_LOCKED, {Op::Close}},
        ContentionCase{"RecordReleasedByDeath", {Op::LockRecord, 1}, {Op::LockRecord, 1}, KIV_ERR_RECORD_LOCKED,
                       {Op::Die}},
        ContentionCase{"TableReleasedByDeath", {Op::LockTable}, {Op::LockRecord, 1}, KIV_ERR_RECORD_LOCKED,
                       {Op::Die}}),
    systest::CaseLabel<ContentionCase>);

TEST(TwoProcesses, SeeEachOthersWrites) {
    TempDir dir;
    CreateSharedTable(dir.path());
    Peer a(dir.path()), b(dir.path());
    PEER_OK(a, Op::Open, KIV_OPEN_SHARED);
    PEER_OK(b, Op::Open, KIV_OPEN_SHARED);

    PEER_OK(a, Op::LockRecord, 2);
    PEER_OK(a, Op::Write, 2, "from a");
    PEER_OK(a, Op::UnlockRecord, 2);
    PEER_OK(a, Op::Append, 0, "appended by a");
    EXPECT_EQ("one|from a|three|appended by a|", b.Call(Op::Dump).text);

    PEER_OK(a, Op::UnlockTable);
    PEER_OK(b, Op::Write, 4, "from b");
    PEER_OK(b, Op::Append, 0, "appended by b");
    EXPECT_EQ("one|from a|three|from b|appended by b|", a.Call(Op::Dump).text);
}

// A record a transaction changed stays locked against other processes until
// the transaction ends, however its handle let go of the lock meanwhile: its
// commit and its undo never land on another process's later change.
struct KeptLockCase {
    const char* label;
    bool ownLock;  // the writer locks and unlocks around its write
    Op end;        // Commit or Rollback
    const char* afterEnd;  // the record's NAME once the writer's transaction ended
};

void PrintTo(const KeptLockCase& c, std::ostream* os) { *os << c.label; }

class KeptLocks : public ::testing::TestWithParam<KeptLockCase> {};

TEST_P(KeptLocks, ChangedRecordIsLockedUntilTheTransactionEnds) {
    const KeptLockCase& c = GetParam();
    TempDir dir;
    CreateSharedTable(dir.path());
    Peer a(dir.path()), b(dir.path());
    PEER_OK(a, Op::Open, KIV_OPEN_SHARED);
    PEER_OK(b, Op::Open, KIV_OPEN_SHARED);
    PEER_OK(a, Op::Begin);
    if (c.ownLock) PEER_OK(a, Op::LockRecord, 1);
    PEER_OK(a, Op::Write, 1, "A");
    if (c.ownLock) PEER_OK(a, Op::UnlockRecord, 1);

    EXPECT_EQ(KIV_ERR_RECORD_LOCKED, b.Call(Op::LockRecord, 1).code);
    EXPECT_EQ(KIV_ERR_TABLE_LOCKED, b.Call(Op::LockTable).code);
    PEER_OK(b, Op::LockRecord, 2);  // the others stay free
    PEER_OK(b, Op::UnlockRecord, 2);
    PEER_OK(a, Op::LockRecord, 1);  // the transaction's own handle takes it again
    PEER_OK(a, Op::UnlockRecord, 1);

    PEER_OK(a, c.end);
    EXPECT_EQ(std::string(c.afterEnd) + "|two|three|", b.Call(Op::Dump).text);
    PEER_OK(b, Op::LockRecord, 1);
    PEER_OK(b, Op::Write, 1, "B-committed");
    PEER_OK(b, Op::UnlockRecord, 1);
    EXPECT_EQ("B-committed|two|three|", a.Call(Op::Dump).text);
    EXPECT_EQ("B-committed|two|three|", b.Call(Op::Dump).text);
    // A later transaction of the writer waits for the record again.
    PEER_OK(a, Op::Begin);
    PEER_OK(a, Op::Write, 2, "A-again");
    EXPECT_EQ(KIV_ERR_RECORD_LOCKED, b.Call(Op::LockRecord, 2).code);
    PEER_OK(a, Op::Commit);
    PEER_OK(b, Op::LockRecord, 2);
    EXPECT_EQ("B-committed|A-again|three|", b.Call(Op::Dump).text);
}

INSTANTIATE_TEST_SUITE_P(
    Process, KeptLocks,
    ::testing::Values(KeptLockCase{"WriteAloneThenCommit", false, Op::Commit, "A"},
                      KeptLockCase{"WriteAloneThenRollback", false, Op::Rollback, "one"},
                      KeptLockCase{"LockedWriteThenCommit", true, Op::Commit, "A"},
                      KeptLockCase{"LockedWriteThenRollback", true, Op::Rollback, "one"}),
    systest::CaseLabel<KeptLockCase>);

// A transaction's writer dies with a change written: the process that locks
// the record next finds it as it was before the transaction, and its own
// change then survives every later open, in every table type, with the
// order on the field following.
class DeadWriter : public ::testing::TestWithParam<uint16_t> {};

TEST_P(DeadWriter, ChangeMadeAfterItsDeathSurvivesTheNextOpen) {
    const uint16_t type = GetParam();
    TempDir dir;
    CreateTable(dir.path(), "shared", type, "NAME,C,20;NOTE,M", {"orig1", "orig2", "orig3"});
    {
        KIVHANDLE conn = 0, t = 0, ix = 0;
        SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
        SYS_ASSERT_OK(KivOpenTable(conn, "shared", nullptr, type, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                   KIV_RIGHTS_NO_CHECK, KIV_OPEN_EXCLUSIVE, &t));
        SYS_ASSERT_OK(KivCreateIndex(t, "byname", "BYNAME", "NAME", "", "", 0, &ix));
        SYS_ASSERT_OK(KivCloseTable(t));
        SYS_ASSERT_OK(KivDisconnect(conn));
    }
    Peer a(dir.path()), b(dir.path());
    PEER_OK(a, Op::Open, KIV_OPEN_SHARED);
    PEER_OK(b, Op::Open, KIV_OPEN_SHARED);
    PEER_OK(a, Op::Begin);
    PEER_OK(a, Op::LockRecord, 1);
    PEER_OK(a, Op::Write, 1, "A-uncommitted");
    EXPECT_EQ(KIV_ERR_RECORD_LOCKED, b.Call(Op::LockRecord, 1).code) << "while the writer lives";
    a.Call(Op::Die);

    PEER_OK(b, Op::LockRecord, 1);
    EXPECT_EQ("orig1|orig2|orig3|", b.Call(Op::Dump).text) << "the dead transaction is undone first";
    PEER_OK(b, Op::Write, 1, "B-committed");
    PEER_OK(b, Op::UnlockRecord, 1);

    KIVHANDLE conn = 0, t = 0, ix = 0;
    SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    SYS_ASSERT_OK(KivOpenTable(conn, "shared", nullptr, type, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                               KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t));
    EXPECT_EQ("B-committed|orig2|orig3|", b.Call(Op::Dump).text);
    std::string names;
    uint16_t eof = 0;
    for (KIVRESULT rc = KivGotoTop(t); rc == KIV_OK && KivAtEOF(t, &eof) == KIV_OK && !eof; rc = KivSkip(t, 1)) {
        std::string name;
        SYS_ASSERT_OK(systest::GetText(t, "NAME", name));
        names += name + "|";
    }
    EXPECT_EQ("B-committed|orig2|orig3|", names) << "in a process that opened the table after all";
    KIVHANDLE handles[8] = {};
    uint16_t count = 8;
    SYS_ASSERT_OK(KivOpenIndex(t, "byname", handles, &count));
    ASSERT_EQ(1, count);
    ix = handles[0];
    for (const auto& [key, found] : std::vector<std::pair<std::string, uint16_t>>{
             {"B-committed", 1}, {"A-uncommitted", 0}, {"orig1", 0}, {"orig2", 1}}) {
        uint16_t hit = 0;
        SYS_EXPECT_OK(KivSeek(ix, key.data(), static_cast<uint32_t>(key.size()), KIV_KEY_TEXT, KIV_SEEK_HARD, &hit));
        EXPECT_EQ(found, hit) << key;
    }
    SYS_EXPECT_OK(KivCloseTable(t));
    SYS_EXPECT_OK(KivDisconnect(conn));
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(std::string::npos, entry.path().filename().string().find("-kiv")) << entry.path();
}

INSTANTIATE_TEST_SUITE_P(Process, DeadWriter, ::testing::Values(KIV_TABLE_NTX, KIV_TABLE_CDX, KIV_TABLE_KDT),
                         [](const ::testing::TestParamInfo<uint16_t>& info) {
                             return std::string(info.param == KIV_TABLE_NTX   ? "Ntx"
                                                : info.param == KIV_TABLE_CDX ? "Cdx"
                                                                              : "Kdt");
                         });

// Read committed: while a transaction of another process is open, its change
// is seen by that process alone; other processes read the record as
// committed by field, through an order and through SQL, until the commit
// (and for good after a rollback or the writer's death).
struct ReadCommittedCase {
    const char* label;
    uint16_t type;
    Op end;  // Commit, Rollback or Die
};

void PrintTo(const ReadCommittedCase& c, std::ostream* os) { *os << c.label; }

class ReadCommitted : public ::testing::TestWithParam<ReadCommittedCase> {};

TEST_P(ReadCommitted, OthersSeeOnlyCommittedChanges) {
    const ReadCommittedCase& c = GetParam();
    TempDir dir;
    CreateTable(dir.path(), "shared", c.type, "NAME,C,20;NOTE,M", {"orig1", "orig2", "orig3"});
    Peer a(dir.path());  // (forked before this process opens the table)
    KIVHANDLE conn = 0, t = 0, st = 0;
    SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    SYS_ASSERT_OK(KivOpenTable(conn, "shared", nullptr, c.type, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                               KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t));
    KIVHANDLE ix = 0;
    SYS_ASSERT_OK(KivCreateIndex(t, "byname", "BYNAME", "NAME", "", "", 0, &ix));
    SYS_ASSERT_OK(KivCreateSQLStatement(conn, &st));
    auto names = [](KIVHANDLE h) {
        std::string out;
        uint16_t eof = 0;
        for (KIVRESULT rc = KivGotoTop(h); rc == KIV_OK && KivAtEOF(h, &eof) == KIV_OK && !eof; rc = KivSkip(h, 1)) {
            std::string name;
            EXPECT_EQ(KIV_OK, systest::GetText(h, "NAME", name)) << systest::LastError();
            out += name + "|";
        }
        return out;
    };
    auto sqlNames = [&] {
        KIVHANDLE cursor = 0;
        EXPECT_EQ(KIV_OK, KivExecuteSQLDirect(st, "SELECT NAME FROM shared", &cursor)) << systest::LastError();
        const std::string out = cursor ? names(cursor) : "<no cursor>";
        if (cursor) KivCloseTable(cursor);
        return out;
    };
    auto found = [&](const std::string& key) {
        uint16_t hit = 0;
        EXPECT_EQ(KIV_OK, KivSeek(ix, key.data(), static_cast<uint32_t>(key.size()), KIV_KEY_TEXT, KIV_SEEK_HARD, &hit))
            << systest::LastError();
        return hit != 0;
    };
    auto expectFirst = [&](const std::string& first, const std::string& gone, const char* when) {
        SCOPED_TRACE(when);
        const std::string all = first + "|orig2|orig3|";
        SYS_EXPECT_OK(KivGotoRecord(t, 1));
        std::string name;
        SYS_EXPECT_OK(systest::GetText(t, "NAME", name));
        EXPECT_EQ(first, name) << "by field";
        EXPECT_EQ(all, names(t)) << "record by record";
        EXPECT_TRUE(found(first)) << "by seek";
        EXPECT_FALSE(found(gone)) << "by seek";
        EXPECT_EQ(all, sqlNames()) << "through SQL";
    };

    PEER_OK(a, Op::Open, KIV_OPEN_SHARED);
    PEER_OK(a, Op::Begin);
    PEER_OK(a, Op::LockRecord, 1);
    PEER_OK(a, Op::Write, 1, "A-uncommitted");
    PEER_OK(a, Op::UnlockRecord, 1);
    EXPECT_EQ("A-uncommitted|orig2|orig3|", a.Call(Op::Dump).text) << "the writer sees its own change";
    expectFirst("orig1", "A-uncommitted", "while the transaction is open");
    EXPECT_EQ(KIV_ERR_RECORD_LOCKED, KivLockRecord(t, 1));

    PEER_OK(a, c.end);
    if (c.end == Op::Commit) expectFirst("A-uncommitted", "orig1", "after the commit");
    else expectFirst("orig1", "A-uncommitted", "after the transaction");
    SYS_EXPECT_OK(KivLockRecord(t, 1));
    SYS_EXPECT_OK(KivUnlockRecord(t, 1));
    SYS_EXPECT_OK(KivCloseSQLStatement(st));
    SYS_EXPECT_OK(KivCloseTable(t));
    SYS_EXPECT_OK(KivDisconnect(conn));
}

INSTANTIATE_TEST_SUITE_P(
    Process, ReadCommitted,
    ::testing::Values(ReadCommittedCase{"NtxCommit", KIV_TABLE_NTX, Op::Commit},
                      ReadCommittedCase{"CdxCommit", KIV_TABLE_CDX, Op::Commit},
                      ReadCommittedCase{"KdtCommit", KIV_TABLE_KDT, Op::Commit},
                      ReadCommittedCase{"NtxRollback", KIV_TABLE_NTX, Op::Rollback},
                      ReadCommittedCase{"CdxRollback", KIV_TABLE_CDX, Op::Rollback},
                      ReadCommittedCase{"KdtRollback", KIV_TABLE_KDT, Op::Rollback},
                      ReadCommittedCase{"NtxDeath", KIV_TABLE_NTX, Op::Die},
                      ReadCommittedCase{"CdxDeath", KIV_TABLE_CDX, Op::Die},
                      ReadCommittedCase{"KdtDeath", KIV_TABLE_KDT, Op::Die}),
    systest::CaseLabel<ReadCommittedCase>);

// A result of SQL read as its cursor moves, half read between calls: another
// process's transaction locks, changes and appends to the table it reads
// without waiting, and the rows read after hold only what was committed
// when they were read; an exclusive open elsewhere is refused while the
// result reads the table and taken once it has read it all. (A DBF table's
// result goes through SQL's values; one of the engine's own tables has its
// records copied.)
class HalfReadResult : public ::testing::TestWithParam<uint16_t> {};

TEST_P(HalfReadResult, HoldsNothingOtherProcessesWaitOn) {
    TempDir dir;
    constexpr uint32_t kRecords = 1000;
    {
        KIVHANDLE conn = 0, t = 0;
        SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
        SYS_ASSERT_OK(KivCreateTable(conn, "shared", nullptr, GetParam(), KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                     KIV_RIGHTS_NO_CHECK, 0, "NAME,C,20", &t));
        for (uint32_t i = 1; i <= kRecords; ++i) {
            const std::string name = "n" + std::to_string(i);
            SYS_ASSERT_OK(KivAppendRecord(t));
            SYS_ASSERT_OK(KivSetField(t, "NAME", name.data(), static_cast<uint32_t>(name.size())));
        }
        SYS_ASSERT_OK(KivCloseTable(t));
        SYS_ASSERT_OK(KivDisconnect(conn));
    }
    Peer a(dir.path());  // (forked before this process opens the table)
    Peer b(dir.path());
    KIVHANDLE conn = 0, st = 0;
    SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    SYS_ASSERT_OK(KivCreateSQLStatement(conn, &st));
    auto halfRead = [&] {
        KIVHANDLE cursor = 0;
        EXPECT_EQ(KIV_OK, KivExecuteSQLDirect(st, "SELECT NAME FROM shared", &cursor)) << systest::LastError();
        EXPECT_EQ(KIV_OK, KivSkip(cursor, 10)) << systest::LastError();
        return cursor;
    };
    auto rest = [](KIVHANDLE cursor) {
        std::string out;
        uint16_t eof = 0;
        uint32_t row = 0;
        for (KIVRESULT rc = KivGotoTop(cursor); rc == KIV_OK && KivAtEOF(cursor, &eof) == KIV_OK && !eof;
             rc = KivSkip(cursor, 1)) {
            std::string name;
            EXPECT_EQ(KIV_OK, systest::GetText(cursor, "NAME", name)) << systest::LastError();
            if (name != "n" + std::to_string(++row)) out += std::to_string(row) + "=" + name + "|";
        }
        return std::to_string(row) + " rows|" + out;
    };

    KIVHANDLE cursor = halfRead();
    EXPECT_EQ(KIV_ERR_SHARING, b.Call(Op::Open, KIV_OPEN_EXCLUSIVE).code) << "the result reads the table";
    EXPECT_EQ("1000 rows|", rest(cursor));
    PEER_OK(b, Op::Open, KIV_OPEN_EXCLUSIVE);  // the result has read it all
    PEER_OK(b, Op::Close);
    SYS_EXPECT_OK(KivCloseTable(cursor));

    cursor = halfRead();
    PEER_OK(a, Op::Open, KIV_OPEN_SHARED);
    PEER_OK(a, Op::Begin);
    PEER_OK(a, Op::LockRecord, 900);
    PEER_OK(a, Op::Write, 900, "uncommitted");
    PEER_OK(a, Op::Append, 0, "appended");
    EXPECT_EQ("1000 rows|", rest(cursor)) << "nothing uncommitted";
    SYS_EXPECT_OK(KivCloseTable(cursor));

    cursor = halfRead();
    PEER_OK(a, Op::Commit);
    EXPECT_EQ("1000 rows|900=uncommitted|", rest(cursor)) << "read after the commit";
    SYS_EXPECT_OK(KivCloseTable(cursor));
    cursor = halfRead();
    EXPECT_EQ("1001 rows|900=uncommitted|1001=appended|", rest(cursor));
    SYS_EXPECT_OK(KivCloseTable(cursor));
    SYS_EXPECT_OK(KivCloseSQLStatement(st));
    SYS_EXPECT_OK(KivDisconnect(conn));
}

INSTANTIATE_TEST_SUITE_P(Process, HalfReadResult, ::testing::Values(KIV_TABLE_CDX, KIV_TABLE_KDT),
                         [](const ::testing::TestParamInfo<uint16_t>& info) {
                             return info.param == KIV_TABLE_KDT ? std::string("Kdt") : std::string("Cdx");
                         });

// ------------------------------------------------------------ exclusive opens

struct SharingCase {
    const char* label;
    uint32_t first, second;  // open options of the two processes
    KIVRESULT expected;      // for the second while the first has the table open
    bool releaseByDeath;     // the first is killed rather than closing
};

void PrintTo(const SharingCase& c, std::ostream* os) { *os << c.label; }

class OpenSharing : public ::testing::TestWithParam<SharingCase> {};

TEST_P(OpenSharing, ExclusiveOpenShutsOutOtherProcesses) {
    const SharingCase& c = GetParam();
    TempDir dir;
    CreateSharedTable(dir.path());
    Peer first(dir.path()), second(dir.path());
    PEER_OK(first, Op::Open, c.first);
    const Reply opened = second.Call(Op::Open, c.second);
    EXPECT_EQ(c.expected, opened.code) << opened.text;
    if (opened.code == KIV_OK) return;
    PEER_OK(first, c.releaseByDeath ? Op::Die : Op::Close);
    PEER_OK(second, Op::Open, c.second);
    EXPECT_EQ("one|two|three|", second.Call(Op::Dump).text);
}

INSTANTIATE_TEST_SUITE_P(
    Process, OpenSharing,
    ::testing::Values(
        SharingCase{"ExclusiveThenShared", KIV_OPEN_EXCLUSIVE, KIV_OPEN_SHARED, KIV_ERR_SHARING, false},
        SharingCase{"ExclusiveThenExclusive", KIV_OPEN_EXCLUSIVE, KIV_OPEN_EXCLUSIVE, KIV_ERR_SHARING, false},
        SharingCase{"ExclusiveThenReadOnly", KIV_OPEN_EXCLUSIVE, KIV_OPEN_READ_ONLY, KIV_ERR_SHARING, false},
        SharingCase{"SharedThenExclusive", KIV_OPEN_SHARED, KIV_OPEN_EXCLUSIVE, KIV_ERR_SHARING, false},
        SharingCase{"ReadOnlyThenExclusive", KIV_OPEN_READ_ONLY, KIV_OPEN_EXCLUSIVE, KIV_ERR_SHARING, false},
        SharingCase{"ExclusiveHolderDies", KIV_OPEN_EXCLUSIVE, KIV_OPEN_SHARED, KIV_ERR_SHARING, true},
        SharingCase{"SharedThenShared", KIV_OPEN_SHARED, KIV_OPEN_SHARED, KIV_OK, false},
        SharingCase{"ReadOnlyThenShared", KIV_OPEN_READ_ONLY, KIV_OPEN_SHARED, KIV_OK, false}),
    systest::CaseLabel<SharingCase>);

// ------------------------------------------------------------ crash safety

// Every value carries its record number, so a reader can tell a value the
// writer could have stored from a torn or misplaced one.
std::string NameFor(uint32_t n) { return "rec" + std::to_string(n); }

std::string MemoFor(uint32_t n, uint32_t version) {
    if (n % 4 == 0) return "";  // every fourth record keeps an empty memo
    std::string text = "memo-" + std::to_string(n) + "-v" + std::to_string(version);
    // Now and then a memo of many blocks, so that kills land inside one.
    if ((n + version) % 50 == 0) text += "\n" + std::string(8000, static_cast<char>('a' + n % 26));
    return text;
}

struct CrashCase {
    const char* label;
    uint16_t tableType;
    const char* fields;    // NAME, VAL = 7 * record number, VER = times updated, NOTES = MemoFor(n, VER)
    uint32_t openOptions;  // of the writer
    const char* memoFile;
};

void PrintTo(const CrashCase& c, std::ostream* os) { *os << c.label; }

KIVRESULT SetText(KIVHANDLE t, const char* field, const std::string& text) {
    return KivSetField(t, field, text.data(), static_cast<uint32_t>(text.size()));
}

// Fills the current record as the writer does: NAME, VAL, VER and NOTES.
KIVRESULT FillRecord(KIVHANDLE t, uint32_t n, uint32_t version) {
    KIVRESULT rc;
    if ((rc = SetText(t, "NAME", NameFor(n))) || (rc = KivSetLong(t, "VAL", static_cast<int32_t>(n * 7))) ||
        (rc = KivSetLong(t, "VER", static_cast<int32_t>(version))) || (rc = SetText(t, "NOTES", MemoFor(n, version))))
        return rc;
    return KivWriteRecord(t);
}

// The writer: appends records and rewrites earlier ones, memos included,
// until it is killed. It reports 'R' once its first record is stored.
[[noreturn]] void WriteUntilKilled(int fd, const std::string& dir, const CrashCase& c) {
    auto fail = [fd](const char* what) {
        const std::string text = std::string(what) + ": " + systest::LastError();
        SendAll(fd, text.data(), text.size());
        ::_exit(3);
    };
    KIVHANDLE conn = 0, t = 0;
    uint32_t count = 0;
    if (KivConnect(dir.c_str(), &conn)) fail("KivConnect");
    if (KivOpenTable(conn, "crash", nullptr, c.tableType, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK,
                     c.openOptions, &t))
        fail("KivOpenTable");
    if (KivGetRecordCount(t, KIV_COUNT_IGNORE_FILTERS, &count)) fail("KivGetRecordCount");
    for (uint32_t n = count + 1; n <= count + 50000; ++n) {
        if (KivAppendRecord(t)) fail("KivAppendRecord");
        if (FillRecord(t, n, 0)) fail("writing a new record");
        if (n > 1) {
            const uint32_t k = 1 + (n * 7919u) % (n - 1);
            int32_t version = 0;
            if (KivGotoRecord(t, k) || KivGetLong(t, "VER", &version)) fail("reading an earlier record");
            if (FillRecord(t, k, static_cast<uint32_t>(version) + 1)) fail("rewriting an earlier record");
        }
        if (c.openOptions != KIV_OPEN_EXCLUSIVE && KivUnlockTable(t)) fail("KivUnlockTable");
        if (n == count + 1) SendAll(fd, "R", 1);
    }
    for (;;) ::pause();
}

struct MemoHeader {
    uint32_t nextFree = 0;
    uint32_t blockSize = 0;
};

MemoHeader ReadMemoHeader(const std::string& path, uint16_t tableType) {
    uint8_t h[32] = {};
    std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(h), sizeof h);
    auto le32 = [&](int at) { return uint32_t(h[at]) | uint32_t(h[at + 1]) << 8 | uint32_t(h[at + 2]) << 16 | uint32_t(h[at + 3]) << 24; };
    auto be32 = [&](int at) { return uint32_t(h[at]) << 24 | uint32_t(h[at + 1]) << 16 | uint32_t(h[at + 2]) << 8 | uint32_t(h[at + 3]); };
    switch (tableType) {
        case KIV_TABLE_NTX: return {le32(0), (le32(20) & 0xFFFF) ? (le32(20) & 0xFFFF) : 512};
        case KIV_TABLE_CDX: return {be32(0), uint32_t(h[6]) << 8 | h[7]};
        default: return {le32(0), le32(4)};
    }
}

// The memo block the current record's NOTES points at (0: none).
uint32_t MemoBlock(KIVHANDLE t, uint16_t tableType) {
    uint32_t offset = 0, len = 0;
    if (KivGetFieldOffset(t, "NOTES", &offset) || KivGetRecordLength(t, &len)) return 0;
    std::vector<uint8_t> image(len);
    if (KivGetRecord(t, image.data(), &len)) return 0;
    if (tableType == KIV_TABLE_KDT) {
        uint32_t block;
        std::memcpy(&block, &image[offset], 4);
        return block;
    }
    uint32_t block = 0;
    for (int i = 0; i < 10; ++i)
        if (image[offset + i] >= '0' && image[offset + i] <= '9') block = block * 10 + (image[offset + i] - '0');
    return block;
}

// Opens the table as a later user would and checks that the header's count
// agrees with the records: each one reads, and holds values the writer could
// have stored; none is blank. Returns the count.
uint32_t CheckTable(const std::string& dir, const CrashCase& c) {
    KIVHANDLE conn = 0, t = 0;
    uint32_t count = 0;
    EXPECT_EQ(KIV_OK, KivConnect(dir.c_str(), &conn));
    EXPECT_EQ(KIV_OK, KivOpenTable(conn, "crash", nullptr, c.tableType, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                   KIV_RIGHTS_NO_CHECK, KIV_OPEN_EXCLUSIVE, &t))
        << systest::LastError();
    EXPECT_EQ(KIV_OK, KivGetRecordCount(t, KIV_COUNT_IGNORE_FILTERS, &count)) << systest::LastError();
    const MemoHeader memo = ReadMemoHeader(dir + "/" + c.memoFile, c.tableType);
    EXPECT_GT(memo.blockSize, 0u);

    uint32_t seen = 0;
    uint16_t eof = 0;
    for (KIVRESULT rc = KivGotoTop(t); rc == KIV_OK && KivAtEOF(t, &eof) == KIV_OK && !eof; rc = KivSkip(t, 1)) {
        const uint32_t r = ++seen;
        uint32_t recno = 0;
        std::string name, val, ver, notes;
        SCOPED_TRACE("record " + std::to_string(r) + " of " + std::to_string(count));
        EXPECT_EQ(KIV_OK, KivGetRecordNum(t, 2, &recno));
        EXPECT_EQ(r, recno);
        const bool read = systest::GetText(t, "NAME", name) == KIV_OK && systest::GetText(t, "VAL", val) == KIV_OK &&
                          systest::GetText(t, "VER", ver) == KIV_OK && systest::GetText(t, "NOTES", notes) == KIV_OK;
        EXPECT_TRUE(read) << systest::LastError();
        if (!read) break;
        // Numeric fields of DBF tables come back right-aligned as stored.
        val.erase(0, val.find_first_not_of(' ') == std::string::npos ? val.size() : val.find_first_not_of(' '));
        ver.erase(0, ver.find_first_not_of(' ') == std::string::npos ? ver.size() : ver.find_first_not_of(' '));
        // An append killed before its values were written leaves nothing.
        EXPECT_FALSE(name.empty() && val.empty() && ver.empty() && notes.empty()) << "a blank record";
        EXPECT_EQ(NameFor(r), name);
        EXPECT_EQ(std::to_string(r * 7), val);
        uint32_t version = 0;
        EXPECT_NO_THROW(version = static_cast<uint32_t>(std::stoul(ver))) << "VER " << ver;
        EXPECT_EQ(MemoFor(r, version), notes);
        // The memo lies wholly below the memo file's next free block, so no
        // later write can take its blocks.
        const uint32_t block = MemoBlock(t, c.tableType);
        EXPECT_EQ(notes.empty(), block == 0) << "block " << block;
        if (block && memo.blockSize) {
            const uint64_t end = uint64_t(block) * memo.blockSize + 8 + notes.size();
            EXPECT_LE(end, uint64_t(memo.nextFree) * memo.blockSize) << "memo at block " << block << " past next free " << memo.nextFree;
        }
        if (::testing::Test::HasFailure()) break;
    }
    EXPECT_EQ(count, seen);
    EXPECT_EQ(KIV_ERR_NO_SUCH_RECORD, KivGotoRecord(t, count + 1)) << "a record past the count is visible";
    EXPECT_EQ(KIV_OK, KivCloseTable(t)) << systest::LastError();
    KivDisconnect(conn);
    return count;
}

class CrashSafety : public ::testing::TestWithParam<CrashCase> {};

TEST_P(CrashSafety, TableKilledMidWriteStaysReadableAndConsistent) {
    const CrashCase& c = GetParam();
    TempDir dir;
    CreateTable(dir.path(), "crash", c.tableType, c.fields);
    // Each writer goes on from the table its killed predecessor left.
    uint32_t previous = 0;
    for (const int delayMs : {0, 1, 5, 20, 50, 100}) {
        SCOPED_TRACE("killed " + std::to_string(delayMs) + " ms after its first record");
        Child writer([&](int fd) { WriteUntilKilled(fd, dir.path(), c); });
        ASSERT_TRUE(writer.started());
        char ready = 0;
        const bool started = RecvAll(writer.fd(), &ready, 1) && ready == 'R';
        if (started) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        const int status = writer.Kill();
        ASSERT_TRUE(started) << "writer failed: " << ready << writer.Rest();
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "writer ended early: " << writer.Rest();
        const uint32_t count = CheckTable(dir.path(), c);
        ASSERT_FALSE(::testing::Test::HasFailure());
        EXPECT_GT(count, previous);
        previous = count;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kill, CrashSafety,
    ::testing::Values(
        CrashCase{"NtxShared", KIV_TABLE_NTX, "NAME,C,20;VAL,N,10;VER,N,6;NOTES,M", KIV_OPEN_SHARED, "crash.dbt"},
        CrashCase{"NtxExclusive", KIV_TABLE_NTX, "NAME,C,20;VAL,N,10;VER,N,6;NOTES,M", KIV_OPEN_EXCLUSIVE, "crash.dbt"},
        CrashCase{"CdxShared", KIV_TABLE_CDX, "NAME,C,20;VAL,N,10;VER,N,6;NOTES,M", KIV_OPEN_SHARED, "crash.fpt"},
        CrashCase{"CdxExclusive", KIV_TABLE_CDX, "NAME,C,20;VAL,N,10;VER,N,6;NOTES,M", KIV_OPEN_EXCLUSIVE, "crash.fpt"},
        CrashCase{"KdtShared", KIV_TABLE_KDT, "NAME,CHAR,20;VAL,INTEGER;VER,INTEGER;NOTES,MEMO", KIV_OPEN_SHARED,
                  "crash.kdm"},
        CrashCase{"KdtExclusive", KIV_TABLE_KDT, "NAME,CHAR,20;VAL,INTEGER;VER,INTEGER;NOTES,MEMO",
                  KIV_OPEN_EXCLUSIVE, "crash.kdm"}),
    systest::CaseLabel<CrashCase>);

// A table opened read-only: when no process holds any lock, a lock attempt
// may be granted or refused as read-only, but never blamed on another user.
TEST(ReadOnlyOpener, LockIsNotBlamedOnAnotherUser) {
    TempDir dir;
    CreateSharedTable(dir.path());
    Peer reader(dir.path());
    PEER_OK(reader, Op::Open, KIV_OPEN_READ_ONLY);
    for (const Step& step : {Step{Op::LockRecord, 1}, Step{Op::LockTable}}) {
        const Reply r = reader.Call(step.op, step.arg);
        EXPECT_TRUE(r.code == KIV_OK || r.code == KIV_ERR_READ_ONLY) << r.text;
    }
}

// Two processes appending to one shared table at the same time: every record
// arrives once, with its own memo and, where the table has one, its own
// autoincrement value.
struct AppendCase {
    const char* label;
    uint16_t tableType;
    const char* fields;  // NAME, NOTES, and ID where the type has autoincrement fields
};

void PrintTo(const AppendCase& c, std::ostream* os) { *os << c.label; }

class ConcurrentAppends : public ::testing::TestWithParam<AppendCase> {};

std::string AppendedMemo(const std::string& name, int i) {
    return name + std::string(static_cast<size_t>(i % 700), '.') + " end";
}

TEST_P(ConcurrentAppends, EveryRecordArrivesOnce) {
    const AppendCase& c = GetParam();
    TempDir dir;
    CreateTable(dir.path(), "appends", c.tableType, c.fields);
    constexpr int kEach = 1000;
    auto writer = [&dir, &c](char tag) {
        return [&dir, &c, tag](int fd) {
            KIVHANDLE conn = 0, t = 0;
            char go = 0;
            KIVRESULT rc = KivConnect(dir.path().c_str(), &conn);
            if (!rc) rc = KivOpenTable(conn, "appends", nullptr, c.tableType, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                       KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t);
            RecvAll(fd, &go, 1);  // both start together
            for (int i = 0; i < kEach && !rc; ++i) {
                const std::string name = tag + std::to_string(i);
                if ((rc = KivAppendRecord(t)) || (rc = SetText(t, "NAME", name)) ||
                    (rc = SetText(t, "NOTES", AppendedMemo(name, i))) || (rc = KivWriteRecord(t)) ||
                    (rc = KivUnlockTable(t)))
                    break;
            }
            const std::string report = rc ? systest::LastError() : "D";
            SendAll(fd, report.data(), report.size());
        };
    };
    Child a(writer('a')), b(writer('b'));
    SendAll(a.fd(), "G", 1);
    SendAll(b.fd(), "G", 1);
    for (Child* child : {&a, &b}) {
        char done = 0;
        const bool finished = RecvAll(child->fd(), &done, 1) && done == 'D';
        EXPECT_TRUE(finished) << done << child->Rest();
        const int status = finished ? child->Wait() : child->Kill();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    KIVHANDLE conn = 0, t = 0;
    SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    SYS_ASSERT_OK(KivOpenTable(conn, "appends", nullptr, c.tableType, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                               KIV_RIGHTS_NO_CHECK, KIV_OPEN_EXCLUSIVE, &t));
    uint32_t count = 0;
    SYS_EXPECT_OK(KivGetRecordCount(t, KIV_COUNT_IGNORE_FILTERS, &count));
    EXPECT_EQ(2u * kEach, count);
    const bool autoinc = std::strstr(c.fields, "ID,") != nullptr;
    std::set<std::string> names, ids;
    uint16_t eof = 0;
    SYS_ASSERT_OK(KivGotoTop(t));
    for (; KivAtEOF(t, &eof) == KIV_OK && !eof; KivSkip(t, 1)) {
        std::string name, memo, id;
        SYS_ASSERT_OK(systest::GetText(t, "NAME", name));
        SYS_ASSERT_OK(systest::GetText(t, "NOTES", memo));
        EXPECT_EQ(AppendedMemo(name, std::stoi(name.substr(1))), memo);
        EXPECT_TRUE(names.insert(name).second) << name << " twice";
        if (autoinc) {
            SYS_ASSERT_OK(systest::GetText(t, "ID", id));
            EXPECT_TRUE(ids.insert(id).second) << "autoincrement value " << id << " twice";
        }
    }
    EXPECT_EQ(2u * kEach, names.size());
    SYS_EXPECT_OK(KivCloseTable(t));
    SYS_EXPECT_OK(KivDisconnect(conn));
}

INSTANTIATE_TEST_SUITE_P(Process, ConcurrentAppends,
                         ::testing::Values(AppendCase{"Ntx", KIV_TABLE_NTX, "NAME,C,20;NOTES,M"},
                                           AppendCase{"Cdx", KIV_TABLE_CDX, "NAME,C,20;NOTES,M"},
                                           AppendCase{"Kdt", KIV_TABLE_KDT, "ID,AUTOINC;NAME,CHAR,20;NOTES,MEMO"}),
                         systest::CaseLabel<AppendCase>);

// ------------------------------------------------------- shared index files

// Two processes append to one table with an index, each keeping the index in
// memory and writing it when it closes; afterwards every record is found by
// a seek: through a handle that stayed open all along and through a fresh
// open. With kill, one writer dies midway and never writes its index file.
struct IndexedAppendCase {
    const char* label;
    uint16_t tableType;
    const char* fields;
    const char* indexFile;  // the production index opens with the table; an .ntx by name
    bool kill;
};

void PrintTo(const IndexedAppendCase& c, std::ostream* os) { *os << c.label; }

class IndexedAppends : public ::testing::TestWithParam<IndexedAppendCase> {};

KIVRESULT OpenIndexed(const std::string& dir, const IndexedAppendCase& c, uint32_t options, KIVHANDLE& conn,
                      KIVHANDLE& t, KIVHANDLE& ix) {
    KIVRESULT rc = KivConnect(dir.c_str(), &conn);
    if (!rc) rc = KivOpenTable(conn, "indexed", nullptr, c.tableType, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                               KIV_RIGHTS_NO_CHECK, options, &t);
    if (!rc && c.tableType == KIV_TABLE_NTX) rc = KivOpenIndex(t, c.indexFile, nullptr, nullptr);
    if (!rc) rc = KivGetIndexHandle(t, "NAMES", &ix);
    return rc;
}

std::string IndexedName(char tag, int i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%c%05d", tag, i);
    return buf;
}

// Seeks every record of the table by its NAME; returns the names not found
// on their own record, and counts the records.
std::vector<std::string> LostSeeks(KIVHANDLE t, KIVHANDLE ix, uint32_t& records) {
    std::vector<std::pair<std::string, uint32_t>> all;
    uint16_t eof = 0;
    for (KivGotoTop(t); KivAtEOF(t, &eof) == KIV_OK && !eof; KivSkip(t, 1)) {
        std::string name;
        uint32_t recno = 0;
        if (systest::GetText(t, "NAME", name) || KivGetRecordNum(t, 2, &recno)) break;
        all.emplace_back(name, recno);
    }
    records = static_cast<uint32_t>(all.size());
    std::vector<std::string> lost;
    for (const auto& [name, recno] : all) {
        uint16_t found = 0;
        uint32_t at = 0;
        if (name.empty()) continue;  // appended, never written: a blank key
        if (KivSeek(ix, name.data(), static_cast<uint32_t>(name.size()), KIV_KEY_TEXT, KIV_SEEK_HARD, &found) ||
            !found || KivGetRecordNum(t, 2, &at) || at != recno)
            lost.push_back(name);
    }
    return lost;
}

TEST_P(IndexedAppends, EveryRecordIsFoundBySeek) {
    const IndexedAppendCase& c = GetParam();
    TempDir dir;
    {
        KIVHANDLE conn = 0, t = 0, ix = 0;
        SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
        SYS_ASSERT_OK(KivCreateTable(conn, "indexed", nullptr, c.tableType, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                     KIV_RIGHTS_NO_CHECK, 0, c.fields, &t));
        SYS_ASSERT_OK(KivCreateIndex(t, c.indexFile, "NAMES", "NAME", "", "", 0, &ix));
        SYS_ASSERT_OK(KivCloseTable(t));
        SYS_ASSERT_OK(KivDisconnect(conn));
    }
    constexpr int kEach = 5000;
    auto writer = [&dir, &c](char tag) {
        return [&dir, &c, tag](int fd) {
            KIVHANDLE conn = 0, t = 0, ix = 0;
            char go = 0;
            KIVRESULT rc = OpenIndexed(dir.path(), c, KIV_OPEN_SHARED, conn, t, ix);
            RecvAll(fd, &go, 1);  // both start together
            for (int i = 0; i < kEach && !rc; ++i) {
                if ((rc = KivAppendRecord(t)) || (rc = SetText(t, "NAME", IndexedName(tag, i))) ||
                    (rc = KivWriteRecord(t)) || (rc = KivUnlockTable(t)))
                    break;
                if (i == kEach / 2) SendAll(fd, "H", 1);  // halfway
            }
            if (!rc) rc = KivCloseTable(t);
            const std::string report = rc ? systest::LastError() : "D";
            SendAll(fd, report.data(), report.size());
        };
    };
    Child a(writer('a')), b(writer('b'));
    // Forked before the parent opens the table: this handle stays open while
    // the others write, and its order must follow their writes.
    KIVHANDLE conn = 0, t = 0, ix = 0;
    SYS_ASSERT_OK(OpenIndexed(dir.path(), c, KIV_OPEN_SHARED, conn, t, ix));
    SendAll(a.fd(), "G", 1);
    SendAll(b.fd(), "G", 1);
    char half = 0;
    ASSERT_TRUE(RecvAll(b.fd(), &half, 1) && half == 'H') << b.Rest();
    if (c.kill) {
        const int status = b.Kill();
        EXPECT_TRUE(WIFSIGNALED(status));
    }
    for (Child* child : {&a, &b}) {
        if (c.kill && child == &b) continue;
        char done = 'H';
        bool finished = true;
        while (finished && done == 'H') finished = RecvAll(child->fd(), &done, 1);
        finished = finished && done == 'D';
        EXPECT_TRUE(finished) << done << child->Rest();
        const int status = finished ? child->Wait() : child->Kill();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    uint32_t records = 0;
    EXPECT_EQ(std::vector<std::string>{}, LostSeeks(t, ix, records)) << "through the handle open all along";
    if (c.kill) EXPECT_GT(records, static_cast<uint32_t>(kEach + kEach / 2));
    else EXPECT_EQ(2u * kEach, records);
    SYS_EXPECT_OK(KivCloseTable(t));
    SYS_EXPECT_OK(KivDisconnect(conn));

    // The index file the last process left agrees with the table.
    for (uint32_t options : {KIV_OPEN_SHARED, KIV_OPEN_EXCLUSIVE}) {
        SYS_ASSERT_OK(OpenIndexed(dir.path(), c, options, conn, t, ix));
        uint32_t again = 0;
        EXPECT_EQ(std::vector<std::string>{}, LostSeeks(t, ix, again)) << "after a fresh open " << options;
        EXPECT_EQ(records, again);
        SYS_EXPECT_OK(KivCloseTable(t));
        SYS_EXPECT_OK(KivDisconnect(conn));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Process, IndexedAppends,
    ::testing::Values(IndexedAppendCase{"Ntx", KIV_TABLE_NTX, "NAME,C,20", "names.ntx", false},
                      IndexedAppendCase{"Cdx", KIV_TABLE_CDX, "NAME,C,20", "indexed.cdx", false},
                      IndexedAppendCase{"Kdt", KIV_TABLE_KDT, "NAME,CHAR,20", "indexed.kdi", false},
                      IndexedAppendCase{"NtxKilled", KIV_TABLE_NTX, "NAME,C,20", "names.ntx", true},
                      IndexedAppendCase{"CdxKilled", KIV_TABLE_CDX, "NAME,C,20", "indexed.cdx", true},
                      IndexedAppendCase{"KdtKilled", KIV_TABLE_KDT, "NAME,CHAR,20", "indexed.kdi", true}),
    systest::CaseLabel<IndexedAppendCase>);

// A writer in an exclusive open (its appends go through a mapping of the
// file, its indexes stay in memory) is killed: the next open finds the index
// file outdated by the table's change counter and every record by a seek.
TEST(ExclusiveWriterKilled, IndexFileFromBeforeIsNotTrusted) {
    for (const IndexedAppendCase& c : {IndexedAppendCase{"Ntx", KIV_TABLE_NTX, "NAME,C,20", "names.ntx", true},
                                       IndexedAppendCase{"Cdx", KIV_TABLE_CDX, "NAME,C,20", "indexed.cdx", true},
                                       IndexedAppendCase{"Kdt", KIV_TABLE_KDT, "NAME,CHAR,20", "indexed.kdi", true}}) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        KIVHANDLE conn = 0, t = 0, ix = 0;
        SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
        SYS_ASSERT_OK(KivCreateTable(conn, "indexed", nullptr, c.tableType, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                     KIV_RIGHTS_NO_CHECK, 0, c.fields, &t));
        SYS_ASSERT_OK(KivAppendRecord(t));
        SYS_ASSERT_OK(SetText(t, "NAME", "first"));
        SYS_ASSERT_OK(KivCreateIndex(t, c.indexFile, "NAMES", "NAME", "", "", 0, &ix));
        SYS_ASSERT_OK(KivCloseTable(t));
        SYS_ASSERT_OK(KivDisconnect(conn));
        Child writer([&dir, &c](int fd) {
            KIVHANDLE wconn = 0, wt = 0, wix = 0;
            KIVRESULT rc = OpenIndexed(dir.path(), c, KIV_OPEN_EXCLUSIVE, wconn, wt, wix);
            for (int i = 0; i < 2000 && !rc; ++i)
                if (!(rc = KivAppendRecord(wt)) && !(rc = SetText(wt, "NAME", IndexedName('x', i)))) rc = KivWriteRecord(wt);
            if (!rc && !(rc = KivGotoRecord(wt, 1)) && !(rc = SetText(wt, "NAME", "renamed"))) rc = KivWriteRecord(wt);
            const std::string report = rc ? systest::LastError() : "R";
            SendAll(fd, report.data(), report.size());
            for (;;) ::pause();
        });
        char ready = 0;
        const bool wrote = RecvAll(writer.fd(), &ready, 1) && ready == 'R';
        writer.Kill();
        ASSERT_TRUE(wrote) << ready << writer.Rest();
        for (uint32_t options : {KIV_OPEN_SHARED, KIV_OPEN_EXCLUSIVE}) {
            SYS_ASSERT_OK(OpenIndexed(dir.path(), c, options, conn, t, ix));
            uint32_t records = 0;
            EXPECT_EQ(std::vector<std::string>{}, LostSeeks(t, ix, records)) << options;
            EXPECT_EQ(2001u, records);
            uint16_t found = 1;
            SYS_EXPECT_OK(KivSeek(ix, "first", 5, KIV_KEY_TEXT, KIV_SEEK_HARD, &found));
            EXPECT_EQ(0, found) << "a key of a value the writer replaced";
            SYS_EXPECT_OK(KivCloseTable(t));
            SYS_EXPECT_OK(KivDisconnect(conn));
        }
    }
}

// A process's orders follow another process's writes, appends and commits
// by the records they changed, without building the orders again; they are
// built again when the change log does not reach back far enough. The log
// beside the table goes with the table's other files.
class OrderCatchUp : public ::testing::TestWithParam<IndexedAppendCase> {};

std::string ChangeLogIn(const std::string& dir) {
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name.size() > 7 && name.compare(name.size() - 7, 7, ".kivchg") == 0) return e.path().string();
    }
    return "";
}

TEST_P(OrderCatchUp, OrdersFollowTheChangedRecordsOnly) {
    const IndexedAppendCase& c = GetParam();
    TempDir dir;
    CreateTable(dir.path(), "shared", c.tableType, c.fields, {"orig1", "orig2", "orig3", "orig4", "orig5"});
    Peer a(dir.path());
    KIVHANDLE conn = 0, t = 0, ix = 0;
    SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    SYS_ASSERT_OK(KivOpenTable(conn, "shared", nullptr, c.tableType, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                               KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t));
    SYS_ASSERT_OK(KivCreateIndex(t, "byname", "BYNAME", "NAME", "", "", 0, &ix));
    auto found = [&](const std::string& key) {
        uint16_t hit = 0;
        EXPECT_EQ(KIV_OK, KivSeek(ix, key.data(), static_cast<uint32_t>(key.size()), KIV_KEY_TEXT, KIV_SEEK_HARD, &hit))
            << systest::LastError();
        return hit != 0;
    };
    auto expectExact = [&](uint32_t records, std::initializer_list<const char*> gone, const char* when) {
        SCOPED_TRACE(when);
        uint32_t counted = 0;
        EXPECT_EQ(std::vector<std::string>{}, LostSeeks(t, ix, counted));
        EXPECT_EQ(records, counted);
        for (const char* key : gone) EXPECT_FALSE(found(key)) << key;
        uint32_t keys = 0;
        uint16_t eof = 0;
        for (KIVRESULT rc = KivGotoTop(ix); rc == KIV_OK && KivAtEOF(ix, &eof) == KIV_OK && !eof; rc = KivSkip(ix, 1))
            ++keys;
        EXPECT_EQ(records, keys) << "one key per record";
    };

    PEER_OK(a, Op::Open, KIV_OPEN_SHARED);
    PEER_OK(a, Op::Write, 1, "first change");
    expectExact(5, {"orig1"}, "after the first change");
    ASSERT_NE("", ChangeLogIn(dir.path())) << "the writer keeps a change log";

    uint64_t rebuilds = KivTestOrderRebuilds();
    uint64_t caughtUp = KivTestRecordsCaughtUp();
    PEER_OK(a, Op::Write, 2, "Zoë Müller");
    PEER_OK(a, Op::Write, 4, "Ångström");
    PEER_OK(a, Op::Write, 2, "Zoë Müller-Lüdenscheid");
    PEER_OK(a, Op::Append, 0, "ängel");
    expectExact(6, {"orig2", "orig4", "Zoë Müller "}, "after writes and an append");
    EXPECT_EQ(rebuilds, KivTestOrderRebuilds()) << "caught up without a rebuild";
    EXPECT_EQ(caughtUp + 3, KivTestRecordsCaughtUp()) << "records 2, 4 and 6";

    caughtUp = KivTestRecordsCaughtUp();
    PEER_OK(a, Op::Begin);
    PEER_OK(a, Op::Write, 3, "tx three");
    PEER_OK(a, Op::Write, 5, "tx five");
    PEER_OK(a, Op::Append, 0, "tx seven");
    expectExact(6, {"tx three", "tx five", "tx seven"}, "while the transaction is open");
    PEER_OK(a, Op::Commit);
    expectExact(7, {"orig3", "orig5"}, "after the commit");
    EXPECT_EQ(rebuilds, KivTestOrderRebuilds()) << "caught up without a rebuild";
    EXPECT_EQ(caughtUp + 3, KivTestRecordsCaughtUp()) << "records 3, 5 and 7";

    PEER_OK(a, Op::WriteMany, 5000, "many");
    expectExact(7, {"tx three", "w4999"}, "after more changes than the log keeps");
    EXPECT_TRUE(found("many"));
    EXPECT_EQ(rebuilds + 1, KivTestOrderRebuilds()) << "the log no longer reached back";

    PEER_OK(a, Op::Close);
    SYS_EXPECT_OK(KivCloseTable(t));
    SYS_EXPECT_OK(KivDisconnect(conn));
}

TEST_P(OrderCatchUp, ChangeLogGoesWithZapPackAndDrop) {
    const IndexedAppendCase& c = GetParam();
    TempDir dir;
    CreateTable(dir.path(), "shared", c.tableType, c.fields, {"one", "two"});
    KIVHANDLE conn = 0, t = 0, st = 0;
    SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    auto open = [&](uint32_t options) {
        SYS_ASSERT_OK(KivOpenTable(conn, "shared", nullptr, c.tableType, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                   KIV_RIGHTS_NO_CHECK, options, &t));
    };
    auto sharedWrite = [&] {
        open(KIV_OPEN_SHARED);
        SYS_ASSERT_OK(KivAppendRecord(t));
        SYS_ASSERT_OK(KivSetField(t, "NAME", "three", 5));
        SYS_ASSERT_OK(KivWriteRecord(t));
        SYS_ASSERT_OK(KivCloseTable(t));
        ASSERT_NE("", ChangeLogIn(dir.path()));
    };
    sharedWrite();
    open(KIV_OPEN_EXCLUSIVE);
    SYS_ASSERT_OK(KivZapTable(t));
    EXPECT_EQ("", ChangeLogIn(dir.path())) << "zap";
    SYS_ASSERT_OK(KivCloseTable(t));

    sharedWrite();
    open(KIV_OPEN_EXCLUSIVE);
    SYS_ASSERT_OK(KivPackTable(t));
    EXPECT_EQ("", ChangeLogIn(dir.path())) << "pack";
    SYS_ASSERT_OK(KivCloseTable(t));

    sharedWrite();
    SYS_ASSERT_OK(KivCreateSQLStatement(conn, &st));
    KIVHANDLE cursor = 0;
    SYS_ASSERT_OK(KivExecuteSQLDirect(st, "DROP TABLE shared", &cursor));
    if (cursor) KivCloseTable(cursor);
    EXPECT_EQ("", ChangeLogIn(dir.path())) << "drop";
    SYS_EXPECT_OK(KivCloseSQLStatement(st));
    SYS_EXPECT_OK(KivDisconnect(conn));
}

INSTANTIATE_TEST_SUITE_P(Process, OrderCatchUp,
                         ::testing::Values(IndexedAppendCase{"Ntx", KIV_TABLE_NTX, "NAME,C,30", "", false},
                                           IndexedAppendCase{"Cdx", KIV_TABLE_CDX, "NAME,C,30", "", false},
                                           IndexedAppendCase{"Kdt", KIV_TABLE_KDT, "NAME,CHAR,30", "", false}),
                         systest::CaseLabel<IndexedAppendCase>);

// ------------------------------------------------------------ unwritten appends

// A record appended in a shared open reaches other processes only with its
// values; one whose writer dies never does, and its number goes to the next.
TEST(UnwrittenAppend, IsSeenByOthersOnlyWithItsValues) {
    TempDir dir;
    CreateSharedTable(dir.path());
    Peer writer(dir.path()), reader(dir.path());
    PEER_OK(writer, Op::Open, KIV_OPEN_SHARED);
    PEER_OK(reader, Op::Open, KIV_OPEN_SHARED);

    PEER_OK(writer, Op::AppendUnwritten, 0, "pending");
    EXPECT_EQ("one|two|three|", reader.Call(Op::Dump).text);
    PEER_OK(writer, Op::UnlockTable);  // writes it
    EXPECT_EQ("one|two|three|pending|", reader.Call(Op::Dump).text);

    PEER_OK(writer, Op::AppendUnwritten, 0, "lost");
    EXPECT_EQ("one|two|three|pending|", reader.Call(Op::Dump).text);
    writer.Call(Op::Die);
    EXPECT_EQ("one|two|three|pending|", reader.Call(Op::Dump).text);
    PEER_OK(reader, Op::Append, 0, "after");
    EXPECT_EQ("one|two|three|pending|after|", reader.Call(Op::Dump).text);
}

// ------------------------------------------------------------ read-ahead

// A shared open reads records ahead as an exclusive one does, and still
// gives each record as another process last wrote it.
TEST(SharedReadAhead, SeesWhatAnotherProcessWrote) {
    TempDir dir;
    CreateSharedTable(dir.path());
    Peer writer(dir.path());
    PEER_OK(writer, Op::Open, KIV_OPEN_SHARED);
    KIVHANDLE conn = 0, t = 0;
    SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    SYS_ASSERT_OK(KivOpenTable(conn, "shared", nullptr, KIV_TABLE_DEFAULT, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                               KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t));
    auto name = [&t] {
        std::string text;
        EXPECT_EQ(KIV_OK, systest::GetText(t, "NAME", text)) << systest::LastError();
        return text;
    };
    SYS_ASSERT_OK(KivGotoTop(t));  // reads the records after the first too
    EXPECT_EQ("one", name());
    PEER_OK(writer, Op::Write, 2, "two again");
    SYS_ASSERT_OK(KivSkip(t, 1));
    EXPECT_EQ("two again", name());
    PEER_OK(writer, Op::Write, 1, "one again");
    PEER_OK(writer, Op::Append, 0, "four");
    SYS_ASSERT_OK(KivSkip(t, -1));
    EXPECT_EQ("one again", name());
    SYS_ASSERT_OK(KivSkip(t, 3));
    EXPECT_EQ("four", name());
    SYS_EXPECT_OK(KivCloseTable(t));
    SYS_EXPECT_OK(KivDisconnect(conn));
}

// ------------------------------------------------------------ transactions

// SQL transaction statements are the connection's transactions: what a
// rollback undid is gone for another process too, what a commit wrote stays.
TEST(SqlTransaction, RollbackUndoesAndCommitKeepsForOtherProcesses) {
    TempDir dir;
    CreateSharedTable(dir.path());
    Peer other(dir.path());
    PEER_OK(other, Op::Open, KIV_OPEN_SHARED);
    KIVHANDLE conn = 0, st = 0;
    SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    SYS_ASSERT_OK(KivCreateSQLStatement(conn, &st));
    auto sql = [&](const char* text) { return KivExecuteSQLDirect(st, text, nullptr); };
    for (const char* form : {"BEGIN", "BEGIN TRANSACTION"}) {
        SCOPED_TRACE(form);
        SYS_ASSERT_OK(sql(form));
        SYS_ASSERT_OK(sql("INSERT INTO shared (NAME) VALUES ('four')"));
        SYS_ASSERT_OK(sql("UPDATE shared SET NAME = 'changed' WHERE NAME = 'one'"));
        SYS_ASSERT_OK(sql("DELETE FROM shared WHERE NAME = 'two'"));
        uint16_t open = 0;
        SYS_ASSERT_OK(KivInTransaction(conn, &open));
        EXPECT_EQ(1, open);
        SYS_ASSERT_OK(sql("ROLLBACK"));
        SYS_ASSERT_OK(KivInTransaction(conn, &open));
        EXPECT_EQ(0, open);
        EXPECT_EQ("one|two|three|", other.Call(Op::Dump).text);
    }
    SYS_ASSERT_OK(sql("BEGIN"));
    SYS_ASSERT_OK(sql("INSERT INTO shared (NAME) VALUES ('four')"));
    SYS_ASSERT_OK(sql("COMMIT"));
    EXPECT_EQ("one|two|three|four|", other.Call(Op::Dump).text);
    // The engine's calls end a transaction SQL began, and the other way round.
    SYS_ASSERT_OK(sql("BEGIN"));
    SYS_ASSERT_OK(sql("INSERT INTO shared (NAME) VALUES ('five')"));
    SYS_ASSERT_OK(KivRollbackTransaction(conn));
    SYS_ASSERT_OK(KivBeginTransaction(conn));
    SYS_ASSERT_OK(sql("INSERT INTO shared (NAME) VALUES ('six')"));
    SYS_ASSERT_OK(sql("BEGIN"));
    SYS_ASSERT_OK(sql("INSERT INTO shared (NAME) VALUES ('seven')"));
    SYS_ASSERT_OK(sql("ROLLBACK"));
    EXPECT_EQ("one|two|three|four|", other.Call(Op::Dump).text);
    EXPECT_NE(KIV_OK, sql("COMMIT"));  // none is open
    // Savepoints, and the one around a statement that fails half done.
    SYS_ASSERT_OK(sql("BEGIN"));
    SYS_ASSERT_OK(sql("INSERT INTO shared (NAME) VALUES ('kept')"));
    SYS_ASSERT_OK(sql("SAVEPOINT s1"));
    SYS_ASSERT_OK(sql("INSERT INTO shared (NAME) VALUES ('undone')"));
    SYS_ASSERT_OK(sql("UPDATE shared SET NAME = 'undone too' WHERE NAME = 'one'"));
    SYS_ASSERT_OK(sql("ROLLBACK TO SAVEPOINT s1"));
    SYS_ASSERT_OK(sql("INSERT INTO shared (NAME) VALUES ('after')"));
    SYS_ASSERT_OK(sql("RELEASE s1"));
    EXPECT_NE(KIV_OK, sql("INSERT INTO shared (NAME) VALUES ('half'), ('a name longer than twenty characters')"));
    SYS_ASSERT_OK(sql("COMMIT"));
    EXPECT_EQ("one|two|three|four|kept|after|", other.Call(Op::Dump).text);
    SYS_EXPECT_OK(KivCloseSQLStatement(st));
    SYS_EXPECT_OK(KivDisconnect(conn));
}

// Records a transaction appends reach the file at its commit: other
// processes see none of them before, their appends wait for the commit and
// come after, and their table locks are refused meanwhile. A writer that
// dies holding appends leaves nothing behind, and the records appended
// after it keep their numbers through the next open's recovery.
TEST(HeldAppends, ReachOtherProcessesWholeAtTheCommit) {
    TempDir dir;
    CreateSharedTable(dir.path());
    Peer writer(dir.path()), other(dir.path());
    PEER_OK(writer, Op::Open, KIV_OPEN_SHARED);
    PEER_OK(other, Op::Open, KIV_OPEN_SHARED);
    PEER_OK(writer, Op::Begin);
    PEER_OK(writer, Op::Append, 0, "four");
    PEER_OK(writer, Op::Append, 0, "five");
    EXPECT_EQ("one|two|three|", other.Call(Op::Dump).text);
    EXPECT_EQ(KIV_ERR_TABLE_LOCKED, other.Call(Op::LockTable).code);
    Reply waited;
    std::thread append([&] { waited = other.Call(Op::Append, 0, "six"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    PEER_OK(writer, Op::Commit);
    append.join();
    ASSERT_EQ(KIV_OK, waited.code) << waited.text;
    PEER_OK(other, Op::UnlockTable);
    PEER_OK(writer, Op::UnlockTable);
    EXPECT_EQ("one|two|three|four|five|six|", other.Call(Op::Dump).text);

    PEER_OK(writer, Op::Begin);
    PEER_OK(writer, Op::Append, 0, "undone");
    PEER_OK(writer, Op::Rollback);
    PEER_OK(writer, Op::Begin);
    PEER_OK(writer, Op::Append, 0, "lost");
    PEER_OK(writer, Op::Append, 0, "lost too");
    writer.Call(Op::Die);
    PEER_OK(other, Op::Append, 0, "seven");
    PEER_OK(other, Op::Close);
    Peer next(dir.path());
    PEER_OK(next, Op::Open, KIV_OPEN_SHARED);  // finishes the dead writer's journal
    EXPECT_EQ("one|two|three|four|five|six|seven|", next.Call(Op::Dump).text);
    PEER_OK(next, Op::Close);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(std::string::npos, entry.path().filename().string().find("-kiv")) << entry.path();
}

// A transaction whose process died is undone by the next open, without the
// indexes: the undo moves the change counter, so that an order another
// process holds in memory and the index file on disk both follow it.
TEST(DeadTransaction, UndoneAtTheNextOpenWithEveryIndexFollowing) {
    TempDir dir;
    {
        KIVHANDLE conn = 0, t = 0, ix = 0;
        SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
        SYS_ASSERT_OK(KivCreateTable(conn, "shared.dbf", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                     KIV_RIGHTS_NO_CHECK, 0, "NAME,C,20", &t));
        for (const char* name : {"one", "two", "three"}) {
            SYS_ASSERT_OK(KivAppendRecord(t));
            SYS_ASSERT_OK(KivSetField(t, "NAME", name, static_cast<uint32_t>(std::strlen(name))));
        }
        SYS_ASSERT_OK(KivCreateIndex(t, "shared.cdx", "NAMES", "NAME", "", "", 0, &ix));
        SYS_ASSERT_OK(KivCloseTable(t));
        SYS_ASSERT_OK(KivDisconnect(conn));
    }
    Peer writer(dir.path()), next(dir.path());
    KIVHANDLE conn = 0, t = 0, ix = 0;
    auto open = [&] {
        SYS_ASSERT_OK(KivOpenTable(conn, "shared", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                   KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t));
        SYS_ASSERT_OK(KivGetIndexHandle(t, "NAMES", &ix));
    };
    // The record a seek finds, 0 for none.
    auto seek = [&](const std::string& name) -> uint32_t {
        uint16_t found = 0;
        uint32_t recno = 0;
        EXPECT_EQ(KIV_OK, KivSeek(ix, name.data(), static_cast<uint32_t>(name.size()), KIV_KEY_TEXT, KIV_SEEK_HARD,
                                  &found)) << systest::LastError();
        if (found) {
            EXPECT_EQ(KIV_OK, KivGetRecordNum(t, 2, &recno));
        }
        return recno;
    };
    SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    open();
    PEER_OK(writer, Op::Open, KIV_OPEN_SHARED);
    PEER_OK(writer, Op::Begin);
    PEER_OK(writer, Op::Write, 1, "changed");
    // While the writer lives its change is its own: the order here holds
    // the record as committed.
    EXPECT_EQ(0u, seek("changed"));
    EXPECT_EQ(1u, seek("one"));
    writer.Call(Op::Die);
    PEER_OK(next, Op::Open, KIV_OPEN_SHARED);  // undoes the dead writer's change
    EXPECT_EQ("one|two|three|", next.Call(Op::Dump).text);
    EXPECT_EQ(1u, seek("one")) << "in the order held all along";
    EXPECT_EQ(0u, seek("changed")) << "in the order held all along";
    SYS_ASSERT_OK(KivCloseTable(t));
    PEER_OK(next, Op::Close);
    open();
    EXPECT_EQ(1u, seek("one")) << "after a fresh open";
    EXPECT_EQ(0u, seek("changed")) << "after a fresh open";
    SYS_EXPECT_OK(KivCloseTable(t));
    SYS_EXPECT_OK(KivDisconnect(conn));
}

// A writer that commits transactions of 20 appends (to one table, or half to
// each of two), one after another, and is killed at some moment. After it, every transaction it reported as
// committed is whole, and any other is whole or gone.
struct TransactionKillCase {
    const char* label;
    uint16_t tableType;
    const char* fields;  // BATCH and SEQ, numbers
    bool sql;            // BEGIN / INSERT / COMMIT instead of the engine's calls
    bool twoTables;      // even SEQs go to a second table, "halves"
};

void PrintTo(const TransactionKillCase& c, std::ostream* os) { *os << c.label; }

constexpr int kBatchSize = 20;
constexpr const char* kBatchTables[2] = {"batches", "halves"};

// A writer child's failure: reported to the parent ("F" and the error), and the child ends.
[[noreturn]] void ChildFails(int fd, const char* what) {
    const std::string text = std::string("F") + what + ": " + systest::LastError();
    SendAll(fd, text.data(), text.size());
    ::_exit(3);
}

[[noreturn]] void CommitBatchesUntilKilled(int fd, const std::string& dir, const TransactionKillCase& c,
                                           int firstBatch) {
    auto fail = [fd](const char* what) { ChildFails(fd, what); };
    KIVHANDLE conn = 0, tables[2] = {0, 0}, st = 0;
    if (KivConnect(dir.c_str(), &conn)) fail("KivConnect");
    if (c.sql) {
        if (KivCreateSQLStatement(conn, &st) || KivStmtSetTableType(st, c.tableType)) fail("KivCreateSQLStatement");
    } else {
        for (int i = 0; i < (c.twoTables ? 2 : 1); ++i)
            if (KivOpenTable(conn, kBatchTables[i], nullptr, c.tableType, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                             KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &tables[i]))
                fail("KivOpenTable");
    }
    SendAll(fd, "R", 1);
    for (int batch = firstBatch;; ++batch) {
        if (c.sql ? KivExecuteSQLDirect(st, "BEGIN", nullptr) : KivBeginTransaction(conn)) fail("begin");
        for (int seq = 1; seq <= kBatchSize; ++seq) {
            const int which = c.twoTables && seq % 2 == 0 ? 1 : 0;
            const KIVHANDLE t = tables[which];
            if (c.sql) {
                const std::string insert = std::string("INSERT INTO ") + kBatchTables[which] + " (BATCH, SEQ) VALUES (" +
                                           std::to_string(batch) + ", " + std::to_string(seq) + ")";
                if (KivExecuteSQLDirect(st, insert.c_str(), nullptr)) fail("insert");
            } else if (KivAppendRecord(t) || KivSetLong(t, "BATCH", batch) || KivSetLong(t, "SEQ", seq) ||
                       KivWriteRecord(t)) {
                fail("append");
            }
        }
        if (c.sql ? KivExecuteSQLDirect(st, "COMMIT", nullptr) : KivCommitTransaction(conn)) fail("commit");
        for (const KIVHANDLE t : tables)
            if (t && KivUnlockTable(t)) fail("unlock");
        const char done = 'C';
        SendAll(fd, &done, 1);
    }
}

// Starts a writer child running body, kills it delay after it reported
// ready, and gives back its reports ('C' for each commit); a failure it
// reported fails the test.
template <class Body>
void KillWriter(Body body, std::chrono::microseconds delay, std::string& reports) {
    Child writer(body);
    ASSERT_TRUE(writer.started());
    char ready = 0;
    ASSERT_TRUE(RecvAll(writer.fd(), &ready, 1) && ready == 'R') << ready << writer.Rest();
    std::this_thread::sleep_for(delay);
    const int status = writer.Kill();
    reports = writer.Rest();
    ASSERT_EQ(std::string::npos, reports.find('F')) << reports;
    ASSERT_TRUE(WIFSIGNALED(status)) << reports;
}

class TransactionKill : public ::testing::TestWithParam<TransactionKillCase> {};

TEST_P(TransactionKill, CommittedTransactionsAreWholeAndOthersWholeOrGone) {
    const TransactionKillCase& c = GetParam();
    TempDir dir;
    for (const char* table : kBatchTables) CreateTable(dir.path(), table, c.tableType, c.fields);
    int committed = 0;  // batches reported committed, over all writers
    int started = 0;    // the next writer's first batch
    for (int trial = 0; trial < 30; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        // Kill times spread over several transactions' time.
        std::string reports;
        ASSERT_NO_FATAL_FAILURE(KillWriter([&](int fd) { CommitBatchesUntilKilled(fd, dir.path(), c, started); },
                                           std::chrono::microseconds((trial * 7919) % 15000), reports));
        committed += static_cast<int>(reports.size());

        KIVHANDLE conn = 0;
        SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
        std::map<int32_t, std::set<int32_t>> batches;
        for (const char* table : kBatchTables) {
            KIVHANDLE t = 0;
            SYS_ASSERT_OK(KivOpenTable(conn, table, nullptr, c.tableType, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                       KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t));
            uint16_t eof = 0, deleted = 0;
            for (KIVRESULT rc = KivGotoTop(t); rc == KIV_OK && KivAtEOF(t, &eof) == KIV_OK && !eof;
                 rc = KivSkip(t, 1)) {
                SYS_ASSERT_OK(KivIsRecordDeleted(t, &deleted));
                if (deleted) continue;
                int32_t batch = 0, seq = 0;
                SYS_ASSERT_OK(KivGetLong(t, "BATCH", &batch));
                SYS_ASSERT_OK(KivGetLong(t, "SEQ", &seq));
                EXPECT_TRUE(batches[batch].insert(seq).second) << "batch " << batch << " has " << seq << " twice";
            }
            SYS_ASSERT_OK(KivCloseTable(t));
        }
        SYS_ASSERT_OK(KivDisconnect(conn));
        // The opens finished the dead writer's journals and removed them.
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            EXPECT_EQ(std::string::npos, entry.path().filename().string().find("-kiv")) << entry.path();
        for (const auto& [batch, seqs] : batches)
            EXPECT_EQ(static_cast<size_t>(kBatchSize), seqs.size()) << "batch " << batch << " is partly there";
        const int whole = static_cast<int>(batches.size());
        EXPECT_GE(whole, committed) << "a committed batch is lost";
        EXPECT_LE(whole, committed + 1) << "more batches than the writer began";
        started = static_cast<int>(batches.empty() ? 0 : batches.rbegin()->first + 1);
        committed = whole;
        if (::testing::Test::HasFailure()) break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kill, TransactionKill,
    ::testing::Values(TransactionKillCase{"Ntx", KIV_TABLE_NTX, "BATCH,N,8;SEQ,N,4", false, false},
                      TransactionKillCase{"Cdx", KIV_TABLE_CDX, "BATCH,N,8;SEQ,N,4", false, false},
                      TransactionKillCase{"Kdt", KIV_TABLE_KDT, "BATCH,INTEGER;SEQ,INTEGER", false, false},
                      TransactionKillCase{"CdxTwoTables", KIV_TABLE_CDX, "BATCH,N,8;SEQ,N,4", false, true},
                      TransactionKillCase{"CdxSql", KIV_TABLE_CDX, "BATCH,N,8;SEQ,N,4", true, false},
                      TransactionKillCase{"KdtSql", KIV_TABLE_KDT, "BATCH,INTEGER;SEQ,INTEGER", true, false},
                      TransactionKillCase{"KdtSqlTwoTables", KIV_TABLE_KDT, "BATCH,INTEGER;SEQ,INTEGER", true, true}),
    systest::CaseLabel<TransactionKillCase>);

// A writer whose transactions move amounts between accounts (records 1 to
// 6, one of them getting a memo), append a record with a memo, and (every
// third) delete it again, on a table with two orders: through the engine's
// calls in a shared or an exclusive open, or through SQL. It is killed at
// random moments, 60 times in all. After each kill: every transaction is
// whole or absent (the balances add up, each appended record has its values,
// none the writer reported committed is missing), both orders agree with the
// records, no journal is left, and a second process that changes the dead
// transaction's records right after the kill keeps its change.
enum class LedgerRoad { SharedCalls, ExclusiveCalls, Sql };

struct LedgerKillCase {
    const char* label;
    uint16_t tableType;
    const char* fields;  // ID, NAME, BAL, NOTE
    LedgerRoad road;
};

void PrintTo(const LedgerKillCase& c, std::ostream* os) { *os << c.label; }

constexpr int32_t kAccounts = 6;
constexpr int32_t kOpening = 1000;
constexpr int32_t kAppendedIds = 100000;  // appended records: ID kAppendedIds + transaction

std::string LedgerMemo(int k) { return "memo of transaction " + std::to_string(k) + " \xE4\xF6\xFC"; }

[[noreturn]] void MoveUntilKilled(int fd, const std::string& dir, const LedgerKillCase& c, int first) {
    auto fail = [fd](const char* what) { ChildFails(fd, what); };
    KIVHANDLE conn = 0, t = 0, st = 0;
    if (KivConnect(dir.c_str(), &conn)) fail("KivConnect");
    const bool shared = c.road != LedgerRoad::ExclusiveCalls;
    if (c.road == LedgerRoad::Sql) {
        if (KivCreateSQLStatement(conn, &st) || KivStmtSetTableType(st, c.tableType)) fail("KivCreateSQLStatement");
    } else {
        KIVHANDLE handles[4];
        uint16_t count = 4;
        if (KivOpenTable(conn, "shared", nullptr, c.tableType, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK,
                         shared ? KIV_OPEN_SHARED : KIV_OPEN_EXCLUSIVE, &t) ||
            KivOpenIndex(t, "byid", handles, &count) || (count = 4, KivOpenIndex(t, "bybal", handles, &count)))
            fail("KivOpenTable");
    }
    auto sql = [&](const std::string& text) {
        if (KivExecuteSQLDirect(st, text.c_str(), nullptr)) fail(text.c_str());
    };
    auto text = [&](const char* field, const std::string& value) {
        if (KivSetField(t, field, value.data(), static_cast<uint32_t>(value.size()))) fail("KivSetField");
    };
    auto add = [&](uint32_t recno, int32_t amount) {
        int32_t bal = 0;
        if (KivGotoRecord(t, recno) || (shared && KivLockRecord(t, recno)) || KivGetLong(t, "BAL", &bal) ||
            KivSetLong(t, "BAL", bal + amount))
            fail("moving an amount");
    };
    SendAll(fd, "R", 1);
    for (int k = first;; ++k) {
        const int32_t from = 1 + k % kAccounts;
        int32_t to = 1 + (from + k / kAccounts) % kAccounts;
        if (to == from) to = 1 + from % kAccounts;
        const int32_t amount = k % 50 + 1, id = kAppendedIds + k;
        const std::string note = "t" + std::to_string(k), name = "a" + std::to_string(k);
        if (c.road == LedgerRoad::Sql) {
            sql("BEGIN");
            sql("UPDATE shared SET BAL = BAL - " + std::to_string(amount) + ", NOTE = '" + note + "' WHERE ID = " +
                std::to_string(from));
            sql("UPDATE shared SET BAL = BAL + " + std::to_string(amount) + " WHERE ID = " + std::to_string(to));
            sql("INSERT INTO shared (ID, NAME, BAL, NOTE) VALUES (" + std::to_string(id) + ", '" + name + "', 0, '" +
                LedgerMemo(k) + "')");
            if (k % 3 == 0) sql("DELETE FROM shared WHERE ID = " + std::to_string(id));
            sql("COMMIT");
        } else {
            if (KivBeginTransaction(conn)) fail("KivBeginTransaction");
            add(static_cast<uint32_t>(from), -amount);
            text("NOTE", note);
            add(static_cast<uint32_t>(to), amount);
            if (KivAppendRecord(t) || KivSetLong(t, "ID", id) || KivSetLong(t, "BAL", 0)) fail("KivAppendRecord");
            text("NAME", name);
            text("NOTE", LedgerMemo(k));
            if (KivWriteRecord(t)) fail("KivWriteRecord");
            if (k % 3 == 0 && KivDeleteRecord(t)) fail("KivDeleteRecord");
            if (KivCommitTransaction(conn)) fail("KivCommitTransaction");
            if (KivUnlockTable(t)) fail("KivUnlockTable");
        }
        const char done = 'C';
        SendAll(fd, &done, 1);
    }
}

class LedgerKill : public ::testing::TestWithParam<LedgerKillCase> {};

TEST_P(LedgerKill, TransactionsAreWholeOrAbsentAndOthersKeepTheirChanges) {
    const LedgerKillCase& c = GetParam();
    TempDir dir;
    {
        KIVHANDLE conn = 0, t = 0, ix = 0;
        SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
        SYS_ASSERT_OK(KivCreateTable(conn, "shared", nullptr, c.tableType, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                     KIV_RIGHTS_NO_CHECK, 0, c.fields, &t));
        for (int32_t id = 1; id <= kAccounts; ++id) {
            SYS_ASSERT_OK(KivAppendRecord(t));
            SYS_ASSERT_OK(KivSetLong(t, "ID", id));
            SYS_ASSERT_OK(KivSetLong(t, "BAL", kOpening));
        }
        SYS_ASSERT_OK(KivCreateIndex(t, "byid", "BYID", "ID", "", "", 0, &ix));
        SYS_ASSERT_OK(KivCreateIndex(t, "bybal", "BYBAL", "BAL", "", "", 0, &ix));
        SYS_ASSERT_OK(KivCloseTable(t));
        SYS_ASSERT_OK(KivDisconnect(conn));
    }
    Peer other(dir.path());
    int committed = 0, started = 0;
    int32_t peerMoves = 0;
    for (int trial = 0; trial < 20; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        std::string reports;
        ASSERT_NO_FATAL_FAILURE(KillWriter([&](int fd) { MoveUntilKilled(fd, dir.path(), c, started); },
                                           std::chrono::microseconds((trial * 7919) % 40000), reports));
        committed += static_cast<int>(reports.size());

        // Another process changes records the dead transaction may have changed.
        PEER_OK(other, Op::Open, KIV_OPEN_SHARED);
        PEER_OK(other, Op::Move, static_cast<uint32_t>(trial));
        PEER_OK(other, Op::Close);
        ++peerMoves;

        KIVHANDLE conn = 0, t = 0, handles[4] = {};
        SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
        SYS_ASSERT_OK(KivOpenTable(conn, "shared", nullptr, c.tableType, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                   KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t));
        uint16_t count = 4;
        SYS_ASSERT_OK(KivOpenIndex(t, "byid", handles, &count));
        count = 3;
        SYS_ASSERT_OK(KivOpenIndex(t, "bybal", handles + 1, &count));
        int64_t sum = 0;
        std::set<int32_t> appended;
        uint32_t records = 0;
        SYS_ASSERT_OK(KivGetRecordCount(t, KIV_COUNT_IGNORE_FILTERS, &records));
        uint32_t hidden = 0;  // deleted records of our own tables, which never show
        for (uint32_t recno = 1; recno <= records; ++recno) {
            SYS_ASSERT_OK(KivGotoRecord(t, recno));
            int32_t id = 0, bal = 0;
            uint16_t deleted = 0;
            const KIVRESULT read = KivGetLong(t, "ID", &id);
            if (read == KIV_ERR_NO_CURRENT_RECORD && c.tableType == KIV_TABLE_KDT) {
                ++hidden;
                continue;
            }
            SYS_ASSERT_OK(read);
            SYS_ASSERT_OK(KivGetLong(t, "BAL", &bal));
            SYS_ASSERT_OK(KivIsRecordDeleted(t, &deleted));
            std::string name, note;
            SYS_ASSERT_OK(systest::GetText(t, "NAME", name));
            SYS_ASSERT_OK(systest::GetText(t, "NOTE", note));
            if (recno == 1) {
                EXPECT_EQ("p" + std::to_string(trial), note) << "the other process's change is lost";
            }
            if (id >= kAppendedIds) {
                const int k = id - kAppendedIds;
                EXPECT_TRUE(appended.insert(k).second) << "transaction " << k << " appended twice";
                EXPECT_EQ("a" + std::to_string(k), name) << "record " << recno;
                EXPECT_EQ(LedgerMemo(k), note) << "record " << recno;
                EXPECT_EQ(0, bal);
                if (!deleted) {
                    EXPECT_NE(0, k % 3) << "transaction " << k << " kept a record it deleted";
                }
            } else {
                EXPECT_FALSE(deleted);
                sum += bal;
            }
            // Both orders find the record by its values.
            for (int which = 0; which < 2; ++which) {
                const std::string key = std::to_string(which == 0 ? id : bal);
                uint16_t found = 0;
                uint32_t at = 0;
                SYS_ASSERT_OK(KivSeek(handles[which], key.data(), static_cast<uint32_t>(key.size()), KIV_KEY_TEXT,
                                      KIV_SEEK_HARD, &found));
                EXPECT_TRUE(found) << (which == 0 ? "BYID" : "BYBAL") << " misses " << key;
                if (which == 0 && found) {
                    SYS_ASSERT_OK(KivGetRecordNum(t, 2, &at));
                    EXPECT_EQ(recno, at) << "BYID finds " << key << " at another record";
                }
            }
        }
        EXPECT_EQ(int64_t(kAccounts) * kOpening, sum) << "a transaction is partly there";
        SYS_ASSERT_OK(KivCloseTable(t));
        SYS_ASSERT_OK(KivDisconnect(conn));
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            EXPECT_EQ(std::string::npos, entry.path().filename().string().find("-kiv")) << entry.path();
        // Each transaction appended one record (the deleted ones too).
        const int done = static_cast<int>(records) - kAccounts;
        EXPECT_GE(done, committed) << "a committed transaction is lost";
        EXPECT_LE(done, committed + 1) << "more transactions than the writer began";
        EXPECT_EQ(static_cast<size_t>(done), appended.size() + hidden) << "a record of no transaction";
        if (!appended.empty()) {
            EXPECT_LT(*appended.rbegin(), done) << "a record of no transaction";
        }
        started = committed = done;
        if (::testing::Test::HasFailure()) break;
    }
    EXPECT_EQ(20, peerMoves);
}

INSTANTIATE_TEST_SUITE_P(
    Kill, LedgerKill,
    ::testing::Values(
        LedgerKillCase{"NtxSharedCalls", KIV_TABLE_NTX, "ID,N,8;NAME,C,10;BAL,N,12;NOTE,M", LedgerRoad::SharedCalls},
        LedgerKillCase{"CdxExclusiveCalls", KIV_TABLE_CDX, "ID,N,8;NAME,C,10;BAL,N,12;NOTE,M",
                       LedgerRoad::ExclusiveCalls},
        LedgerKillCase{"KdtSql", KIV_TABLE_KDT, "ID,INTEGER;NAME,C,10;BAL,INTEGER;NOTE,M", LedgerRoad::Sql},
        LedgerKillCase{"CdxSharedCalls", KIV_TABLE_CDX, "ID,N,8;NAME,C,10;BAL,N,12;NOTE,M", LedgerRoad::SharedCalls}),
    systest::CaseLabel<LedgerKillCase>);

// A writer moves amounts between two balances in transactions while a reader
// reads both, at least 10,000 times and over 20 commits or more: with both
// records locked, or with one SELECT SUM(BAL). The sum is always right.
enum class SumRead { Locked, Sql };

struct BalanceCase {
    const char* label;
    uint16_t tableType;
    const char* fields;  // BAL
    SumRead read;
};

void PrintTo(const BalanceCase& c, std::ostream* os) { *os << c.label; }

constexpr int32_t kBalanceTotal = 2000;

[[noreturn]] void TransferUntilKilled(int fd, const std::string& dir, uint16_t tableType) {
    auto fail = [fd](const char* what) { ChildFails(fd, what); };
    KIVHANDLE conn = 0, t = 0;
    if (KivConnect(dir.c_str(), &conn) ||
        KivOpenTable(conn, "shared", nullptr, tableType, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK,
                     KIV_OPEN_SHARED, &t))
        fail("KivOpenTable");
    SendAll(fd, "R", 1);
    for (int32_t k = 0;; ++k) {
        const int32_t amount = k % 2 ? -(k % 97 + 1) : k % 89 + 1;
        if (KivBeginTransaction(conn)) fail("KivBeginTransaction");
        for (const auto& [recno, change] : {std::pair<uint32_t, int32_t>{1, -amount}, {2, amount}}) {
            int32_t bal = 0;
            KIVRESULT rc;
            while ((rc = KivLockRecord(t, recno)) == KIV_ERR_RECORD_LOCKED) ::usleep(200);
            if (rc || KivGotoRecord(t, recno) || KivGetLong(t, "BAL", &bal) || KivSetLong(t, "BAL", bal + change) ||
                KivWriteRecord(t))
                fail("moving an amount");
        }
        if (KivCommitTransaction(conn) || KivUnlockTable(t)) fail("KivCommitTransaction");
        const char done = 'C';
        SendAll(fd, &done, 1);
    }
}

class Balances : public ::testing::TestWithParam<BalanceCase> {};

TEST_P(Balances, ReaderNeverSeesAWrongSum) {
    const BalanceCase& c = GetParam();
    TempDir dir;
    {
        KIVHANDLE conn = 0, t = 0;
        SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
        SYS_ASSERT_OK(KivCreateTable(conn, "shared", nullptr, c.tableType, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                     KIV_RIGHTS_NO_CHECK, 0, c.fields, &t));
        for (const int32_t bal : {kBalanceTotal / 2 + 123, kBalanceTotal / 2 - 123}) {
            SYS_ASSERT_OK(KivAppendRecord(t));
            SYS_ASSERT_OK(KivSetLong(t, "BAL", bal));
        }
        SYS_ASSERT_OK(KivCloseTable(t));
        SYS_ASSERT_OK(KivDisconnect(conn));
    }
    Child writer([&](int fd) { TransferUntilKilled(fd, dir.path(), c.tableType); });
    ASSERT_TRUE(writer.started());
    char ready = 0;
    ASSERT_TRUE(RecvAll(writer.fd(), &ready, 1) && ready == 'R') << ready << writer.Rest();

    KIVHANDLE conn = 0, t = 0, st = 0;
    SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    SYS_ASSERT_OK(KivOpenTable(conn, "shared", nullptr, c.tableType, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                               KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t));
    SYS_ASSERT_OK(KivCreateSQLStatement(conn, &st));
    auto lockBoth = [&] {
        for (;; ::usleep(200)) {
            if (KivLockRecord(t, 1) != KIV_OK) continue;
            if (KivLockRecord(t, 2) == KIV_OK) return;
            KivUnlockRecord(t, 1);
        }
    };
    int reads = 0, wrong = 0;
    size_t commits = 0;
    std::string reports;
    // (A guard against a hang, far beyond what the reads take, under a sanitizer too.)
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(240);
    for (; (reads < 10000 || commits < 20) && std::chrono::steady_clock::now() < deadline; ++reads) {
        int32_t sum = 0;
        if (c.read == SumRead::Locked) {
            lockBoth();
            int32_t a = 0, b = 0;
            SYS_ASSERT_OK(KivGotoRecord(t, 1));
            SYS_ASSERT_OK(KivGetLong(t, "BAL", &a));
            SYS_ASSERT_OK(KivGotoRecord(t, 2));
            SYS_ASSERT_OK(KivGetLong(t, "BAL", &b));
            SYS_ASSERT_OK(KivUnlockTable(t));
            sum = a + b;
        } else {
            KIVHANDLE cursor = 0;
            SYS_ASSERT_OK(KivExecuteSQLDirect(st, "SELECT SUM(BAL) AS TOTAL FROM shared", &cursor));
            SYS_ASSERT_OK(KivGotoTop(cursor));
            SYS_ASSERT_OK(KivGetLong(cursor, "TOTAL", &sum));
            SYS_ASSERT_OK(KivCloseTable(cursor));
        }
        if (sum != kBalanceTotal && wrong++ < 5) ADD_FAILURE() << "read " << reads << ": the sum is " << sum;
        char buf[256];
        ssize_t r;
        while ((r = ::recv(writer.fd(), buf, sizeof buf, MSG_DONTWAIT)) > 0) reports.append(buf, static_cast<size_t>(r));
        commits = reports.size();
    }
    writer.Kill();
    reports += writer.Rest();
    EXPECT_EQ(std::string::npos, reports.find('F')) << reports;
    EXPECT_EQ(0, wrong) << "of " << reads << " reads";
    EXPECT_GE(reads, 10000);
    EXPECT_GE(reports.size(), 20u) << "the writer committed too little to meet the reader (" << reads << " reads)";
    SYS_EXPECT_OK(KivCloseSQLStatement(st));
    SYS_EXPECT_OK(KivCloseTable(t));
    SYS_EXPECT_OK(KivDisconnect(conn));
}

INSTANTIATE_TEST_SUITE_P(
    Process, Balances,
    ::testing::Values(BalanceCase{"NtxLocked", KIV_TABLE_NTX, "BAL,N,12", SumRead::Locked},
                      BalanceCase{"CdxLocked", KIV_TABLE_CDX, "BAL,N,12", SumRead::Locked},
                      BalanceCase{"CdxSql", KIV_TABLE_CDX, "BAL,N,12", SumRead::Sql},
                      BalanceCase{"KdtSql", KIV_TABLE_KDT, "BAL,INTEGER", SumRead::Sql},
                      BalanceCase{"KdtTwoFieldsSql", KIV_TABLE_KDT, "NAME,C,10;BAL,INTEGER", SumRead::Sql}),
    systest::CaseLabel<BalanceCase>);

}  // namespace
