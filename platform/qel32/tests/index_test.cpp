// Indexes, seeks, scopes, filters and locate through the engine's C interface.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "test_support.h"

using namespace qeltest;

namespace {

// Record numbers of a navigation from top to EOF.
std::vector<uint32_t> Walk(KIVHANDLE nav, KIVHANDLE table) {
    std::vector<uint32_t> out;
    for (KivGotoTop(nav); !AtEof(table); KivSkip(nav, 1)) {
        out.push_back(RecNo(table));
        if (out.size() > 100000) break;
    }
    return out;
}

}  // namespace

class Indexes : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        KivSetDateFormat("YYYY-MM-DD");
        t = Create("people.dbf", KIV_TABLE_CDX, "NAME,C,10;CITY,C,8;AGE,N,3;BORN,D;OK,L");
        struct Row { const char* name; const char* city; const char* age; const char* born; const char* ok; } rows[] = {
            {"Smith", "Oslo", "40", "1984-01-02", "T"}, {"Jones", "Bergen", "25", "1999-03-04", "F"},
            {"Smythe", "Oslo", "-3", "2021-05-06", "T"}, {"Adams", "Tromso", "25", "1999-01-01", "T"},
            {"Smith", "Bergen", "67", "1957-07-08", "F"}, {"Brown", "Oslo", "0", "", "T"},
        };
        for (auto& r : rows) {
            KIV_ASSERT_OK(KivAppendRecord(t));
            KIV_ASSERT_OK(Set(t, "NAME", r.name));
            KIV_ASSERT_OK(Set(t, "CITY", r.city));
            KIV_ASSERT_OK(Set(t, "AGE", r.age));
            KIV_ASSERT_OK(Set(t, "BORN", r.born));
            KIV_ASSERT_OK(Set(t, "OK", r.ok));
        }
        KIV_ASSERT_OK(KivWriteRecord(t));
    }
    void TearDown() override {
        EngineFixture::TearDown();
        KivSetDateFormat("MM/DD/YYYY");
    }
    KIVHANDLE Index(const char* tag, const char* expr, uint32_t options = 0, const char* forExpr = nullptr) {
        KIVHANDLE ix = 0;
        EXPECT_EQ(KIV_OK, KivCreateIndex(t, nullptr, tag, expr, forExpr, nullptr, options, &ix)) << LastErrorText();
        return ix;
    }
    KIVHANDLE t = 0;
};

