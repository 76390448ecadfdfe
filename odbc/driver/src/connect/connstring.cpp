#include "connect/connstring.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "handles/messages.h"

namespace kivodbc {
namespace {

#define KIV_FIELD_KEY(name, member) \
  ConnectKey { name, offsetof(ConnectBlock, member), sizeof(ConnectBlock::member) }

constexpr ConnectKey kKeys[] = {
    {"DSN", 0, 0},
    KIV_FIELD_KEY("DRIVER", driver),
    KIV_FIELD_KEY("DataDirectory", dataDirectory),
    KIV_FIELD_KEY("UID", user),
    KIV_FIELD_KEY("PWD", password),
    KIV_FIELD_KEY("RemoteHost", remoteHost),
    KIV_FIELD_KEY("RemotePort", remotePort),
    KIV_FIELD_KEY("CharSet", charSet),
    KIV_FIELD_KEY("Language", language),
    KIV_FIELD_KEY("DefaultType", defaultType),
    KIV_FIELD_KEY("MorvaneLocking", morvaneLocking),
    KIV_FIELD_KEY("Locking", locking),
    KIV_FIELD_KEY("MemoBlockSize", memoBlockSize),
    KIV_FIELD_KEY("MaxTableCloseCache", maxTableCloseCache),
    KIV_FIELD_KEY("RightsChecking", rightsChecking),
    KIV_FIELD_KEY("Rows", rows),
    KIV_FIELD_KEY("TableExtension", tableExtension),
    KIV_FIELD_KEY("ServerTypes", serverTypes),
    KIV_FIELD_KEY("UseAOF", useAof),
    KIV_FIELD_KEY("UseReadAhead", useReadAhead),
    KIV_FIELD_KEY("ReadOnly", readOnly),
    KIV_FIELD_KEY("Compression", compression),
    KIV_FIELD_KEY("CommType", commType),
    KIV_FIELD_KEY("TrimTrailingSpaces", trimTrailingSpaces),
};

#undef KIV_FIELD_KEY

// Keys written after ";SERVER=NotTheServer", each only when non-empty.
constexpr const char* kTrailingKeys[] = {
    "CharSet",    "Compression",        "CommType",    "DefaultType",    "Rows",
    "Language",   "MorvaneLocking",     "Locking",     "MemoBlockSize",  "MaxTableCloseCache",
    "ReadOnly",   "RightsChecking",     "ServerTypes", "TableExtension", "TrimTrailingSpaces",
    "UseAOF",     "UseReadAhead"};

const char* FieldText(const ConnectBlock& block, const char* key) {
  const ConnectKey* k = FindConnectKey(key);
  return reinterpret_cast<const char*>(&block) + k->offset;
}

void AppendPair(std::string& out, const char* key, const char* value) {
  out += key;
  out += '=';
  out += value;
}

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

void CopyField(char* field, size_t capacity, std::string_view text) {
  if (capacity == 0) return;
  const size_t n = std::min(text.size(), capacity - 1);
  std::memcpy(field, text.data(), n);
  field[n] = 0;
}

const ConnectKey* ConnectKeys(size_t* count) {
  *count = sizeof kKeys / sizeof kKeys[0];
  return kKeys;
}

const ConnectKey* FindConnectKey(std::string_view name) {
  for (const ConnectKey& key : kKeys)
    if (EqualsIgnoreCase(key.name, name)) return &key;
  return nullptr;
}

char* FieldOf(ConnectBlock& block, const ConnectKey& key) { return reinterpret_cast<char*>(&block) + key.offset; }

uint32_t ParseConnectionString(std::string_view text, ConnectBlock* block, std::string* dsn,
                               std::string* badKey) {
  size_t at = 0;
  while (at < text.size()) {
    const size_t equals = text.find('=', at);
    if (equals == std::string_view::npos || equals == at) return kInvalidConnectionString;
    const std::string_view key = text.substr(at, equals - at);
    size_t end = text.find(';', equals + 1);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view value = text.substr(equals + 1, end - equals - 1);
    at = end + 1;

    const ConnectKey* k = FindConnectKey(key);
    if (k == nullptr || value.empty()) continue;
    const size_t capacity = k->capacity == 0 ? kMaxDsnLength + 1 : k->capacity;
    char* field = k->capacity == 0 ? nullptr : FieldOf(*block, *k);
    const bool empty = field == nullptr ? dsn->empty() : field[0] == 0;
    if (!empty) continue;
    if (value.size() > capacity - 1) {
      *badKey = k->name;
      return kInvalidConnectionString;
    }
    if (field == nullptr) {
      dsn->assign(value);
    } else {
      CopyField(field, capacity, value);
    }
  }
  return 0;
}

std::string BuildOutConnectionString(const ConnectBlock& block, const std::string& dsn) {
  std::string out;
  if (!dsn.empty()) {
    AppendPair(out, "DSN", dsn.c_str());
  } else {
    AppendPair(out, "DRIVER", block.driver);
  }
  out += ';';
  AppendPair(out, "DataDirectory", block.dataDirectory);
  for (const char* key : {"RemoteHost", "RemotePort", "UID", "PWD"}) {
    const char* value = FieldText(block, key);
    if (value[0] == 0) continue;
    out += ';';
    AppendPair(out, key, value);
  }
  out += ";SERVER=NotTheServer";
  for (const char* key : kTrailingKeys) {
    const char* value = FieldText(block, key);
    if (value[0] == 0) continue;
    out += ';';
    AppendPair(out, key, value);
  }
  return out;
}

}  // namespace kivodbc
