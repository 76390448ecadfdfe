// What the stand-in prompt library saw and what it answers.
#ifndef KIVODBC_FAKE_PROMPT_H
#define KIVODBC_FAKE_PROMPT_H

struct FakePromptState {
  int calls = 0;
  char seenDsn[64] = "";
  char seenDirectory[300] = "";
  char seenUser[64] = "";
  bool confirm = true;
  char directory[300] = "";
  char defaultType[21] = "";
  char user[64] = "";
  char password[64] = "";
};

extern "C" {
typedef FakePromptState* (*FakePromptStateProc)();
}

#endif
