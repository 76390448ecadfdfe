// Tests of the engine's building blocks: calendar, field definitions and
// encodings, path mapping.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "dates.h"
#include "errors.h"
#include "fields.h"
#include "paths.h"
#include "test_support.h"

using namespace qel32;

TEST(Calendar, JulianAnchors) {
    struct Case { int y, m, d; int32_t jd; } cases[] = {
        {1899, 12, 30, 2415019}, {1, 1, 1, 1721426}, {2000, 2, 29, 2451604},
        {1970, 1, 1, 2440588},   {2000, 1, 1, 2451545}, {9999, 12, 31, 5373484},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.jd, JulianFromYmd(c.y, c.m, c.d)) << c.y << "-" << c.m << "-" << c.d;
        int y, m, d;
        YmdFromJulian(c.jd, y, m, d);
        EXPECT_EQ(c.y, y);
        EXPECT_EQ(c.m, m);
        EXPECT_EQ(c.d, d);
    }
}

TEST(Calendar, CompactTexts) {
    EXPECT_EQ("20000229", CompactFromJulian(2451604));
    EXPECT_EQ("        ", CompactFromJulian(0));
    EXPECT_EQ(2451604, JulianFromCompact("20000229").value());
    EXPECT_EQ(0, JulianFromCompact("        ").value());
    EXPECT_FALSE(JulianFromCompact("20010229").has_value());  // not a leap year
    EXPECT_FALSE(JulianFromCompact("2000AB01").has_value());
}

TEST(Calendar, ThreeByteDate) {
    for (int32_t jd : {2451604, 1721426, 2415019, 2460000}) {
        uint8_t b[3];
        EncodeCompactDate3(jd, b);
        EXPECT_EQ(jd, DecodeCompactDate3(b));
    }
    // 2024-03-15: y = 15*128 + 208/2, m = (208&1)*8 + 111/32, d = 111&31
    const uint8_t b[3] = {15, 208, 111};
    EXPECT_EQ(JulianFromYmd(2024, 3, 15), DecodeCompactDate3(b));
}

