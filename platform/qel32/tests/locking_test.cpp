// Record and table locks between handles of one process, open modes, and
// writes on shared tables.
#include <gtest/gtest.h>

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
