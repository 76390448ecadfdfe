// Tables the engine writes, read back by programs that share no code with it:
// shapelib's dbfdump (character, numeric, date and logical values as stored)
// and dbfread.py, a small reader written from the public DBF, DBT and FPT
// formats (every field, memo text included). And the other way round: a
// table that shapelib wrote, read and extended by the engine.
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "system_support.h"

namespace {

using systest::TempDir;

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs a shell command and returns its standard output.
std::string Shell(const std::string& command, int& status) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) {
        status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int rc = pclose(p);
    status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

// The readers are part of the test: missing, the test fails (CI installs them).
void RequirePrograms() {
    for (const char* program : {"dbfdump", "dbfcreate", "dbfadd", "python3"}) {
        int status;
        Shell(std::string("command -v ") + program + " >/dev/null 2>&1", status);
        ASSERT_EQ(0, status) << program << " is not installed (scripts/deps.sh installs it)";
    }
}

std::string Trim(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

using Record = std::map<std::string, std::string>;

// `dbfdump -r -m`: "Record: n", then "FIELD: value" lines; values trimmed.
std::vector<Record> DbfDump(const std::string& path) {
    int status;
    const std::string out = Shell("dbfdump -r -m " + Quote(path), status);
    EXPECT_EQ(0, status) << "dbfdump failed on " << path;
    std::vector<Record> records;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Record: ", 0) == 0) {
            records.emplace_back();
            continue;
        }
        const size_t colon = line.find(": ");
        if (colon == std::string::npos || records.empty()) continue;
        records.back()[line.substr(0, colon)] = Trim(line.substr(colon + 2));
    }
    return records;
}

std::string FromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

struct ReadRecord {
    bool deleted = false;
    Record values;  // as stored; memo fields: the memo's text
};

// dbfread.py: "records n", then "<recno> <./*> <field> <letter> <hex>" lines.
std::vector<ReadRecord> PyRead(const std::string& path, std::string& failure) {
    int status;
    const std::string out =
        Shell("python3 " + Quote(std::string(QEL32_TEST_SOURCE_DIR) + "/dbfread.py") + " " + Quote(path) + " 2>&1", status);
    if (status != 0) {
        failure = "dbfread.py: " + out;
        return {};
    }
    std::vector<ReadRecord> records;
    std::istringstream in(out);
    std::string line;
    size_t declared = 0;
    while (std::getline(in, line)) {
        std::istringstream parts(line);
        std::string first, flag, field, letter, hex;
        parts >> first;
        if (first == "records") {
            parts >> declared;
            continue;
        }
        parts >> flag >> field >> letter >> hex;
        const size_t recno = std::stoul(first);
        if (records.size() < recno) records.resize(recno);
        records[recno - 1].deleted = flag == "*";
        records[recno - 1].values[field] = FromHex(hex);
    }
    if (records.size() != declared) failure = "dbfread.py listed " + std::to_string(records.size()) + " of " +
                                              std::to_string(declared) + " records";
    return records;
}

std::string LongMemo() {
    std::string text;
    for (int i = 1; text.size() < 1500; ++i) text += "line " + std::to_string(i) + " of a memo longer than a block\n";
    return text;
}

// One record as the test writes it, and the bytes a reader must find.
struct Row {
    const char* name;       // NAME C 20, set as text
    const char* amount;     // AMOUNT N 10 2, set as text ("" leaves it empty)
    const char* amountRaw;  // as stored, without the leading blanks
    const char* qty;        // QTY N 5, set and stored
    const char* day;        // DAY D, set as an ISO date ("" leaves it empty)
    const char* dayRaw;
    int flag;               // FLAG L: 1, 0, or -1 left empty
    const char* flagRaw;
    std::string draft;      // memo written first and replaced later ("" none)
    std::string notes;      // the memo in the end
    bool deleted;
};

const std::vector<Row>& Rows() {
    static const std::vector<Row> rows = {
        {"Harbour Supplies", "1234.5", "1234.50", "7", "2024-02-29", "20240229", 1, "T", "", "", false},
        {"Caf\xE9 Noir", "-0.75", "-0.75", "0", "1999-12-31", "19991231", 0, "F", "",
         "first line\nsecond line\r\nCaf\xE9 \xFF last", false},
        {"ABCDEFGHIJKLMNOPQRST", "9999999.99", "9999999.99", "99999", "", "", -1, "",
         "a draft that a longer text replaces", LongMemo(), false},
        {"", "", "", "", "", "", -1, "", "a memo that is cleared again", "", true},
        {"Last", "12", "12.00", "-42", "1900-01-01", "19000101", 1, "T", "", "x", false},
    };
    return rows;
}

constexpr const char* kFields = "NAME,C,20;AMOUNT,N,10,2;QTY,N,5;DAY,D;FLAG,L;NOTES,M";

std::string RightAligned(const char* text, size_t width) {
    const std::string t = text;
    return std::string(width - t.size(), ' ') + t;
}

void SetText(KIVHANDLE t, const char* field, const std::string& text) {
    SYS_ASSERT_OK(KivSetField(t, field, text.data(), static_cast<uint32_t>(text.size())));
}

void WriteRows(KIVHANDLE t) {
    for (const Row& row : Rows()) {
        SYS_ASSERT_OK(KivAppendRecord(t));
        SetText(t, "NAME", row.name);
        if (*row.amount) SetText(t, "AMOUNT", row.amount);
        if (*row.qty) SetText(t, "QTY", row.qty);
        if (*row.day) {
            SYS_ASSERT_OK(KivSetDateText(t, "DAY", row.day, static_cast<uint32_t>(std::strlen(row.day))));
        }
        if (row.flag >= 0) {
            SYS_ASSERT_OK(KivSetLogical(t, "FLAG", static_cast<uint16_t>(row.flag)));
        }
        SetText(t, "NOTES", row.draft.empty() ? row.notes : row.draft);
        SYS_ASSERT_OK(KivWriteRecord(t));
    }
    // Second pass: replaced and cleared memos, deletions.
    for (uint32_t i = 0; i < Rows().size(); ++i) {
        const Row& row = Rows()[i];
        if (row.draft.empty() && !row.deleted) continue;
        SYS_ASSERT_OK(KivGotoRecord(t, i + 1));
        if (!row.draft.empty()) {
            SetText(t, "NOTES", row.notes);
            SYS_ASSERT_OK(KivWriteRecord(t));
        }
        if (row.deleted) {
            SYS_ASSERT_OK(KivDeleteRecord(t));
        }
    }
}

struct Format {
    const char* label;
    uint16_t tableType;
    uint16_t memoBlockSize;  // 0: the type's default
    const char* memoFile;
    const char* otherMemoFile;
};

void PrintTo(const Format& f, std::ostream* os) { *os << f.label; }

class EngineWrittenTable : public ::testing::TestWithParam<Format> {
protected:
    void SetUp() override {
        RequirePrograms();
        SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
        KIVHANDLE t = 0;
        SYS_ASSERT_OK(KivCreateTable(conn, "people.dbf", nullptr, GetParam().tableType, KIV_CHAR_ANSI,
                                     KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK, GetParam().memoBlockSize, kFields, &t));
        WriteRows(t);
        SYS_ASSERT_OK(KivCloseTable(t));
    }
    void TearDown() override { KivDisconnect(conn); }

    TempDir dir;
    KIVHANDLE conn = 0;
};

TEST_P(EngineWrittenTable, MemoFileOfTheTypeSitsBesideTheTable) {
    EXPECT_TRUE(std::filesystem::exists(dir.File(GetParam().memoFile)));
    EXPECT_FALSE(std::filesystem::exists(dir.File(GetParam().otherMemoFile)));
}