TEST(Calendar, DateFormatIsPerThreadAndParsingIsLenient) {
    SetThreadDateFormat("DD.MM.YYYY");
    std::string other;
    std::thread([&] { other = FormatDate(2451604); }).join();
    EXPECT_EQ("02/29/2000", other);  // the other thread keeps the default
    EXPECT_EQ("29.02.2000", FormatDate(2451604));
    struct Case { const char* text; int32_t jd; } cases[] = {
        {"29.02.2000", 2451604}, {"2000-02-29", 2451604}, {"20000229", 2451604}, {"   ", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(c.jd, ParseDate(c.text).value_or(-1)) << c.text;
    EXPECT_FALSE(ParseDate("31.02.2000").has_value());
    EXPECT_FALSE(ParseDate("garbage").has_value());
    SetThreadDateFormat("MM/DD/YYYY");
}

TEST(Calendar, Times) {
    EXPECT_EQ("13:05:09", FormatTime(((13 * 60 + 5) * 60 + 9) * 1000));
    EXPECT_EQ("00:00:01.250", FormatTime(1250));
    EXPECT_EQ(1250, ParseTime("00:00:01.25").value());
    EXPECT_EQ(3600000, ParseTime("01:00").value());
    EXPECT_FALSE(ParseTime("24:00:00").has_value());
    EXPECT_FALSE(ParseTime("1:00").has_value());
}

TEST(FieldDefinitions, TypeWordsFollowThePrefixRule) {
    struct Case { const char* word; uint16_t type; uint16_t code; } cases[] = {
        {"C", KIV_TABLE_CDX, KIV_FT_CHARACTER},   {"CHAR", KIV_TABLE_KDT, KIV_FT_CHARACTER},
        {"T", KIV_TABLE_KDT, KIV_FT_TIME},        {"TIMESTAMP", KIV_TABLE_KDT, KIV_FT_TIMESTAMP},
        {"MO", KIV_TABLE_KDT, KIV_FT_MONEY},      {"M", KIV_TABLE_NTX, KIV_FT_MEMO},
        {"D", KIV_TABLE_NTX, KIV_FT_DATE},        {"DOUBLE", KIV_TABLE_KDT, KIV_FT_DOUBLE},
        {"short", KIV_TABLE_KDT, KIV_FT_SHORTINT}, {"SHORTDATE", KIV_TABLE_KDT, KIV_FT_COMPACTDATE},
        {"BLOB", KIV_TABLE_KDT, KIV_FT_BINARY},   {"CICHARACTER", KIV_TABLE_KDT, KIV_FT_CICHARACTER},
        {"Q", KIV_TABLE_CDX, 0},                  {"", KIV_TABLE_CDX, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(c.code, FieldTypeFromName(c.word, c.type)) << c.word;
}

TEST(FieldDefinitions, LettersAndWordsGiveOffsetsAndLengths) {
    auto dbf = ParseFieldDefs("NAME,C,20;AMOUNT,N,10,2;BORN,D;OK,L;NOTES,M", KIV_TABLE_CDX);
    ASSERT_EQ(5u, dbf.size());
    const uint32_t lengths[] = {20, 10, 8, 1, 10};
    uint32_t offset = 1;
    for (size_t i = 0; i < dbf.size(); ++i) {
        EXPECT_EQ(lengths[i], dbf[i].length) << dbf[i].name;
        EXPECT_EQ(offset, dbf[i].offset) << dbf[i].name;
        offset += dbf[i].length;
    }
    EXPECT_EQ(2, dbf[1].decimals);
    EXPECT_EQ(offset, RecordLength(dbf));

    auto kdt = ParseFieldDefs("N,CHAR,12;P,DOUBLE,3;S,TIMESTAMP;V,VARCHAR,500;R,RAW,6;A,AUTOINC;Y,CURDOUBLE,2",
                              KIV_TABLE_KDT);
    ASSERT_EQ(7u, kdt.size());
    EXPECT_EQ(3, kdt[1].decimals);  // the number after DOUBLE is the decimals
    EXPECT_EQ(8u, kdt[1].length);
    EXPECT_EQ(8u, kdt[2].length);
    EXPECT_EQ(8u, kdt[3].length);  // varchar keeps a reference in the record
    EXPECT_EQ(500u, kdt[3].maxLength);
    EXPECT_EQ(6u, kdt[4].length);
    EXPECT_EQ(2, kdt[6].decimals);
}

TEST(FieldDefinitions, FaultsAreRefusedWithTheirReason) {
    struct Case { const char* defs; uint16_t type; const char* reason; } cases[] = {
        {"A,Q", KIV_TABLE_CDX, "Unknown field type"},
        {"VERYLONGNAME1,C,5", KIV_TABLE_NTX, "longer than 10"},
        {"A,C,5;a,N,3", KIV_TABLE_CDX, "Duplicate field name"},
        {"A,C,0", KIV_TABLE_CDX, "out of range"},
        {"A,N,4,3", KIV_TABLE_CDX, "Decimals"},
        {"A,C", KIV_TABLE_CDX, "Wrong number of sizes"},
        {"A,TIME", KIV_TABLE_CDX, "not supported by this table type"},
        {"A,C,5;;B,L", KIV_TABLE_KDT, "Empty field definition"},
        {"A,C,x", KIV_TABLE_KDT, "Invalid number"},
    };
    for (const auto& c : cases) {
        try {
            ParseFieldDefs(c.defs, c.type);
            ADD_FAILURE() << c.defs << " was accepted";
        } catch (const EngineError& e) {
            EXPECT_EQ(KIV_ERR_BAD_FIELD_DEF, e.code()) << c.defs;
            EXPECT_NE(std::string::npos, std::string(e.what()).find(c.reason)) << c.defs << ": " << e.what();
        }
    }
    EXPECT_TRUE(ParseFieldDefs("", KIV_TABLE_CDX).empty());
    EXPECT_EQ(1u, ParseFieldDefs("A,L;", KIV_TABLE_CDX).size());
}

TEST(FieldEncodings, NumericTextFitsOrIsRefused) {
    auto f = ParseFieldDefs("A,N,6,2", KIV_TABLE_CDX);
    std::vector<uint8_t> image(RecordLength(f), ' ');
    EXPECT_EQ(KIV_OK, EncodeField(f[0], image.data(), KIV_TABLE_CDX, Value::OfText("12.345")));
    EXPECT_EQ(" 12.35", std::string(image.begin() + 1, image.end()));
    EXPECT_THROW(EncodeField(f[0], image.data(), KIV_TABLE_CDX, Value::OfNumber(1234.5)), EngineError);
    EXPECT_EQ(" 12.35", std::string(image.begin() + 1, image.end()));  // nothing written
    EXPECT_THROW(EncodeField(f[0], image.data(), KIV_TABLE_CDX, Value::OfText("12x")), EngineError);
}

TEST(FieldEncodings, UnreadableNumericDigitsReadAsNoValue) {
    auto f = ParseFieldDefs("A,N,5,0", KIV_TABLE_CDX);
    std::vector<uint8_t> image = {' ', ' ', '1', 'x', '3', ' '};
    EXPECT_EQ(Value::Kind::Empty, DecodeField(f[0], image.data(), KIV_TABLE_CDX).kind);
}

TEST(FieldEncodings, ScaledDecimals) {
    int64_t v;
    ASSERT_TRUE(ParseScaled("-12.3456", 4, v));
    EXPECT_EQ(-123456, v);
    ASSERT_TRUE(ParseScaled("7", 4, v));
    EXPECT_EQ(70000, v);
    EXPECT_FALSE(ParseScaled("99999999999999999999", 4, v));
    EXPECT_FALSE(ParseScaled("1.2.3", 4, v));
    EXPECT_EQ("-12.3456", FormatScaled(-123456, 4));
    EXPECT_EQ("0.0001", FormatScaled(1, 4));
}

class PathMapping : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir.path() + "/Data/Sub");
        std::ofstream(dir.path() + "/Data/Sub/Cust.DBF") << "x";
    }
    qeltest::TempDir dir;
};

TEST_F(PathMapping, WindowsFormsFindExistingFilesWithoutCase) {
    EXPECT_EQ(dir.path() + "/Data/Sub/Cust.DBF", MapPath("DATA\\SUB\\CUST.DBF", dir.path()));
    EXPECT_EQ(dir.path() + "/Data/Sub/new.dbf", MapPath("data/sub/new.dbf", dir.path()));
    EXPECT_EQ(dir.path() + "/Data/Sub/Cust.DBF", MapPath(dir.path() + "/data/./x/../sub/cust.dbf"));
    setenv("KIV_DRIVE_Q", dir.path().c_str(), 1);
    EXPECT_EQ(dir.path() + "/Data/Sub/Cust.DBF", MapPath("Q:\\DATA\\SUB\\CUST.DBF"));
    EXPECT_EQ(dir.path() + "/Data", MapPath("q:data"));
    unsetenv("KIV_DRIVE_Q");
    EXPECT_EQ(dir.path() + "/Data/Sub/Cust.DBF", FindWithExtension(dir.path() + "/Data/Sub/CUST", ".dbf"));
    EXPECT_EQ("", FindWithExtension(dir.path() + "/Data/Sub/CUST", ".kdt"));
}
