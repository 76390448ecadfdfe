// The connect block: the text fields of a connection string and of a data
// source's keys, each with a fixed capacity, and the reading and writing of
// connection strings.
#ifndef KIVODBC_CONNSTRING_H
#define KIVODBC_CONNSTRING_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kivodbc {

// Capacities in bytes, terminating NUL included. The prompt of the setup
// library writes into these very fields, so the sizes it expects are the
// sizes here.
struct ConnectBlock {
  char driver[32];
  char dataDirectory[256];
  char user[64];
  char password[64];
  char remoteHost[64];
  char remotePort[16];
  char charSet[21];
  char defaultType[21];
  char language[21];
  char morvaneLocking[21];
  char locking[21];
  char memoBlockSize[21];
  char maxTableCloseCache[21];
  char rightsChecking[21];
  char rows[21];
  char tableExtension[5];  // a leading dot and three letters
  char serverTypes[21];
  char useReadAhead[21];
  char readOnly[21];
  char useAof[21];
  char compression[21];
  char commType[21];
  char trimTrailingSpaces[21];
};

// One key of a connection string and the field it fills.
struct ConnectKey {
  const char* name;
  size_t offset;  // of the field in ConnectBlock
  size_t capacity;
};

// The keys in the order they are matched; the DSN key is first and has no
// field in the block (offset and capacity 0).
const ConnectKey* ConnectKeys(size_t* count);
const ConnectKey* FindConnectKey(std::string_view name);  // case-insensitive; null when unknown
char* FieldOf(ConnectBlock& block, const ConnectKey& key);

constexpr size_t kMaxDsnLength = 32;

// Reads "key=value;key=value[;]" pairs. No blanks are trimmed and braces have
// no meaning. A key fills its field only while the field is empty, so the
// first non-empty occurrence wins; unknown keys are ignored. Returns 0, 2139
// for a pair without '=' or with an empty key, or 2139 with `badKey` set when
// a value is longer than its field holds.
uint32_t ParseConnectionString(std::string_view text, ConnectBlock* block, std::string* dsn,
                               std::string* badKey);

// The output connection string of a completed connect.
std::string BuildOutConnectionString(const ConnectBlock& block, const std::string& dsn);

// ASCII comparison without regard to case.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Copies `text` into a field of `capacity` bytes, cut to fit.
void CopyField(char* field, size_t capacity, std::string_view text);

}  // namespace kivodbc

#endif