TEST_P(EngineWrittenTable, DbfdumpReadsTheStoredValues) {
    int status;
    const std::string header = Shell("dbfdump -h " + Quote(dir.File("people.dbf")) + " | grep '^Field'", status);
    struct Descriptor {
        char letter;
        const char* name;
        int width, decimals;
    };
    for (const Descriptor& d : {Descriptor{'C', "NAME", 20, 0}, Descriptor{'N', "AMOUNT", 10, 2},
                                Descriptor{'N', "QTY", 5, 0}, Descriptor{'D', "DAY", 8, 0},
                                Descriptor{'L', "FLAG", 1, 0}, Descriptor{'M', "NOTES", 10, 0}}) {
        const std::string title = std::string("Title=`") + d.name + "', Width=" + std::to_string(d.width) +
                                  ", Decimals=" + std::to_string(d.decimals);
        const size_t at = header.find(title);
        ASSERT_NE(std::string::npos, at) << title << " not in\n" << header;
        const size_t type = header.rfind("Type=", at);
        ASSERT_NE(std::string::npos, type);
        EXPECT_EQ(d.letter, header[type + 5]) << d.name;
    }

    const std::vector<Record> records = DbfDump(dir.File("people.dbf"));
    ASSERT_EQ(Rows().size(), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        const Row& row = Rows()[i];
        Record r = records[i];
        SCOPED_TRACE("record " + std::to_string(i + 1));
        EXPECT_EQ(Trim(row.name), r["NAME"]);
        EXPECT_EQ(row.amountRaw, r["AMOUNT"]);
        EXPECT_EQ(row.qty, r["QTY"]);
        EXPECT_EQ(row.dayRaw, r["DAY"]);
        EXPECT_EQ(row.flagRaw, r["FLAG"]);
        // dbfdump shows the memo's block number, blank for no memo.
        EXPECT_EQ(row.notes.empty(), r["NOTES"].empty()) << r["NOTES"];
    }
}

TEST_P(EngineWrittenTable, IndependentReaderReadsEveryFieldAndMemo) {
    std::string failure;
    const std::vector<ReadRecord> records = PyRead(dir.File("people.dbf"), failure);
    ASSERT_EQ("", failure);
    ASSERT_EQ(Rows().size(), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        const Row& row = Rows()[i];
        Record r = records[i].values;
        SCOPED_TRACE("record " + std::to_string(i + 1));
        EXPECT_EQ(row.deleted, records[i].deleted);
        EXPECT_EQ(std::string(row.name) + std::string(20 - std::strlen(row.name), ' '), r["NAME"]);
        EXPECT_EQ(RightAligned(row.amountRaw, 10), r["AMOUNT"]);
        EXPECT_EQ(RightAligned(row.qty, 5), r["QTY"]);
        EXPECT_EQ(*row.dayRaw ? std::string(row.dayRaw) : std::string(8, ' '), r["DAY"]);
        if (row.flag >= 0) EXPECT_EQ(row.flagRaw, r["FLAG"]);
        else EXPECT_TRUE(r["FLAG"] == " " || r["FLAG"] == "?") << "empty logical stored as '" << r["FLAG"] << "'";
        EXPECT_EQ(row.notes, r["NOTES"]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, EngineWrittenTable,
    ::testing::Values(Format{"NtxDbt", KIV_TABLE_NTX, 0, "people.dbt", "people.fpt"},
                      Format{"CdxFpt", KIV_TABLE_CDX, 0, "people.fpt", "people.dbt"},
                      Format{"CdxFpt32", KIV_TABLE_CDX, 32, "people.fpt", "people.dbt"},
                      Format{"CdxFpt512", KIV_TABLE_CDX, 512, "people.fpt", "people.dbt"}),
    systest::CaseLabel<Format>);

// A table written by shapelib, opened by the engine, extended, and read back
// by both readers.
TEST(ShapelibWrittenTable, EngineReadsAndExtendsIt) {
    RequirePrograms();
    TempDir dir;
    const std::string file = dir.File("stock.dbf");
    int status;
    Shell("dbfcreate " + Quote(file) + " -s NAME 12 -n AMOUNT 9 2 -n QTY 4 0", status);
    ASSERT_EQ(0, status);
    Shell("dbfadd " + Quote(file) + " Alpha 12.5 3", status);
    ASSERT_EQ(0, status);
    Shell("dbfadd " + Quote(file) + " Beta -7.25 0", status);
    ASSERT_EQ(0, status);

    KIVHANDLE conn = 0, t = 0;
    SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    SYS_ASSERT_OK(KivOpenTable(conn, "stock", nullptr, KIV_TABLE_DEFAULT, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                               KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t));
    uint32_t count = 0, length = 0;
    uint16_t decimals = 0, type = 0;
    SYS_EXPECT_OK(KivGetRecordCount(t, KIV_COUNT_IGNORE_FILTERS, &count));
    EXPECT_EQ(2u, count);
    SYS_EXPECT_OK(KivGetFieldType(t, "AMOUNT", &type));
    EXPECT_EQ(KIV_FT_NUMERIC, type);
    SYS_EXPECT_OK(KivGetFieldLength(t, "AMOUNT", &length));
    EXPECT_EQ(9u, length);
    SYS_EXPECT_OK(KivGetFieldDecimals(t, "AMOUNT", &decimals));
    EXPECT_EQ(2, decimals);

    struct Expected {
        const char* name;
        double amount;
        int32_t qty;
    };
    const Expected expected[] = {{"Alpha", 12.5, 3}, {"Beta", -7.25, 0}};
    SYS_ASSERT_OK(KivGotoTop(t));
    for (const Expected& e : expected) {
        std::string name;
        double amount = 0;
        int32_t qty = -1;
        SYS_EXPECT_OK(systest::GetText(t, "NAME", name));
        SYS_EXPECT_OK(KivGetDouble(t, "AMOUNT", &amount));
        SYS_EXPECT_OK(KivGetLong(t, "QTY", &qty));
        EXPECT_EQ(e.name, name);
        EXPECT_DOUBLE_EQ(e.amount, amount);
        EXPECT_EQ(e.qty, qty);
        SYS_ASSERT_OK(KivSkip(t, 1));
    }
    uint16_t eof = 0;
    SYS_EXPECT_OK(KivAtEOF(t, &eof));
    EXPECT_EQ(1, eof);

    SYS_ASSERT_OK(KivAppendRecord(t));
    SetText(t, "NAME", "Gamma");
    SYS_ASSERT_OK(KivSetDouble(t, "AMOUNT", 100.01));
    SYS_ASSERT_OK(KivSetLong(t, "QTY", 42));
    SYS_ASSERT_OK(KivCloseTable(t));
    SYS_ASSERT_OK(KivDisconnect(conn));

    const std::vector<Record> dumped = DbfDump(file);
    ASSERT_EQ(3u, dumped.size());
    EXPECT_EQ("Gamma", dumped[2].at("NAME"));
    EXPECT_EQ("100.01", dumped[2].at("AMOUNT"));
    EXPECT_EQ("42", dumped[2].at("QTY"));
    EXPECT_EQ("Beta", dumped[1].at("NAME"));

    std::string failure;
    const std::vector<ReadRecord> read = PyRead(file, failure);
    ASSERT_EQ("", failure);
    ASSERT_EQ(3u, read.size());
    EXPECT_EQ("Gamma       ", read[2].values.at("NAME"));
    EXPECT_EQ("   100.01", read[2].values.at("AMOUNT"));
    EXPECT_EQ("  42", read[2].values.at("QTY"));
}


// ------------------------------------------------------------ Debian's DBF libraries

// python3-dbfread and python3-dbf, which Debian installs for its own python3,
// and GDAL's ogrinfo,
// driven by dbfpeers.py: every table version the engine writes, memos
// included, read back with the values equal; and tables those libraries
// wrote, read and extended by the engine.
constexpr const char* kSystemPython = "/usr/bin/python3";

std::string Peers(const std::string& args, int& status) {
    // -I: not the tests' own dbfread.py beside the script, nor the caller's environment.
    return Shell(std::string(kSystemPython) + " -I " + Quote(std::string(QEL32_TEST_SOURCE_DIR) + "/dbfpeers.py") + " " +
                     args + " 2>&1",
                 status);
}

void RequirePeers() {
    int status;
    Shell(std::string(kSystemPython) + " -c 'import dbf, dbfread' >/dev/null 2>&1", status);
    ASSERT_EQ(0, status) << "python3-dbf and python3-dbfread are not installed (scripts/deps.sh installs them)";
    Shell("command -v ogrinfo >/dev/null 2>&1", status);
    ASSERT_EQ(0, status) << "GDAL's ogrinfo is not installed (scripts/deps.sh installs gdal-bin)";
}

std::string Hex(const std::string& text) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// One value a reader must find: record, field, kind (see dbfpeers.py), text.
struct PeerValue {
    uint32_t recno;
    const char* field;
    char kind;
    std::string text;
};

// Runs the reader's check of a table against the values; "" when they agree.
std::string PeerCheck(const std::string& reader, const std::string& table, const std::vector<PeerValue>& values,
                      const TempDir& dir) {
    const std::string expected = dir.File("expected-" + reader + ".txt");
    {
        FILE* f = std::fopen(expected.c_str(), "w");
        for (const PeerValue& v : values)
            std::fprintf(f, "%u %s %c %s\n", v.recno, v.field, v.kind, Hex(v.text).c_str());
        std::fclose(f);
    }
    int status;
    const std::string out = Peers("check " + reader + " " + Quote(table) + " " + Quote(expected), status);
    return status == 0 ? "" : reader + ": " + out;
}

uint8_t HeaderByte(const std::string& path, long at) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    std::fseek(f, at, SEEK_SET);
    const int c = std::fgetc(f);
    std::fclose(f);
    return static_cast<uint8_t>(c);
}

struct VersionCase {
    const char* label;
    uint16_t tableType;
    const char* fields;
    uint8_t version;
    std::vector<std::string> readers;
};

void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.label; }

