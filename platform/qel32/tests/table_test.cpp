// Tables through the engine's C interface: creating, values of every field
// type, empties, navigation, handles and errors, files built by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

#include "qel32_test.h"
#include "test_support.h"

using namespace qeltest;

namespace {

uint32_t LE32At(const std::vector<uint8_t>& image, uint32_t off) {
    uint32_t v;
    std::memcpy(&v, &image[off], 4);
    return v;
}

}  // namespace

class Tables : public EngineFixture {};

// Every field-type code of the engine's own table type, written through text
// and typed setters, read back as text and as record-image bytes.
TEST_F(Tables, EveryKdtFieldTypeRoundTrips) {
    KivSetDateFormat("YYYYMMDD");
    KIVHANDLE t = Create("all.kdt", KIV_TABLE_KDT,
                         "L,LOGICAL;N,NUMERIC,8,2;D,DATE;C,CHAR,6;M,MEMO;B,BINARY;I,IMAGE;V,VARCHAR,20;"
                         "SD,SHORTDATE;F,DOUBLE,2;INT,INTEGER;SI,SHORTINT;TM,TIME;TS,TIMESTAMP;A,AUTOINC;"
                         "R,RAW,4;CD,CURDOUBLE,2;MO,MONEY;CI,CICHARACTER,5;RV,ROWVERSION;MT,MODTIME");
    ASSERT_NE(0u, t);
    KIV_ASSERT_OK(KivAppendRecord(t));
    struct Case { const char* field; const char* in; const char* out; uint16_t code; } cases[] = {
        {"L", "T", "T", 1},           {"N", "-3.14159", "   -3.14", 2}, {"D", "20240229", "20240229", 3},
        {"C", "abc", "abc   ", 4},    {"M", "line1\nline2", "line1\nline2", 5},
        {"V", "varying", "varying", 8}, {"SD", "19991231", "19991231", 9}, {"F", "2.5", "2.50", 10},
        {"INT", "-123456", "-123456", 11}, {"SI", "-300", "-300", 12}, {"TM", "13:14:15", "13:14:15", 13},
        {"TS", "20240101 08:00:00.500", "20240101 08:00:00.500", 14}, {"CD", "19.999", "20.00", 17},
        {"MO", "-1234.56789", "-1234.5678", 18}, {"CI", "MiXeD", "MiXeD", 20},
    };
    for (const auto& c : cases) {
        uint16_t code = 0;
        KIV_EXPECT_OK(KivGetFieldType(t, c.field, &code));
        EXPECT_EQ(c.code, code) << c.field;
        KIV_EXPECT_OK(Set(t, c.field, c.in)) << c.field;
    }
    const std::string binary("\0\x1A\x1A\xFFzz", 6);
    KIV_ASSERT_OK(KivSetBinary(t, "B", KIV_BINARY_KIND, 6, 0, binary.data(), 6));
    KIV_ASSERT_OK(KivSetFieldRaw(t, "R", "\x01\x02\x03\x04", 4));
    KIV_ASSERT_OK(KivSetLong(t, "INT", 42));
    KIV_ASSERT_OK(KivWriteRecord(t));
    KIV_ASSERT_OK(KivCloseTable(t));

    t = Open("all.kdt");
    KIV_ASSERT_OK(KivGotoTop(t));
    for (const auto& c : cases) {
        if (std::string(c.field) == "INT") continue;
        EXPECT_EQ(c.out, Get(t, c.field)) << c.field;
    }
    EXPECT_EQ("42", Get(t, "INT"));
    EXPECT_EQ("1", Get(t, "A"));
    EXPECT_EQ(binary, Get(t, "B"));
    EXPECT_EQ(std::string("\x01\x02\x03\x04", 4), Get(t, "R"));

    // The record image carries the documented encodings.
    const auto image = Record(t);
    double d;
    std::memcpy(&d, &image[Offset(t, "F")], 8);
    EXPECT_EQ(2.5, d);
    EXPECT_EQ(2460370u, LE32At(image, Offset(t, "D")));  // 2024-02-29
    EXPECT_EQ(42u, LE32At(image, Offset(t, "INT")));
    EXPECT_EQ((13u * 3600 + 14 * 60 + 15) * 1000, LE32At(image, Offset(t, "TM")));
    EXPECT_EQ(2460311u, LE32At(image, Offset(t, "TS")));
    EXPECT_EQ(8 * 3600000u + 500, LE32At(image, Offset(t, "TS") + 4));
    int64_t money;
    std::memcpy(&money, &image[Offset(t, "MO")], 8);
    EXPECT_EQ(-12345678, money);
    const uint32_t sd = Offset(t, "SD");
    EXPECT_EQ(1999 / 128, image[sd]);
    EXPECT_EQ(' ', image[0]);
    EXPECT_NE(0u, LE32At(image, Offset(t, "RV")));  // maintained on write
    EXPECT_NE(0u, LE32At(image, Offset(t, "MT")));

    // Typed getters.
    int32_t jd = 0, ms = 0;
    KIV_EXPECT_OK(KivGetJulian(t, "D", &jd));
    EXPECT_EQ(2460370, jd);
    KIV_EXPECT_OK(KivGetMilliseconds(t, "TM", &ms));
    EXPECT_EQ((13 * 3600 + 14 * 60 + 15) * 1000, ms);
    double dv = 0;
    KIV_EXPECT_OK(KivGetDouble(t, "N", &dv));
    EXPECT_DOUBLE_EQ(-3.14, dv);
    uint16_t lv = 0;
    KIV_EXPECT_OK(KivGetLogical(t, "L", &lv));
    EXPECT_EQ(1, lv);
    KivSetDateFormat("MM/DD/YYYY");
}

// A timestamp is written as a day, then a time of that day.
TEST_F(Tables, TimestampsTakeADayThenATime) {
    KivSetDateFormat("YYYYMMDD");
    KIVHANDLE t = Create("stamp.kdt", KIV_TABLE_KDT, "TS,TIMESTAMP");
    KIV_ASSERT_OK(KivAppendRecord(t));
    EXPECT_EQ(KIV_ERR_CONVERSION, KivSetMilliseconds(t, "TS", 1000));  // no day yet
    KIV_ASSERT_OK(KivSetJulian(t, "TS", 2460311));
    KIV_ASSERT_OK(KivSetMilliseconds(t, "TS", (8 * 3600 + 30 * 60) * 1000));
    EXPECT_EQ("20240101 08:30:00", Get(t, "TS"));
    EXPECT_EQ(KIV_ERR_INT_RANGE, KivSetMilliseconds(t, "TS", 86400000));
    EXPECT_EQ("20240101 08:30:00", Get(t, "TS"));
    KivSetDateFormat("MM/DD/YYYY");
}

// A "T" starts a time only after a date: alone, or before a time, it is no
// date, and the stored value stays; blanks still empty the field.
TEST_F(Tables, ATWithoutADateIsNoDate) {
    KivSetDateFormat("YYYYMMDD");
    KIVHANDLE t = Create("tee.kdt", KIV_TABLE_KDT, "D,DATE;TS,TIMESTAMP");
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(Set(t, "D", "20240315"));
    KIV_ASSERT_OK(Set(t, "TS", "20240315 09:00:00"));
    for (const char* field : {"D", "TS"}) {
        for (const char* text : {"T", "T12:00", " T "}) {
            EXPECT_EQ(KIV_ERR_CONVERSION, Set(t, field, text)) << field << " " << text;
        }
    }
    EXPECT_EQ("20240315", Get(t, "D"));
    EXPECT_EQ("20240315 09:00:00", Get(t, "TS"));
    KIV_EXPECT_OK(Set(t, "TS", "2024-03-15T10:00"));
    EXPECT_EQ("20240315 10:00:00", Get(t, "TS"));
    for (const char* blank : {"", " "}) {
        KIV_EXPECT_OK(Set(t, "D", "20240315"));
        KIV_EXPECT_OK(Set(t, "D", blank));
        EXPECT_EQ("        ", Get(t, "D"));  // the empty date
    }
    KIV_EXPECT_OK(Set(t, "TS", ""));
    EXPECT_EQ("", Get(t, "TS"));
    KivSetDateFormat("MM/DD/YYYY");
}

