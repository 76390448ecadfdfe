/*
 * qel32_test.h - test hooks of the engine. Only tests use these: they make a
 * named engine function fail with a chosen code and text, and record which
 * engine functions were called.
 */
#ifndef QEL32_TEST_H
#define QEL32_TEST_H

#include "qel32.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The next `times` calls of `function` fail with code and text (times 0 = until cleared). */
KIV_API void KivTestFailCall(const char* function, uint32_t code, const char* text, uint32_t times);
KIV_API void KivTestClearFaults(void);
/* Starts (1) or stops (0) recording the names of called engine functions. */
KIV_API void KivTestRecordCalls(int on);
/* The recorded names, one per line; returns the full length like the engine's text calls. */
KIV_API uint32_t KivTestGetCallLog(char* buf, uint32_t capacity);
KIV_API void KivTestClearCallLog(void);
/* Records the engine's SQL has read from table files so far in this process. */
KIV_API uint64_t KivTestSqlRecordsRead(void);
/* Field values the engine's SQL has read from records so far in this process. */
KIV_API uint64_t KivTestSqlValuesRead(void);
/* Times this process rebuilt a table's orders whole to catch up with other processes' changes. */
KIV_API uint64_t KivTestOrderRebuilds(void);
/* Records whose keys this process caught up with one by one after other processes' changes. */
KIV_API uint64_t KivTestRecordsCaughtUp(void);

#ifdef __cplusplus
}
#endif

#endif