class EngineWrittenVersion : public ::testing::TestWithParam<VersionCase> {};

TEST_P(EngineWrittenVersion, DebianReadersReadEveryValue) {
    const VersionCase& c = GetParam();
    RequirePeers();
    TempDir dir;
    KIVHANDLE conn = 0, t = 0;
    SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    SYS_ASSERT_OK(KivCreateTable(conn, "versions.dbf", nullptr, c.tableType, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                 KIV_RIGHTS_NO_CHECK, 0, c.fields, &t));
    const bool vfp = c.version == 0x30, memo = std::strstr(c.fields, "NOTES") != nullptr;
    const bool varchar = std::strstr(c.fields, "VC,") != nullptr, binary = std::strstr(c.fields, "BLOB,") != nullptr;
    const std::string names[] = {"Caf\xE9 one", "second", "ABCDEFGHIJKLMNOPQRST"};
    const std::string notes[] = {"a memo\r\nof two lines", LongMemo(), ""};
    // Varchar text up to its declared 30 characters; binary bytes of every
    // kind, end-of-file marks and NUL included.
    const std::string texts[] = {"\xC7" "a va, tr\xE8s bien \x80 5", std::string(30, 'v'), ""};
    const std::string blobs[] = {std::string("\x00\x01\x1A\x1A\xFF\x81\x8D end", 12), std::string(700, '\xFE'), ""};
    std::vector<PeerValue> values;
    for (uint32_t i = 0; i < 3; ++i) {
        const uint32_t recno = i + 1;
        SYS_ASSERT_OK(KivAppendRecord(t));
        SetText(t, "NAME", names[i]);
        values.push_back({recno, "NAME", 'C', names[i]});
        if (vfp) {
            SYS_ASSERT_OK(KivSetLong(t, "QTY", static_cast<int32_t>(recno * 1000 - 7)));
            SYS_ASSERT_OK(KivSetDouble(t, "PRICE", -1.5 * recno));
            const std::string stamp = "2024-02-2" + std::to_string(recno) + " 13:14:15";
            SYS_ASSERT_OK(KivSetTimeStampText(t, "STAMP", stamp.data(), static_cast<uint32_t>(stamp.size())));
            SetText(t, "COST", std::to_string(recno) + ".2525");
            values.push_back({recno, "QTY", 'n', std::to_string(recno * 1000 - 7)});
            values.push_back({recno, "PRICE", 'n', std::to_string(-1.5 * recno)});
            values.push_back({recno, "STAMP", 't', stamp});
            values.push_back({recno, "COST", 'n', std::to_string(recno) + ".2525"});
        } else {
            SetText(t, "AMOUNT", std::to_string(recno * 100) + ".25");
            const std::string day = "1999-12-2" + std::to_string(i);
            SYS_ASSERT_OK(KivSetDateText(t, "DAY", day.data(), static_cast<uint32_t>(day.size())));
            SYS_ASSERT_OK(KivSetLogical(t, "FLAG", static_cast<uint16_t>(i % 2)));
            values.push_back({recno, "AMOUNT", 'N', std::to_string(recno * 100) + ".25"});
            values.push_back({recno, "DAY", 'D', day});
            values.push_back({recno, "FLAG", 'L', i % 2 ? "T" : "F"});
        }
        if (varchar) {
            SetText(t, "VC", texts[i]);
            values.push_back({recno, "VC", 'M', texts[i]});
        }
        if (binary) {
            SetText(t, "BLOB", blobs[i]);
            values.push_back({recno, "BLOB", 'X', blobs[i]});
        }
        if (memo) {
            // The first memo is replaced by a shorter one: the readers must
            // take the new block, and its length, not the old block's.
            if (i == 0) {
                SetText(t, "NOTES", "a draft that a shorter memo replaces, longer than it");
                SYS_ASSERT_OK(KivWriteRecord(t));
            }
            SetText(t, "NOTES", notes[i]);
            values.push_back({recno, "NOTES", 'M', notes[i]});
        }
        SYS_ASSERT_OK(KivWriteRecord(t));
    }
    SYS_ASSERT_OK(KivCloseTable(t));
    SYS_ASSERT_OK(KivDisconnect(conn));

    const std::string file = dir.File("versions.dbf");
    EXPECT_EQ(c.version, HeaderByte(file, 0));
    EXPECT_EQ(0x03, HeaderByte(file, 29)) << "code page mark: Windows-1252";
    if (memo) {
        // dBase IV memos in version 0x8B, FoxPro ones beside the others, of either type.
        const bool dbase = c.version == 0x8B;
        EXPECT_TRUE(std::filesystem::exists(dir.File(dbase ? "versions.dbt" : "versions.fpt")));
        EXPECT_FALSE(std::filesystem::exists(dir.File(dbase ? "versions.fpt" : "versions.dbt")));
    }
    for (const std::string& reader : c.readers) EXPECT_EQ("", PeerCheck(reader, file, values, dir));
    std::string failure;
    const std::vector<ReadRecord> read = PyRead(file, failure);
    ASSERT_EQ("", failure);
    ASSERT_EQ(3u, read.size());
    for (uint32_t i = 0; i < 3 && memo; ++i) EXPECT_EQ(notes[i], read[i].values.at("NOTES"));
}

// python3-dbf reads dBase IV memo blocks as FoxPro ones: only dbfread reads
// version 0x8B. Version 0x30 tables keep FoxPro memos in both types, which
// both read. dbfread takes every B field for a memo and wants a memo file
// even where B is a double: only python3-dbf reads a version 0x30 table
// without memo fields. GDAL reads every version: its text, numeric, date and
// logical fields (memos it shows as block numbers, binary fields as bytes).
INSTANTIATE_TEST_SUITE_P(
    Versions, EngineWrittenVersion,
    ::testing::Values(
        VersionCase{"Dbf03", KIV_TABLE_NTX, "NAME,C,20;AMOUNT,N,10,2;DAY,D;FLAG,L", 0x03, {"dbfread", "dbf", "ogr"}},
        VersionCase{"Dbf8B", KIV_TABLE_NTX, "NAME,C,20;AMOUNT,N,10,2;DAY,D;FLAG,L;NOTES,M", 0x8B, {"dbfread", "ogr"}},
        VersionCase{"DbfF5", KIV_TABLE_CDX, "NAME,C,20;AMOUNT,N,10,2;DAY,D;FLAG,L;NOTES,M", 0xF5, {"dbfread", "dbf", "ogr"}},
        VersionCase{"Dbf30", KIV_TABLE_CDX, "NAME,C,20;QTY,I;PRICE,B;STAMP,TIMESTAMP;COST,MONEY;NOTES,M", 0x30,
                    {"dbfread", "dbf", "ogr"}},
        VersionCase{"Dbf30Type1", KIV_TABLE_NTX, "NAME,C,20;QTY,I;PRICE,B;STAMP,TIMESTAMP;COST,MONEY;NOTES,M", 0x30,
                    {"dbfread", "dbf", "ogr"}},
        VersionCase{"Dbf30NoMemo", KIV_TABLE_NTX, "NAME,C,20;QTY,I;PRICE,B;STAMP,TIMESTAMP;COST,MONEY", 0x30,
                    {"dbf", "ogr"}},
        VersionCase{"Dbf8BVarcharBinary", KIV_TABLE_NTX, "NAME,C,20;AMOUNT,N,10,2;DAY,D;FLAG,L;NOTES,M;VC,VARCHAR,30;BLOB,BINARY",
                    0x8B, {"dbfread", "ogr"}},
        VersionCase{"DbfF5VarcharBinary", KIV_TABLE_CDX, "NAME,C,20;AMOUNT,N,10,2;DAY,D;FLAG,L;NOTES,M;VC,VARCHAR,30;BLOB,BINARY",
                    0xF5, {"dbfread", "dbf", "ogr"}},
        VersionCase{"Dbf30VarcharBinary", KIV_TABLE_CDX,
                    "NAME,C,20;QTY,I;PRICE,B;STAMP,TIMESTAMP;COST,MONEY;NOTES,M;VC,VARCHAR,30;BLOB,BINARY", 0x30,
                    {"dbfread", "dbf", "ogr"}},
        VersionCase{"Dbf30Type1VarcharBinary", KIV_TABLE_NTX,
                    "NAME,C,20;QTY,I;PRICE,B;STAMP,TIMESTAMP;COST,MONEY;NOTES,M;VC,VARCHAR,30;BLOB,BINARY", 0x30,
                    {"dbfread", "dbf", "ogr"}}),
    systest::CaseLabel<VersionCase>);