TEST_F(Tables, ValueCutAndRefusedValues) {
    KIVHANDLE t = Create("cut.dbf", KIV_TABLE_CDX, "C,C,3;N,N,4,1;L,L;D,D");
    KIV_ASSERT_OK(KivAppendRecord(t));
    EXPECT_EQ(KIV_ERR_VALUE_CUT, Set(t, "C", "abcdef"));
    EXPECT_EQ("abc", Get(t, "C"));
    EXPECT_EQ(KIV_ERR_INT_RANGE, Set(t, "N", "12345"));
    EXPECT_EQ("", Get(t, "N"));  // a refused value writes nothing: still empty
    EXPECT_EQ(KIV_ERR_CONVERSION, Set(t, "L", "maybe"));
    EXPECT_EQ(KIV_ERR_CONVERSION, Set(t, "D", "2024-13-01"));
    EXPECT_EQ(KIV_ERR_FIELD_NOT_FOUND, Set(t, "NOPE", "x"));
    EXPECT_EQ(KIV_ERR_FIELD_NOT_FOUND, Set(t, KIV_FIELD(9), "x"));
    // Field names are matched without case and up to trailing blanks.
    KIV_EXPECT_OK(Set(t, "c        ", "xy"));
    EXPECT_EQ("xy ", Get(t, KIV_FIELD(1)));
    EXPECT_EQ("xy", Get(t, KIV_FIELD(1), 1));
}

// The empty value of every type, as a blank record holds it.
TEST_F(Tables, BlankRecordsHoldTheEmptyValues) {
    KIVHANDLE kdt = Create("e.kdt", KIV_TABLE_KDT,
                           "L,LOGICAL;N,NUMERIC,5;D,DATE;C,CHAR,3;M,MEMO;F,DOUBLE;I,INTEGER;S,SHORTINT;"
                           "T,TIME;TS,TIMESTAMP;MO,MONEY");
    KIV_ASSERT_OK(KivAppendRecord(kdt));
    const auto image = Record(kdt);
    struct Case { const char* field; std::vector<uint8_t> bytes; } cases[] = {
        {"L", {' '}},
        {"N", {0, 0, 0, 0, 0}},
        {"D", {0, 0, 0, 0}},
        {"C", {0, 0, 0}},
        {"M", {0, 0, 0, 0}},
        {"F", {0x20, 0, 0, 0, 0, 0, 0, 0x80}},
        {"I", {0, 0, 0, 0x80}},
        {"S", {0, 0x80}},
        {"T", {0xFF, 0xFF, 0xFF, 0xFF}},
        {"TS", {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"MO", {0, 0, 0, 0, 0, 0, 0, 0x80}},
    };
    for (const auto& c : cases) {
        const uint32_t off = Offset(kdt, c.field);
        EXPECT_EQ(c.bytes, std::vector<uint8_t>(image.begin() + off, image.begin() + off + c.bytes.size()))
            << c.field;
        uint16_t empty = 0;
        KIV_EXPECT_OK(KivIsEmpty(kdt, c.field, &empty));
        EXPECT_EQ(1, empty) << c.field;
    }
    std::vector<uint8_t> cleared(image.size(), 0xAA);
    KIV_EXPECT_OK(KivClearRecordBuffer(kdt, cleared.data(), static_cast<uint32_t>(cleared.size())));
    EXPECT_EQ(image, cleared);

    KIVHANDLE dbf = Create("e.dbf", KIV_TABLE_NTX, "L,L;N,N,5;D,D;C,C,3;M,M");
    KIV_ASSERT_OK(KivAppendRecord(dbf));
    const auto dimage = Record(dbf);
    EXPECT_EQ(std::string(1 + 1 + 5 + 8 + 3 + 10, ' '), std::string(dimage.begin(), dimage.end()));
    for (const char* f : {"L", "N", "D", "C", "M"}) {
        uint16_t empty = 0;
        KIV_EXPECT_OK(KivIsEmpty(dbf, f, &empty));
        EXPECT_EQ(1, empty) << f;
    }
    // Binary fields make a version 0x30 table: memo fields hold 4-byte block
    // numbers there, zero when empty, and binary numbers are never empty.
    KIVHANDLE vfp = Create("f.dbf", KIV_TABLE_CDX, "L,L;N,N,5;D,D;C,C,3;M,M;I,I;B,DOUBLE;T,TIMESTAMP;Y,MONEY");
    KIV_ASSERT_OK(KivAppendRecord(vfp));
    const auto vimage = Record(vfp);
    EXPECT_EQ(std::string(1 + 1 + 5 + 8 + 3, ' ') + std::string(4 + 4 + 8 + 8 + 8, '\0'),
              std::string(vimage.begin(), vimage.end()));
    for (const char* f : {"L", "N", "D", "C", "M", "T"}) {
        uint16_t empty = 0;
        KIV_EXPECT_OK(KivIsEmpty(vfp, f, &empty));
        EXPECT_EQ(1, empty) << f;
    }
    for (const char* f : {"I", "B", "Y"}) {
        uint16_t empty = 1;
        KIV_EXPECT_OK(KivIsEmpty(vfp, f, &empty));
        EXPECT_EQ(0, empty) << f;
    }
}

TEST_F(Tables, MemosAndBlobsSurviveReopeningInEveryTableType) {
    const std::string text = "first line\r\nsecond \x1A line with an end mark";
    const std::string bytes("\0\1\x1A\x1A\xFE\0", 6);
    const std::string big(100000, 'x');
    struct Case { const char* name; uint16_t type; } cases[] = {
        {"m1.dbf", KIV_TABLE_NTX}, {"m2.dbf", KIV_TABLE_CDX}, {"m3.kdt", KIV_TABLE_KDT}};
    for (const auto& c : cases) {
        KIVHANDLE t = Create(c.name, c.type, "ID,N,3;NOTE,M;DATA,BLOB");
        for (int i = 1; i <= 3; ++i) {
            KIV_ASSERT_OK(KivAppendRecord(t));
            KIV_ASSERT_OK(Set(t, "ID", std::to_string(i)));
            if (i == 1) {
                KIV_ASSERT_OK(Set(t, "NOTE", text));
            }
            if (i == 2) {
                KIV_ASSERT_OK(Set(t, "NOTE", big));
            }
            KIV_ASSERT_OK(KivSetBinary(t, "DATA", KIV_BINARY_KIND, 6, 0, bytes.data(), 6));
        }
        KIV_ASSERT_OK(KivCloseTable(t));
        t = Open(c.name);
        KIV_ASSERT_OK(KivGotoTop(t));
        EXPECT_EQ(text, Get(t, "NOTE")) << c.name;
        EXPECT_EQ(bytes, Get(t, "DATA")) << c.name;
        uint32_t len = 0;
        KIV_EXPECT_OK(KivGetMemoLength(t, "NOTE", &len));
        EXPECT_EQ(text.size(), len);
        // Piecewise reads from an offset, and the end.
        char piece[3];
        uint32_t plen = sizeof piece;
        EXPECT_EQ(KIV_ERR_BUFFER_TOO_SMALL, KivGetBinary(t, "DATA", 2, piece, &plen));
        EXPECT_EQ(4u, plen);  // what is left from the offset
        EXPECT_EQ(std::string("\x1A\x1A\xFE", 3), std::string(piece, 3));
        plen = sizeof piece;
        EXPECT_EQ(KIV_ERR_OFFSET_BEYOND, KivGetBinary(t, "DATA", 6, piece, &plen));
        KIV_ASSERT_OK(KivSkip(t, 1));
        EXPECT_TRUE(big == Get(t, "NOTE")) << c.name;
        KIV_ASSERT_OK(KivSkip(t, 1));
        EXPECT_EQ("", Get(t, "NOTE")) << c.name;
        uint16_t empty = 0;
        KIV_EXPECT_OK(KivIsEmpty(t, "NOTE", &empty));
        EXPECT_EQ(1, empty);
        // Rewriting a memo keeps the others intact.
        KIV_ASSERT_OK(KivGotoTop(t));
        KIV_ASSERT_OK(Set(t, "NOTE", "changed"));
        KIV_ASSERT_OK(KivSkip(t, 1));
        EXPECT_TRUE(big == Get(t, "NOTE"));
        KIV_ASSERT_OK(KivSkip(t, -1));
        EXPECT_EQ("changed", Get(t, "NOTE"));
        KIV_ASSERT_OK(KivCloseTable(t));
    }
}

TEST_F(Tables, WholeRecordImagesKeepTheBlobReferences) {
    KIVHANDLE t = Create("img.dbf", KIV_TABLE_CDX, "NAME,C,4;NOTE,M");
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(Set(t, "NOTE", "kept"));
    KIV_ASSERT_OK(KivWriteRecord(t));
    std::string image = " abcd0123456789";
    KIV_ASSERT_OK(KivSetRecord(t, image.data(), static_cast<uint32_t>(image.size())));
    KIV_ASSERT_OK(KivWriteRecord(t));
    EXPECT_EQ("abcd", Get(t, "NAME"));
    EXPECT_EQ("kept", Get(t, "NOTE"));
}

// Navigation: one table of three records, a case per movement.
class Navigation : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        t = Create("nav.dbf", KIV_TABLE_CDX, "ID,N,3");
        for (int i = 1; i <= 3; ++i) {
            KIV_ASSERT_OK(KivAppendRecord(t));
            KIV_ASSERT_OK(Set(t, "ID", std::to_string(i)));
        }
        KIV_ASSERT_OK(KivWriteRecord(t));
    }
    KIVHANDLE t = 0;
};

