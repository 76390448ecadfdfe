// Entry points of the index and expression tier, which this
// build does not carry: each answers KIV_ERR_NOT_AVAILABLE.
#include "api.h"

using namespace qel32;

namespace {

KIVRESULT NotAvailable(const char* function) {
    return Api(function, []() -> KIVRESULT {
        Throw(KIV_ERR_NOT_AVAILABLE, "function not available in this engine build");
    });
}

}  // namespace

extern "C" {

KIVRESULT KivReindex(KIVHANDLE) { return NotAvailable("KivReindex"); }
KIVRESULT KivOpenIndex(KIVHANDLE, const char*, KIVHANDLE*, uint16_t*) { return NotAvailable("KivOpenIndex"); }
KIVRESULT KivCloseIndex(KIVHANDLE) { return NotAvailable("KivCloseIndex"); }
KIVRESULT KivCloseAllIndexes(KIVHANDLE) { return NotAvailable("KivCloseAllIndexes"); }
KIVRESULT KivCreateIndex(KIVHANDLE, const char*, const char*, const char*, const char*, const char*, uint32_t, KIVHANDLE*) { return NotAvailable("KivCreateIndex"); }
KIVRESULT KivGetIndexHandle(KIVHANDLE, const char*, KIVHANDLE*) { return NotAvailable("KivGetIndexHandle"); }
KIVRESULT KivGetIndexHandleByOrder(KIVHANDLE, uint16_t, KIVHANDLE*) { return NotAvailable("KivGetIndexHandleByOrder"); }
KIVRESULT KivGetIndexName(KIVHANDLE, char*, uint32_t*) { return NotAvailable("KivGetIndexName"); }
KIVRESULT KivGetIndexExpr(KIVHANDLE, char*, uint32_t*) { return NotAvailable("KivGetIndexExpr"); }
KIVRESULT KivGetIndexCondition(KIVHANDLE, char*, uint32_t*) { return NotAvailable("KivGetIndexCondition"); }
KIVRESULT KivGetIndexFilename(KIVHANDLE, uint16_t, char*, uint32_t*) { return NotAvailable("KivGetIndexFilename"); }
KIVRESULT KivGetIndexFlags(KIVHANDLE, uint32_t*) { return NotAvailable("KivGetIndexFlags"); }
KIVRESULT KivGetIndexPageSize(KIVHANDLE, uint16_t*) { return NotAvailable("KivGetIndexPageSize"); }
KIVRESULT KivGetNumSegments(KIVHANDLE, uint16_t*) { return NotAvailable("KivGetNumSegments"); }
KIVRESULT KivGetSegmentFieldname(KIVHANDLE, uint16_t, char*, uint32_t*) { return NotAvailable("KivGetSegmentFieldname"); }
KIVRESULT KivGetIndexKeyFields(KIVHANDLE, uint16_t*, uint16_t*) { return NotAvailable("KivGetIndexKeyFields"); }
KIVRESULT KivIsKeyColumnDescending(KIVHANDLE, uint16_t, uint16_t*) { return NotAvailable("KivIsKeyColumnDescending"); }
KIVRESULT KivIsIndexCustom(KIVHANDLE, uint16_t*) { return NotAvailable("KivIsIndexCustom"); }
KIVRESULT KivGetKeyLength(KIVHANDLE, uint16_t*) { return NotAvailable("KivGetKeyLength"); }
KIVRESULT KivGetKeyType(KIVHANDLE, uint16_t*) { return NotAvailable("KivGetKeyType"); }
KIVRESULT KivGetKeyNum(KIVHANDLE, uint16_t, uint32_t*) { return NotAvailable("KivGetKeyNum"); }
KIVRESULT KivGetKeyCount(KIVHANDLE, uint16_t, uint32_t*) { return NotAvailable("KivGetKeyCount"); }
KIVRESULT KivGetRelKeyPos(KIVHANDLE, double*) { return NotAvailable("KivGetRelKeyPos"); }
KIVRESULT KivSetRelKeyPos(KIVHANDLE, double) { return NotAvailable("KivSetRelKeyPos"); }
KIVRESULT KivExtractKey(KIVHANDLE, char*, uint32_t*) { return NotAvailable("KivExtractKey"); }
KIVRESULT KivInitRawKey(KIVHANDLE) { return NotAvailable("KivInitRawKey"); }
KIVRESULT KivBuildRawKey(KIVHANDLE, void*, uint32_t*) { return NotAvailable("KivBuildRawKey"); }
KIVRESULT KivStepIndexKey(KIVHANDLE, void*, uint32_t, int16_t) { return NotAvailable("KivStepIndexKey"); }
KIVRESULT KivSeek(KIVHANDLE, const void*, uint32_t, uint16_t, uint16_t, uint16_t*) { return NotAvailable("KivSeek"); }
KIVRESULT KivSeekLast(KIVHANDLE, const void*, uint32_t, uint16_t, uint16_t*) { return NotAvailable("KivSeekLast"); }
KIVRESULT KivSetScope(KIVHANDLE, uint16_t, const void*, uint32_t, uint16_t) { return NotAvailable("KivSetScope"); }
KIVRESULT KivGetScope(KIVHANDLE, uint16_t, void*, uint32_t*) { return NotAvailable("KivGetScope"); }
KIVRESULT KivClearScope(KIVHANDLE, uint16_t) { return NotAvailable("KivClearScope"); }
KIVRESULT KivClearAllScopes(KIVHANDLE) { return NotAvailable("KivClearAllScopes"); }
KIVRESULT KivSetAOF(KIVHANDLE, const char*, uint16_t) { return NotAvailable("KivSetAOF"); }
KIVRESULT KivGetAOF(KIVHANDLE, char*, uint32_t*) { return NotAvailable("KivGetAOF"); }
KIVRESULT KivClearAOF(KIVHANDLE) { return NotAvailable("KivClearAOF"); }
KIVRESULT KivSetFilter(KIVHANDLE, const char*) { return NotAvailable("KivSetFilter"); }
KIVRESULT KivGetFilter(KIVHANDLE, char*, uint32_t*) { return NotAvailable("KivGetFilter"); }
KIVRESULT KivClearFilter(KIVHANDLE) { return NotAvailable("KivClearFilter"); }
KIVRESULT KivSetExact22(KIVHANDLE, uint16_t) { return NotAvailable("KivSetExact22"); }
KIVRESULT KivGetExact22(KIVHANDLE, uint16_t*) { return NotAvailable("KivGetExact22"); }
KIVRESULT KivEvalLogicalExpr(KIVHANDLE, const char*, uint16_t*) { return NotAvailable("KivEvalLogicalExpr"); }
KIVRESULT KivEvalStringExpr(KIVHANDLE, const char*, char*, uint32_t*) { return NotAvailable("KivEvalStringExpr"); }
KIVRESULT KivEvalNumericExpr(KIVHANDLE, const char*, double*) { return NotAvailable("KivEvalNumericExpr"); }
KIVRESULT KivExpressionLongToShort(KIVHANDLE, const char*, char*, uint32_t*) { return NotAvailable("KivExpressionLongToShort"); }
KIVRESULT KivExpressionShortToLong(KIVHANDLE, const char*, char*, uint32_t*) { return NotAvailable("KivExpressionShortToLong"); }
KIVRESULT KivLocate(KIVHANDLE, const char*, uint16_t, uint16_t*) { return NotAvailable("KivLocate"); }
KIVRESULT KivContinue(KIVHANDLE, uint16_t*) { return NotAvailable("KivContinue"); }

}  // extern "C"