// A table SQL creates, with an integer and a varchar column and accented
// text, reads the same in the three readers.
TEST(SqlWrittenTable, DebianReadersReadItsVarchar) {
    RequirePeers();
    TempDir dir;
    KIVHANDLE conn = 0, st = 0;
    SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    SYS_ASSERT_OK(KivCreateSQLStatement(conn, &st));
    SYS_ASSERT_OK(KivExecuteSQLDirect(st, "CREATE TABLE v (ID INTEGER, NAME CHAR(10), VC VARCHAR(50))", nullptr));
    SYS_ASSERT_OK(KivExecuteSQLDirect(st, "INSERT INTO v VALUES (2147483647, 'na\xEFve', 'cr\xE8me br\xFBl\xE9" "e')", nullptr));
    SYS_ASSERT_OK(KivExecuteSQLDirect(st, "INSERT INTO v VALUES (-2147483647, '', NULL)", nullptr));
    SYS_ASSERT_OK(KivCloseSQLStatement(st));
    SYS_ASSERT_OK(KivDisconnect(conn));
    const std::vector<PeerValue> values = {{1, "ID", 'n', "2147483647"}, {1, "NAME", 'C', "na\xEFve"},
                                           {1, "VC", 'M', "cr\xE8me br\xFBl\xE9" "e"}, {2, "ID", 'n', "-2147483647"},
                                           {2, "NAME", 'C', ""}, {2, "VC", 'M', ""}};
    const std::string file = dir.File("v.dbf");
    for (const char* reader : {"dbfread", "dbf", "ogr"}) EXPECT_EQ("", PeerCheck(reader, file, values, dir));
}

// SQL's CREATE TABLE on a statement of type 1 with integer, double,
// date-time, currency and memo columns makes a version 0x30 table with
// FoxPro memos: the three readers find its values, accented text, a long
// memo, an empty one, and NULLs beside empty values.
TEST(SqlWrittenTable, Type1WithNumbersAndMemosReadsInEveryReader) {
    RequirePeers();
    TempDir dir;
    KIVHANDLE conn = 0, st = 0;
    SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    SYS_ASSERT_OK(KivCreateSQLStatement(conn, &st));
    SYS_ASSERT_OK(KivStmtSetTableType(st, KIV_TABLE_NTX));
    SYS_ASSERT_OK(KivExecuteSQLDirect(
        st, "CREATE TABLE s1 (NAME CHAR(20), QTY INTEGER, PRICE DOUBLE, STAMP TIMESTAMP, COST MONEY, NOTES MEMO)", nullptr));
    const std::string accented = "cr\xE8me br\xFBl\xE9" "e\r\nsecond line \x80 5";
    const std::string longMemo = LongMemo();
    const std::string rows[] = {
        "('Caf\xE9 one', 2147483647, -1.5, '2024-02-29 13:14:15', 12.2525, '" + accented + "')",
        "('second', -2147483647, 1234567.125, '1999-12-31 23:59:59', -3.25, '" + longMemo + "')",
        "('', 0, 0, NULL, 0, '')",
        "(NULL, NULL, NULL, NULL, NULL, NULL)"};
    for (const std::string& row : rows)
        SYS_ASSERT_OK(KivExecuteSQLDirect(st, ("INSERT INTO s1 VALUES " + row).c_str(), nullptr));
    SYS_ASSERT_OK(KivCloseSQLStatement(st));
    SYS_ASSERT_OK(KivDisconnect(conn));

    const std::string file = dir.File("s1.dbf");
    EXPECT_EQ(0x30, HeaderByte(file, 0));
    EXPECT_TRUE(std::filesystem::exists(dir.File("s1.fpt")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("s1.dbt")));
    const std::vector<PeerValue> values = {
        {1, "NAME", 'C', "Caf\xE9 one"}, {1, "QTY", 'n', "2147483647"}, {1, "PRICE", 'n', "-1.5"},
        {1, "STAMP", 't', "2024-02-29 13:14:15"}, {1, "COST", 'n', "12.2525"}, {1, "NOTES", 'M', accented},
        {2, "NAME", 'C', "second"}, {2, "QTY", 'n', "-2147483647"}, {2, "PRICE", 'n', "1234567.125"},
        {2, "STAMP", 't', "1999-12-31 23:59:59"}, {2, "COST", 'n', "-3.25"}, {2, "NOTES", 'M', longMemo},
        {3, "NAME", 'C', ""}, {3, "QTY", 'n', "0"}, {3, "PRICE", 'n', "0"},
        {3, "STAMP", 't', ""}, {3, "COST", 'n', "0"}, {3, "NOTES", 'M', ""},
        {4, "NAME", 'C', ""}, {4, "QTY", 'n', "0"}, {4, "PRICE", 'n', "0"},
        {4, "STAMP", 't', ""}, {4, "COST", 'n', "0"}, {4, "NOTES", 'M', ""}};
    for (const char* reader : {"dbfread", "dbf", "ogr"}) EXPECT_EQ("", PeerCheck(reader, file, values, dir));
}