TEST_F(Navigation, Movements) {
    struct Step { const char* what; KIVRESULT (*move)(KIVHANDLE); uint32_t recno; bool bof, eof; } steps[] = {
        {"BOF, skip +1 is record 1", [](KIVHANDLE h) { KivGotoBOF(h); return KivSkip(h, 1); }, 1, false, false},
        {"top, skip -1 sets BOF on record 1", [](KIVHANDLE h) { KivGotoTop(h); return KivSkip(h, -1); }, 1, true, false},
        {"BOF after skip -1, skip +1 is record 2", [](KIVHANDLE h) { KivGotoTop(h); KivSkip(h, -1); return KivSkip(h, 1); }, 2, false, false},
        {"bottom, skip +1 is EOF", [](KIVHANDLE h) { KivGotoBottom(h); return KivSkip(h, 1); }, 4, false, true},
        {"EOF, skip -1 is the last", [](KIVHANDLE h) { KivGotoBottom(h); KivSkip(h, 1); return KivSkip(h, -1); }, 3, false, false},
        {"EOF, skip +1 stays at EOF", [](KIVHANDLE h) { KivGotoBottom(h); KivSkip(h, 1); return KivSkip(h, 1); }, 4, false, true},
        {"skip past the end in one step", [](KIVHANDLE h) { KivGotoTop(h); return KivSkip(h, 10); }, 4, false, true},
        {"skip back past the start in one step", [](KIVHANDLE h) { KivGotoBottom(h); return KivSkip(h, -10); }, 1, true, false},
        {"skip 0 stays", [](KIVHANDLE h) { KivGotoRecord(h, 2); return KivSkip(h, 0); }, 2, false, false},
        {"goto a record", [](KIVHANDLE h) { return KivGotoRecord(h, 3); }, 3, false, false},
    };
    for (const auto& s : steps) {
        KIV_EXPECT_OK(s.move(t)) << s.what;
        EXPECT_EQ(s.recno, RecNo(t)) << s.what;
        EXPECT_EQ(s.bof, AtBof(t)) << s.what;
        EXPECT_EQ(s.eof, AtEof(t)) << s.what;
    }
    // No record at EOF: field reads answer "no current record".
    KivGotoBottom(t);
    KivSkip(t, 1);
    char buf[8];
    uint32_t len = sizeof buf;
    EXPECT_EQ(KIV_ERR_NO_CURRENT_RECORD, KivGetField(t, "ID", buf, &len, 0));
    EXPECT_EQ(KIV_ERR_NO_SUCH_RECORD, KivGotoRecord(t, 9));
    EXPECT_TRUE(AtEof(t));
}

TEST_F(Navigation, EmptyTableIsAtBothEnds) {
    KIVHANDLE e = Create("empty.kdt", KIV_TABLE_KDT, "ID,INTEGER");
    for (auto move : {KivGotoTop, KivGotoBottom}) {
        KIV_EXPECT_OK(move(e));
        EXPECT_TRUE(AtBof(e));
        EXPECT_TRUE(AtEof(e));
    }
    KIV_EXPECT_OK(KivSkip(e, 1));
    EXPECT_TRUE(AtEof(e));
}

TEST_F(Navigation, DeletedRecordsAreHiddenWhenAsked) {
    KIV_ASSERT_OK(KivGotoRecord(t, 2));
    KIV_ASSERT_OK(KivDeleteRecord(t));
    uint16_t deleted = 0;
    KIV_EXPECT_OK(KivIsRecordDeleted(t, &deleted));
    EXPECT_EQ(1, deleted);
    KIV_ASSERT_OK(KivShowDeleted(0));
    KIV_ASSERT_OK(KivGotoTop(t));
    KIV_ASSERT_OK(KivSkip(t, 1));
    EXPECT_EQ(3u, RecNo(t));
    KIV_ASSERT_OK(KivSkip(t, -1));
    EXPECT_EQ(1u, RecNo(t));
    uint32_t visible = 0, all = 0;
    KIV_EXPECT_OK(KivGetRecordCount(t, KIV_COUNT_RESPECT_FILTERS, &visible));
    KIV_EXPECT_OK(KivGetRecordCount(t, KIV_COUNT_IGNORE_FILTERS, &all));
    EXPECT_EQ(2u, visible);
    EXPECT_EQ(3u, all);
    EXPECT_EQ(1u, RecNo(t));  // counting keeps the position
    KIV_EXPECT_OK(KivGotoRecord(t, 2));
    EXPECT_TRUE(AtEof(t));  // a hidden record is no position
    KIV_ASSERT_OK(KivShowDeleted(1));
    KIV_ASSERT_OK(KivGotoRecord(t, 2));
    KIV_ASSERT_OK(KivRecallRecord(t));
    KIV_ASSERT_OK(KivShowDeleted(0));
    KIV_ASSERT_OK(KivGotoTop(t));
    KIV_ASSERT_OK(KivSkip(t, 1));
    EXPECT_EQ(2u, RecNo(t));
    KivShowDeleted(1);
}

