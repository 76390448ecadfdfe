// The flash window reached the way a program reaches it: a statement fails
// on the SQLite ODBC driver, the connection's default error handler logs
// it and flashes its report over the application window.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "kiv_odbc_testing/data_sources.h"
#include "qt_flash_shot.h"
#include "rowxpp/sql_connection.h"
#include "rowxpp/sql_statement.h"
#include "xpp/runtime.h"

namespace fs = std::filesystem;
using kivodbc::testing::TestDataSources;

namespace {

// A fresh current folder for the error log, removed at the end.
class LogFolder {
public:
    LogFolder() : kept_(fs::current_path()) {
        folder_ = fs::temp_directory_path() / ("rowxpp_flash_road_" + std::to_string(::getpid()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        fs::current_path(folder_);
    }
    ~LogFolder() {
        fs::current_path(kept_);
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    std::string Log() const {
        std::ifstream in(folder_ / "SQLError.LOG", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    fs::path kept_, folder_;
};

}  // namespace

TEST(FlashThroughTheErrorHandler, AFailedStatementOnSqliteFlashesTheHandlersLinesAndInformationNothing) {
    LogFolder folder;
    xpp::InitModules();  // as the program starts: the library's INIT hands the flash to the handler
    TestDataSources::Get().Activate();
    auto c = rowxpp::SQLConnection::New(TestDataSources::kSqlite, "", "");
    ASSERT_TRUE(c->isConnected());

    FlashScene scene;
    scene.app->SetPos(Array{50, 40});
    const int widgets = xt::WidgetCount();
    PictureDir dir;
    FlashShot shot;
    ShootAtSleep(scene, shot, dir.File("road.png"));

    auto failing = c->NewStatement("SELECT * FROM no_such_table");
    EXPECT_EQ(failing->Execute(), rowxpp::kExecFailed);

    ASSERT_TRUE(shot.taken);
    EXPECT_EQ(scene.Sleeps(), std::vector<int64_t>{100});
    EXPECT_EQ(shot.title, "SQLError.LOG");
    // the handler's report: the diagnostic record first, every line that
    // ends in CR LF shown, in order
    const std::string log = folder.Log();
    ASSERT_GE(shot.captions.size(), 2u);
    EXPECT_EQ(shot.captions[0], "SQLState: HY000,  ErrorCode:1");
    EXPECT_NE(shot.captions[1].find("no such table: no_such_table"), std::string::npos) << shot.captions[1];
    std::string shown;
    for (auto& line : shot.captions) shown += line + "\r\n";
    EXPECT_NE(log.find(shown), std::string::npos) << "the lines are the logged report's\n" << log;
    for (size_t i = 1; i < shot.lines.size(); ++i) EXPECT_LT(shot.lines[i - 1].top(), shot.lines[i].top());
    ExpectTextOnlyInTheLines(shot);
    EXPECT_TRUE(shot.widget.isNull());
    EXPECT_EQ(xt::WidgetCount(), widgets);

    // the driver's information (01S02: a cursor concurrency it changed, set
    // on a new statement), handed to the handler with its return code 1:
    // logged, not flashed
    auto informed = c->NewStatement("SELECT 1");
    ASSERT_TRUE(informed->SetAttribute(SQL_ATTR_CONCURRENCY, SQL_CONCUR_VALUES));
    ASSERT_EQ(informed->ErrorCode, SQL_SUCCESS_WITH_INFO);
    const size_t logged = folder.Log().size();
    informed->DisplayError_();
    const std::string after = folder.Log();
    EXPECT_GT(after.size(), logged);
    EXPECT_NE(after.find("SQLState: 01S02", logged), std::string::npos) << after.substr(logged);
    EXPECT_EQ(scene.Sleeps(), std::vector<int64_t>{100}) << "no second flash";
    EXPECT_TRUE(Dialogs(scene.app).empty());
    EXPECT_EQ(xt::WidgetCount(), widgets);
    c->Destroy();
}
