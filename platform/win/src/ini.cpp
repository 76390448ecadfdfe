#include <fstream>

#include "kivwin/win.h"

namespace kivwin {
namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AnsiUpperChar(static_cast<unsigned char>(a[i])) !=
        AnsiUpperChar(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

IniFile::IniFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return;
  loaded_ = true;
  std::string line;
  decltype(sections_)::value_type* current = nullptr;
  while (std::getline(in, line)) {
    std::string_view text = TrimBlanks(line);
    if (text.empty() || text.front() == ';') continue;
    if (text.front() == '[') {
      size_t close = text.find(']');
      std::string_view name = TrimBlanks(text.substr(1, close == std::string_view::npos
                                                            ? std::string_view::npos
                                                            : close - 1));
      current = nullptr;
      for (auto& section : sections_)
        if (SameName(section.first, name)) current = &section;
      if (current == nullptr) {
        sections_.push_back({std::string(name), {}});
        current = &sections_.back();
      }
      continue;
    }
    size_t eq = text.find('=');
    if (current == nullptr || eq == std::string_view::npos) continue;
    std::string_view key = TrimBlanks(text.substr(0, eq));
    std::string_view value = TrimBlanks(text.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    current->second.push_back({std::string(key), std::string(value)});
  }
}

std::optional<std::string> IniFile::Find(std::string_view section, std::string_view key) const {
  for (const auto& s : sections_) {
    if (!SameName(s.first, section)) continue;
    for (const auto& kv : s.second)
      if (SameName(kv.first, key)) return kv.second;
    return std::nullopt;
  }
  return std::nullopt;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                const std::string& defaultValue) const {
  return Find(section, key).value_or(defaultValue);
}

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    const std::string& defaultValue, const std::string& path) {
  return IniFile(path).ReadString(section, key, defaultValue);
}

}  // namespace kivwin
