#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "api.h"
#include "qel32_test.h"
#include "sqlsession.h"
#include "storage.h"

namespace qel32 {

std::atomic<bool> gTestHooksActive{false};

namespace {

struct Fault {
    uint32_t code;
    std::string text;
    uint32_t remaining;  // 0 = until cleared
};

std::mutex gHookMutex;
std::map<std::string, Fault> gFaults;
bool gRecording = false;
std::string gCallLog;

void UpdateActive() { gTestHooksActive.store(!gFaults.empty() || gRecording); }

}  // namespace

KIVRESULT TestHookEnter(const char* function, bool setLastError) {
    std::lock_guard lock(gHookMutex);
    if (gRecording) {
        gCallLog += function;
        gCallLog += '\n';
    }
    auto it = gFaults.find(function);
    if (it == gFaults.end()) return KIV_OK;
    const Fault fault = it->second;
    if (fault.remaining == 1) {
        gFaults.erase(it);
        UpdateActive();
    } else if (fault.remaining > 1) {
        --it->second.remaining;
    }
    return setLastError ? SetLastError(fault.code, fault.text) : fault.code;
}

}  // namespace qel32

using namespace qel32;

extern "C" {

KIV_API void KivTestFailCall(const char* function, uint32_t code, const char* text, uint32_t times) {
    std::lock_guard lock(gHookMutex);
    gFaults[function ? function : ""] = Fault{code, text ? text : "", times};
    UpdateActive();
}

KIV_API void KivTestClearFaults(void) {
    std::lock_guard lock(gHookMutex);
    gFaults.clear();
    UpdateActive();
}

KIV_API void KivTestRecordCalls(int on) {
    std::lock_guard lock(gHookMutex);
    gRecording = on != 0;
    UpdateActive();
}

KIV_API uint32_t KivTestGetCallLog(char* buf, uint32_t capacity) {
    std::lock_guard lock(gHookMutex);
    uint32_t len = capacity;
    CopyOut(gCallLog, buf, &len);
    return len;
}

KIV_API void KivTestClearCallLog(void) {
    std::lock_guard lock(gHookMutex);
    gCallLog.clear();
}

KIV_API uint64_t KivTestSqlRecordsRead(void) { return SqlRecordsRead(); }

KIV_API uint64_t KivTestOrderRebuilds(void) { return OrderRebuilds(); }

KIV_API uint64_t KivTestRecordsCaughtUp(void) { return RecordsCaughtUp(); }

KIV_API uint64_t KivTestSqlValuesRead(void) { return SqlValuesRead(); }

}  // extern "C"
