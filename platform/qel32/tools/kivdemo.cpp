// kivdemo: writes a small sample database into a folder and lists it
// through the engine: one table of each table type, with memo fields.
//
//   kivdemo <folder>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "qel32.h"

namespace {

[[noreturn]] void Die(const char* what) {
    uint32_t code = 0;
    char text[600];
    uint32_t len = sizeof text;
    KivGetLastError(&code, text, &len);
    std::fprintf(stderr, "kivdemo: %s failed: %u %s\n", what, code, text);
    std::exit(1);
}

void Check(KIVRESULT rc, const char* what) {
    if (rc != KIV_OK) Die(what);
}

struct TableSpec {
    const char* file;
    uint16_t type;
    const char* fields;
    std::vector<std::vector<const char*>> rows;  // values by field order, nullptr = leave empty
};

const char* TypeName(uint16_t type) {
    switch (type) {
        case KIV_TABLE_NTX: return "NTX (DBF with DBT memo)";
        case KIV_TABLE_CDX: return "CDX (DBF with FPT memo)";
        default: return "KDT (engine table with KDM blobs)";
    }
}

void Create(KIVHANDLE conn, const TableSpec& spec) {
    unlink(spec.file);
    KIVHANDLE t;
    Check(KivCreateTable(conn, spec.file, nullptr, spec.type, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                         KIV_RIGHTS_NO_CHECK, 0, spec.fields, &t),
          "KivCreateTable");
    for (const auto& row : spec.rows) {
        Check(KivAppendRecord(t), "KivAppendRecord");
        for (size_t i = 0; i < row.size(); ++i)
            if (row[i]) Check(KivSetField(t, KIV_FIELD(i + 1), row[i], static_cast<uint32_t>(std::strlen(row[i]))), "KivSetField");
        Check(KivWriteRecord(t), "KivWriteRecord");
    }
    Check(KivCloseTable(t), "KivCloseTable");
}

void List(KIVHANDLE conn, const char* file) {
    KIVHANDLE t;
    Check(KivOpenTable(conn, file, nullptr, KIV_TABLE_DEFAULT, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                       KIV_RIGHTS_NO_CHECK, KIV_OPEN_READ_ONLY, &t),
          "KivOpenTable");
    uint16_t type;
    uint32_t fields, count;
    Check(KivGetTableType(t, &type), "KivGetTableType");
    Check(KivGetNumFields(t, &fields), "KivGetNumFields");
    Check(KivGetRecordCount(t, KIV_COUNT_IGNORE_FILTERS, &count), "KivGetRecordCount");
    std::printf("%s: %s, %u fields, %u records\n", file, TypeName(type), fields, count);
    for (uint32_t i = 1; i <= fields; ++i) {
        char name[129];
        uint32_t len = sizeof name;
        uint16_t ft, dec;
        uint32_t flen;
        Check(KivGetFieldName(t, i, name, &len), "KivGetFieldName");
        Check(KivGetFieldType(t, KIV_FIELD(i), &ft), "KivGetFieldType");
        Check(KivGetFieldLength(t, KIV_FIELD(i), &flen), "KivGetFieldLength");
        Check(KivGetFieldDecimals(t, KIV_FIELD(i), &dec), "KivGetFieldDecimals");
        std::printf("  field %-8s type %2u length %3u decimals %u\n", name, ft, flen, dec);
    }
    uint16_t eof = 0;
    for (Check(KivGotoTop(t), "KivGotoTop"); Check(KivAtEOF(t, &eof), "KivAtEOF"), !eof;
         Check(KivSkip(t, 1), "KivSkip")) {
        uint32_t recno;
        Check(KivGetRecordNum(t, 2, &recno), "KivGetRecordNum");
        std::printf("  #%u", recno);
        for (uint32_t i = 1; i <= fields; ++i) {
            uint16_t ft;
            Check(KivGetFieldType(t, KIV_FIELD(i), &ft), "KivGetFieldType");
            if (ft == KIV_FT_BINARY || ft == KIV_FT_IMAGE) {
                uint32_t blen;
                Check(KivGetBinaryLength(t, KIV_FIELD(i), &blen), "KivGetBinaryLength");
                std::printf(" | <%u bytes>", blen);
                continue;
            }
            std::vector<char> buf(4096);
            uint32_t len = static_cast<uint32_t>(buf.size());
            const KIVRESULT rc = KivGetField(t, KIV_FIELD(i), buf.data(), &len, 1);
            if (rc != KIV_OK && rc != KIV_ERR_BUFFER_TOO_SMALL) Die("KivGetField");
            std::printf(" | %.*s", static_cast<int>(std::min<uint32_t>(len, 60)), buf.data());
        }
        std::printf("\n");
    }
    Check(KivCloseTable(t), "KivCloseTable");
}

// Runs a query (with one string parameter when given) and returns its cursor.
KIVHANDLE Query(KIVHANDLE conn, const char* sql, const char* parameter) {
    KIVHANDLE st, cursor = 0;
    Check(KivCreateSQLStatement(conn, &st), "KivCreateSQLStatement");
    Check(KivPrepareSQL(st, sql), "KivPrepareSQL");
    if (parameter)
        Check(KivSetString(st, KIV_FIELD(1), parameter, static_cast<uint32_t>(std::strlen(parameter))), "KivSetString");
    Check(KivExecuteSQL(st, &cursor), "KivExecuteSQL");
    Check(KivCloseSQLStatement(st), "KivCloseSQLStatement");
    return cursor;
}

// A field's text without the padding around it.
std::string Text(KIVHANDLE t, const char* field) {
    char buf[256];
    uint32_t len = sizeof buf;
    const KIVRESULT rc = KivGetField(t, field, buf, &len, 1);
    if (rc != KIV_OK && rc != KIV_ERR_BUFFER_TOO_SMALL) Die("KivGetField");
    std::string text(buf, std::min<uint32_t>(len, sizeof buf));
    const size_t start = text.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : text.substr(start);
}

}  // namespace

