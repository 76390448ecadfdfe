// Record and table locks between handles of one process, open modes, and
// writes on shared tables.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "test_support.h"

using namespace qeltest;

class Locking : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        KIVHANDLE t = Create("shared.dbf", KIV_TABLE_CDX, "ID,N,3;NAME,C,8");
        for (int i = 1; i <= 3; ++i) {
            KIV_ASSERT_OK(KivAppendRecord(t));
            KIV_ASSERT_OK(Set(t, "ID", std::to_string(i)));
        }
        KIV_ASSERT_OK(KivCloseTable(t));
        KIV_ASSERT_OK(KivConnect(dir.path().c_str(), &conn2));
        a = Open("shared.dbf");
        b = Open("shared.dbf", KIV_OPEN_SHARED, KIV_CHAR_ANSI, conn2);
        KIV_ASSERT_OK(KivGotoTop(a));
        KIV_ASSERT_OK(KivGotoTop(b));
    }
    void TearDown() override {
        KivDisconnect(conn2);
        EngineFixture::TearDown();
    }
    KIVHANDLE conn2 = 0, a = 0, b = 0;
};

TEST_F(Locking, RecordAndTableLocksContend) {
    KIV_ASSERT_OK(KivLockRecord(a, 0));
    KIV_EXPECT_OK(KivLockRecord(a, 1));  // again by its holder
    EXPECT_EQ(KIV_ERR_RECORD_LOCKED, KivLockRecord(b, 1));
    KIV_EXPECT_OK(KivLockRecord(b, 2));
    EXPECT_EQ(KIV_ERR_TABLE_LOCKED, KivLockTable(a));  // b holds record 2
    KIV_EXPECT_OK(KivUnlockRecord(b, 2));
    KIV_EXPECT_OK(KivLockTable(a));
    EXPECT_EQ(KIV_ERR_RECORD_LOCKED, KivLockRecord(b, 3));
    EXPECT_EQ(KIV_ERR_TABLE_LOCKED, KivLockTable(b));
    EXPECT_EQ(KIV_ERR_TABLE_LOCKED, KivAppendRecord(b));
    KIV_EXPECT_OK(KivUnlockTable(a));  // releases the table and record 1
    KIV_EXPECT_OK(KivLockRecord(b, 1));
    KIV_EXPECT_OK(KivLockTable(b));
    KIV_EXPECT_OK(KivUnlockTable(b));
    KIV_EXPECT_OK(KivUnlockTable(b));  // nothing held is no failure
}

TEST_F(Locking, WritesTakeALockForTheMomentAndFailWhenAnotherHoldsIt) {
    KIV_ASSERT_OK(KivLockRecord(a, 1));
    KIV_ASSERT_OK(Set(b, "NAME", "second"));
    EXPECT_EQ(KIV_ERR_RECORD_LOCKED, KivWriteRecord(b));
    EXPECT_EQ("second  ", Get(b, "NAME"));  // the change waits, nothing lost
    KIV_ASSERT_OK(KivUnlockRecord(a, 1));
    KIV_ASSERT_OK(KivWriteRecord(b));
    KIV_ASSERT_OK(KivLockRecord(a, 1));  // the write did not keep a lock
    KIV_ASSERT_OK(KivRefreshRecord(a));
    EXPECT_EQ("second  ", Get(a, "NAME"));
}

TEST_F(Locking, LockingRereadsTheStoredRecord) {
    KIV_ASSERT_OK(Set(b, "NAME", "fresh"));
    KIV_ASSERT_OK(KivWriteRecord(b));
    EXPECT_EQ("        ", Get(a, "NAME"));  // a still shows what it read
    uint32_t crcBefore = 0, crcAfter = 0;
    KIV_ASSERT_OK(KivGetRecordCRC(a, &crcBefore, 0));
    KIV_ASSERT_OK(KivLockRecord(a, 0));
    EXPECT_EQ("fresh   ", Get(a, "NAME"));
    KIV_ASSERT_OK(KivGetRecordCRC(a, &crcAfter, 0));
    EXPECT_EQ(crcBefore, crcAfter);  // CRC is always of the stored record
}

