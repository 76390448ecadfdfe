// The connect prompt: the setup library is loaded for the call, shows its
// dialog over the connect block, and is freed again.
#ifndef KIVODBC_PROMPT_H
#define KIVODBC_PROMPT_H

#include <sql.h>

#include <string>

#include "connect/connstring.h"

namespace kivodbc {

// The driver's section in the installer's "ODBCINST.INI", whose "Setup" value
// names the setup library when it does not sit beside the driver.
constexpr const char* kDriverSection = "Morvane Rivulet ODBC";

// 0 when the user confirmed (the block then holds the answers), 100 when the
// prompt was cancelled or the setup library could not be used.
int RunConnectPrompt(SQLHWND window, const std::string& dsn, ConnectBlock* block);

// Tests load another library in place of the setup library (empty: the usual
// search again).
void UsePromptLibraryForTesting(const std::string& path);

}  // namespace kivodbc

#endif
