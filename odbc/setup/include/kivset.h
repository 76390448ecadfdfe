/*
 * kivset: the setup library of the Morvane Rivulet ODBC driver.
 *
 * Two entry points, both with C linkage:
 *
 *   ConfigDSN             called by the ODBC installer (unixODBC's
 *                         SQLConfigDataSource loads the library named by the
 *                         "Setup" key of the driver's odbcinst.ini section).
 *                         Its prototype is the standard one of <odbcinst.h>:
 *                         BOOL ConfigDSN(HWND, WORD, LPCSTR, LPCSTR).
 *                         A non-null window handle means "show the setup
 *                         dialog"; it is never used as a native window.
 *
 *   PromptForConnectInfo  called by the driver when it must ask the user for
 *                         connection settings. Declared below.
 *
 * The library creates its own Qt application object when the process has
 * none. When no display is available, a dialog that would be shown counts
 * as cancelled.
 */
#ifndef KIVSET_H
#define KIVSET_H

#ifdef __cplusplus
extern "C" {
#endif

/* File name of the library and name of the prompt entry point, for dlopen
   and dlsym. */
#define KIVSET_LIBRARY_NAME "libkivset.so"
#define KIVSET_PROMPT_FUNCTION_NAME "PromptForConnectInfo"

/* Sizes (in bytes, terminating zero included) of the caller's buffers. The
   library reads at most size - 1 characters from each and writes at most
   size - 1 characters and a zero into each in/out buffer. */
enum {
  KIVSET_DSN_SIZE = 36,
  KIVSET_DATADIRECTORY_SIZE = 256,
  KIVSET_OPTION_SIZE = 21,
  KIVSET_USER_SIZE = 64,
  KIVSET_PASSWORD_SIZE = 64
};

/*
 * Shows the setup dialog as a connect prompt and writes the edited settings
 * back into the caller's buffers.
 *
 *   dsn                 in, KIVSET_DSN_SIZE: when non-empty, the data
 *                       source's section of "odbc.ini" pre-fills the dialog.
 *                       Never written.
 *   dataDirectory       in/out, KIVSET_DATADIRECTORY_SIZE
 *   defaultType         in/out, KIVSET_OPTION_SIZE: "Morvane", "FoxPro", "Clipper"
 *   locking             in/out, KIVSET_OPTION_SIZE: "Record", "File"
 *   morvaneLocking      in/out, KIVSET_OPTION_SIZE: "ON", "OFF"
 *   charSet             in/out, KIVSET_OPTION_SIZE: "ANSI", "OEM"
 *   rows                in/out, KIVSET_OPTION_SIZE: "True", "False"
 *   memoBlockSize       in/out, KIVSET_OPTION_SIZE: decimal, 0..1024
 *   maxTableCloseCache  in/out, KIVSET_OPTION_SIZE: decimal, 0..250
 *   serverTypes         in/out, KIVSET_OPTION_SIZE: decimal, 1 local + 2 remote + 4 internet
 *   compression         in/out, KIVSET_OPTION_SIZE: " ", "Internet", "Always", "Never"
 *   trimTrailingSpaces  in/out, KIVSET_OPTION_SIZE: "True", "False"
 *   user                in/out, KIVSET_USER_SIZE
 *   password            in/out, KIVSET_PASSWORD_SIZE
 *
 * An empty input keeps the setting of the data source (or its default); a
 * null pointer counts as empty and is never written.
 *
 * Returns 1 when the user pressed OK (buffers written), 0 when the prompt was
 * cancelled, could not be shown, or the data source could not be read (no
 * buffer is written then).
 */
unsigned short PromptForConnectInfo(const char* dsn, char* dataDirectory, char* defaultType,
                                    char* locking, char* morvaneLocking, char* charSet,
                                    char* rows, char* memoBlockSize, char* maxTableCloseCache,
                                    char* serverTypes, char* compression,
                                    char* trimTrailingSpaces, char* user, char* password);

typedef unsigned short (*KivsetPromptForConnectInfoProc)(
    const char* dsn, char* dataDirectory, char* defaultType, char* locking,
    char* morvaneLocking, char* charSet, char* rows, char* memoBlockSize,
    char* maxTableCloseCache, char* serverTypes, char* compression, char* trimTrailingSpaces,
    char* user, char* password);

#ifdef __cplusplus
}
#endif

#endif
