// What every test of the setup library shares: the temporary ODBC
// configuration of the test process, a reader of "odbc.ini" that bypasses
// the installer's cache, and a fixture that answers message boxes and
// restores every hook.
#ifndef KIVSET_TESTS_TESTENV_H
#define KIVSET_TESTS_TESTENV_H

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "dsninfo.h"
#include "kivforms/forms.h"
#include "kivwin/win.h"
#include "setupform.h"

namespace kivset::test {

// The driver registered in the test's odbcinst.ini (its Setup key names the
// built libkivset.so).
inline constexpr const char* kDriverName = "Morvane Rivulet Test";

// Folder holding odbcinst.ini and the user's odbc.ini of this process.
const std::string& ConfigFolder();
std::string OdbcIniPath();

// The keys of one section of odbc.ini as the file holds them, in file order;
// nullopt when the section is missing.
std::optional<std::vector<std::pair<std::string, std::string>>> ReadSection(
    const std::string& dsn);
std::optional<std::map<std::string, std::string>> SectionMap(const std::string& dsn);

// A data source written through the installer: Driver plus the given keys.
void WriteSection(const std::string& dsn,
                  const std::vector<std::pair<std::string, std::string>>& keys);

// "k=v\0k=v\0\0" from a list of texts.
std::string AttributeList(const std::vector<std::string>& items);

struct Box {
  std::string text, caption;
  unsigned flags;
};

class SetupTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Answers for the next boxes, in order; after them every box gets IDOK
  // (or IDYES for questions).
  void Answer(std::initializer_list<int> answers) { answers_.assign(answers); }
  // Runs `script` at each showing of the setup dialog (counted from 1); its
  // result ends that showing (mrNone: whatever the clicks decided).
  void OnDialog(std::function<int(TForm1&, int showing)> script);
  std::vector<Box> boxes_;
  int showings_ = 0;

 private:
  std::deque<int> answers_;
  kivwin::MessageBoxSink previousSink_;
};

}  // namespace kivset::test

#endif