TEST_F(Navigation, DeletedRecordsOfEngineTablesAreNeverShown) {
    KIVHANDLE k = Create("del.kdt", KIV_TABLE_KDT, "ID,INTEGER");
    for (int i = 1; i <= 3; ++i) {
        KIV_ASSERT_OK(KivAppendRecord(k));
        KIV_ASSERT_OK(KivSetLong(k, "ID", i));
    }
    KIV_ASSERT_OK(KivGotoRecord(k, 1));
    KIV_ASSERT_OK(KivDeleteRecord(k));
    KIV_ASSERT_OK(KivShowDeleted(1));
    KIV_ASSERT_OK(KivGotoTop(k));
    EXPECT_EQ(2u, RecNo(k));
}

TEST_F(Navigation, PendingChangesAreWrittenOnMoveAndDiscardedOnCancel) {
    KIV_ASSERT_OK(KivCloseTable(t));  // created tables are open exclusively
    t = Open("nav.dbf");
    KIVHANDLE other = Open("nav.dbf");
    KIV_ASSERT_OK(KivGotoTop(t));
    KIV_ASSERT_OK(Set(t, "ID", "11"));
    KIV_ASSERT_OK(KivSkip(t, 1));  // written by the move
    KIV_ASSERT_OK(KivGotoTop(other));
    EXPECT_EQ(" 11", Get(other, "ID"));
    KIV_ASSERT_OK(Set(t, "ID", "22"));
    KIV_EXPECT_OK(KivCancelUpdate(t));
    EXPECT_EQ("  2", Get(t, "ID"));
    EXPECT_EQ(KIV_ERR_NOTHING_TO_CANCEL, KivCancelUpdate(t));
    KIV_ASSERT_OK(Set(t, "ID", "33"));
    KIV_ASSERT_OK(KivCloseTable(t));  // and on close
    KIV_ASSERT_OK(KivGotoRecord(other, 2));
    EXPECT_EQ(" 33", Get(other, "ID"));
}

TEST_F(Tables, BookmarksAndCrc) {
    KIVHANDLE t = Create("bm.kdt", KIV_TABLE_KDT, "N,INTEGER");
    for (int i = 0; i < 3; ++i) KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(KivGotoRecord(t, 2));
    uint8_t mark[8];
    uint32_t len = sizeof mark;
    KIV_ASSERT_OK(KivGetBookmark60(t, mark, &len));
    EXPECT_EQ(4u, len);
    uint32_t first32;
    std::memcpy(&first32, mark, 4);
    EXPECT_EQ(2u, first32);
    uint32_t crc1 = 0, crc2 = 0;
    KIV_ASSERT_OK(KivGetRecordCRC(t, &crc1, 0));
    KIV_ASSERT_OK(KivSetLong(t, "N", 5));
    KIV_ASSERT_OK(KivGetRecordCRC(t, &crc2, 0));
    EXPECT_EQ(crc1, crc2);  // pending changes are not stored yet
    KIV_ASSERT_OK(KivWriteRecord(t));
    KIV_ASSERT_OK(KivGetRecordCRC(t, &crc2, 0));
    EXPECT_NE(crc1, crc2);
    KIV_ASSERT_OK(KivGotoTop(t));
    KIV_ASSERT_OK(KivGotoBookmark(t, first32));
    EXPECT_EQ(2u, RecNo(t));
    int32_t cmp = 0;
    const uint32_t a = 1, b = 3;
    KIV_EXPECT_OK(KivCompareBookmarks(&a, &b, &cmp));
    EXPECT_LT(cmp, 0);
}

TEST_F(Tables, OemTablesStoreCodePage850) {
    KIVHANDLE t = Create("oem.dbf", KIV_TABLE_CDX, "NAME,C,8;NOTE,M");
    KIV_ASSERT_OK(KivCloseTable(t));
    t = Open("oem.dbf", KIV_OPEN_EXCLUSIVE, KIV_CHAR_OEM);
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(Set(t, "NAME", "M\xFCller"));  // "Müller" in code page 1252
    KIV_ASSERT_OK(Set(t, "NOTE", "\xE9t\xE9"));
    KIV_ASSERT_OK(KivWriteRecord(t));
    const auto image = Record(t);
    EXPECT_EQ(0x81, image[Offset(t, "NAME") + 1]);  // ü in code page 850
    EXPECT_EQ("M\xFCller  ", Get(t, "NAME"));
    EXPECT_EQ("\xE9t\xE9", Get(t, "NOTE"));
    KIV_ASSERT_OK(KivCloseTable(t));
    t = Open("oem.dbf");  // read as ANSI: the stored bytes
    KIV_ASSERT_OK(KivGotoTop(t));
    EXPECT_EQ("M\x81ller  ", Get(t, "NAME"));
}

