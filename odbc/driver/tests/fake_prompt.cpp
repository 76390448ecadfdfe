// A stand-in for the setup library's connect prompt, for tests of the
// driver's prompting: it records what the driver handed over and answers as
// the test said. Loaded by the driver by file name, like the real library.
#include <algorithm>
#include <cstring>
#include <string>

#include "fake_prompt.h"

namespace {

FakePromptState gState;

void Answer(char* field, size_t size, const char* text) {
  const size_t n = std::min(std::strlen(text), size - 1);
  std::memcpy(field, text, n);
  field[n] = 0;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) FakePromptState* FakePromptStateOf() { return &gState; }

__attribute__((visibility("default"))) unsigned short PromptForConnectInfo(
    const char* dsn, char* dataDirectory, char* defaultType, char*, char*, char*, char*, char*, char*, char*, char*,
    char*, char* user, char* password) {
  ++gState.calls;
  Answer(gState.seenDsn, sizeof gState.seenDsn, dsn);
  Answer(gState.seenDirectory, sizeof gState.seenDirectory, dataDirectory);
  Answer(gState.seenUser, sizeof gState.seenUser, user);
  if (!gState.confirm) return 0;
  // The library writes at most size - 1 characters into each buffer.
  Answer(dataDirectory, 256, gState.directory);
  Answer(defaultType, 21, gState.defaultType);
  Answer(user, 64, gState.user);
  Answer(password, 64, gState.password);
  return 1;
}

}  // extern "C"
