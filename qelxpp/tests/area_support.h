// Helpers of the tests of fields, records, orders and seeks: tables made
// through QELXPP or straight through the engine, records appended and the
// pointer moved through the engine (the navigation functions of QELXPP are
// not under test here), and a second process that reports what it reads.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "state.h"
#include "support.h"

namespace qeltest {

inline xpp::Array Field(const char* name, const char* type, int len, int dec) {
    return xpp::Array{xpp::Value(name), xpp::Value(type), xpp::Value(len), xpp::Value(dec)};
}

// The engine handle of the current work area's table.
inline KIVHANDLE CurrentTable() {
    return static_cast<KIVHANDLE>(
        qelxpp::testing::WorkAreaRecord(static_cast<int>(qelxpp::SELECT().Int())).Arr().Get(qelxpp::WA_TABLE).Int());
}

// Creates a table through the engine with field definitions in its own
// words, on the calling thread's connection.
inline bool EngineCreate(const std::string& name, uint16_t type, const std::string& defs) {
    KIVHANDLE h = 0;
    auto conn = static_cast<KIVHANDLE>(qelxpp::QELFINDCONNECTION().Int());
    return KivCreateTable(conn, name.c_str(), nullptr, type, 2, 0, 2, 0, defs.c_str(), &h) == 0 &&
           KivCloseTable(h) == 0;
}

// The text by which two processes compare values: type letter and text.
inline std::string Show(const xpp::Value& v) { return xpp::ValType(v) + ":" + xpp::Var2Char(v); }

// Every field of the current record as Show() gives it, one a line.
inline std::string AllFields() {
    std::string out;
    for (int64_t i = 1; i <= qelxpp::FCOUNT().Int(); ++i) out += Show(qelxpp::FIELDGET(i)) + "\n";
    return out;
}

// A fixture with the engine loaded, and the checks of what reached the
// error block.
class LoadedTest : public QelTest {
protected:
    void SetUp() override {
        QelTest::SetUp();
        ASSERT_TRUE(qelxpp::QELLOADDLL().Log());
    }
    // Opens a table shared in a new area and appends one blank record.
    void OpenWithRecord(const char* file, const char* alias = nullptr) {
        ASSERT_TRUE(qelxpp::DBUSEAREA(true, xpp::Value(), file, alias ? xpp::Value(alias) : xpp::Value(), true).Log());
        ASSERT_EQ(0u, KivAppendRecord(CurrentTable()));
    }
    void ExpectNoErrors() {
        for (auto& e : errors) ADD_FAILURE() << e->description.Str();
        errors.clear();
    }
    void ExpectError(const std::string& description) {
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0]->description.Str(), description);
        errors.clear();
    }
    // The engine calls `fn` makes, one name a line.
    std::string CallsOf(const std::function<void()>& fn) {
        KivTestClearCallLog();
        KivTestRecordCalls(1);
        fn();
        KivTestRecordCalls(0);
        return CallLog();
    }
    // Creates a CDX table of `count` records and opens it shared in a new
    // area, on the first record. Record n has NAME kLetters[n - 1] ("Z"
    // after the tenth) and AMOUNT n * 25; by NAME the first ten run 4, 2,
    // 6, 7, 9, 1, 10, 3, 8, 5.
    static constexpr const char* kLetters[] = {"E", "B", "H", "A", "J", "B", "C", "I", "D", "G"};
    void Letters(const char* file = "LETTERS.DBF", int count = 10) {
        qelxpp::QELSETTABLETYPE(2);
        ASSERT_TRUE(
            qelxpp::DBCREATE(file, xpp::Array{xpp::Value(Field("NAME", "C", 10, 0)), xpp::Value(Field("AMOUNT", "N", 8, 2))})
                .Log());
        ASSERT_TRUE(qelxpp::DBUSEAREA(true, xpp::Value(), file, xpp::Value(), true).Log());
        for (int n = 1; n <= count; ++n) {
            ASSERT_EQ(0u, KivAppendRecord(CurrentTable()));
            qelxpp::FIELDPUT(1, n <= 10 ? kLetters[n - 1] : "Z");
            qelxpp::FIELDPUT(2, n * 25);
        }
        ASSERT_EQ(0u, KivUnlockTable(CurrentTable()));
        ASSERT_EQ(0u, KivGotoTop(CurrentTable()));
        ExpectNoErrors();
    }
    // Functions called on the free current area `area`: each gives its
    // result (as Show() writes it) without an engine call, and reports
    // nothing, QELNOTUSED's -999, or the runtime's error of an element
    // access on NIL.
    enum FreeAreaReport { kSilent, kNotInUse, kRuntimeError };
    struct FreeAreaCase {
        const char* name;
        std::function<xpp::Value()> fn;
        const char* result;
        FreeAreaReport report;
    };
    void ExpectOnFreeArea(int area, const std::vector<FreeAreaCase>& cases) {
        ASSERT_TRUE(qelxpp::DBSELECTAREA(area).Log());
        ASSERT_FALSE(qelxpp::USED().Log());
        for (const FreeAreaCase& c : cases) {
            SCOPED_TRACE(c.name);
            xpp::Value result;
            EXPECT_EQ(CallsOf([&] { result = c.fn(); }), "");
            EXPECT_EQ(Show(result), c.result);
            if (c.report == kSilent) {
                EXPECT_TRUE(errors.empty());
            } else if (c.report == kNotInUse) {
                ExpectError("QEL_-999, Work area is not in use:[" + std::to_string(area) + "]");
            } else {
                ASSERT_EQ(errors.size(), 1u);
                EXPECT_EQ(errors[0]->subSystem.Str(), "BASE");
                EXPECT_EQ(errors[0]->genCode.Int(), xpp::EG_ARG);
                errors.clear();
            }
        }
        EXPECT_EQ(qelxpp::SELECT().Int(), area);
    }
};

// Runs `fn` in a child process with a fresh module state and the engine
// loaded anew, and gives what it returned (or "child failed").
inline std::string InChildProcess(const std::function<std::string()>& fn) {
    int fds[2];
    if (pipe(fds) != 0) return "no pipe";
    pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        qelxpp::testing::ResetState();
        std::string out = qelxpp::QELLOADDLL().Log() ? fn() : std::string("not loaded");
        ssize_t written = write(fds[1], out.data(), out.size());
        _exit(written == static_cast<ssize_t>(out.size()) ? 0 : 1);
    }
    close(fds[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed";
    return out;
}

}  // namespace qeltest