// A table of type 1 with FoxPro memos keeps its .fpt file through every
// call that rewrites, copies or removes a table's files: packing, emptying,
// encryption and back, conversion from another type, SQL's DROP TABLE.
// After each, both Python readers read what the engine reads.
TEST(Type1FoxProMemos, TheFptFileFollowsEveryChangeOfTheTable) {
    RequirePeers();
    TempDir dir;
    KIVHANDLE conn = 0, t = 0;
    SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    const char* fields = "NAME,C,20;QTY,I;NOTES,M";
    const std::string memos[] = {"cr\xE8me br\xFBl\xE9" "e\r\nline two", LongMemo(), "gone with its record", ""};
    auto open = [&](const char* name) {
        SYS_ASSERT_OK(KivOpenTable(conn, name, nullptr, KIV_TABLE_NTX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                   KIV_RIGHTS_NO_CHECK, KIV_OPEN_EXCLUSIVE, &t));
    };
    // The readers and the engine find these (name, quantity, memo) rows, and
    // the table's memos in its .fpt file alone.
    auto expectRows = [&](const char* stem, const std::vector<std::pair<std::string, int32_t>>& rows,
                          const std::vector<std::string>& notes) {
        const std::string file = dir.File(std::string(stem) + ".dbf");
        EXPECT_TRUE(std::filesystem::exists(dir.File(std::string(stem) + ".fpt")));
        EXPECT_FALSE(std::filesystem::exists(dir.File(std::string(stem) + ".dbt")));
        EXPECT_EQ(0x30, HeaderByte(file, 0));
        std::vector<PeerValue> values;
        for (uint32_t i = 0; i < rows.size(); ++i) {
            values.push_back({i + 1, "NAME", 'C', rows[i].first});
            values.push_back({i + 1, "QTY", 'n', std::to_string(rows[i].second)});
            values.push_back({i + 1, "NOTES", 'M', notes[i]});
        }
        for (const char* reader : {"dbfread", "dbf"}) EXPECT_EQ("", PeerCheck(reader, file, values, dir));
        open(stem);
        uint32_t count = 0;
        SYS_EXPECT_OK(KivGetRecordCount(t, KIV_COUNT_IGNORE_FILTERS, &count));
        EXPECT_EQ(rows.size(), count);
        SYS_ASSERT_OK(KivGotoTop(t));
        for (size_t i = 0; i < rows.size(); ++i, KivSkip(t, 1)) {
            std::string memo;
            SYS_EXPECT_OK(systest::GetText(t, "NOTES", memo));
            EXPECT_EQ(notes[i], memo);
        }
        SYS_ASSERT_OK(KivCloseTable(t));
    };
    auto append = [&](const std::string& name, int32_t qty, const std::string& memo) {
        SYS_ASSERT_OK(KivAppendRecord(t));
        SetText(t, "NAME", name);
        SYS_ASSERT_OK(KivSetLong(t, "QTY", qty));
        SetText(t, "NOTES", memo);
        SYS_ASSERT_OK(KivWriteRecord(t));
    };

    SYS_ASSERT_OK(KivCreateTable(conn, "t1.dbf", nullptr, KIV_TABLE_NTX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                 KIV_RIGHTS_NO_CHECK, 0, fields, &t));
    append("Caf\xE9", 1, memos[0]);
    append("second", -2147483647, memos[1]);
    append("deleted", 3, memos[2]);
    append("", 0, memos[3]);
    SYS_ASSERT_OK(KivCloseTable(t));
    expectRows("t1", {{"Caf\xE9", 1}, {"second", -2147483647}, {"deleted", 3}, {"", 0}},
               {memos[0], memos[1], memos[2], memos[3]});

    open("t1");
    SYS_ASSERT_OK(KivGotoRecord(t, 3));
    SYS_ASSERT_OK(KivDeleteRecord(t));
    SYS_ASSERT_OK(KivPackTable(t));
    SYS_ASSERT_OK(KivCloseTable(t));
    expectRows("t1", {{"Caf\xE9", 1}, {"second", -2147483647}, {"", 0}}, {memos[0], memos[1], memos[3]});

    open("t1");
    SYS_ASSERT_OK(KivEnableEncryption(t, "hunter2"));
    SYS_ASSERT_OK(KivEncryptTable(t));
    SYS_ASSERT_OK(KivDecryptTable(t));
    SYS_ASSERT_OK(KivCloseTable(t));
    expectRows("t1", {{"Caf\xE9", 1}, {"second", -2147483647}, {"", 0}}, {memos[0], memos[1], memos[3]});

    open("t1");
    SYS_ASSERT_OK(KivZapTable(t));
    append("after", 9, memos[0]);
    SYS_ASSERT_OK(KivCloseTable(t));
    expectRows("t1", {{"after", 9}}, {memos[0]});
    EXPECT_LT(std::filesystem::file_size(dir.File("t1.fpt")), 2048u) << "emptying cut the memo file";

    // A table of type 2 converted to type 1.
    SYS_ASSERT_OK(KivCreateTable(conn, "t2.dbf", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                 KIV_RIGHTS_NO_CHECK, 0, fields, &t));
    append("Caf\xE9", 1, memos[0]);
    append("second", 2, memos[1]);
    SYS_ASSERT_OK(KivConvertTable(t, 1, "conv", KIV_TABLE_NTX));
    SYS_ASSERT_OK(KivCloseTable(t));
    expectRows("conv", {{"Caf\xE9", 1}, {"second", 2}}, {memos[0], memos[1]});

    KIVHANDLE st = 0;
    SYS_ASSERT_OK(KivCreateSQLStatement(conn, &st));
    SYS_ASSERT_OK(KivStmtSetTableType(st, KIV_TABLE_NTX));
    for (const char* stem : {"t1", "conv"}) {
        SYS_ASSERT_OK(KivExecuteSQLDirect(st, ("DROP TABLE " + std::string(stem)).c_str(), nullptr));
        for (const char* ext : {".dbf", ".fpt"})
            EXPECT_FALSE(std::filesystem::exists(dir.File(stem + std::string(ext)))) << stem << ext;
    }
    SYS_ASSERT_OK(KivCloseSQLStatement(st));
    SYS_ASSERT_OK(KivDisconnect(conn));
}

// Tables that older versions of the engine wrote gave varchar fields the
// letter V and binary fields W: they keep opening with their values, in
// both DBF types.
TEST(OlderEngineTable, VarcharAndBinaryLettersKeepOpening) {
    const std::string blob("\x00\x1A\x1A\xFF", 4), text = "caf\xE9 cr\xE8me";
    for (const uint16_t type : {KIV_TABLE_NTX, KIV_TABLE_CDX}) {
        SCOPED_TRACE(type);
        TempDir dir;
        KIVHANDLE conn = 0, t = 0;
        SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
        SYS_ASSERT_OK(KivCreateTable(conn, "old.dbf", nullptr, type, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                     KIV_RIGHTS_NO_CHECK, 0, "NAME,C,5;VC,VARCHAR,40;BLOB,BINARY", &t));
        SYS_ASSERT_OK(KivAppendRecord(t));
        SetText(t, "VC", text);
        SetText(t, "BLOB", blob);
        SYS_ASSERT_OK(KivWriteRecord(t));
        SYS_ASSERT_OK(KivCloseTable(t));
        // The descriptors as those versions wrote them: the engine's letters,
        // no flags, the declared length alone in the reserved bytes.
        const std::string file = dir.File("old.dbf");
        FILE* f = std::fopen(file.c_str(), "r+b");
        ASSERT_NE(nullptr, f);
        for (const auto& [descriptor, letter] : {std::pair{2, 'V'}, std::pair{3, 'W'}}) {
            const long at = 32L * descriptor;
            std::fseek(f, at + 11, SEEK_SET);
            std::fputc(letter, f);
            std::fseek(f, at + 18, SEEK_SET);
            std::fputc(0, f);
            std::fseek(f, at + 28, SEEK_SET);
            std::fputc(0, f);
        }
        std::fclose(f);
        SYS_ASSERT_OK(KivOpenTable(conn, "old.dbf", nullptr, KIV_TABLE_DEFAULT, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                   KIV_RIGHTS_NO_CHECK, KIV_OPEN_EXCLUSIVE, &t));
        SYS_ASSERT_OK(KivGotoTop(t));
        std::string got;
        SYS_EXPECT_OK(systest::GetText(t, "VC", got));
        EXPECT_EQ(text, got);
        SYS_EXPECT_OK(systest::GetText(t, "BLOB", got));
        EXPECT_EQ(blob, got);
        uint16_t fieldType = 0;
        SYS_EXPECT_OK(KivGetFieldType(t, "VC", &fieldType));
        EXPECT_EQ(KIV_FT_VARCHAR, fieldType);
        SYS_EXPECT_OK(KivGetFieldType(t, "BLOB", &fieldType));
        EXPECT_EQ(KIV_FT_BINARY, fieldType);
        const std::string longer(41, 'x');
        EXPECT_EQ(KIV_ERR_VALUE_CUT, KivSetField(t, "VC", longer.data(), 41)) << "the declared length holds";
        SYS_ASSERT_OK(KivCloseTable(t));
        SYS_ASSERT_OK(KivDisconnect(conn));
    }
}

