// Damaged files: every case fails at once with the engine's code for damage
// and a text that names what is damaged, instead of reading garbage, taking
// memory for a length nobody wrote, or computing with impossible dates.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>

#include "qel32_test.h"
#include "test_support.h"

using namespace qeltest;

namespace {

void Patch(const std::string& path, uint64_t at, const std::string& bytes) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(at));
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string LE32Bytes(uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
std::string BE32Bytes(uint32_t v) {
    const char b[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
    return std::string(b, 4);
}

uint32_t HeaderLength(const std::string& path, bool kdt) {
    std::ifstream f(path, std::ios::binary);
    uint8_t head[12] = {};
    f.read(reinterpret_cast<char*>(head), sizeof head);
    return kdt ? head[8] | head[9] << 8 | head[10] << 16 | uint32_t(head[11]) << 24 : head[8] | head[9] << 8;
}

// Writes the damage into the closed files.
using Patcher = std::function<void()>;

struct DamageCase {
    const char* label;
    uint16_t type;
    const char* table;
    const char* defs;
    // Fills record 1 (the table is open exclusively, the record appended).
    std::function<void(KIVHANDLE)> fill;
    // Finds, while the table is open, where the damage goes (image: record 1
    // as stored), and returns what writes it.
    std::function<Patcher(const std::string& dir, const std::vector<uint8_t>& image, KIVHANDLE t)> damage;
    const char* field;      // read after reopening; nullptr: the open itself must fail
    const char* mentions;   // a part of the error text
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.label; }

class DamagedFiles : public EngineFixture, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedFiles, FailFastWithTheDamageNamed) {
    const DamageCase& c = GetParam();
    KIVHANDLE t = Create(c.table, c.type, c.defs);
    ASSERT_NE(0u, t);
    KIV_ASSERT_OK(KivAppendRecord(t));
    c.fill(t);
    KIV_ASSERT_OK(KivWriteRecord(t));
    const Patcher patch = c.damage(dir.path(), Record(t), t);
    KIV_ASSERT_OK(KivCloseTable(t));
    patch();

    KIVHANDLE again = 0;
    const KIVRESULT opened = KivOpenTable(conn, c.table, nullptr, KIV_TABLE_DEFAULT, KIV_CHAR_ANSI,
                                          KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &again);
    if (!c.field) {
        EXPECT_EQ(KIV_ERR_CORRUPT_FILE, opened);
    } else {
        KIV_ASSERT_OK(opened);
        KIV_ASSERT_OK(KivGotoTop(again));
        uint32_t len = 0;
        EXPECT_EQ(KIV_ERR_CORRUPT_FILE, KivGetField(again, c.field, nullptr, &len, 0)) << c.field;
    }
    const std::string text = LastErrorText();
    EXPECT_NE(std::string::npos, text.find(c.mentions)) << text;
    if (opened == KIV_OK) KivCloseTable(again);
}

void MemoFill(KIVHANDLE t) { KIV_EXPECT_OK(Set(t, "NOTES", "a memo of a few words")); }

// The length in the memo's first block: NTX blocks hold FF FF 08 00 and then
// the length, the others a type and then the length (big-endian in .fpt).
auto MemoLength(const char* memoFile, uint16_t type) {
    return [memoFile, type](const std::string& dir, const std::vector<uint8_t>& image, KIVHANDLE t) -> Patcher {
        const uint32_t off = Offset(t, "NOTES");
        uint32_t block = 0;
        if (type == KIV_TABLE_KDT) std::memcpy(&block, &image[off], 4);
        else block = static_cast<uint32_t>(std::stoul(std::string(image.begin() + off, image.begin() + off + 10)));
        const uint64_t at = static_cast<uint64_t>(block) * (type == KIV_TABLE_NTX ? 512 : 64) + 4;
        const std::string length = type == KIV_TABLE_CDX ? BE32Bytes(0x3FFFFFF0u) : LE32Bytes(0x3FFFFFF0u);
        return [=] { Patch(dir + "/" + memoFile, at, length); };
    };
}
// The block number in the record, far past the memo file's end.
auto MemoPointer(const char* table, bool kdt) {
    return [table, kdt](const std::string& dir, const std::vector<uint8_t>&, KIVHANDLE t) -> Patcher {
        const uint64_t at = HeaderLength(dir + "/" + table, kdt) + Offset(t, "NOTES");
        return [=] { Patch(dir + "/" + table, at, kdt ? LE32Bytes(0x00FFFFFFu) : std::string("  99999999")); };
    };
}
// Raw bytes written over a field of record 1 of a table of our own type.
auto FieldBytes(const char* table, const char* field, std::string bytes) {
    return [table, field, bytes](const std::string& dir, const std::vector<uint8_t>&, KIVHANDLE t) -> Patcher {
        const uint64_t at = HeaderLength(dir + "/" + table, true) + Offset(t, field);
        return [=] { Patch(dir + "/" + table, at, bytes); };
    };
}
auto HeaderBytes(const char* file, uint64_t at, std::string bytes) {
    return [file, at, bytes](const std::string& dir, const std::vector<uint8_t>&, KIVHANDLE) -> Patcher {
        return [=] { Patch(dir + "/" + file, at, bytes); };
    };
}

INSTANTIATE_TEST_SUITE_P(
    Engine, DamagedFiles,
    ::testing::Values(
        DamageCase{"DbtLength", KIV_TABLE_NTX, "a.dbf", "ID,N,3;NOTES,M", MemoFill, MemoLength("a.dbt", KIV_TABLE_NTX),
                   "NOTES", "a.dbt is damaged"},
        DamageCase{"FptLength", KIV_TABLE_CDX, "b.dbf", "ID,N,3;NOTES,M", MemoFill, MemoLength("b.fpt", KIV_TABLE_CDX),
                   "NOTES", "b.fpt is damaged"},
        DamageCase{"KdmLength", KIV_TABLE_KDT, "c.kdt", "ID,INTEGER;NOTES,MEMO", MemoFill,
                   MemoLength("c.kdm", KIV_TABLE_KDT), "NOTES", "c.kdm is damaged"},
        DamageCase{"DbtPointer", KIV_TABLE_NTX, "d.dbf", "ID,N,3;NOTES,M", MemoFill, MemoPointer("d.dbf", false),
                   "NOTES", "past the end"},
        DamageCase{"FptPointer", KIV_TABLE_CDX, "e.dbf", "ID,N,3;NOTES,M", MemoFill, MemoPointer("e.dbf", false),
                   "NOTES", "e.fpt is damaged"},
        DamageCase{"KdmPointer", KIV_TABLE_KDT, "f.kdt", "ID,INTEGER;NOTES,MEMO", MemoFill,
                   MemoPointer("f.kdt", true), "NOTES", "f.kdm is damaged"},
        DamageCase{"KdtDate", KIV_TABLE_KDT, "g.kdt", "D,DATE",
                   [](KIVHANDLE t) { KIV_EXPECT_OK(KivSetJulian(t, "D", 2460000)); },
                   FieldBytes("g.kdt", "D", LE32Bytes(0x7FFFFFFFu)), "D", "field D is damaged"},
        DamageCase{"KdtStampDay", KIV_TABLE_KDT, "h.kdt", "TS,TIMESTAMP",
                   [](KIVHANDLE t) { KIV_EXPECT_OK(Set(t, "TS", "2024-01-02 03:04:05")); },
                   FieldBytes("h.kdt", "TS", LE32Bytes(0x7FFFFFFFu)), "TS", "field TS is damaged"},
        DamageCase{"KdtStampTime", KIV_TABLE_KDT, "i.kdt", "TS,TIMESTAMP",
                   [](KIVHANDLE t) { KIV_EXPECT_OK(Set(t, "TS", "2024-01-02 03:04:05")); },
                   FieldBytes("i.kdt", "TS", LE32Bytes(2460000) + LE32Bytes(0x7FFFFFFFu)), "TS",
                   "field TS is damaged"},
        DamageCase{"KdtTime", KIV_TABLE_KDT, "j.kdt", "TM,TIME",
                   [](KIVHANDLE t) { KIV_EXPECT_OK(Set(t, "TM", "03:04:05")); },
                   FieldBytes("j.kdt", "TM", LE32Bytes(90000000u)), "TM", "field TM is damaged"},
        DamageCase{"DbfCountPastTheEnd", KIV_TABLE_CDX, "k.dbf", "ID,N,3", [](KIVHANDLE) {},
                   HeaderBytes("k.dbf", 4, LE32Bytes(1000000)), nullptr, "exceeds the file"},
        DamageCase{"DbfHeaderLengthPastTheEnd", KIV_TABLE_NTX, "l.dbf", "ID,N,3", [](KIVHANDLE) {},
                   HeaderBytes("l.dbf", 8, std::string("\xF0\xFF", 2)), nullptr, "l.dbf"},
        DamageCase{"DbfVersion", KIV_TABLE_CDX, "m.dbf", "ID,N,3", [](KIVHANDLE) {},
                   HeaderBytes("m.dbf", 0, std::string("\x77", 1)), nullptr, "is not a table file"},
        DamageCase{"DbfRecordLength", KIV_TABLE_CDX, "n.dbf", "ID,N,3", [](KIVHANDLE) {},
                   HeaderBytes("n.dbf", 10, std::string("\x07\x00", 2)), nullptr, "does not match its fields"},
        DamageCase{"KdtFieldCount", KIV_TABLE_KDT, "o.kdt", "ID,INTEGER", [](KIVHANDLE) {},
                   HeaderBytes("o.kdt", 20, LE32Bytes(0x10000000u)), nullptr, "header of"},
        DamageCase{"KdtMemoBlockSize", KIV_TABLE_KDT, "p.kdt", "ID,INTEGER;NOTES,MEMO", MemoFill,
                   HeaderBytes("p.kdm", 4, LE32Bytes(0)), nullptr, "p.kdm is damaged"}),
    [](const ::testing::TestParamInfo<DamageCase>& info) { return std::string(info.param.label); });

// Dates given to the engine: days outside years 1 to 9999 and times outside
// the day are refused, and the stored value is left as it was.
TEST_F(DamagedFiles, ImpossibleDatesAreRefused) {
    KIVHANDLE t = Create("dates.kdt", KIV_TABLE_KDT, "D,DATE;TS,TIMESTAMP;SD,SHORTDATE");
    ASSERT_NE(0u, t);
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(KivSetDateFormat("YYYY-MM-DD"));
    KIV_ASSERT_OK(Set(t, "TS", "2024-01-02 03:04:05"));
    struct Raw { uint32_t day, ms; } raws[] = {{0x7FFFFFFFu, 0}, {2460000, 0x7FFFFFFFu}, {2460000, 86400000u},
                                               {5373485, 0}, {1721425, 0}};
    for (const Raw& r : raws) {
        EXPECT_EQ(KIV_ERR_CONVERSION, KivSetTimeStampRaw(t, "TS", &r)) << r.day << " " << r.ms;
        EXPECT_EQ("2024-01-02 03:04:05", Get(t, "TS"));
    }
    for (int32_t day : {0x7FFFFFFF, 5373485, 1721425}) {
        EXPECT_EQ(KIV_ERR_CONVERSION, KivSetJulian(t, "D", day)) << day;
        EXPECT_EQ(KIV_ERR_CONVERSION, KivSetJulian(t, "SD", day)) << day;
    }
    KIV_EXPECT_OK(KivSetJulian(t, "D", 5373484));  // 9999-12-31
    EXPECT_EQ("9999-12-31", Get(t, "D"));
    KIV_EXPECT_OK(KivSetJulian(t, "D", 1721426));  // 0001-01-01
    EXPECT_EQ("0001-01-01", Get(t, "D"));
    KIV_EXPECT_OK(KivSetDateFormat("MM/DD/YYYY"));
    KIV_EXPECT_OK(KivCloseTable(t));
}

}  // namespace