int main(int argc, char** argv) {
    const char* folder = argc > 1 ? argv[1] : "sample-data";
    mkdir(folder, 0755);
    if (chdir(folder) != 0) {
        std::perror(folder);
        return 1;
    }
    Check(KivSetDateFormat("YYYY-MM-DD"), "KivSetDateFormat");
    KIVHANDLE conn;
    Check(KivConnect(".", &conn), "KivConnect");

    const std::vector<TableSpec> specs = {
        {"customer.dbf", KIV_TABLE_NTX, "ID,N,6;NAME,C,30;SINCE,D;ACTIVE,L;NOTES,M",
         {{"1", "Harbour Supplies", "2019-03-14", "T", "Pays on the first of the month."},
          {"2", "North Mill Ltd", "2021-11-02", "F", nullptr},
          {"3", "Ostend Traders", "2023-06-30", "T", "Prefers delivery by rail.\nCall before noon."}}},
        {"orders.dbf", KIV_TABLE_CDX, "ORDERNO,N,8;CUSTID,N,6;AMOUNT,N,10,2;ORDERED,D;REMARK,M",
         {{"1001", "1", "250.50", "2024-01-05", "Urgent"},
          {"1002", "3", "1200", "2024-02-11", nullptr},
          {"1003", "1", "75.25", "2024-02-12", "Partial delivery"}}},
        {"items.kdt", KIV_TABLE_KDT,
         "ID,AUTOINC;NAME,CHAR,40;PRICE,MONEY;WEIGHT,DOUBLE,3;ADDED,TIMESTAMP;DESCR,MEMO;PHOTO,BINARY",
         {{nullptr, "Brass hinge", "4.95", "0.125", "2024-03-01 09:30:00", "Solid brass, 60 mm", "\x89PNG\r\n"},
          {nullptr, "Oak shelf", "39.90", "2.5", "2024-03-02 14:05:10", "Untreated oak, 80 cm", nullptr}}},
    };
    for (const auto& spec : specs) Create(conn, spec);
    for (const auto& spec : specs) List(conn, spec.file);
    Check(KivDisconnect(conn), "KivDisconnect");

    // A data dictionary over the three tables. Its catalogue says CUSTOMER.NAME
    // is 40 characters long; the file says 30: a disagreement for the checker.
    unlink("sample.kdd");
    Check(KivDDCreate("sample.kdd",
                      "user KIVSYS\n"
                      "table CUSTOMER customer.dbf\n"
                      "table ORDERS orders.dbf\n"
                      "table ITEMS items.kdt\n"
                      "column CUSTOMER 2 NAME 4 40 0\n"),
          "KivDDCreate");
    Check(KivConnect60("sample.kdd", KIV_SERVER_LOCAL, "KIVSYS", "", 0, &conn), "KivConnect60");
    std::printf("\nsample.kdd: the dictionary's catalogue\n");
    KIVHANDLE tables = Query(conn, "select name from system.tables order by 1", nullptr);
    uint16_t eof = 0;
    for (Check(KivGotoTop(tables), "KivGotoTop"); Check(KivAtEOF(tables, &eof), "KivAtEOF"), !eof;
         Check(KivSkip(tables, 1), "KivSkip")) {
        const std::string table = Text(tables, "name");
        KIVHANDLE cols = Query(conn,
                               " select field_num, name, field_type, field_length, field_decimal "
                               " from system.columns  where parent=:parent  order by 1",
                               table.c_str());
        std::printf("  %s:", table.c_str());
        for (Check(KivGotoTop(cols), "KivGotoTop"); Check(KivAtEOF(cols, &eof), "KivAtEOF"), !eof;
             Check(KivSkip(cols, 1), "KivSkip"))
            std::printf(" %s(%s,%s,%s)", Text(cols, "name").c_str(), Text(cols, "field_type").c_str(),
                        Text(cols, "field_length").c_str(), Text(cols, "field_decimal").c_str());
        std::printf("\n");
        Check(KivCloseTable(cols), "KivCloseTable");
        eof = 0;
    }
    Check(KivCloseTable(tables), "KivCloseTable");

    std::printf("\nSQL: orders per customer\n");
    KIVHANDLE totals = Query(conn,
                             "SELECT c.name, COUNT(*) AS orders, SUM(o.amount) AS total FROM customer c "
                             "JOIN orders o ON o.custid = c.id GROUP BY c.name ORDER BY c.name",
                             nullptr);
    for (Check(KivGotoTop(totals), "KivGotoTop"); Check(KivAtEOF(totals, &eof), "KivAtEOF"), !eof;
         Check(KivSkip(totals, 1), "KivSkip"))
        std::printf("  %-20s %s orders, %s\n", Text(totals, "name").c_str(), Text(totals, "orders").c_str(),
                    Text(totals, "total").c_str());
    Check(KivCloseTable(totals), "KivCloseTable");
    Check(KivDisconnect(conn), "KivDisconnect");
    return 0;
}