// Tables of type 1 with integer, double, date-time or currency fields that
// older versions of the engine wrote are version 0x30 with dBase IV memos
// in a .dbt file: they keep opening, whatever the type asked for, and their
// memos are read and written where they are.
void PutLE(std::string& bytes, size_t at, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// NAME C(10), QTY I, NOTES M; ("Caf\xE9", 7, the memo) and ("second", -5, no memo).
void WriteOlderType1Table(const TempDir& dir, const std::string& memo) {
    const uint32_t headerLength = 32 + 3 * 32 + 1 + 263, recordLength = 19;
    std::string dbf(headerLength + 2 * recordLength + 1, '\0');
    dbf[0] = 0x30;
    dbf[1] = 124, dbf[2] = 1, dbf[3] = 2;
    PutLE(dbf, 4, 2, 4);
    PutLE(dbf, 8, headerLength, 2);
    PutLE(dbf, 10, recordLength, 2);
    dbf[28] = 0x02;  // has a memo file
    dbf[29] = 0x03;  // Windows-1252
    const struct { const char* name; char letter; uint32_t offset, length; } fields[] = {
        {"NAME", 'C', 1, 10}, {"QTY", 'I', 11, 4}, {"NOTES", 'M', 15, 4}};
    for (size_t i = 0; i < 3; ++i) {
        const size_t at = 32 + 32 * i;
        dbf.replace(at, std::strlen(fields[i].name), fields[i].name);
        dbf[at + 11] = fields[i].letter;
        PutLE(dbf, at + 12, fields[i].offset, 4);
        dbf[at + 16] = static_cast<char>(fields[i].length);
    }
    dbf[32 + 3 * 32] = 0x0D;
    const std::string records[] = {std::string(" Caf\xE9      ", 11), std::string(" second    ", 11)};
    for (size_t i = 0; i < 2; ++i) {
        const size_t at = headerLength + i * recordLength;
        dbf.replace(at, 11, records[i]);
        PutLE(dbf, at + 11, i == 0 ? 7u : static_cast<uint32_t>(-5), 4);
        PutLE(dbf, at + 15, i == 0 ? 1u : 0u, 4);
    }
    dbf.back() = 0x1A;
    WriteBytes(dir.File("old.dbf"), dbf);
    // dBase IV memo file: the next free block and the block size in block 0,
    // then each memo behind FF FF 08 00 and its length (counting those 8 bytes).
    const uint32_t blocks = 1 + static_cast<uint32_t>((memo.size() + 8 + 511) / 512);
    std::string dbt(512u * blocks, '\0');
    PutLE(dbt, 0, blocks, 4);
    PutLE(dbt, 20, 512, 2);
    dbt.replace(512, 4, "\xFF\xFF\x08\x00", 4);
    PutLE(dbt, 516, static_cast<uint32_t>(memo.size() + 8), 4);
    dbt.replace(520, memo.size(), memo);
    WriteBytes(dir.File("old.dbt"), dbt);
}

TEST(OlderEngineTable, Type1Version30WithDbtMemosKeepsItsMemoFile) {
    RequirePeers();
    const std::string memo = "cr\xE8me br\xFBl\xE9" "e\r\nline two", longer = LongMemo(), shorter = "na\xEFve";
    for (const uint16_t hint : {KIV_TABLE_DEFAULT, KIV_TABLE_NTX, KIV_TABLE_CDX}) {
        SCOPED_TRACE(hint);
        TempDir dir;
        WriteOlderType1Table(dir, memo);
        KIVHANDLE conn = 0, t = 0;
        SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
        for (int pass = 0; pass < 2; ++pass) {
            SCOPED_TRACE(pass);
            SYS_ASSERT_OK(KivOpenTable(conn, "old.dbf", nullptr, hint, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                       KIV_RIGHTS_NO_CHECK, KIV_OPEN_EXCLUSIVE, &t));
            uint16_t type = 0;
            SYS_EXPECT_OK(KivGetTableType(t, &type));
            EXPECT_EQ(KIV_TABLE_NTX, type);
            SYS_ASSERT_OK(KivGotoTop(t));
            std::string got;
            SYS_EXPECT_OK(systest::GetText(t, "NAME", got));
            EXPECT_EQ("Caf\xE9", got);
            SYS_EXPECT_OK(systest::GetText(t, "NOTES", got));
            EXPECT_EQ(pass == 0 ? memo : shorter, got);
            if (pass == 0) {
                SetText(t, "NOTES", shorter);
                SYS_ASSERT_OK(KivWriteRecord(t));
            }
            SYS_ASSERT_OK(KivSkip(t, 1));
            int32_t qty = 0;
            SYS_EXPECT_OK(KivGetLong(t, "QTY", &qty));
            EXPECT_EQ(-5, qty);
            SYS_EXPECT_OK(systest::GetText(t, "NOTES", got));
            EXPECT_EQ(pass == 0 ? "" : longer, got);
            if (pass == 0) {
                SetText(t, "NOTES", longer);
                SYS_ASSERT_OK(KivWriteRecord(t));
            }
            SYS_ASSERT_OK(KivCloseTable(t));
        }
        SYS_ASSERT_OK(KivDisconnect(conn));
        EXPECT_FALSE(std::filesystem::exists(dir.File("old.fpt")));
        EXPECT_GT(std::filesystem::file_size(dir.File("old.dbt")), 512u * 2) << "the memos went to the .dbt file";
        // dbfread reads such a table (python3-dbf looks for a .fpt file).
        const std::vector<PeerValue> values = {{1, "NAME", 'C', "Caf\xE9"},  {1, "QTY", 'n', "7"},
                                               {1, "NOTES", 'M', shorter},    {2, "NAME", 'C', "second"},
                                               {2, "QTY", 'n', "-5"},         {2, "NOTES", 'M', longer}};
        EXPECT_EQ("", PeerCheck("dbfread", dir.File("old.dbf"), values, dir));
    }
}

// Tables python3-dbf wrote (dBase III with .dbt memos, FoxPro, Visual FoxPro
// with integer, double, date-time, currency and null flags): the engine
// reads them, appends a record with a memo in the table's own memo format,
// and both Debian readers read all three records.
class PeerWrittenTable : public ::testing::TestWithParam<const char*> {};

TEST_P(PeerWrittenTable, EngineReadsAndExtendsIt) {
    const std::string kind = GetParam();
    RequirePeers();
    TempDir dir;
    const std::string file = dir.File("peer.dbf");
    int status;
    const std::string out = Peers("write " + kind + " " + Quote(file), status);
    ASSERT_EQ(0, status) << out;
    const bool vfp = kind == "vfp";

    KIVHANDLE conn = 0, t = 0;
    SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    SYS_ASSERT_OK(KivOpenTable(conn, "peer", nullptr, KIV_TABLE_DEFAULT, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                               KIV_RIGHTS_NO_CHECK, KIV_OPEN_EXCLUSIVE, &t));
    // The rows dbfpeers.py writes.
    const std::string names[] = {"first", "second", "third"};
    const std::string notes[] = {"a memo\r\nof two lines", std::string(1500, 'x'), "the engine's memo\r\nline two"};
    const double amounts[] = {12.5, -3.25, 77.75};
    SYS_ASSERT_OK(KivGotoTop(t));
    for (int i = 0; i < 2; ++i) {
        std::string name, memo;
        SYS_EXPECT_OK(systest::GetText(t, "NAME", name));
        SYS_EXPECT_OK(systest::GetText(t, "NOTES", memo));
        EXPECT_EQ(names[i], name);
        EXPECT_EQ(notes[i], memo);
        double amount = 0;
        SYS_EXPECT_OK(KivGetDouble(t, vfp ? "PRICE" : "AMOUNT", &amount));
        EXPECT_DOUBLE_EQ(amounts[i], amount);
        if (vfp) {
            std::string stamp;
            SYS_EXPECT_OK(KivGetDouble(t, "COST", &amount));
            EXPECT_DOUBLE_EQ(amounts[i], amount);
            KivSetDateFormat("YYYY-MM-DD");
            SYS_EXPECT_OK(systest::GetText(t, "STAMP", stamp));
            KivSetDateFormat("MM/DD/YYYY");
            EXPECT_EQ(i == 0 ? "2024-02-29 13:14:15" : "1999-12-31 13:14:15", stamp);
        }
        SYS_ASSERT_OK(KivSkip(t, 1));
    }
    SYS_ASSERT_OK(KivAppendRecord(t));
    SetText(t, "NAME", names[2]);
    SetText(t, "NOTES", notes[2]);
    if (vfp) {
        SYS_ASSERT_OK(KivSetLong(t, "QTY", 21));
        SYS_ASSERT_OK(KivSetDouble(t, "PRICE", amounts[2]));
        SetText(t, "COST", "77.75");
        const std::string stamp = "2026-01-02 03:04:05";
        SYS_ASSERT_OK(KivSetTimeStampText(t, "STAMP", stamp.data(), static_cast<uint32_t>(stamp.size())));
    } else {
        SYS_ASSERT_OK(KivSetDouble(t, "AMOUNT", amounts[2]));
        SYS_ASSERT_OK(KivSetDateText(t, "DAY", "2026-01-02", 10));
        SYS_ASSERT_OK(KivSetLogical(t, "FLAG", 1));
    }
    SYS_ASSERT_OK(KivWriteRecord(t));
    SYS_ASSERT_OK(KivCloseTable(t));
    SYS_ASSERT_OK(KivDisconnect(conn));

    std::vector<PeerValue> values;
    for (uint32_t i = 0; i < 3; ++i) {
        values.push_back({i + 1, "NAME", 'C', names[i]});
        values.push_back({i + 1, "NOTES", 'M', notes[i]});
        values.push_back({i + 1, vfp ? "PRICE" : "AMOUNT", 'N', std::to_string(amounts[i])});
    }
    values.push_back({3, vfp ? "STAMP" : "DAY", vfp ? 'T' : 'D', vfp ? "2026-01-02 03:04:05" : "2026-01-02"});
    for (const char* reader : {"dbfread", "dbf"}) EXPECT_EQ("", PeerCheck(reader, file, values, dir));
}

INSTANTIATE_TEST_SUITE_P(Peers, PeerWrittenTable, ::testing::Values("db3", "fp", "vfp"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// Tables python3-dbf marked with another code page: the engine reads and
// writes their text in that page, through record calls, SQL and index keys,
// and refuses a character the page lacks. The three Debian readers read the
// engine's records as written.
struct CodePageCase {
    const char* label;
    const char* codec;     // the page's name to python3-dbf
    uint8_t mark;          // the header byte python3-dbf writes for it
    std::string text;      // Windows-1252 text the page holds
    std::string refused;   // a Windows-1252 character the page lacks
};

void PrintTo(const CodePageCase& c, std::ostream* os) { *os << c.label; }

class ForeignCodePage : public ::testing::TestWithParam<CodePageCase> {};

TEST_P(ForeignCodePage, EngineReadsAndWritesTheTablesPage) {
    const CodePageCase& c = GetParam();
    RequirePeers();
    TempDir dir;
    const std::string file = dir.File("o.dbf");
    int status;
    const std::string out = Peers("write-text " + std::string(c.codec) + " " + Quote(file) + " " + Hex(c.text), status);
    ASSERT_EQ(0, status) << out;
    ASSERT_EQ(c.mark, HeaderByte(file, 29));

    KIVHANDLE conn = 0, t = 0, st = 0, cursor = 0;
    SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    SYS_ASSERT_OK(KivOpenTable(conn, "o", nullptr, KIV_TABLE_DEFAULT, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                               KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t));
    SYS_ASSERT_OK(KivGotoTop(t));
    std::string name;
    SYS_EXPECT_OK(systest::GetText(t, "NAME", name));
    EXPECT_EQ(c.text, name);
    // A character the page lacks is refused, and the field keeps its value.
    SYS_ASSERT_OK(KivAppendRecord(t));
    SetText(t, "NAME", c.text);
    const std::string refused = c.text + c.refused;
    EXPECT_EQ(KIV_ERR_CONVERSION, KivSetField(t, "NAME", refused.data(), static_cast<uint32_t>(refused.size())));
    SYS_EXPECT_OK(systest::GetText(t, "NAME", name));
    EXPECT_EQ(c.text, name);
    SYS_ASSERT_OK(KivWriteRecord(t));
    SYS_ASSERT_OK(KivCloseTable(t));

    // SQL alike: the INSERT with the character the page lacks fails whole.
    SYS_ASSERT_OK(KivCreateSQLStatement(conn, &st));
    SYS_EXPECT_OK(KivExecuteSQLDirect(st, ("INSERT INTO o (NAME) VALUES ('" + c.text + "')").c_str(), nullptr));
    EXPECT_EQ(KIV_ERR_CONVERSION,
              KivExecuteSQLDirect(st, ("INSERT INTO o (NAME) VALUES ('" + refused + "')").c_str(), nullptr));
    SYS_ASSERT_OK(KivExecuteSQLDirect(st, ("SELECT NAME FROM o WHERE NAME = '" + c.text + "'").c_str(), &cursor));
    uint32_t count = 0;
    SYS_EXPECT_OK(KivGetRecordCount(cursor, KIV_COUNT_IGNORE_FILTERS, &count));
    EXPECT_EQ(3u, count);
    SYS_ASSERT_OK(KivGotoTop(cursor));
    SYS_EXPECT_OK(systest::GetText(cursor, "NAME", name));
    EXPECT_EQ(c.text, name);
    SYS_ASSERT_OK(KivCloseTable(cursor));
    SYS_ASSERT_OK(KivCloseSQLStatement(st));
    // An index keys the text as the caller reads it: a seek of it finds it.
    KIVHANDLE ix = 0;
    SYS_ASSERT_OK(KivOpenTable(conn, "o", nullptr, KIV_TABLE_DEFAULT, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                               KIV_RIGHTS_NO_CHECK, KIV_OPEN_EXCLUSIVE, &t));
    SYS_ASSERT_OK(KivCreateIndex(t, nullptr, "BYNAME", "NAME", nullptr, nullptr, 0, &ix));
    uint16_t found = 0;
    SYS_ASSERT_OK(KivSeek(ix, c.text.data(), static_cast<uint32_t>(c.text.size()), KIV_KEY_TEXT, KIV_SEEK_HARD, &found));
    EXPECT_EQ(1, found);
    uint32_t recno = 0;
    SYS_EXPECT_OK(KivGetRecordNum(t, 0, &recno));
    EXPECT_EQ(1u, recno);
    SYS_ASSERT_OK(KivCloseTable(t));
    SYS_ASSERT_OK(KivDisconnect(conn));

    EXPECT_EQ(c.mark, HeaderByte(file, 29)) << "the table keeps its page";
    std::vector<PeerValue> values;
    for (uint32_t recno = 1; recno <= 3; ++recno) values.push_back({recno, "NAME", 'C', c.text});
    for (const char* reader : {"dbfread", "dbf", "ogr"}) EXPECT_EQ("", PeerCheck(reader, file, values, dir));
}

INSTANTIATE_TEST_SUITE_P(
    Pages, ForeignCodePage,
    ::testing::Values(CodePageCase{"Cp437", "cp437", 0x01, "\xE4\xE9\xC7", "\x80"},
                      CodePageCase{"Cp850", "cp850", 0x02, "\xE4\xE9", "\x80"},
                      CodePageCase{"Cp852", "cp852", 0x1F, "\xE4\xE9\xD3", "\xFF"},
                      CodePageCase{"Cp866", "cp866", 0x26, "\xB0\xB7", "\xE9"},
                      CodePageCase{"Cp1250", "cp1250", 0xC8, "\xE4\xE9\x80\x8A", "\xFF"},
                      CodePageCase{"Cp1251", "cp1251", 0xC9, "\xA9\xB0\x80", "\xE9"}),
    systest::CaseLabel<CodePageCase>);

// ------------------------------------------------------------ durable commits

// One commit of a shared open traced by strace: the journal's notes and its
// name in the folder reach the disk before any write to the table, the
// table's and the memo file's data before the commit mark is removed, and
// the folder's loss of the mark before the commit returns.
struct TracedCall {
    std::string call;  // the system call's name
    std::string path;  // the file of its first argument, "" when none
    std::string text;  // the whole line
};

std::vector<TracedCall> ReadTrace(const std::string& path) {
    std::vector<TracedCall> calls;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        size_t at = line.find_first_not_of("0123456789 ");
        const size_t open = line.find('(', at);
        if (at == std::string::npos || open == std::string::npos) continue;
        TracedCall c{line.substr(at, open - at), "", line};
        const size_t lt = line.find('<', open), gt = line.find('>', open);
        if (lt != std::string::npos && gt != std::string::npos && lt < gt && lt < line.find(',', open))
            c.path = line.substr(lt + 1, gt - lt - 1);
        else if (line[open + 1] == '"')
            c.path = line.substr(open + 2, line.find('"', open + 2) - open - 2);
        calls.push_back(std::move(c));
    }
    return calls;
}

// The index of the line a helper program wrote to mark step, or calls.size().
size_t StepIn(const std::vector<TracedCall>& calls, const char* step) {
    const std::string text = std::string("\"") + step + "\\n\"";
    for (size_t i = 0; i < calls.size(); ++i)
        if (calls[i].call == "write" && calls[i].text.find(text) != std::string::npos) return i;
    ADD_FAILURE() << "no " << step << " in the trace";
    return calls.size();
}

class DurableCommit : public ::testing::TestWithParam<uint16_t> {};

TEST_P(DurableCommit, SyncsPrecedeTheWritesTheyProtect) {
    int status = 0;
    Shell("command -v strace >/dev/null 2>&1", status);
    ASSERT_EQ(0, status) << "strace is not installed (scripts/deps.sh installs it)";
    TempDir dir;
    const std::string trace = dir.File("trace.txt");
    // (A leak check cannot run under a tracer: a sanitizer build skips it there.)
    const std::string output =
        Shell("ASAN_OPTIONS=\"${ASAN_OPTIONS}:detect_leaks=0\" strace -f -y -o " + Quote(trace) +
                  " -e trace=write,pwrite64,fdatasync,fsync,unlink,unlinkat " QEL32_COMMIT_ONCE " " +
                  Quote(dir.path()) + " " + std::to_string(GetParam()) + " 2>&1",
              status);
    ASSERT_EQ(0, status) << "the traced commit failed: " << output;
    const std::vector<TracedCall> calls = ReadTrace(trace);
    auto marker = [&](const char* step) { return StepIn(calls, step); };
    const size_t written = marker("WRITE"), committing = marker("COMMIT"), done = marker("DONE");
    ASSERT_TRUE(written < committing && committing < done);
    const std::string folder = std::filesystem::canonical(dir.path()).string(), table = folder + "/r.";
    // The table and its memo file (whose new values go to fresh blocks,
    // which no journal needs to protect).
    auto isTable = [&](const TracedCall& c) {
        return c.path.rfind(table, 0) == 0 && c.path.find("-kiv") == std::string::npos;
    };
    auto isMemo = [&](const TracedCall& c) {
        const std::string ext = c.path.substr(std::min(c.path.size(), table.size()));
        return isTable(c) && (ext == "dbt" || ext == "fpt" || ext == "kdm");
    };
    auto isJournal = [](const TracedCall& c) { return c.path.find("-kivjournal-") != std::string::npos; };
    auto isMark = [](const TracedCall& c) { return c.path.find("-kivtx-") != std::string::npos; };

    // From the write on: every write to the table comes after the
    // journal's data and the folder were synced.
    bool journalSynced = false, folderSynced = false, tableWritten = false;
    for (size_t i = written; i < done; ++i) {
        const TracedCall& c = calls[i];
        if (c.call == "fdatasync" && isJournal(c)) journalSynced = true;
        if (c.call == "fsync" && c.path == folder) folderSynced = true;
        if (c.call == "pwrite64" && isTable(c) && !isMemo(c)) {
            tableWritten = true;
            EXPECT_TRUE(journalSynced && folderSynced) << "written before the journal was on disk: " << c.text;
        }
    }
    EXPECT_TRUE(tableWritten);
    // The commit: the table's files synced, then the mark removed, then the folder synced.
    size_t removed = done;
    for (size_t i = committing; i < done; ++i)
        if ((calls[i].call == "unlink" || calls[i].call == "unlinkat") && isMark(calls[i])) removed = i;
    ASSERT_LT(removed, done) << "the commit mark was not removed";
    std::set<std::string> syncedFiles;
    for (size_t i = committing; i < removed; ++i)
        if (calls[i].call == "fdatasync" && isTable(calls[i])) syncedFiles.insert(calls[i].path);
    EXPECT_EQ(2u, syncedFiles.size()) << "the table and its memo file are synced before the commit point";
    bool folderAfter = false;
    for (size_t i = removed + 1; i < done; ++i) folderAfter = folderAfter || (calls[i].call == "fsync" && calls[i].path == folder);
    EXPECT_TRUE(folderAfter) << "the mark's removal reaches the disk before the commit returns";
}

INSTANTIATE_TEST_SUITE_P(Types, DurableCommit, ::testing::Values(KIV_TABLE_NTX, KIV_TABLE_CDX, KIV_TABLE_KDT),
                         [](const ::testing::TestParamInfo<uint16_t>& info) {
                             return std::string(info.param == KIV_TABLE_NTX ? "Ntx" : info.param == KIV_TABLE_CDX ? "Cdx" : "Kdt");
                         });

// ------------------------------------------------------------ folder reads

// Beside thousands of other files, reading the folder dominates an open: an
// open and close of a table with its memo and production index reads it once
// at most, also when those files' names differ from the table's in case. An
// autocommit INSERT opens its table at most twice (for the columns when SQL
// does not know them yet, then for the rows), each open reading the folder
// once at most, and its commit looks once for journals of other processes.
struct FolderReadCase {
    const char* label;
    uint16_t type;
    bool upper;  // memo and index files renamed to upper case
};

class FolderReads : public ::testing::TestWithParam<FolderReadCase> {};

TEST_P(FolderReads, OneReadPerOpenBesideManyFiles) {
    const FolderReadCase& c = GetParam();
    int status = 0;
    Shell("command -v strace >/dev/null 2>&1", status);
    ASSERT_EQ(0, status) << "strace is not installed (scripts/deps.sh installs it)";
    TempDir dir;
    for (int i = 0; i < 5000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "other%04d.txt", i);
        std::ofstream(dir.File(name)) << i;
    }
    const std::string trace = dir.File("trace.txt");
    const std::string output =
        Shell("ASAN_OPTIONS=\"${ASAN_OPTIONS}:detect_leaks=0\" strace -f -y -o " + Quote(trace) +
                  " -e trace=openat,getdents64,write " QEL32_OPEN_ONCE " " + Quote(dir.path()) + " " +
                  std::to_string(c.type) + (c.upper ? " upper" : "") + " 2>&1",
              status);
    ASSERT_EQ(0, status) << "the traced program failed: " << output;
    const std::vector<TracedCall> calls = ReadTrace(trace);
    auto marker = [&](const char* step) { return StepIn(calls, step); };
    const std::string folder = std::filesystem::canonical(dir.path()).string();
    // A reading of the folder: a run of getdents64 calls on it after it was
    // opened (opening the folder alone, as a sync of it does, reads nothing).
    auto folderReads = [&](size_t from, size_t to) {
        int reads = 0;
        bool inRead = false;
        for (size_t i = from; i < to && i < calls.size(); ++i) {
            const bool reading = calls[i].call == "getdents64" && calls[i].path == folder;
            if (reading && !inRead) ++reads;
            inRead = reading;
        }
        return reads;
    };
    const size_t open = marker("OPEN"), closed = marker("CLOSED"), insert = marker("INSERT"),
                 inserted = marker("INSERTED"), again = marker("AGAIN");
    EXPECT_LE(folderReads(open, closed), 1) << "open and close";
    EXPECT_LE(folderReads(insert, inserted), 3) << "first INSERT: two opens and the commit";
    EXPECT_LE(folderReads(inserted, again), 3) << "next INSERT: its opens and the commit";
}

INSTANTIATE_TEST_SUITE_P(Types, FolderReads,
                         ::testing::Values(FolderReadCase{"Ntx", KIV_TABLE_NTX, false},
                                           FolderReadCase{"Cdx", KIV_TABLE_CDX, false},
                                           FolderReadCase{"Kdt", KIV_TABLE_KDT, false},
                                           FolderReadCase{"NtxUpperCase", KIV_TABLE_NTX, true},
                                           FolderReadCase{"CdxUpperCase", KIV_TABLE_CDX, true},
                                           FolderReadCase{"KdtUpperCase", KIV_TABLE_KDT, true}),
                         systest::CaseLabel<FolderReadCase>);

}  // namespace

