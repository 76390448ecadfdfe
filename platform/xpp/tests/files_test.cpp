// File functions, share modes between threads and processes, Directory.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "test_support.h"
#include "xpp/xpp.h"

using namespace xpp;

namespace {

// Opening with FO_CREATE makes a missing file and keeps an existing one
// whole; its share mode holds like any other open's.
TEST(Files, OpenOrCreateNeverTruncates) {
    xpptest::TempDir dir;
    std::string f = dir.File("BOTH.TXT");
    int64_t h = FOpen(f, FO_WRITE | FO_DENYWRITE | FO_CREATE);
    ASSERT_GE(h, 0);
    EXPECT_EQ(FWrite(h, "one"), 3);
    EXPECT_EQ(FOpen(f, FO_WRITE | FO_DENYWRITE | FO_CREATE), -1);
    EXPECT_EQ(DosError(), DOSERR_SHARING_VIOLATION);
    EXPECT_TRUE(FClose(h));
    h = FOpen(f, FO_WRITE | FO_DENYWRITE | FO_CREATE);
    ASSERT_GE(h, 0);
    EXPECT_EQ(FSeek(h, 0, FS_END), 3);
    EXPECT_EQ(FWrite(h, "two"), 3);
    EXPECT_TRUE(FClose(h));
    EXPECT_EQ(FSize(std::string_view(f)), 6);
    EXPECT_EQ(FOpen(dir.File("NOWHERE/X.TXT"), FO_WRITE | FO_CREATE), -1);
}

TEST(Files, CreateWriteAppendReadErase) {
    xpptest::TempDir dir;
    std::string f = dir.File("SQLError.LOG");
    EXPECT_FALSE(File(f));
    EXPECT_FALSE(FExists(f, "-D-S"));
    EXPECT_EQ(FOpen(f, FO_READ), -1);
    EXPECT_EQ(DosError(), DOSERR_FILE_NOT_FOUND);

    int64_t h = FCreate(f);
    ASSERT_GE(h, 0);
    EXPECT_EQ(DosError(), 0);
    EXPECT_EQ(FWrite(h, std::string("first\0line", 10)), 10);
    EXPECT_TRUE(FClose(h));
    EXPECT_FALSE(FClose(h));  // a closed handle is gone
    EXPECT_EQ(DosError(), DOSERR_INVALID_HANDLE);

    h = FOpen(f, FO_WRITE | FO_DENYWRITE);
    ASSERT_GE(h, 0);
    EXPECT_EQ(FSeek(h, 0, FS_END), 10);
    EXPECT_EQ(FWrite(h, "+more", 3), 3);
    EXPECT_TRUE(FClose(h));

    EXPECT_TRUE(File(f));
    EXPECT_TRUE(File(dir.File("*.LOG")));
    EXPECT_FALSE(File(dir.File("*.TXT")));
    EXPECT_TRUE(FExists(f, "-D-S"));
    EXPECT_FALSE(FExists(dir.Path(), "-D-S"));
    EXPECT_TRUE(FExists(dir.Path()));
    EXPECT_EQ(FSize(std::string_view(f)), 13);

    h = FOpen(f, FO_READ);
    ASSERT_GE(h, 0);
    EXPECT_EQ(FSize(h), 13);
    EXPECT_EQ(FReadStr(h, 100), "first");  // the text ends at the NUL
    EXPECT_EQ(FSeek(h, 0), 0);
    Ref buffer(Value(Space(4)));
    EXPECT_EQ(FRead(h, buffer, 3), 3);
    EXPECT_EQ(buffer.Get().Str(), "fir ");
    EXPECT_EQ(FSeek(h, 10), 10);
    EXPECT_EQ(FReadStr(h, 100), "+mo");
    EXPECT_TRUE(FClose(h));

    EXPECT_EQ(FErase(f), 0);
    EXPECT_EQ(FErase(f), -1);
    EXPECT_EQ(DosError(), DOSERR_FILE_NOT_FOUND);
}

TEST(Files, NamesInWindowsFormAreFoundThroughTheDriveFolder) {
    xpptest::TempDir dir;
    const char* old = std::getenv("KIV_DRIVE_C");
    const std::string saved = old ? old : "";
    setenv("KIV_DRIVE_C", dir.Path().c_str(), 1);
    ASSERT_EQ(mkdir(dir.File("Data").c_str(), 0755), 0);
    xpptest::WriteFile(dir.File("Data/Cust.Dbf"), "abc");
    EXPECT_TRUE(File("C:\\DATA\\CUST.DBF"));
    EXPECT_TRUE(File("c:\\data\\*.dbf"));
    EXPECT_TRUE(FExists("C:\\DATA"));
    EXPECT_EQ(FSize(std::string_view("C:\\DATA\\CUST.DBF")), 3);
    Array d = Directory("C:\\DATA\\*.DBF");
    ASSERT_EQ(d.Len(), 1u);
    EXPECT_EQ(d.Get(1).Arr().Get(1).Str(), "Cust.Dbf");
    int64_t h = FCreate("C:\\DATA\\LOG.TXT");
    ASSERT_GE(h, 0);
    FClose(h);
    EXPECT_TRUE(File(dir.File("Data/LOG.TXT")));
    h = FOpen("c:\\data\\log.txt", FO_READWRITE);
    EXPECT_GE(h, 0);
    FClose(h);
    EXPECT_EQ(FErase("C:\\DATA\\cust.dbf"), 0);
    EXPECT_FALSE(File(dir.File("Data/Cust.Dbf")));
    if (old) setenv("KIV_DRIVE_C", saved.c_str(), 1);
    else unsetenv("KIV_DRIVE_C");
}

TEST(Files, DirectoryGivesNameSizeDateTimeAttributes) {
    xpptest::TempDir dir;
    xpptest::WriteFile(dir.File("QEL_ERR.TXT"), "12345");
    xpptest::WriteFile(dir.File("other.dat"), "");
    Array d = Directory(dir.File("QEL_ERR.TXT"));
    ASSERT_EQ(d.Len(), 1u);
    Array entry = d.Get(1).Arr();
    EXPECT_EQ(entry.Get(1).Str(), "QEL_ERR.TXT");
    EXPECT_EQ(entry.Get(2).Int(), 5);
    EXPECT_EQ(entry.Get(3).Dat(), Today());  // the file's date
    EXPECT_EQ(entry.Get(4).Str().size(), 8u);
    EXPECT_EQ(entry.Get(5).Str(), "A");
    EXPECT_EQ(Directory(dir.File("*")).Len(), 2u);
    EXPECT_EQ(Directory(dir.File("*.nothing")).Len(), 0u);
}

TEST(Files, WriteDeniedHoldsBetweenThreadsAndProcesses) {
    xpptest::TempDir dir;
    std::string f = dir.File("SQLError.LOG");
    xpptest::WriteFile(f, "log\n");
    int64_t held = FOpen(f, 33);
    ASSERT_GE(held, 0);

    int64_t other = 0;
    int otherError = 0;
    int64_t reader = -1;
    std::thread([&] {
        other = FOpen(f, 33);
        otherError = DosError();
        reader = FOpen(f, FO_READ | FO_SHARED);  // reading is still allowed
    }).join();
    EXPECT_EQ(other, -1);
    EXPECT_EQ(otherError, DOSERR_SHARING_VIOLATION);
    ASSERT_GE(reader, 0);
    EXPECT_TRUE(FClose(reader));
    EXPECT_EQ(FOpen(f, FO_READWRITE), -1);  // no write access while denied, in this thread either
    EXPECT_EQ(xpptest::RunChild("fopen '" + f + "'").exitCode, 0);  // refused in a child process

    EXPECT_TRUE(FClose(held));
    std::thread([&] {
        other = FOpen(f, 33);
        if (other >= 0) FClose(other);
    }).join();
    EXPECT_GE(other, 0);
    EXPECT_EQ(xpptest::RunChild("fopen '" + f + "'").exitCode, 2);  // opened once the handle is closed
}

TEST(Files, ShareModeTable) {
    xpptest::TempDir dir;
    std::string f = dir.File("shared.dat");
    xpptest::WriteFile(f, "x");
    struct Case {
        int first, second;
        bool secondOpens;
    } cases[] = {
        {FO_READ | FO_SHARED, FO_READWRITE | FO_SHARED, true},
        {FO_READ | FO_EXCLUSIVE, FO_READ | FO_SHARED, false},
        {FO_READ | FO_SHARED, FO_READ | FO_EXCLUSIVE, false},
        {FO_READ | FO_DENYWRITE, FO_READ | FO_DENYWRITE, true},
        {FO_READ | FO_DENYWRITE, FO_WRITE | FO_SHARED, false},
        {FO_WRITE | FO_DENYREAD, FO_READ | FO_SHARED, false},
        {FO_WRITE | FO_DENYREAD, FO_WRITE | FO_SHARED, true},
        {FO_READWRITE | FO_COMPAT, FO_READWRITE | FO_COMPAT, true},
    };
    for (const auto& c : cases) {
        int64_t a = FOpen(f, c.first);
        ASSERT_GE(a, 0);
        int64_t b = FOpen(f, c.second);
        EXPECT_EQ(b >= 0, c.secondOpens) << c.first << " then " << c.second;
        if (b >= 0) FClose(b);
        FClose(a);
    }
}

}  // namespace