TEST_F(Locking, AppendedRecordsAreLockedForTheAppender) {
    KIV_ASSERT_OK(KivAppendRecord(a));
    const uint32_t rec = RecNo(a);
    EXPECT_EQ(4u, rec);
    EXPECT_EQ(KIV_ERR_RECORD_LOCKED, KivLockRecord(b, rec));
    KIV_ASSERT_OK(KivUnlockTable(a));
    KIV_EXPECT_OK(KivLockRecord(b, rec));
    // b sees the record appended through the other connection.
    KIV_ASSERT_OK(KivGotoBottom(b));
    EXPECT_EQ(4u, RecNo(b));
}

// Records appended inside a transaction are held by the table until it
// ends: this process reads, changes, finds and undoes them as stored ones,
// while another connection's append waits for the commit and its table
// lock is refused.
TEST_F(Locking, RecordsATransactionAppendsAreItsOwnUntilItEnds) {
    KIVHANDLE ix = 0;
    KIV_ASSERT_OK(KivCreateIndex(a, "shared.cdx", "NAMES", "NAME", "", "", 0, &ix));
    uint32_t count = 0;
    auto countOf = [&](KIVHANDLE t) {
        count = 0;
        EXPECT_EQ(KIV_OK, KivGetRecordCount(t, KIV_COUNT_IGNORE_FILTERS, &count)) << LastErrorText();
        return count;
    };
    auto found = [&](const char* name) {
        uint16_t hit = 0;
        EXPECT_EQ(KIV_OK, KivSeek(ix, name, static_cast<uint32_t>(std::strlen(name)), KIV_KEY_TEXT, KIV_SEEK_HARD, &hit))
            << LastErrorText();
        return hit ? RecNo(a) : 0u;
    };
    auto append = [](KIVHANDLE t, const char* name) {
        KIVRESULT rc = KivAppendRecord(t);
        if (!rc) rc = Set(t, "NAME", name);
        if (!rc) rc = KivWriteRecord(t);
        return rc;
    };
    KIV_ASSERT_OK(KivBeginTransaction(conn));
    KIV_ASSERT_OK(append(a, "four"));
    KIV_ASSERT_OK(append(a, "five"));
    KIV_ASSERT_OK(KivGotoRecord(a, 4));
    KIV_ASSERT_OK(Set(a, "NAME", "FOUR"));
    KIV_ASSERT_OK(KivWriteRecord(a));
    EXPECT_EQ(5u, countOf(b));
    KIV_ASSERT_OK(KivGotoRecord(b, 4));
    EXPECT_EQ("FOUR    ", Get(b, "NAME"));
    EXPECT_EQ(4u, found("FOUR"));
    EXPECT_EQ(0u, found("four"));
    EXPECT_EQ(KIV_ERR_TABLE_LOCKED, KivLockTable(b));
    KIV_ASSERT_OK(KivCreateSavepoint(conn, "mark", 0));
    KIV_ASSERT_OK(append(a, "six"));
    KIV_ASSERT_OK(KivRollbackTransaction80(conn, "mark", 0));
    EXPECT_EQ(5u, countOf(a));
    EXPECT_EQ(0u, found("six"));

    // The other connection's append waits for the commit and comes after.
    KIVRESULT waited = 0xFFFFFFFFu;
    uint32_t waiter = 0;
    std::thread other([&] {
        waited = append(b, "seven");
        waiter = RecNo(b);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    KIV_ASSERT_OK(KivCommitTransaction(conn));
    other.join();
    KIV_ASSERT_OK(waited);
    EXPECT_EQ(6u, waiter);
    KIV_ASSERT_OK(KivUnlockTable(b));
    EXPECT_EQ(6u, found("seven"));

    // Undone: gone from the table and its order, the numbers given again.
    KIV_ASSERT_OK(KivBeginTransaction(conn));
    KIV_ASSERT_OK(append(a, "eight"));
    KIV_ASSERT_OK(KivRollbackTransaction(conn));
    EXPECT_EQ(6u, countOf(b));
    EXPECT_EQ(0u, found("eight"));
    KIV_ASSERT_OK(append(b, "nine"));
    EXPECT_EQ(7u, RecNo(b));
    KIV_ASSERT_OK(KivUnlockTable(a));  // a's appended records stayed locked for it
    KIV_ASSERT_OK(KivLockTable(b));
}

TEST_F(Locking, ExclusiveOpensExcludeEveryOtherOpen) {
    KIVHANDLE t = 0;
    EXPECT_EQ(KIV_ERR_SHARING, KivOpenTable(conn, "shared.dbf", nullptr, 0, 1, 0, 2, KIV_OPEN_EXCLUSIVE, &t));
    KIV_ASSERT_OK(KivCloseTable(a));
    KIV_ASSERT_OK(KivCloseTable(b));
    KIVHANDLE ex = Open("shared.dbf", KIV_OPEN_EXCLUSIVE);
    ASSERT_NE(0u, ex);
    EXPECT_EQ(KIV_ERR_SHARING, KivOpenTable(conn2, "shared.dbf", nullptr, 0, 1, 0, 2, KIV_OPEN_SHARED, &t));
    uint32_t options = 0;
    KIV_EXPECT_OK(KivGetTableOpenOptions(ex, &options));
    EXPECT_EQ(KIV_TOPT_EXCLUSIVE | KIV_TOPT_UPDATE | KIV_TOPT_INSERT, options);
    KIV_EXPECT_OK(KivLockRecord(ex, 1));  // exclusive opens need no locks, and asking is fine
}

TEST_F(Locking, ReadOnlyAndPrivilegeLimitedOpensRefuseWrites) {
    KIVHANDLE ro = Open("shared.dbf", KIV_OPEN_READ_ONLY);
    KIV_ASSERT_OK(KivGotoTop(ro));
    EXPECT_EQ(KIV_ERR_READ_ONLY, Set(ro, "NAME", "x"));
    EXPECT_EQ(KIV_ERR_READ_ONLY, KivAppendRecord(ro));
    uint32_t options = 0;
    KIV_EXPECT_OK(KivGetTableOpenOptions(ro, &options));
    EXPECT_EQ(KIV_TOPT_READ_ONLY, options);

    // The driver's layout: read and update asked, no insert or delete.
    KIVHANDLE upd = Open("shared.dbf", KIV_OPEN_DRIVER_LAYOUT | KIV_OPEN_DRV_SHARED | KIV_OPEN_DRV_READ |
                                           KIV_OPEN_DRV_UPDATE);
    KIV_ASSERT_OK(KivGotoTop(upd));
    KIV_EXPECT_OK(Set(upd, "NAME", "ok"));
    KIV_EXPECT_OK(KivWriteRecord(upd));
    EXPECT_EQ(KIV_ERR_PERMISSION, KivAppendRecord(upd));
    EXPECT_EQ(KIV_ERR_PERMISSION, KivDeleteRecord(upd));
    uint8_t perms = 0;
    KIV_EXPECT_OK(KivGetColumnPermissions(upd, "NAME", &perms));
    EXPECT_EQ(KIV_COLPERM_SELECT | KIV_COLPERM_UPDATE, perms);

    // What each handle may do with the whole table.
    const struct {
        KIVHANDLE table;
        uint8_t privileges;
    } cases[] = {{ro, KIV_OPEN_DRV_READ},
                 {upd, KIV_OPEN_DRV_READ | KIV_OPEN_DRV_UPDATE},
                 {a, KIV_OPEN_DRV_READ | KIV_OPEN_DRV_UPDATE | KIV_OPEN_DRV_INSERT | KIV_OPEN_DRV_DELETE}};
    for (const auto& c : cases) {
        uint8_t privileges = 0;
        KIV_EXPECT_OK(KivGetTablePrivileges(c.table, &privileges));
        EXPECT_EQ(c.privileges, privileges) << c.table;
    }
    uint8_t privileges = 0;
    EXPECT_EQ(KIV_ERR_INVALID_HANDLE, KivGetTablePrivileges(0x7FFFFFF, &privileges));
}