// dBase III memos have no block header: python3-dbf ends the last one right
// after its text, a few bytes into its block. The engine reads it.
TEST(PeerWrittenMemo, AShortLastDbase3MemoReads) {
    RequirePeers();
    for (int length = 0; length <= 5; ++length) {
        TempDir dir;
        const std::string file = dir.File("s.dbf");
        int status;
        const std::string out = Peers("write db3short" + std::to_string(length) + " " + Quote(file), status);
        ASSERT_EQ(0, status) << out;
        KIVHANDLE conn = 0, t = 0;
        SYS_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
        SYS_ASSERT_OK(KivOpenTable(conn, "s", nullptr, KIV_TABLE_DEFAULT, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                   KIV_RIGHTS_NO_CHECK, 0, &t));
        std::string memo;
        SYS_ASSERT_OK(KivGotoTop(t));
        SYS_EXPECT_OK(systest::GetText(t, "NOTES", memo));
        EXPECT_EQ("first memo", memo);
        SYS_ASSERT_OK(KivSkip(t, 1));
        SYS_EXPECT_OK(systest::GetText(t, "NOTES", memo)) << length;
        EXPECT_EQ(std::string(static_cast<size_t>(length), 'x'), memo);
        SYS_EXPECT_OK(KivCloseTable(t));
        SYS_EXPECT_OK(KivDisconnect(conn));
    }
}
