#include "testenv.h"

#include <odbcinst.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "kivds/rtl.h"

namespace kivset::test {

const std::string& ConfigFolder() {
  static const std::string folder = [] {
    const char* sys = std::getenv("ODBCSYSINI");
    return std::string(sys != nullptr ? sys : "");
  }();
  return folder;
}

std::string OdbcIniPath() { return ConfigFolder() + "/odbc.ini"; }

std::optional<std::vector<std::pair<std::string, std::string>>> ReadSection(
    const std::string& dsn) {
  std::ifstream in(OdbcIniPath());
  std::string line;
  std::optional<std::vector<std::pair<std::string, std::string>>> keys;
  bool inside = false;
  while (std::getline(in, line)) {
    std::string t = kivds::Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#') continue;
    if (t.front() == '[' && t.back() == ']') {
      inside = kivds::SameText(t.substr(1, t.size() - 2), dsn);
      if (inside && !keys) keys.emplace();
      continue;
    }
    if (!inside) continue;
    const size_t eq = t.find('=');
    keys->emplace_back(kivds::Trim(t.substr(0, eq)),
                       eq == std::string::npos ? "" : kivds::Trim(t.substr(eq + 1)));
  }
  return keys;
}

std::optional<std::map<std::string, std::string>> SectionMap(const std::string& dsn) {
  auto keys = ReadSection(dsn);
  if (!keys) return std::nullopt;
  return std::map<std::string, std::string>(keys->begin(), keys->end());
}

void WriteSection(const std::string& dsn,
                  const std::vector<std::pair<std::string, std::string>>& keys) {
  ASSERT_TRUE(SQLWriteDSNToIni(dsn.c_str(), kDriverName));
  for (const auto& [key, value] : keys)
    ASSERT_TRUE(SQLWritePrivateProfileString(dsn.c_str(), key.c_str(), value.c_str(), "odbc.ini"));
}

std::string AttributeList(const std::vector<std::string>& items) {
  std::string list;
  for (const std::string& item : items) {
    list += item;
    list += '\0';
  }
  list += '\0';
  return list;
}

void SetupTest::SetUp() {
  previousSink_ = kivwin::SetMessageBoxSink(
      [this](const std::string& text, const std::string& caption, unsigned flags) {
        boxes_.push_back({text, caption, flags});
        if (!answers_.empty()) {
          int a = answers_.front();
          answers_.pop_front();
          return a;
        }
        return (flags & kivwin::MB_TYPEMASK) == kivwin::MB_YESNO ? kivwin::IDYES : kivwin::IDOK;
      });
}

void SetupTest::OnDialog(std::function<int(TForm1&, int showing)> script) {
  kivforms::SetModalHook([this, script](kivforms::TForm& form) {
    return script(static_cast<TForm1&>(form), ++showings_);
  });
}

void SetupTest::TearDown() {
  kivwin::SetMessageBoxSink(previousSink_);
  kivforms::SetModalHook(nullptr);
  kivforms::SetOpenDialogHook(nullptr);
  kivforms::SetSelectDirectoryHook(nullptr);
  if (kivforms::Application != nullptr) kivforms::Application->OnHelp = nullptr;
  Installer() = RealInstaller();
}

}  // namespace kivset::test
