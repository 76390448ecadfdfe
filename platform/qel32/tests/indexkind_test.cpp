// The kind of an order: descending, unique, and the primary key that a data
// dictionary names.
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

using namespace qeltest;

namespace {

class IndexKinds : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        KIVHANDLE t = Create("people.kdt", KIV_TABLE_KDT, "ID,N,6;NAME,C,10");
        KIVHANDLE ix = 0;
        KIV_ASSERT_OK(KivCreateIndex(t, nullptr, "BYID", "ID", nullptr, nullptr, KIV_INDEX_UNIQUE, &ix));
        KIV_ASSERT_OK(KivCreateIndex(t, nullptr, "BYNAME", "NAME", nullptr, nullptr, 0, &ix));
        KIV_ASSERT_OK(KivCreateIndex(t, nullptr, "NAMEDOWN", "NAME", nullptr, nullptr, KIV_INDEX_DESCENDING, &ix));
        KIV_ASSERT_OK(KivCloseTable(t));
        kdd = dir.File("app.kdd");
        KIV_ASSERT_OK(KivDDCreate(kdd.c_str(), "table PEOPLE people.kdt\nproperty PEOPLE 202 byid\n"));
    }

    // "descending unique primary" of each order, as 0 and 1.
    static std::string Kinds(KIVHANDLE table, const char* order) {
        KIVHANDLE ix = 0;
        if (KivGetIndexHandle(table, order, &ix) != KIV_OK) return "no order " + std::string(order);
        uint16_t descending = 9, unique = 9, primary = 9;
        if (KivIsIndexDescending(ix, &descending) != KIV_OK || KivIsIndexUnique(ix, &unique) != KIV_OK ||
            KivIsIndexPrimaryKey(ix, &primary) != KIV_OK)
            return LastErrorText();
        return std::to_string(descending) + std::to_string(unique) + std::to_string(primary);
    }

    std::string kdd;
};

TEST_F(IndexKinds, OrdersOfADictionaryTableAndOfTheSameFileOpenedFree) {
    KIVHANDLE dd = 0, inDictionary = 0;
    KIV_ASSERT_OK(KivConnect60(kdd.c_str(), KIV_SERVER_LOCAL, "KIVSYS", "", 0, &dd));
    KIV_ASSERT_OK(KivOpenTable(dd, "PEOPLE", nullptr, KIV_TABLE_DEFAULT, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                               KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &inDictionary));
    KIVHANDLE free = Open("people.kdt");
    struct Case {
        const char* order;
        const char* dictionary;  // descending, unique, primary
        const char* freeTable;
    };
    const Case cases[] = {
        {"BYID", "011", "010"},  // the primary key, named in other case by the dictionary
        {"BYNAME", "000", "000"},
        {"NAMEDOWN", "100", "100"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Kinds(inDictionary, c.order), c.dictionary) << c.order;
        EXPECT_EQ(Kinds(free, c.order), c.freeTable) << c.order;
    }
    KivCloseTable(free);
    KivCloseTable(inDictionary);
    KivDisconnect(dd);
}

TEST_F(IndexKinds, ADictionaryWithoutAPrimaryKeyHasNone) {
    const std::string plain = dir.File("plain.kdd");
    KIV_ASSERT_OK(KivDDCreate(plain.c_str(), "table PEOPLE people.kdt\n"));
    KIVHANDLE dd = 0, t = 0;
    KIV_ASSERT_OK(KivConnect60(plain.c_str(), KIV_SERVER_LOCAL, "KIVSYS", "", 0, &dd));
    KIV_ASSERT_OK(KivOpenTable(dd, "PEOPLE", nullptr, KIV_TABLE_DEFAULT, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                               KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t));
    EXPECT_EQ(Kinds(t, "BYID"), "010");
    KivCloseTable(t);
    KivDisconnect(dd);
}

TEST_F(IndexKinds, OnlyIndexHandlesAreAnswered) {
    KIVHANDLE t = Open("people.kdt");
    uint16_t value = 7;
    for (KIVHANDLE handle : {t, conn, KIVHANDLE{0}, KIVHANDLE{0xFFFF0042u}}) {
        EXPECT_EQ(KIV_ERR_INVALID_HANDLE, KivIsIndexDescending(handle, &value));
        EXPECT_EQ(KIV_ERR_INVALID_HANDLE, KivIsIndexUnique(handle, &value));
        EXPECT_EQ(KIV_ERR_INVALID_HANDLE, KivIsIndexPrimaryKey(handle, &value));
    }
    EXPECT_EQ(value, 7);
    KIVHANDLE ix = 0;
    KIV_ASSERT_OK(KivGetIndexHandle(t, "BYID", &ix));
    EXPECT_EQ(KIV_ERR_INVALID_ARGUMENT, KivIsIndexPrimaryKey(ix, nullptr));
    KivCloseTable(t);
}

}  // namespace
