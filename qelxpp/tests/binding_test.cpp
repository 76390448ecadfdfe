// The engine's entries as the library binds them: each of the 87 names has
// the number of arguments the library passes, and the values the engine
// writes back have the widths the binding gives them (16-bit flags, counts
// and type codes; 32-bit handles, lengths and numbers; doubles for the
// relative key positions).
#include <gtest/gtest.h>
#include <qel32.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <type_traits>

#include "state.h"

namespace {

template <class F>
struct Signature;
template <class R, class... A>
struct Signature<R(A...)> {
    static constexpr size_t arity = sizeof...(A);
    template <size_t i>
    using Arg = std::tuple_element_t<i, std::tuple<A...>>;
};
template <class F>
constexpr size_t ArityOf(F*) { return Signature<F>::arity; }

#define QELTEST_ARITY(name) {#name, ArityOf(&::name)},
const std::pair<const char*, size_t> kBound[] = {QELXPP_ENGINE_CALLS(QELTEST_ARITY)};
#undef QELTEST_ARITY

#define ARG(name, i) typename Signature<decltype(::name)>::template Arg<i>
template <class T, class U>
constexpr bool kSame = std::is_same_v<T, U>;

// Written back as 16 bits.
static_assert(kSame<ARG(KivAtBOF, 1), uint16_t*> && kSame<ARG(KivAtEOF, 1), uint16_t*>);
static_assert(kSame<ARG(KivIsFound, 1), uint16_t*> && kSame<ARG(KivIsRecordDeleted, 1), uint16_t*>);
static_assert(kSame<ARG(KivGetDeleted, 0), uint16_t*> && kSame<ARG(KivInTransaction, 1), uint16_t*>);
static_assert(kSame<ARG(KivGetConnectionType, 1), uint16_t*> && kSame<ARG(KivGetFieldType, 2), uint16_t*>);
static_assert(kSame<ARG(KivGetFieldDecimals, 2), uint16_t*> && kSame<ARG(KivGetKeyLength, 1), uint16_t*>);
static_assert(kSame<ARG(KivGetKeyType, 1), uint16_t*> && kSame<ARG(KivLocate, 3), uint16_t*>);
static_assert(kSame<ARG(KivContinue, 1), uint16_t*> && kSame<ARG(KivSeek, 5), uint16_t*>);
static_assert(kSame<ARG(KivSeekLast, 4), uint16_t*> && kSame<ARG(KivOpenIndex, 3), uint16_t*>);
// Handles, lengths, record and key numbers: 32 bits.
static_assert(kSame<KIVHANDLE, uint32_t>);
static_assert(kSame<ARG(KivOpenTable, 8), KIVHANDLE*> && kSame<ARG(KivGetFieldLength, 2), uint32_t*>);
static_assert(kSame<ARG(KivGetRecordNum, 2), uint32_t*> && kSame<ARG(KivGetKeyNum, 2), uint32_t*>);
static_assert(kSame<ARG(KivGetKeyCount, 2), uint32_t*> && kSame<ARG(KivGetNumFields, 1), uint32_t*>);
// Doubles.
static_assert(kSame<ARG(KivEvalNumericExpr, 2), double*> && kSame<ARG(KivGetRelKeyPos, 1), double*>);
static_assert(kSame<ARG(KivSetRelKeyPos, 1), double>);
#undef ARG

TEST(EngineEntries, EachNameTakesTheArgumentsTheLibraryPasses) {
    const std::pair<const char*, size_t> expected[] = {
    {"KivAppendRecord", 1}, {"KivApplicationExit", 0}, {"KivAtBOF", 2}, {"KivAtEOF", 2},
    {"KivCacheRecords", 2}, {"KivClearFilter", 1}, {"KivClearRelation", 1}, {"KivCloseAllTables", 1},
    {"KivCloseAllIndexes", 1}, {"KivCloseIndex", 1}, {"KivCloseTable", 1}, {"KivContinue", 2},
    {"KivCopyTableContents", 3}, {"KivCreateIndex", 8}, {"KivCreateTable", 10}, {"KivDeleteRecord", 1},
    {"KivGetField", 5}, {"KivGetFieldName", 4}, {"KivGetFieldType", 3}, {"KivGetFieldLength", 3},
    {"KivGetFieldDecimals", 3}, {"KivGetFilter", 3}, {"KivGetIndexHandleByOrder", 3}, {"KivGetIndexName", 3},
    {"KivGetIndexExpr", 3}, {"KivGetIndexCondition", 3}, {"KivGetNumFields", 2}, {"KivGetRecordNum", 3},
    {"KivGetRecordLength", 2}, {"KivGetRecordCount", 3}, {"KivGetTableAlias", 3}, {"KivGotoBottom", 1},
    {"KivGotoRecord", 2}, {"KivGotoTop", 1}, {"KivIsFound", 2}, {"KivIsRecordDeleted", 2}, {"KivLocate", 4},
    {"KivLockRecord", 2}, {"KivLockTable", 1}, {"KivOpenTable", 9}, {"KivOpenIndex", 4}, {"KivPackTable", 1},
    {"KivRecallRecord", 1}, {"KivSeek", 6}, {"KivSetField", 4}, {"KivSetFilter", 2}, {"KivSetServerType", 1},
    {"KivSkip", 2}, {"KivUnlockTable", 1}, {"KivWriteAllRecords", 0}, {"KivWriteRecord", 1},
    {"KivZapTable", 1}, {"KivExtractKey", 3}, {"KivGetKeyType", 2}, {"KivEvalStringExpr", 4},
    {"KivEvalNumericExpr", 3}, {"KivGetDeleted", 1}, {"KivShowDeleted", 1}, {"KivGetRecord", 3},
    {"KivSetRecord", 3}, {"KivGetErrorString", 3}, {"KivGetLastError", 3}, {"KivMgConnect", 4},
    {"KivMgGetInstallInfo", 3}, {"KivMgDisconnect", 1}, {"KivSetDateFormat", 1}, {"KivGetCollationLang", 2},
    {"KivGetKeyNum", 3}, {"KivGetKeyCount", 3}, {"KivThreadExit", 0}, {"KivGetConnectionType", 2},
    {"KivGetTableHandle", 2}, {"KivConnect", 2}, {"KivDisconnect", 1}, {"KivFindConnection", 2},
    {"KivBeginTransaction", 1}, {"KivCommitTransaction", 1}, {"KivRollbackTransaction", 1},
    {"KivInTransaction", 2}, {"KivConvertTable", 4}, {"KivSeekLast", 5}, {"KivGetKeyLength", 2},
    {"KivGetRelKeyPos", 2}, {"KivSetRelKeyPos", 2}, {"KivGetMemoLength", 3}, {"KivGetBinaryLength", 3},
    {"KivSetEmpty", 2},
    };
    ASSERT_EQ(std::size(kBound), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(std::string(kBound[i].first), expected[i].first) << i + 1;
        EXPECT_EQ(kBound[i].second, expected[i].second) << expected[i].first;
    }
}

}  // namespace