TEST_F(Tables, PackAndZap) {
    KIVHANDLE t = Create("pz.dbf", KIV_TABLE_NTX, "ID,N,3;NOTE,M");
    for (int i = 1; i <= 5; ++i) {
        KIV_ASSERT_OK(KivAppendRecord(t));
        KIV_ASSERT_OK(Set(t, "ID", std::to_string(i)));
        KIV_ASSERT_OK(Set(t, "NOTE", "note " + std::to_string(i)));
        if (i % 2 == 0) {
            KIV_ASSERT_OK(KivDeleteRecord(t));
        }
    }
    KIV_ASSERT_OK(KivPackTable(t));
    uint32_t count = 0;
    KIV_ASSERT_OK(KivGetRecordCount(t, KIV_COUNT_IGNORE_FILTERS, &count));
    EXPECT_EQ(3u, count);
    std::string seen;
    for (KivGotoTop(t); !AtEof(t); KivSkip(t, 1)) seen += Get(t, "NOTE") + ";";
    EXPECT_EQ("note 1;note 3;note 5;", seen);
    KIV_ASSERT_OK(KivZapTable(t));
    KIV_ASSERT_OK(KivGetRecordCount(t, KIV_COUNT_IGNORE_FILTERS, &count));
    EXPECT_EQ(0u, count);
    KIV_ASSERT_OK(KivCloseTable(t));
    t = Open("pz.dbf");
    KIV_ASSERT_OK(KivGetRecordCount(t, KIV_COUNT_IGNORE_FILTERS, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(KIV_ERR_SHARING, KivPackTable(t));  // shared opens cannot pack
}

// Packing and emptying cannot be undone: inside a transaction both are
// refused before anything changes (the deletion pending in the handle
// included), and the transaction rolls back whole; after its commit they work.
TEST_F(Tables, PackAndZapAreRefusedInsideATransaction) {
    for (const uint16_t type : {KIV_TABLE_NTX, KIV_TABLE_CDX, KIV_TABLE_KDT}) {
        SCOPED_TRACE("table type " + std::to_string(type));
        const std::string name = "p" + std::to_string(type) + ".dbf";
        KIVHANDLE t = Create(name.c_str(), type, "A,C,5");
        for (const char* a : {"r0", "r1", "r2", "r3"}) {
            KIV_ASSERT_OK(KivAppendRecord(t));
            KIV_ASSERT_OK(Set(t, "A", a));
        }
        KIV_ASSERT_OK(KivCloseTable(t));
        t = Open(name.c_str(), KIV_OPEN_EXCLUSIVE);
        auto contents = [&] {
            std::string seen;
            uint16_t deleted = 0;
            for (KivGotoTop(t); !AtEof(t); KivSkip(t, 1)) {
                KivIsRecordDeleted(t, &deleted);
                seen += Get(t, "A", 1) + (deleted ? "*;" : ";");
            }
            return seen;
        };
        const std::string table = "Table P" + std::to_string(type);
        KIV_ASSERT_OK(KivBeginTransaction(conn));
        KIV_ASSERT_OK(KivGotoRecord(t, 2));
        KIV_ASSERT_OK(Set(t, "A", "x1"));
        KIV_ASSERT_OK(KivDeleteRecord(t));
        EXPECT_EQ(KIV_ERR_NOT_APPLICABLE, KivPackTable(t));
        EXPECT_NE(std::string::npos, LastErrorText().find(table + " cannot be packed inside a transaction"))
            << LastErrorText();
        EXPECT_EQ(KIV_ERR_NOT_APPLICABLE, KivZapTable(t));
        EXPECT_NE(std::string::npos, LastErrorText().find(table + " cannot be emptied inside a transaction"))
            << LastErrorText();
        uint16_t open = 0;
        KIV_ASSERT_OK(KivInTransaction(conn, &open));
        EXPECT_EQ(1, open) << "the refusals leave the transaction open";
        // (Deleted records of our own tables are never shown.)
        EXPECT_EQ(type == KIV_TABLE_KDT ? "r0;r2;r3;" : "r0;x1*;r2;r3;", contents());
        KIV_ASSERT_OK(KivRollbackTransaction(conn));
        EXPECT_EQ("r0;r1;r2;r3;", contents()) << "the whole transaction rolls back";

        KIV_ASSERT_OK(KivBeginTransaction(conn));
        KIV_ASSERT_OK(KivGotoRecord(t, 3));
        KIV_ASSERT_OK(KivDeleteRecord(t));
        KIV_ASSERT_OK(KivCommitTransaction(conn));
        KIV_ASSERT_OK(KivPackTable(t));
        EXPECT_EQ("r0;r1;r3;", contents());
        KIV_ASSERT_OK(KivZapTable(t));
        EXPECT_EQ("", contents());
        KIV_ASSERT_OK(KivCloseTable(t));
    }
}

// Many appends in an exclusive open, a pack and a zap between them: every
// record reads back, and the closed file ends right after its end-of-file
// mark, in every table type.
TEST_F(Tables, AppendedFileEndsAtItsEndMark) {
    struct Case {
        const char* file;
        uint16_t type;
        const char* fields;
    };
    for (const Case& c : {Case{"many.dbf", KIV_TABLE_NTX, "ID,N,8;NAME,C,40"},
                          Case{"many2.dbf", KIV_TABLE_CDX, "ID,N,8;NAME,C,40"},
                          Case{"many.kdt", KIV_TABLE_KDT, "ID,INTEGER;NAME,CHAR,40"}}) {
        SCOPED_TRACE(c.file);
        KIVHANDLE t = Create(c.file, c.type, c.fields);
        auto append = [&t](int from, int to) {
            for (int i = from; i <= to; ++i) {
                ASSERT_EQ(KIV_OK, KivAppendRecord(t)) << LastErrorText();
                ASSERT_EQ(KIV_OK, KivSetLong(t, "ID", i)) << LastErrorText();
                ASSERT_EQ(KIV_OK, Set(t, "NAME", "name " + std::to_string(i))) << LastErrorText();
            }
        };
        append(1, 30000);  // past the first step the file grows by
        KIV_ASSERT_OK(KivGotoRecord(t, 12345));
        EXPECT_EQ("name 12345", Get(t, "NAME", 1));
        KIV_ASSERT_OK(KivZapTable(t));
        append(1, 40000);
        KIV_ASSERT_OK(KivGotoRecord(t, 2));
        KIV_ASSERT_OK(KivDeleteRecord(t));
        KIV_ASSERT_OK(KivPackTable(t));
        append(40001, 40010);
        uint32_t length = 0;
        KIV_ASSERT_OK(KivGetRecordLength(t, &length));
        KIV_ASSERT_OK(KivCloseTable(t));

        std::ifstream in(dir.File(c.file), std::ios::binary | std::ios::ate);
        const auto size = static_cast<uint64_t>(in.tellg());
        std::vector<uint8_t> head(12);
        in.seekg(0);
        in.read(reinterpret_cast<char*>(head.data()), 12);
        const uint32_t header = c.type == KIV_TABLE_KDT ? LE32At(head, 8) : uint32_t(head[8] | head[9] << 8);
        EXPECT_EQ(header + uint64_t(40009) * length + 1, size);

        t = Open(c.file, KIV_OPEN_EXCLUSIVE);
        uint32_t count = 0;
        KIV_ASSERT_OK(KivGetRecordCount(t, KIV_COUNT_IGNORE_FILTERS, &count));
        EXPECT_EQ(40009u, count);
        int32_t expected = 1, id = 0;
        for (KivGotoTop(t); !AtEof(t); KivSkip(t, 1), ++expected) {
            expected += expected == 2 ? 1 : 0;
            KIV_ASSERT_OK(KivGetLong(t, "ID", &id));
            ASSERT_EQ(expected, id);
        }
        KIV_ASSERT_OK(KivCloseTable(t));
    }
}

// A record appended and not yet written reads as a blank record to the other
// handles of its process, SQL included, until its values are written.
TEST_F(Tables, UnwrittenAppendReadsBlankInItsOwnProcess) {
    KIVHANDLE t = Create("pend.dbf", KIV_TABLE_CDX, "NAME,C,10");
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(Set(t, "NAME", "one"));
    KIV_ASSERT_OK(KivCloseTable(t));
    const KIVHANDLE a = Open("pend.dbf"), b = Open("pend.dbf");
    KIV_ASSERT_OK(KivAppendRecord(a));
    KIV_ASSERT_OK(Set(a, "NAME", "two"));
    uint32_t count = 0;
    KIV_ASSERT_OK(KivGetRecordCount(b, KIV_COUNT_IGNORE_FILTERS, &count));
    EXPECT_EQ(2u, count);
    KIV_ASSERT_OK(KivGotoRecord(b, 2));
    EXPECT_EQ("", Get(b, "NAME", 1));
    KIVHANDLE st = 0, cursor = 0;
    KIV_ASSERT_OK(KivCreateSQLStatement(conn, &st));
    KIV_ASSERT_OK(KivExecuteSQLDirect(st, "SELECT NAME FROM pend", &cursor));
    KIV_ASSERT_OK(KivGetRecordCount(cursor, KIV_COUNT_IGNORE_FILTERS, &count));
    EXPECT_EQ(2u, count);
    KIV_ASSERT_OK(KivCloseTable(cursor));
    KIV_ASSERT_OK(KivWriteRecord(a));
    KIV_ASSERT_OK(KivGotoRecord(b, 2));
    EXPECT_EQ("two", Get(b, "NAME", 1));
    KIV_EXPECT_OK(KivCloseSQLStatement(st));
}

TEST_F(Tables, CopyAndConvert) {
    KIVHANDLE src = Create("src.kdt", KIV_TABLE_KDT, "NAME,CHAR,10;AMOUNT,NUMERIC,8,2;NOTE,MEMO;WHEN,TIMESTAMP");
    for (int i = 1; i <= 3; ++i) {
        KIV_ASSERT_OK(KivAppendRecord(src));
        KIV_ASSERT_OK(Set(src, "NAME", "n" + std::to_string(i)));
        KIV_ASSERT_OK(Set(src, "AMOUNT", std::to_string(i * 1.5)));
        KIV_ASSERT_OK(Set(src, "NOTE", "memo " + std::to_string(i)));
    }
    KIVHANDLE dst = Create("dst.dbf", KIV_TABLE_CDX, "NAME,C,10;NOTE,M;OTHER,L");
    KIV_ASSERT_OK(KivCopyTableContents(src, dst, 2));
    uint32_t count = 0;
    KIV_ASSERT_OK(KivGetRecordCount(dst, KIV_COUNT_IGNORE_FILTERS, &count));
    EXPECT_EQ(3u, count);
    KIV_ASSERT_OK(KivGotoBottom(dst));
    EXPECT_EQ("n3        ", Get(dst, "NAME"));
    EXPECT_EQ("memo 3", Get(dst, "NOTE"));

    KIV_ASSERT_OK(KivConvertTable(dst, 1, "conv", KIV_TABLE_KDT));
    KIVHANDLE conv = Open("conv.kdt");
    uint16_t type = 0;
    KIV_ASSERT_OK(KivGetTableType(conv, &type));
    EXPECT_EQ(KIV_TABLE_KDT, type);
    KIV_ASSERT_OK(KivGotoTop(conv));
    EXPECT_EQ("memo 1", Get(conv, "NOTE"));
    // Types the DBF format lacks are refused, not dropped; date-times make a
    // version 0x30 table.
    KIV_EXPECT_OK(KivConvertTable(src, 1, "stamps", KIV_TABLE_NTX));
    KIVHANDLE times = Create("times.kdt", KIV_TABLE_KDT, "TM,TIME");
    EXPECT_EQ(KIV_ERR_BAD_FIELD_DEF, KivConvertTable(times, 1, "bad", KIV_TABLE_NTX));
}

TEST_F(Tables, CreateAndOpenFailures) {
    Create("x.dbf", KIV_TABLE_CDX, "A,C,1");
    KIVHANDLE t = 0;
    EXPECT_EQ(KIV_ERR_TABLE_EXISTS, KivCreateTable(conn, "x.dbf", nullptr, KIV_TABLE_CDX, 1, 0, 2, 0, "A,C,1", &t));
    EXPECT_EQ(KIV_ERR_FILE_NOT_FOUND, KivOpenTable(conn, "missing", nullptr, 0, 1, 0, 2, 0, &t));
    EXPECT_EQ(KIV_ERR_BAD_FIELD_DEF, KivCreateTable(conn, "y.dbf", nullptr, KIV_TABLE_CDX, 1, 0, 2, 0, "A,Q", &t));
    EXPECT_FALSE(std::filesystem::exists(dir.File("y.dbf")));

    std::ofstream(dir.File("junk.dbf")) << "this is not a table at all, just some text";
    EXPECT_EQ(KIV_ERR_CORRUPT_FILE, KivOpenTable(conn, "junk.dbf", nullptr, 0, 1, 0, 2, 0, &t));
    EXPECT_EQ(0u, t);
}

// A DBF written byte by byte from the public format, with a memo file in
// the older style whose texts end with two end-of-file marks.
TEST_F(Tables, HandBuiltDbfReads) {
    auto put16 = [](std::string& s, size_t at, uint16_t v) { s[at] = char(v & 0xFF); s[at + 1] = char(v >> 8); };
    struct F { const char* name; char type; uint8_t len, dec; } fields[] = {
        {"NAME", 'C', 10, 0}, {"PRICE", 'N', 7, 2}, {"SOLD", 'D', 8, 0}, {"OK", 'L', 1, 0}, {"NOTE", 'M', 10, 0}};
    const uint16_t headerLen = 32 + 32 * 5 + 1, recordLen = 1 + 10 + 7 + 8 + 1 + 10;
    std::string dbf(headerLen, '\0');
    dbf[0] = char(0x83);
    dbf[4] = 3;
    put16(dbf, 8, headerLen);
    put16(dbf, 10, recordLen);
    for (int i = 0; i < 5; ++i) {
        std::memcpy(&dbf[32 + 32 * i], fields[i].name, std::strlen(fields[i].name));
        dbf[32 + 32 * i + 11] = fields[i].type;
        dbf[32 + 32 * i + 16] = char(fields[i].len);
        dbf[32 + 32 * i + 17] = char(fields[i].dec);
    }
    dbf[headerLen - 1] = 0x0D;
    dbf += " Widget      12.5019990704T         1";
    dbf += "*Gadget       0.99        F          ";
    dbf += " Broken      1x.50        F          ";
    dbf += '\x1A';
    std::ofstream(dir.File("HAND.DBF"), std::ios::binary) << dbf;
    std::string dbt(512, '\0');
    dbt[0] = 2;
    dbt += "Made in Ghent\x1A\x1A";
    dbt.resize(1024, '\0');
    std::ofstream(dir.File("HAND.DBT"), std::ios::binary) << dbt;

    KivSetDateFormat("YYYY-MM-DD");
    KIVHANDLE t = Open("hand");
    ASSERT_NE(0u, t);
    uint16_t type = 0;
    KIV_EXPECT_OK(KivGetTableType(t, &type));
    EXPECT_EQ(KIV_TABLE_NTX, type);
    KIV_ASSERT_OK(KivGotoTop(t));
    EXPECT_EQ("Widget    ", Get(t, "name"));
    EXPECT_EQ("  12.50", Get(t, "PRICE"));
    EXPECT_EQ("1999-07-04", Get(t, "SOLD"));
    EXPECT_EQ("T", Get(t, "OK"));
    EXPECT_EQ("Made in Ghent", Get(t, "NOTE"));
    KIV_ASSERT_OK(KivSkip(t, 1));
    uint16_t deleted = 0;
    KIV_EXPECT_OK(KivIsRecordDeleted(t, &deleted));
    EXPECT_EQ(1, deleted);
    EXPECT_EQ("F", Get(t, "OK"));
    uint16_t empty = 0;
    KIV_EXPECT_OK(KivIsEmpty(t, "SOLD", &empty));
    EXPECT_EQ(1, empty);
    // Digits that do not read as a number give no value.
    KIV_ASSERT_OK(KivSkip(t, 1));
    EXPECT_EQ("Broken    ", Get(t, "NAME"));
    EXPECT_EQ("", Get(t, "PRICE"));
    EXPECT_EQ("", Get(t, "PRICE", 1));
    KIV_ASSERT_OK(KivSkip(t, -2));
    EXPECT_EQ("  12.50", Get(t, "PRICE", 1));
    KivSetDateFormat("MM/DD/YYYY");
}

TEST_F(Tables, HeaderCountBeyondTheFileIsDamage) {
    KIVHANDLE t = Create("dmg.dbf", KIV_TABLE_CDX, "A,C,4");
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(KivCloseTable(t));
    std::fstream f(dir.File("dmg.dbf"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(4);
    f.put(char(50));
    f.close();
    EXPECT_EQ(KIV_ERR_CORRUPT_FILE, KivOpenTable(conn, "dmg.dbf", nullptr, 0, 1, 0, 2, 0, &t));
}

TEST_F(Tables, TableSearchListsMatchingFiles) {
    Create("b.dbf", KIV_TABLE_CDX, "A,C,1");
    Create("A.DBF", KIV_TABLE_CDX, "A,C,1");
    Create("c.kdt", KIV_TABLE_KDT, "A,CHAR,1");
    char name[260];
    uint32_t len = sizeof name;
    KIVHANDLE find = 0;
    const std::string mask = dir.path() + "\\*.dbf";
    std::vector<std::string> names;
    KIVRESULT rc = KivFindFirstTable(conn, mask.c_str(), name, &len, &find);
    while (rc == KIV_OK) {
        names.emplace_back(name, len);
        len = sizeof name;
        rc = KivFindNextTable(find, name, &len);
    }
    EXPECT_EQ(KIV_ERR_NO_MORE_TABLES, rc);
    KIV_EXPECT_OK(KivFindClose(find));
    EXPECT_EQ((std::vector<std::string>{"A.DBF", "b.dbf"}), names);
}

// ---------------------------------------------------------------- handles and errors

TEST_F(Tables, StaleAndForeignHandlesAreRefused) {
    KIVHANDLE t = Create("h.dbf", KIV_TABLE_CDX, "A,C,1");
    EXPECT_NE(0u, t);
    EXPECT_NE(0xFFFFFFFFu, t);
    KIV_ASSERT_OK(KivCloseTable(t));
    uint16_t eof;
    EXPECT_EQ(KIV_ERR_INVALID_HANDLE, KivAtEOF(t, &eof));
    KIVHANDLE again = Open("h.dbf");
    EXPECT_NE(t, again);  // the slot is reused under a new generation
    EXPECT_EQ(KIV_ERR_INVALID_HANDLE, KivAtEOF(t, &eof));
    EXPECT_EQ(KIV_ERR_INVALID_HANDLE, KivAtEOF(conn, &eof));  // a connection is no table
    for (KIVHANDLE bogus : {0u, 0xFFFFFFFFu, 0x12345678u, 0x0000FFFFu})
        EXPECT_EQ(KIV_ERR_INVALID_HANDLE, KivSkip(bogus, 1)) << bogus;
    EXPECT_EQ(KIV_ERR_CONNECTION_GONE, KivDisconnect(again));
    uint16_t ht = 0;
    KIV_EXPECT_OK(KivGetHandleType(conn, &ht));
    EXPECT_EQ(KIV_HT_CONNECTION, ht);
}

TEST_F(Tables, DisconnectClosesTheConnectionsTables) {
    KIVHANDLE t = Create("d.dbf", KIV_TABLE_CDX, "A,C,1");
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(Set(t, "A", "z"));
    KIV_ASSERT_OK(KivDisconnect(conn));
    uint16_t eof;
    EXPECT_EQ(KIV_ERR_INVALID_HANDLE, KivAtEOF(t, &eof));
    EXPECT_EQ(KIV_ERR_CONNECTION_GONE, KivDisconnect(conn));
    KIV_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    t = Open("d.dbf");
    KIV_ASSERT_OK(KivGotoTop(t));
    EXPECT_EQ("z", Get(t, "A"));  // the pending change was written on the way out
}

TEST(Errors, LastErrorIsPerThreadAndKeptBySuccessfulCalls) {
    KivSetLastError(5054, "mine");
    std::thread([] {
        uint16_t eof;
        EXPECT_EQ(KIV_ERR_INVALID_HANDLE, KivAtEOF(77, &eof));
        uint32_t code = 0;
        KivGetLastError(&code, nullptr, nullptr);
        EXPECT_EQ(KIV_ERR_INVALID_HANDLE, code);
    }).join();
    uint32_t v;
    KIV_EXPECT_OK(KivGetLibraryVersion(&v));
    uint32_t code = 0;
    char buf[16];
    uint32_t len = sizeof buf;
    KIV_EXPECT_OK(KivGetLastError(&code, buf, &len));
    EXPECT_EQ(5054u, code);
    EXPECT_EQ("mine", std::string(buf, len));
}

TEST(Errors, TextBuffersFollowTheEngineRule) {
    KivSetLastError(7, "abcdef");
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    uint32_t len = 6;  // exactly the text: no room for a NUL, none written
    KIV_EXPECT_OK(KivGetLastError(nullptr, buf, &len));
    EXPECT_EQ(6u, len);
    EXPECT_EQ('#', buf[6]);
    len = 3;
    EXPECT_EQ(KIV_ERR_BUFFER_TOO_SMALL, KivGetLastError(nullptr, buf, &len));
    EXPECT_EQ(6u, len);
    EXPECT_EQ("abc", std::string(buf, 3));
    len = 0;
    EXPECT_EQ(KIV_ERR_BUFFER_TOO_SMALL, KivGetLastError(nullptr, nullptr, &len));
    EXPECT_EQ(6u, len);
}

TEST(Collation, LanguageComesFromTheEnvironment) {
    auto lang = [] {
        char buf[50];
        uint32_t len = sizeof buf;
        EXPECT_EQ(0u, KivGetCollationLang(buf, &len));
        return std::string(buf, std::min<uint32_t>(len, sizeof buf));
    };
    const char* old = std::getenv("KIV_COLLATION");
    const std::string saved = old ? old : "";
    unsetenv("KIV_COLLATION");
    EXPECT_EQ("USA", lang());
    setenv("KIV_COLLATION", "GERMAN", 1);
    EXPECT_EQ("GERMAN", lang());
    setenv("KIV_COLLATION", "", 1);
    EXPECT_EQ("USA", lang());
    if (old) setenv("KIV_COLLATION", saved.c_str(), 1);
    else unsetenv("KIV_COLLATION");
}

TEST_F(Tables, FaultInjectionAndCallLog) {
    KIVHANDLE t = Create("fi.dbf", KIV_TABLE_CDX, "A,C,1");
    KivTestRecordCalls(1);
    KivTestFailCall("KivSkip", KIV_ERR_NO_SUCH_RECORD, "planted", 1);
    EXPECT_EQ(KIV_ERR_NO_SUCH_RECORD, KivSkip(t, 1));
    EXPECT_EQ("5022 planted", LastErrorText());
    KIV_EXPECT_OK(KivSkip(t, 1));
    KivTestFailCall("KivGetLastError", 5, "", 1);
    uint32_t code = 0;
    EXPECT_EQ(5u, KivGetLastError(&code, nullptr, nullptr));
    KIV_EXPECT_OK(KivGetLastError(&code, nullptr, nullptr));
    EXPECT_EQ(KIV_ERR_NO_SUCH_RECORD, code);  // the failed read changed nothing
    KivTestRecordCalls(0);
    char log[256];
    const uint32_t n = KivTestGetCallLog(log, sizeof log);
    // The planted failure, the read of its text, the clean call, the failed
    // read of the last error and the one after it.
    EXPECT_EQ("KivSkip\nKivGetLastError\nKivSkip\nKivGetLastError\nKivGetLastError\n", std::string(log, n));
    KivTestClearCallLog();
    KivTestClearFaults();
}

// Callers reuse one buffer for the names of many fields.
TEST_F(Tables, OneNameBufferForManyFields) {
    KIVHANDLE t = Create("names.kdt", KIV_TABLE_KDT, "IDENT,INTEGER;ID,INTEGER;NAME,CHAR,4");
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(KivSetLong(t, "IDENT", 7));
    KIV_ASSERT_OK(KivSetLong(t, "ID", 8));
    KIV_ASSERT_OK(Set(t, "NAME", "abcd"));
    char name[16];
    struct Case { const char* text; const char* value; } cases[] = {
        {"IDENT", "7"}, {"ID", "8"}, {"ID      ", "8"}, {"ident", "7"}, {"NAME", "abcd"}, {"IDENT", "7"}, {"I", ""},
    };
    for (const auto& c : cases) {
        std::memset(name, 0, sizeof name);
        std::strcpy(name, c.text);
        const std::string got = Get(t, name);
        if (*c.value) EXPECT_EQ(c.value, got) << c.text;
        else EXPECT_EQ("<error 5012>", got) << c.text;
    }
}

// A new table whose memo file name is taken by another table's memo file
// ("x.tmp" beside "x.dbf" both want "x.fpt") is refused; the other table's
// memos all read back afterwards. Without memo fields the new table is made.
TEST_F(Tables, CreateBesideAnotherTableNeverCutsItsMemoFile) {
    struct Case {
        const char* table;
        const char* beside;
        uint16_t type;
        const char* memoDefs;
        const char* plainDefs;
    } cases[] = {
        {"x.dbf", "x.tmp", KIV_TABLE_CDX, "NAME,C,10;NOTES,M", "NAME,C,10"},
        {"y.dbf", "y.tmp", KIV_TABLE_NTX, "NAME,C,10;NOTES,M", "NAME,C,10"},
        {"z.kdt", "z.tmp", KIV_TABLE_KDT, "NAME,CHAR,10;NOTES,MEMO", "NAME,CHAR,10"},
    };
    auto memo = [](int i) { return "memo " + std::to_string(i) + std::string(static_cast<size_t>(i * 37), '#'); };
    for (const auto& c : cases) {
        KIVHANDLE t = Create(c.table, c.type, c.memoDefs);
        ASSERT_NE(0u, t);
        for (int i = 0; i < 20; ++i) {
            KIV_ASSERT_OK(KivAppendRecord(t));
            KIV_ASSERT_OK(Set(t, "NOTES", memo(i)));
        }
        KIV_ASSERT_OK(KivCloseTable(t));

        KIVHANDLE other = 0;
        EXPECT_EQ(KIV_ERR_TABLE_EXISTS, KivCreateTable(conn, c.beside, nullptr, c.type, KIV_CHAR_ANSI,
                                                       KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK, 0, c.memoDefs,
                                                       &other))
            << c.beside;
        EXPECT_NE(std::string::npos, LastErrorText().find("belongs to table")) << LastErrorText();
        EXPECT_FALSE(std::filesystem::exists(dir.File(c.beside)));
        other = Create(c.beside, c.type, c.plainDefs);
        ASSERT_NE(0u, other);
        KIV_EXPECT_OK(KivCloseTable(other));

        t = Open(c.table);
        int i = 0;
        KIV_EXPECT_OK(KivGotoTop(t));
        for (; !AtEof(t); KivSkip(t, 1), ++i) EXPECT_EQ(memo(i), Get(t, "NOTES")) << c.table;
        EXPECT_EQ(20, i);
        KIV_EXPECT_OK(KivCloseTable(t));
    }
}

// Small points as qel32.h documents them: KIV_COUNT_FRESH alone counts the
// file's records anew; "B" in a field list is a double as in DBF headers;
// option 1 of KivGetField trims character values only, memos come back whole.
TEST_F(Tables, CallsFollowTheirDocumentation) {
    KIVHANDLE t = Create("small.kdt", KIV_TABLE_KDT, "X,B;NAME,CHAR,8;NOTES,MEMO");
    ASSERT_NE(0u, t);
    uint16_t type = 0;
    KIV_EXPECT_OK(KivGetFieldType(t, "X", &type));
    EXPECT_EQ(KIV_FT_DOUBLE, type);
    for (int i = 0; i < 3; ++i) {
        KIV_ASSERT_OK(KivAppendRecord(t));
        KIV_ASSERT_OK(Set(t, "NAME", "ab"));
        KIV_ASSERT_OK(Set(t, "NOTES", "memo with blanks   "));
    }
    KIV_ASSERT_OK(KivWriteRecord(t));
    uint32_t count = 0;
    KIV_EXPECT_OK(KivGetRecordCount(t, KIV_COUNT_FRESH, &count));
    EXPECT_EQ(3u, count);
    KIV_EXPECT_OK(KivGetRecordCount(t, KIV_COUNT_IGNORE_FILTERS + KIV_COUNT_FRESH, &count));
    EXPECT_EQ(3u, count);
    EXPECT_EQ("ab", Get(t, "NAME", 1));
    EXPECT_EQ("ab      ", Get(t, "NAME", 0));
    EXPECT_EQ("memo with blanks   ", Get(t, "NOTES", 1));
    KIV_EXPECT_OK(KivCloseTable(t));
}

// A varchar field of a DBF table keeps its declared length, whatever fits
// the 10-byte block number in the record: exactly n characters are taken,
// n + 1 are written cut with KIV_ERR_VALUE_CUT, after reopening too.
TEST_F(Tables, DbfVarcharKeepsItsDeclaredLength) {
    for (uint16_t type : {KIV_TABLE_NTX, KIV_TABLE_CDX, KIV_TABLE_KDT}) {
        const std::string name = "v" + std::to_string(type) + (type == KIV_TABLE_KDT ? ".kdt" : ".dbf");
        KIVHANDLE t = Create(name.c_str(), type, "SHORT,VARCHAR,5;LONG,VARCHAR,50;WIDE,VARCHAR,300");
        ASSERT_NE(0u, t);
        KIV_ASSERT_OK(KivCloseTable(t));
        t = Open(name.c_str());
        KIV_ASSERT_OK(KivAppendRecord(t));
        struct Case { const char* field; size_t n; } cases[] = {{"SHORT", 5}, {"LONG", 50}, {"WIDE", 300}};
        for (const auto& c : cases) {
            KIV_EXPECT_OK(Set(t, c.field, std::string(c.n, 'x'))) << name << " " << c.field;
            EXPECT_EQ(KIV_ERR_VALUE_CUT, Set(t, c.field, std::string(c.n + 1, 'y'))) << name << " " << c.field;
            EXPECT_EQ(std::string(c.n, 'y'), Get(t, c.field)) << name << " " << c.field;
        }
        KIV_EXPECT_OK(KivCloseTable(t));
    }
}

// A write refreshes the last-update date of a DBF header, once per open.
TEST_F(Tables, WritesRefreshTheDbfLastUpdateDate) {
    KIVHANDLE t = Create("dated.dbf", KIV_TABLE_CDX, "NAME,C,10");
    ASSERT_NE(0u, t);
    KIV_ASSERT_OK(KivCloseTable(t));
    {
        std::fstream f(dir.File("dated.dbf"), std::ios::in | std::ios::out | std::ios::binary);
        const char old[3] = {90, 1, 2};  // 1990-01-02
        f.seekp(1);
        f.write(old, 3);
    }
    t = Open("dated.dbf");
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(Set(t, "NAME", "new"));
    KIV_ASSERT_OK(KivCloseTable(t));
    std::ifstream f(dir.File("dated.dbf"), std::ios::binary);
    unsigned char head[4] = {};
    f.read(reinterpret_cast<char*>(head), 4);
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    EXPECT_EQ(tm.tm_year % 100 + (tm.tm_year >= 100 ? 100 : 0), head[1]);
    EXPECT_EQ(tm.tm_mon + 1, head[2]);
    EXPECT_EQ(tm.tm_mday, head[3]);
}
