// Helpers shared by the engine's tests: a temporary data folder with an open
// connection, and small wrappers that turn engine calls into values.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "qel32.h"

namespace qeltest {

inline std::string LastErrorText() {
    uint32_t code = 0;
    char buf[600];
    uint32_t len = sizeof buf;
    KivGetLastError(&code, buf, &len);
    return std::to_string(code) + " " + std::string(buf, std::min<uint32_t>(len, sizeof buf));
}

#define KIV_ASSERT_OK(call) ASSERT_EQ(KIV_OK, (call)) << qeltest::LastErrorText()
#define KIV_EXPECT_OK(call) EXPECT_EQ(KIV_OK, (call)) << qeltest::LastErrorText()

class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "qel32-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) std::abort();
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A temporary folder with a connection to it.
class EngineFixture : public ::testing::Test {
protected:
    void SetUp() override {
        KivShowDeleted(1);
        KIV_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    }
    void TearDown() override { KivDisconnect(conn); }

    KIVHANDLE Create(const char* name, uint16_t type, const char* defs) {
        KIVHANDLE t = 0;
        EXPECT_EQ(KIV_OK, KivCreateTable(conn, name, nullptr, type, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                         KIV_RIGHTS_NO_CHECK, 0, defs, &t))
            << LastErrorText();
        return t;
    }
    KIVHANDLE Open(const char* name, uint32_t options = KIV_OPEN_SHARED, uint16_t charType = KIV_CHAR_ANSI,
                   KIVHANDLE connection = 0) {
        KIVHANDLE t = 0;
        EXPECT_EQ(KIV_OK, KivOpenTable(connection ? connection : conn, name, nullptr, KIV_TABLE_DEFAULT, charType,
                                       KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK, options, &t))
            << LastErrorText();
        return t;
    }

    TempDir dir;
    KIVHANDLE conn = 0;
};

// A field's text form, read with a buffer of the length the engine asks for.
inline std::string Get(KIVHANDLE t, KIVFIELD f, uint16_t option = 0) {
    uint32_t len = 0;
    KIVRESULT rc = KivGetField(t, f, nullptr, &len, option);
    if (rc != KIV_OK && rc != KIV_ERR_BUFFER_TOO_SMALL) return "<error " + std::to_string(rc) + ">";
    std::vector<char> buf(len + 1);
    len = static_cast<uint32_t>(buf.size());
    rc = KivGetField(t, f, buf.data(), &len, option);
    if (rc != KIV_OK) return "<error " + std::to_string(rc) + ">";
    return std::string(buf.data(), len);
}

inline KIVRESULT Set(KIVHANDLE t, KIVFIELD f, const std::string& v) {
    return KivSetField(t, f, v.data(), static_cast<uint32_t>(v.size()));
}

inline uint32_t RecNo(KIVHANDLE t) {
    uint32_t r = 0;
    KivGetRecordNum(t, 2, &r);
    return r;
}

inline bool AtEof(KIVHANDLE t) {
    uint16_t f = 0;
    KivAtEOF(t, &f);
    return f != 0;
}

inline bool AtBof(KIVHANDLE t) {
    uint16_t f = 0;
    KivAtBOF(t, &f);
    return f != 0;
}

inline std::vector<uint8_t> Record(KIVHANDLE t) {
    uint32_t len = 0;
    KivGetRecordLength(t, &len);
    std::vector<uint8_t> image(len);
    KivGetRecord(t, image.data(), &len);
    return image;
}

inline uint32_t Offset(KIVHANDLE t, KIVFIELD f) {
    uint32_t off = 0;
    KivGetFieldOffset(t, f, &off);
    return off;
}

// Runs a statement on a fresh statement handle; returns the cursor (0 when none).
inline KIVHANDLE Exec(KIVHANDLE conn, const std::string& sql, KIVRESULT* rc = nullptr, uint16_t live = 1) {
    KIVHANDLE st = 0, cursor = 0;
    EXPECT_EQ(KIV_OK, KivCreateSQLStatement(conn, &st)) << LastErrorText();
    KivStmtSetTableReadOnly(st, live);
    const KIVRESULT r = KivExecuteSQLDirect(st, sql.c_str(), &cursor);
    if (rc) *rc = r;
    else EXPECT_EQ(KIV_OK, r) << sql << ": " << LastErrorText();
    KivCloseSQLStatement(st);
    return cursor;
}

// All rows of a cursor, fields without their padding joined by '|', rows by ';'.
inline std::string Rows(KIVHANDLE cursor) {
    std::string out;
    uint32_t n = 0;
    KivGetNumFields(cursor, &n);
    for (KivGotoTop(cursor); !AtEof(cursor); KivSkip(cursor, 1)) {
        for (uint32_t i = 1; i <= n; ++i) {
            const std::string v = Get(cursor, KIV_FIELD(i), 1);
            out += (i > 1 ? "|" : "") + v.substr(std::min(v.size(), v.find_first_not_of(' ')));
        }
        out += ";";
    }
    return out;
}

inline std::string RowsOf(KIVHANDLE conn, const std::string& sql) {
    const KIVHANDLE c = Exec(conn, sql);
    const std::string rows = Rows(c);
    KivCloseTable(c);
    return rows;
}


}  // namespace qeltest