TEST_F(Indexes, OrdersVisitRecordsInKeyOrder) {
    const KIVHANDLE byName = Index("BYNAME", "UPPER(NAME)");
    const KIVHANDLE byAge = Index("BYAGE", "AGE");
    const KIVHANDLE byBorn = Index("BYBORN", "BORN");
    const KIVHANDLE compound = Index("CITYNAME", "CITY+NAME");
    const KIVHANDLE desc = Index("DESCAGE", "AGE", KIV_INDEX_DESCENDING);
    const KIVHANDLE unique = Index("UNAME", "NAME", KIV_INDEX_UNIQUE);
    const KIVHANDLE oslo = Index("OSLO", "NAME", 0, "CITY = 'Oslo'");
    struct Case { const char* what; KIVHANDLE ix; std::vector<uint32_t> records; } cases[] = {
        {"names", byName, {4, 6, 2, 1, 5, 3}},
        {"numbers, negatives first", byAge, {3, 6, 2, 4, 1, 5}},
        {"dates, empty first", byBorn, {6, 5, 1, 4, 2, 3}},
        {"compound", compound, {2, 5, 6, 1, 3, 4}},
        {"descending", desc, {5, 1, 2, 4, 6, 3}},
        {"unique keeps the first of a key", unique, {4, 6, 2, 1, 3}},
        {"FOR condition", oslo, {6, 1, 3}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.records, Walk(c.ix, t)) << c.what;
    // The table handle still walks in record order.
    EXPECT_EQ((std::vector<uint32_t>{1, 2, 3, 4, 5, 6}), Walk(t, t));
    // Backwards, and positions in the order.
    KIV_ASSERT_OK(KivGotoBottom(byName));
    EXPECT_EQ(3u, RecNo(t));
    KIV_ASSERT_OK(KivSkip(byName, -2));
    EXPECT_EQ(1u, RecNo(t));
    uint32_t keyNo = 0, keys = 0;
    KIV_ASSERT_OK(KivGetKeyNum(byName, 2, &keyNo));
    KIV_ASSERT_OK(KivGetKeyCount(byName, 2, &keys));
    EXPECT_EQ(4u, keyNo);
    EXPECT_EQ(6u, keys);
}

TEST_F(Indexes, SeekCases) {
    const KIVHANDLE byName = Index("BYNAME", "NAME");
    const KIVHANDLE byAge = Index("BYAGE", "AGE");
    const KIVHANDLE byBorn = Index("BYBORN", "BORN");
    const KIVHANDLE desc = Index("DESCNAME", "NAME", KIV_INDEX_DESCENDING);
    const KIVHANDLE compound = Index("CITYNAME", "CITY+NAME");
    struct Case { const char* what; KIVHANDLE ix; std::string key; uint16_t type; bool last; uint16_t found; uint32_t recno; bool eof; } cases[] = {
        {"hard hit", byName, "Jones", KIV_SEEK_HARD, false, 1, 2, false},
        {"hard miss goes to EOF", byName, "Kelly", KIV_SEEK_HARD, false, 0, 7, true},
        {"soft miss stops at the next greater key", byName, "Kelly", KIV_SEEK_SOFT, false, 0, 1, false},
        {"soft miss past the last key", byName, "Zed", KIV_SEEK_SOFT, false, 0, 7, true},
        {"partial key", byName, "Smy", KIV_SEEK_HARD, false, 1, 3, false},
        {"first of duplicates", byName, "Smith", KIV_SEEK_HARD, false, 1, 1, false},
        {"last of duplicates", byName, "Smith", KIV_SEEK_HARD, true, 1, 5, false},
        {"seek last with a partial key", byName, "Sm", KIV_SEEK_HARD, true, 1, 3, false},
        {"seek last misses", byName, "Q", KIV_SEEK_HARD, true, 0, 7, true},
        {"numeric key", byAge, "25", KIV_SEEK_HARD, false, 1, 2, false},
        {"numeric key as STR text", byAge, " -3", KIV_SEEK_HARD, false, 1, 3, false},
        {"date key", byBorn, "1999-01-01", KIV_SEEK_HARD, false, 1, 4, false},
        {"date key, compact form", byBorn, "19570708", KIV_SEEK_HARD, false, 1, 5, false},
        {"descending hit", desc, "Brown", KIV_SEEK_HARD, false, 1, 6, false},
        {"descending soft miss goes to the next key in order", desc, "Kelly", KIV_SEEK_SOFT, false, 0, 2, false},
        {"compound partial", compound, "Oslo    Sm", KIV_SEEK_HARD, false, 1, 1, false},
    };
    for (const auto& c : cases) {
        uint16_t found = 9;
        if (c.last) {
            KIV_ASSERT_OK(KivSeekLast(c.ix, c.key.data(), static_cast<uint32_t>(c.key.size()), KIV_KEY_TEXT, &found));
        } else {
            KIV_ASSERT_OK(KivSeek(c.ix, c.key.data(), static_cast<uint32_t>(c.key.size()), KIV_KEY_TEXT, c.type, &found));
        }
        EXPECT_EQ(c.found, found) << c.what;
        EXPECT_EQ(c.recno, RecNo(t)) << c.what;
        EXPECT_EQ(c.eof, AtEof(t)) << c.what;
        uint16_t isFound = 9;
        KIV_ASSERT_OK(KivIsFound(t, &isFound));
        EXPECT_EQ(c.found, isFound) << c.what;
    }
    // A malformed seek text is an error, not a silent miss.
    uint16_t found = 0;
    EXPECT_EQ(KIV_ERR_CONVERSION, KivSeek(byAge, "abc", 3, KIV_KEY_TEXT, KIV_SEEK_HARD, &found));
}

TEST_F(Indexes, RawKeysAndStepping) {
    const KIVHANDLE compound = Index("CITYNAME", "CITY+NAME");
    KIV_ASSERT_OK(KivInitRawKey(compound));
    KIV_ASSERT_OK(KivSetField(compound, "CITY", "Oslo", 4));
    KIV_ASSERT_OK(KivSetField(compound, "NAME", "Smith", 5));
    char key[64];
    uint32_t len = sizeof key;
    KIV_ASSERT_OK(KivBuildRawKey(compound, key, &len));
    EXPECT_EQ(18u, len);
    EXPECT_EQ("Oslo    Smith     ", std::string(key, len));
    uint16_t found = 0;
    KIV_ASSERT_OK(KivSeek(compound, key, len, KIV_KEY_RAW, KIV_SEEK_SOFT, &found));
    EXPECT_EQ(1, found);
    EXPECT_EQ(1u, RecNo(t));
    // The key setters on the index handle left the table's record alone.
    EXPECT_EQ("Smith     ", Get(t, "NAME"));
    KIV_ASSERT_OK(KivStepIndexKey(compound, key, len, 1));
    EXPECT_EQ("Oslo    Smith    !", std::string(key, len));
    KIV_ASSERT_OK(KivSeek(compound, key, len, KIV_KEY_RAW, KIV_SEEK_SOFT, &found));
    EXPECT_EQ(0, found);
    EXPECT_EQ(3u, RecNo(t));  // Oslo Smythe, the next key
}

TEST_F(Indexes, ScopesLimitTheOrder) {
    const KIVHANDLE byName = Index("BYNAME", "NAME");
    KIV_ASSERT_OK(KivSetScope(byName, KIV_SCOPE_TOP, "B", 1, KIV_KEY_TEXT));
    KIV_ASSERT_OK(KivSetScope(byName, KIV_SCOPE_BOTTOM, "Sm", 2, KIV_KEY_TEXT));
    EXPECT_EQ((std::vector<uint32_t>{6, 2, 1, 5, 3}), Walk(byName, t));
    char buf[8];
    uint32_t len = sizeof buf;
    KIV_ASSERT_OK(KivGetScope(byName, KIV_SCOPE_BOTTOM, buf, &len));
    EXPECT_EQ("Sm", std::string(buf, len));
    uint32_t keys = 0;
    KIV_ASSERT_OK(KivGetKeyCount(byName, 2, &keys));
    EXPECT_EQ(5u, keys);
    uint16_t found = 0;
    KIV_ASSERT_OK(KivSeek(byName, "Adams", 5, KIV_KEY_TEXT, KIV_SEEK_HARD, &found));
    EXPECT_EQ(0, found);  // outside the scope
    KIV_ASSERT_OK(KivClearScope(byName, KIV_SCOPE_TOP));
    EXPECT_EQ(KIV_ERR_NO_SCOPE, KivClearScope(byName, KIV_SCOPE_TOP));
    KIV_ASSERT_OK(KivClearAllScopes(t));
    len = sizeof buf;
    EXPECT_EQ(KIV_ERR_NO_SCOPE, KivGetScope(byName, KIV_SCOPE_BOTTOM, buf, &len));
    EXPECT_EQ(6u, Walk(byName, t).size());
}

TEST_F(Indexes, FiltersLocateAndExpressions) {
    const KIVHANDLE byName = Index("BYNAME", "NAME");
    KIV_ASSERT_OK(KivSetFilter(t, "CITY = 'Oslo' .AND. AGE >= 0"));
    EXPECT_EQ((std::vector<uint32_t>{6, 1}), Walk(byName, t));
    EXPECT_EQ((std::vector<uint32_t>{1, 6}), Walk(t, t));
    uint32_t count = 0;
    KIV_ASSERT_OK(KivGetRecordCount(t, KIV_COUNT_RESPECT_FILTERS, &count));
    EXPECT_EQ(2u, count);
    uint32_t len = 0;
    EXPECT_EQ(KIV_ERR_BUFFER_TOO_SMALL, KivGetFilter(t, nullptr, &len));  // the probe: one exists
    KIV_ASSERT_OK(KivClearFilter(t));
    len = 0;
    EXPECT_EQ(KIV_ERR_NO_FILTER, KivGetFilter(t, nullptr, &len));
    EXPECT_EQ(KIV_ERR_NO_FILTER, KivClearAOF(t));
    EXPECT_EQ(KIV_ERR_EXPRESSION, KivSetFilter(t, "CITY = "));
    EXPECT_NE(std::string::npos, LastErrorText().find("position"));
    EXPECT_EQ(KIV_ERR_EXPRESSION, KivSetFilter(t, "AGE + 1"));  // not logical

    // Partial and exact "=" on texts.
    KIV_ASSERT_OK(KivSetAOF(t, "NAME = 'Smi'", KIV_AOF_RESOLVE_LATER));
    EXPECT_EQ((std::vector<uint32_t>{1, 5}), Walk(t, t));
    KIV_ASSERT_OK(KivSetExact22(t, 1));
    EXPECT_EQ(0u, Walk(t, t).size());
    KIV_ASSERT_OK(KivSetExact22(t, 0));
    KIV_ASSERT_OK(KivClearAOF(t));

    uint16_t found = 0;
    KIV_ASSERT_OK(KivLocate(t, "CITY = 'Bergen'", 1, &found));
    EXPECT_EQ(1, found);
    EXPECT_EQ(2u, RecNo(t));
    KIV_ASSERT_OK(KivContinue(t, &found));
    EXPECT_EQ(1, found);
    EXPECT_EQ(5u, RecNo(t));
    KIV_ASSERT_OK(KivContinue(t, &found));
    EXPECT_EQ(0, found);
    EXPECT_TRUE(AtEof(t));

    KIV_ASSERT_OK(KivGotoRecord(t, 3));
    char text[64];
    len = sizeof text;
    KIV_ASSERT_OK(KivEvalStringExpr(t, "UPPER(TRIM(NAME)) + '/' + DTOS(BORN)", text, &len));
    EXPECT_EQ("SMYTHE/20210506", std::string(text, len));
    double number = 0;
    KIV_ASSERT_OK(KivEvalNumericExpr(t, "AGE * 2", &number));
    EXPECT_EQ(-6, number);
    uint16_t truth = 0;
    KIV_ASSERT_OK(KivEvalLogicalExpr(t, "OK .AND. RECNO() = 3", &truth));
    EXPECT_EQ(1, truth);
    len = sizeof text;
    KIV_ASSERT_OK(KivExtractKey(byName, text, &len));
    EXPECT_EQ("Smythe    ", std::string(text, len));
}

TEST_F(Indexes, WritesKeepOrdersCurrentAndRollbackRestoresThem) {
    const KIVHANDLE byName = Index("BYNAME", "NAME");
    KIV_ASSERT_OK(KivGotoRecord(t, 4));
    KIV_ASSERT_OK(Set(t, "NAME", "Zimmer"));
    KIV_ASSERT_OK(KivWriteRecord(t));
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(Set(t, "NAME", "Aaron"));
    KIV_ASSERT_OK(KivWriteRecord(t));
    EXPECT_EQ((std::vector<uint32_t>{7, 6, 2, 1, 5, 3, 4}), Walk(byName, t));
    KIV_ASSERT_OK(KivCloseTable(t));

    t = Open("people.dbf");  // the production index opens with the table
    KIVHANDLE ix = 0;
    KIV_ASSERT_OK(KivGetIndexHandle(t, "byname", &ix));
    KIV_ASSERT_OK(KivBeginTransaction(conn));
    KIV_ASSERT_OK(KivGotoRecord(t, 1));
    KIV_ASSERT_OK(Set(t, "NAME", "Young"));
    KIV_ASSERT_OK(KivWriteRecord(t));
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(Set(t, "NAME", "Baker"));
    KIV_ASSERT_OK(KivWriteRecord(t));
    KIV_ASSERT_OK(KivRollbackTransaction(conn));
    EXPECT_EQ((std::vector<uint32_t>{7, 6, 2, 1, 5, 3, 4}), Walk(ix, t));
}

TEST_F(Indexes, OrdersAreNumberedAcrossFilesAndDescribeThemselves) {
    const KIVHANDLE byName = Index("BYNAME", "NAME");
    KIVHANDLE other = 0;
    KIV_ASSERT_OK(KivCreateIndex(t, "extra", "BYCITY", "CITY+NAME", nullptr, nullptr, 0, &other));
    KIV_ASSERT_OK(KivCloseTable(t));
    t = Open("people.dbf");
    KIVHANDLE handles[4];
    uint16_t count = 4;
    KIV_ASSERT_OK(KivOpenIndex(t, "extra", handles, &count));
    EXPECT_EQ(1, count);
    count = 0;
    KIV_ASSERT_OK(KivOpenIndex(t, "EXTRA.CDX", nullptr, &count));  // again: same orders, counted
    EXPECT_EQ(1, count);
    // Named files first, then the production index.
    KIVHANDLE first = 0, second = 0, third = 0;
    KIV_ASSERT_OK(KivGetIndexHandleByOrder(t, 1, &first));
    KIV_ASSERT_OK(KivGetIndexHandleByOrder(t, 2, &second));
    EXPECT_NE(KIV_OK, KivGetIndexHandleByOrder(t, 3, &third));
    char name[64];
    uint32_t len = sizeof name;
    KIV_ASSERT_OK(KivGetIndexName(first, name, &len));
    EXPECT_EQ("BYCITY", std::string(name, len));
    len = sizeof name;
    KIV_ASSERT_OK(KivGetIndexName(second, name, &len));
    EXPECT_EQ("BYNAME", std::string(name, len));
    KIVHANDLE all[1];
    count = 1;
    EXPECT_EQ(KIV_ERR_BUFFER_TOO_SMALL, KivGetAllIndexes(t, all, &count));
    EXPECT_EQ(2, count);
    uint16_t segments = 0, keyType = 0, keyLength = 0;
    KIV_ASSERT_OK(KivGetNumSegments(first, &segments));
    EXPECT_EQ(2, segments);
    len = sizeof name;
    KIV_ASSERT_OK(KivGetSegmentFieldname(first, 2, name, &len));
    EXPECT_EQ("NAME", std::string(name, len));
    len = sizeof name;
    EXPECT_NE(KIV_OK, KivGetSegmentFieldname(first, 3, name, &len));
    KIV_ASSERT_OK(KivGetKeyType(first, &keyType));
    EXPECT_EQ(KIV_KEY_CHARACTER, keyType);
    KIV_ASSERT_OK(KivGetKeyLength(first, &keyLength));
    EXPECT_EQ(18, keyLength);
    uint16_t fields[16];
    count = 16;
    KIV_ASSERT_OK(KivGetIndexKeyFields(first, fields, &count));
    EXPECT_EQ(2, count);
    EXPECT_EQ(2, fields[0]);
    EXPECT_EQ(1, fields[1]);
    EXPECT_EQ(0, fields[2]);
    KIV_ASSERT_OK(KivCloseIndex(first));
    KIV_ASSERT_OK(KivGetIndexHandleByOrder(t, 1, &first));
    len = sizeof name;
    KIV_ASSERT_OK(KivGetIndexName(first, name, &len));
    EXPECT_EQ("BYNAME", std::string(name, len));
    (void)byName;
}

TEST_F(Indexes, IndexFilesOlderThanTheirTableAreRebuilt) {
    KIVHANDLE ntx = 0;
    KIV_ASSERT_OK(KivCreateIndex(t, "names.ntx", nullptr, "NAME", nullptr, nullptr, 0, &ntx));
    KIV_ASSERT_OK(KivCloseTable(t));
    // The table changes without its ".ntx" open.
    t = Open("people.dbf");
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(Set(t, "NAME", "Aardvark"));
    KIV_ASSERT_OK(KivCloseTable(t));
    t = Open("people.dbf");
    KIVHANDLE handles[2];
    uint16_t count = 2;
    KIV_ASSERT_OK(KivOpenIndex(t, "names.ntx", handles, &count));
    ASSERT_EQ(1, count);
    KIV_ASSERT_OK(KivGotoTop(handles[0]));
    EXPECT_EQ(7u, RecNo(t));
}

TEST_F(Indexes, AnotherProcessSeesTheIndexAfterReopening) {
    Index("BYNAME", "NAME");
    KIV_ASSERT_OK(KivCloseTable(t));
    t = 0;
    const pid_t child = fork();
    if (child == 0) {
        KIVHANDLE c = 0, table = 0;
        if (KivConnect(dir.path().c_str(), &c) || KivOpenTable(c, "people.dbf", nullptr, 0, 1, 0, 2, 0, &table)) _exit(1);
        if (KivAppendRecord(table) || KivSetField(table, "NAME", "Abbott", 6) || KivCloseTable(table)) _exit(2);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(0, WEXITSTATUS(status));
    t = Open("people.dbf");
    KIVHANDLE ix = 0;
    KIV_ASSERT_OK(KivGetIndexHandle(t, "BYNAME", &ix));
    KIV_ASSERT_OK(KivGotoTop(ix));
    EXPECT_EQ(7u, RecNo(t));
    EXPECT_EQ(7u, Walk(ix, t).size());
}

TEST_F(Indexes, TwoHandlesShareTheOrderAndTheirOwnPointers) {
    Index("BYNAME", "NAME");
    KIV_ASSERT_OK(KivCloseTable(t));
    t = Open("people.dbf");
    KIVHANDLE u = Open("people.dbf");
    KIVHANDLE ixT = 0, ixU = 0;
    KIV_ASSERT_OK(KivGetIndexHandle(t, "BYNAME", &ixT));
    KIV_ASSERT_OK(KivGetIndexHandle(u, "BYNAME", &ixU));
    KIV_ASSERT_OK(KivAppendRecord(u));
    KIV_ASSERT_OK(Set(u, "NAME", "Abel"));
    KIV_ASSERT_OK(KivUnlockTable(u));
    KIV_ASSERT_OK(KivGotoTop(ixT));
    EXPECT_EQ(7u, RecNo(t));
    KIV_ASSERT_OK(KivGotoBottom(ixU));
    EXPECT_EQ(3u, RecNo(u));
    EXPECT_EQ(7u, RecNo(t));  // each handle keeps its own record pointer
}

// Navigation in index order with a scope and a filter visits exactly the
// records a brute-force check of the same conditions finds.
TEST_F(Indexes, ScopeAndFilterAgreeWithBruteForce) {
    KIVHANDLE r = Create("random.kdt", KIV_TABLE_KDT, "K,CHAR,4;N,INTEGER;F,LOGICAL");
    std::mt19937 rng(1234);
    struct Row { std::string k; int n; bool f; };
    std::vector<Row> rows;
    for (int i = 0; i < 400; ++i) {
        Row row{std::string(1, static_cast<char>('A' + rng() % 6)) + std::to_string(rng() % 100), static_cast<int>(rng() % 50),
                rng() % 3 != 0};
        rows.push_back(row);
        KIV_ASSERT_OK(KivAppendRecord(r));
        KIV_ASSERT_OK(Set(r, "K", row.k));
        KIV_ASSERT_OK(KivSetLong(r, "N", row.n));
        KIV_ASSERT_OK(KivSetLogical(r, "F", row.f));
        if (i % 37 == 0) {
            KIV_ASSERT_OK(KivDeleteRecord(r));
        }
    }
    KIVHANDLE ix = 0;
    KIV_ASSERT_OK(KivCreateIndex(r, nullptr, "BYK", "K", nullptr, nullptr, 0, &ix));
    KIV_ASSERT_OK(KivSetScope(ix, KIV_SCOPE_TOP, "B", 1, KIV_KEY_TEXT));
    KIV_ASSERT_OK(KivSetScope(ix, KIV_SCOPE_BOTTOM, "D5", 2, KIV_KEY_TEXT));
    KIV_ASSERT_OK(KivSetFilter(r, "F .AND. N < 30"));
    std::vector<std::pair<std::string, uint32_t>> expected;
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        std::string padded = row.k;
        padded.resize(4, ' ');
        const bool inScope = padded >= "B" && padded.substr(0, 2) <= "D5";
        if (inScope && row.f && row.n < 30 && i % 37 != 0) expected.emplace_back(padded, static_cast<uint32_t>(i + 1));
    }
    std::sort(expected.begin(), expected.end());
    std::vector<uint32_t> want;
    for (const auto& e : expected) want.push_back(e.second);
    EXPECT_EQ(want, Walk(ix, r));
    // And backwards.
    std::vector<uint32_t> back;
    for (KivGotoBottom(ix); !AtEof(r) && !AtBof(r); KivSkip(ix, -1)) back.push_back(RecNo(r));
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(want, back);
}

// A file that KivCreateIndex opens takes its place after the files opened by
// name, as the production index does, so that the files a caller opens by
// name keep the order numbers 1, 2, ... in their opening order.
TEST_F(Indexes, CreatedFilesFollowTheFilesOpenedByName) {
    KIVHANDLE ix = 0;
    KIV_ASSERT_OK(KivCreateIndex(t, "first", "F1", "NAME", nullptr, nullptr, 2, &ix));
    KIV_ASSERT_OK(KivCloseTable(t));
    KIV_ASSERT_OK(KivOpenTable(conn, "people.dbf", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                               KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t));
    auto tags = [&] {
        std::string out;
        uint16_t count = 0;
        KIV_EXPECT_OK(KivGetNumIndexes(t, &count));
        for (uint16_t n = 1; n <= count; ++n) {
            KIVHANDLE h = 0;
            char name[32];
            uint32_t len = sizeof name;
            KIV_EXPECT_OK(KivGetIndexHandleByOrder(t, n, &h));
            KIV_EXPECT_OK(KivGetIndexName(h, name, &len));
            out += (out.empty() ? "" : " ") + std::string(name, len);
        }
        return out;
    };
    KIV_ASSERT_OK(KivCreateIndex(t, "made", "M1", "CITY", nullptr, nullptr, 2, &ix));
    EXPECT_EQ("M1", tags());
    uint16_t count = 0;
    KIV_ASSERT_OK(KivOpenIndex(t, "first", nullptr, &count));
    EXPECT_EQ(1, count);
    EXPECT_EQ("F1 M1", tags());
    // A file already open keeps its place when it gets another order.
    KIV_ASSERT_OK(KivCreateIndex(t, "first", "F2", "AGE", nullptr, nullptr, 2, &ix));
    EXPECT_EQ("F1 F2 M1", tags());
    KIV_ASSERT_OK(KivCreateIndex(t, "later", "L1", "NAME", nullptr, nullptr, 2, &ix));
    EXPECT_EQ("F1 F2 M1 L1", tags());
    // Naming a created file moves it among the named files, after them.
    KIV_ASSERT_OK(KivOpenIndex(t, "later", nullptr, &count));
    EXPECT_EQ("F1 F2 L1 M1", tags());
    KIV_ASSERT_OK(KivCloseAllIndexes(t));
    EXPECT_EQ("", tags());
}

// An index made while the last appended record waits for its first write
// keys that record once, with its first write: no blank key beside it.
class IndexOverAnUnwrittenRecord : public EngineFixture,
                                   public ::testing::WithParamInterface<std::tuple<uint16_t, uint32_t>> {};

TEST_P(IndexOverAnUnwrittenRecord, KeysItOnceWithItsFirstWrite) {
    const auto [type, mode] = GetParam();
    const char* file = type == KIV_TABLE_KDT ? "names.kdt" : "names.dbf";
    KIVHANDLE t = Create(file, type, "NAME,C,10");
    KIV_ASSERT_OK(KivCloseTable(t));
    auto open = [&, type = type, mode = mode] {
        KIVHANDLE h = 0;
        EXPECT_EQ(KIV_OK, KivOpenTable(conn, file, nullptr, type, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                       KIV_RIGHTS_NO_CHECK, mode, &h))
            << LastErrorText();
        return h;
    };
    t = open();
    for (const char* name : {"Bob", "Al", "Cy"}) {
        KIV_ASSERT_OK(KivAppendRecord(t));
        KIV_ASSERT_OK(Set(t, "NAME", name));
    }
    KIVHANDLE ix = 0;
    KIV_ASSERT_OK(KivCreateIndex(t, type == KIV_TABLE_NTX ? "byname" : nullptr, "BYNAME", "NAME", nullptr, nullptr, 0,
                                 &ix));
    auto check = [&](const char* when) {
        uint32_t keys = 0;
        KIV_EXPECT_OK(KivGetKeyCount(ix, 2, &keys));
        EXPECT_EQ(3u, keys) << when;
        EXPECT_EQ((std::vector<uint32_t>{2, 1, 3}), Walk(ix, t)) << when;
        // an empty key stands before every key: the first is Al's, no blank one
        uint16_t found = 0;
        KIV_EXPECT_OK(KivSeek(ix, "", 0, KIV_KEY_TEXT, KIV_SEEK_HARD, &found));
        EXPECT_EQ(2u, RecNo(t)) << when;
    };
    check("after the create");
    KIV_ASSERT_OK(KivCloseTable(t));
    t = open();
    ix = 0;
    if (type == KIV_TABLE_NTX) {
        KIVHANDLE handles[1] = {};
        uint16_t count = 1;
        KIV_ASSERT_OK(KivOpenIndex(t, "byname", handles, &count));
        ix = handles[0];
    } else {
        KIV_ASSERT_OK(KivGetIndexHandle(t, "BYNAME", &ix));
    }
    check("after reopening");
    KIV_EXPECT_OK(KivCloseTable(t));
}

INSTANTIATE_TEST_SUITE_P(
    TypesAndOpenModes, IndexOverAnUnwrittenRecord,
    ::testing::Combine(::testing::Values(KIV_TABLE_NTX, KIV_TABLE_CDX, KIV_TABLE_KDT),
                       ::testing::Values(static_cast<uint32_t>(KIV_OPEN_SHARED), static_cast<uint32_t>(KIV_OPEN_EXCLUSIVE))));

// An appended record whose first write fails (the process's file size limit
// stands for a full disk: the memo or the record does not fit) and is then
// cancelled is taken back, as if the process had stopped between append and
// write: the record count, the file and the orders are as before, for
// another process too, and the next append gets that number. A record appended after it by
// another handle keeps its number; the cancelled one then stays as a deleted
// blank, with its key.
struct FailedFirstWrite {
    const char* what;
    uint32_t mode;
    bool transaction;
    bool otherAfter;  // a second handle appends and writes after the failing one
    bool memo = true;  // false: no memo, the record itself does not fit
    bool rollback = false;  // the transaction is rolled back instead of committed
};

void PrintTo(const FailedFirstWrite& c, std::ostream* os) { *os << c.what; }

class CancelAfterAFailedFirstWrite : public ::testing::TestWithParam<std::tuple<uint16_t, FailedFirstWrite>> {};

TEST_P(CancelAfterAFailedFirstWrite, TakesTheAppendBack) {
    const uint16_t type = std::get<0>(GetParam());
    const FailedFirstWrite c = std::get<1>(GetParam());
    TempDir dir;
    const char* name = type == KIV_TABLE_KDT ? "notes.kdt" : "notes.dbf";
    KIVHANDLE conn = 0, t = 0;
    KIV_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    KIV_ASSERT_OK(KivCreateTable(conn, name, nullptr, type, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK, 0,
                                 "NAME,C,10;NOTE,M", &t));
    for (const char* n : {"Bob", "Al", "Cy"}) {
        KIV_ASSERT_OK(KivAppendRecord(t));
        KIV_ASSERT_OK(Set(t, "NAME", n));
        KIV_ASSERT_OK(Set(t, "NOTE", std::string("été de ") + n));
    }
    KIVHANDLE ix = 0;
    KIV_ASSERT_OK(KivCreateIndex(t, type == KIV_TABLE_NTX ? "byname" : nullptr, "BYNAME", "NAME", nullptr, nullptr, 0,
                                 &ix));
    KIV_ASSERT_OK(KivCloseTable(t));
    auto open = [&](uint32_t mode, KIVHANDLE* table, KIVHANDLE* index) -> KIVRESULT {
        if (const KIVRESULT rc = KivOpenTable(conn, name, nullptr, type, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                              KIV_RIGHTS_NO_CHECK, mode, table))
            return rc;
        if (type != KIV_TABLE_NTX) return KivGetIndexHandle(*table, "BYNAME", index);
        uint16_t count = 1;
        return KivOpenIndex(*table, "byname", index, &count);
    };
    const pid_t child = fork();
    if (child == 0) {
        KIVHANDLE u = 0, ixU = 0;
        if (open(c.mode, &t, &ix)) _exit(2);
        if (c.otherAfter && open(c.mode, &u, &ixU)) _exit(3);
        if (c.transaction && KivBeginTransaction(conn)) _exit(4);
        signal(SIGXFSZ, SIG_IGN);
        const auto tableSize = static_cast<rlim_t>(std::filesystem::file_size(dir.File(name)));
        rlimit limit{c.memo ? 60000 : tableSize, RLIM_INFINITY};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(5);
        if (KivAppendRecord(t) || Set(t, "NAME", "Ann")) _exit(6);
        if (c.otherAfter && (KivAppendRecord(u) || Set(u, "NAME", "Zed") || KivWriteRecord(u))) _exit(7);
        const std::string note(100000, 'x');
        if (c.memo && KivSetField(t, "NOTE", note.data(), static_cast<uint32_t>(note.size())) != KIV_OK) _exit(8);
        if (KivWriteRecord(t) != KIV_ERR_IO) _exit(9);
        if (KivCancelUpdate(t)) _exit(10);
        const uint32_t before = c.otherAfter ? 5 : 3;
        uint32_t count = 0;
        if (KivGetRecordCount(t, KIV_COUNT_IGNORE_FILTERS, &count) || count != before) _exit(11);
        // room again: the next append takes the number given back
        limit.rlim_cur = RLIM_INFINITY;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(12);
        if (KivAppendRecord(t) || Set(t, "NAME", "Dee") || Set(t, "NOTE", "Dée") || KivWriteRecord(t)) _exit(13);
        if (RecNo(t) != before + 1) _exit(14);
        if (c.transaction && (c.rollback ? KivRollbackTransaction(conn) : KivCommitTransaction(conn))) _exit(15);
        if (u && KivCloseTable(u)) _exit(16);
        if (KivCloseTable(t)) _exit(17);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(0, WEXITSTATUS(status)) << c.what;
    // what another process finds
    KIV_ASSERT_OK(open(KIV_OPEN_SHARED, &t, &ix));
    uint32_t count = 0, keys = 0;
    KIV_EXPECT_OK(KivGetRecordCount(t, KIV_COUNT_IGNORE_FILTERS, &count));
    KIV_EXPECT_OK(KivGetKeyCount(ix, 2, &keys));
    const uint32_t expected = c.rollback ? 3 : c.otherAfter ? 6 : 4;
    EXPECT_EQ(expected, count) << c.what;
    EXPECT_EQ(expected, keys) << c.what;
    if (type != KIV_TABLE_KDT) {
        // the header counts the records the file holds, the end mark after them
        std::ifstream in(dir.File(name), std::ios::binary);
        uint8_t head[12] = {};
        in.read(reinterpret_cast<char*>(head), sizeof head);
        uint32_t stored = 0;
        uint16_t headerLength = 0, recordLength = 0;
        std::memcpy(&stored, head + 4, 4);
        std::memcpy(&headerLength, head + 8, 2);
        std::memcpy(&recordLength, head + 10, 2);
        EXPECT_EQ(expected, stored) << c.what;
        EXPECT_EQ(headerLength + uintmax_t{expected} * recordLength + 1, std::filesystem::file_size(dir.File(name)))
            << c.what;
    }
    std::vector<std::string> names;
    for (uint32_t r = 1; r <= count; ++r) {
        KIV_ASSERT_OK(KivGotoRecord(t, r));
        uint16_t deleted = 0;
        if (type == KIV_TABLE_KDT && KivIsRecordDeleted(t, &deleted) == KIV_ERR_NO_CURRENT_RECORD) {
            names.push_back("*");  // deleted records of engine tables are never shown
            continue;
        }
        std::string n = Get(t, "NAME");
        n.erase(n.find_last_not_of(' ') + 1);
        KIV_EXPECT_OK(KivIsRecordDeleted(t, &deleted));
        names.push_back(deleted ? "*" + n : n);
    }
    const std::vector<std::string> want =
        c.rollback     ? std::vector<std::string>{"Bob", "Al", "Cy"}
        : c.otherAfter ? std::vector<std::string>{"Bob", "Al", "Cy", "*", "Zed", "Dee"}
                       : std::vector<std::string>{"Bob", "Al", "Cy", "Dee"};
    EXPECT_EQ(want, names) << c.what;
    EXPECT_EQ(c.rollback ? "été de Cy" : "Dée", Get(t, "NOTE")) << c.what;
    std::vector<uint32_t> walked = Walk(ix, t), physical = Walk(t, t);
    std::sort(walked.begin(), walked.end());
    EXPECT_EQ(physical, walked) << c.what;
    KIV_EXPECT_OK(KivCloseTable(t));
    KIV_EXPECT_OK(KivDisconnect(conn));
}

INSTANTIATE_TEST_SUITE_P(
    TypesAndOpens, CancelAfterAFailedFirstWrite,
    ::testing::Combine(::testing::Values(KIV_TABLE_NTX, KIV_TABLE_CDX, KIV_TABLE_KDT),
                       ::testing::Values(FailedFirstWrite{"shared", KIV_OPEN_SHARED, false, false},
                                         FailedFirstWrite{"exclusive", KIV_OPEN_EXCLUSIVE, false, false},
                                         FailedFirstWrite{"shared, in a transaction", KIV_OPEN_SHARED, true, false},
                                         FailedFirstWrite{"exclusive, in a transaction", KIV_OPEN_EXCLUSIVE, true, false},
                                         FailedFirstWrite{"shared, another append after", KIV_OPEN_SHARED, false, true},
                                         FailedFirstWrite{"shared, in a transaction, another append after",
                                                          KIV_OPEN_SHARED, true, true},
                                         FailedFirstWrite{"shared, the record", KIV_OPEN_SHARED, false, false, false},
                                         FailedFirstWrite{"exclusive, the record", KIV_OPEN_EXCLUSIVE, false, false,
                                                          false},
                                         FailedFirstWrite{"shared, rolled back", KIV_OPEN_SHARED, true, false, true,
                                                          true},
                                         FailedFirstWrite{"exclusive, rolled back", KIV_OPEN_EXCLUSIVE, true, false,
                                                          true, true},
                                         FailedFirstWrite{"shared, another append after, rolled back",
                                                          KIV_OPEN_SHARED, true, true, true, true})));

// Tables of one stem (x.dbf and x.tmp) do not share the production index:
// the index file names its table, a table opens only its own, and an index
// made in another table's file is refused naming that table.
class ProductionIndexOfOneStem : public EngineFixture, public ::testing::WithParamInterface<uint16_t> {};

TEST_P(ProductionIndexOfOneStem, BelongsToItsOwnTableOnly) {
    const uint16_t type = GetParam();
    const std::string table = type == KIV_TABLE_KDT ? "x.kdt" : "x.dbf";
    const std::string index = type == KIV_TABLE_KDT ? "x.kdi" : "x.cdx";
    auto make = [&](const std::string& file, const char* defs, const std::vector<std::string>& values) {
        KIVHANDLE t = Create(file.c_str(), type, defs);
        for (const std::string& v : values) {
            KIV_EXPECT_OK(KivAppendRecord(t));
            KIV_EXPECT_OK(Set(t, KIV_FIELD(1), v));
        }
        KIV_EXPECT_OK(KivWriteRecord(t));
        return t;
    };
    auto open = [&](const std::string& file) {
        KIVHANDLE t = 0;
        EXPECT_EQ(KIV_OK, KivOpenTable(conn, file.c_str(), nullptr, type, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                       KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t))
            << file << ": " << LastErrorText();
        return t;
    };
    KIVHANDLE t = make(table, "A,C,5", {"cc", "aa", "bb"});
    KIVHANDLE ix = 0;
    KIV_ASSERT_OK(KivCreateIndex(t, nullptr, "BYA", "A", nullptr, nullptr, 0, &ix));
    KIV_ASSERT_OK(KivCloseTable(t));

    KIVHANDLE other = make("x.tmp", "A,C,5;B,N,5", {"zz", "yy"});
    KIVHANDLE refused = 0;
    EXPECT_EQ(KIV_ERR_TABLE_EXISTS, KivCreateIndex(other, nullptr, "BYB", "B", nullptr, nullptr, 0, &refused));
    EXPECT_NE(LastErrorText().find(table), std::string::npos) << LastErrorText();
    KIV_ASSERT_OK(KivCloseTable(other));

    t = open(table);
    KIV_ASSERT_OK(KivGetIndexHandle(t, "BYA", &ix));
    uint16_t found = 0;
    KIV_ASSERT_OK(KivSeek(ix, "bb", 2, KIV_KEY_TEXT, KIV_SEEK_HARD, &found));
    EXPECT_EQ(1, found);
    EXPECT_EQ(3u, RecNo(t));
    EXPECT_EQ((std::vector<uint32_t>{2, 3, 1}), Walk(ix, t));
    KIV_ASSERT_OK(KivCloseTable(t));

    // a table of the stem without the order's field opens all the same
    std::filesystem::remove(dir.path() + "/x.tmp");
    KIVHANDLE lacking = make("x.tmp", "C,C,5", {"q"});
    KIV_ASSERT_OK(KivCloseTable(lacking));
    lacking = open("x.tmp");
    ASSERT_NE(0u, lacking);
    KIV_EXPECT_OK(KivCloseTable(lacking));
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/" + index));
}

INSTANTIATE_TEST_SUITE_P(Types, ProductionIndexOfOneStem, ::testing::Values(KIV_TABLE_CDX, KIV_TABLE_KDT));

// A close that cannot write its index (the file size limit of the process
// stands for a full disk) reports it, naming the index file; the handle is
// closed all the same and the next open builds the index anew.
TEST(IndexSaveAtClose, AFailedWriteIsReportedByTheClose) {
    TempDir dir;
    KIVHANDLE conn = 0, t = 0, ix = 0;
    KIV_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    KIV_ASSERT_OK(KivCreateTable(conn, "big.dbf", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                 KIV_RIGHTS_NO_CHECK, 0, "NAME,C,10", &t));
    for (int i = 0; i < 1000; ++i) {
        KIV_ASSERT_OK(KivAppendRecord(t));
        KIV_ASSERT_OK(Set(t, KIV_FIELD(1), "n" + std::to_string(i)));
    }
    // keys four times the record: the index file is far larger than the table
    KIV_ASSERT_OK(KivCreateIndex(t, nullptr, "WIDE", "NAME+NAME+NAME+NAME", nullptr, nullptr, 0, &ix));
    KIV_ASSERT_OK(KivCloseTable(t));
    const pid_t child = fork();
    if (child == 0) {
        if (KivOpenTable(conn, "big.dbf", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                         KIV_RIGHTS_NO_CHECK, 0, &t))
            _exit(9);
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{30000, 30000};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
        for (int i = 0; i < 10; ++i)
            if (KivAppendRecord(t) || Set(t, KIV_FIELD(1), "m" + std::to_string(i))) _exit(11);
        const KIVRESULT rc = KivCloseTable(t);
        if (rc != KIV_ERR_IO) _exit(12);
        if (LastErrorText().find("big.cdx") == std::string::npos) _exit(13);
        // the handle is gone
        if (KivGotoTop(t) == KIV_OK) _exit(14);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    KIV_ASSERT_OK(KivOpenTable(conn, "big.dbf", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                               KIV_RIGHTS_NO_CHECK, 0, &t));
    KIV_ASSERT_OK(KivGetIndexHandle(t, "WIDE", &ix));
    uint32_t keys = 0;
    KIV_EXPECT_OK(KivGetKeyCount(ix, 2, &keys));
    EXPECT_EQ(1010u, keys);
    KIV_EXPECT_OK(KivCloseTable(t));
    KIV_EXPECT_OK(KivDisconnect(conn));
}