TEST(Files, ShellLinkResolveGivesTheTargetOfASymbolicLinkOneLevel) {
    xpptest::TempDir dir;
    xpptest::WriteFile(dir.File("data.txt"), "x");
    ASSERT_EQ(symlink("data.txt", dir.File("relative.lnk").c_str()), 0);
    ASSERT_EQ(symlink(dir.File("data.txt").c_str(), dir.File("absolute.lnk").c_str()), 0);
    ASSERT_EQ(symlink("relative.lnk", dir.File("chain.lnk").c_str()), 0);
    ASSERT_EQ(symlink("missing.txt", dir.File("dangling.lnk").c_str()), 0);
    struct Case {
        std::string path, expected;
    } cases[] = {
        {dir.File("relative.lnk"), dir.File("data.txt")},   // made absolute against the link's folder
        {dir.File("absolute.lnk"), dir.File("data.txt")},
        {dir.File("chain.lnk"), dir.File("relative.lnk")},  // one level only
        {dir.File("dangling.lnk"), dir.File("missing.txt")},
        {dir.File("data.txt"), ""},                         // not a link
        {dir.Path(), ""},
        {dir.File("nothing.lnk"), ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ShellLinkResolve(c.path), c.expected) << c.path;

    // a relative link name resolves against the current folder
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);
    std::string resolved = ShellLinkResolve("relative.lnk");
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(resolved, dir.Path() + "/data.txt");
}
