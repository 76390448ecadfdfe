// QELXPP: the database functions of an Xbase++ application (work areas,
// tables, connections, transactions) served by the client engine qel32,
// bound at run time through the runtime's native calls ("QEL32.DLL").
//
// Every function takes its parameters positionally as runtime values; a
// parameter not passed is NIL. Each function works on the calling thread's
// row of the module state (thread ids 1..32).
#pragma once

#include <xpp/xpp.h>

namespace qelxpp {

using xpp::Value;

// Work-area record elements (1-based).
enum WorkArea : int {
    WA_ALIAS = 1, WA_TABLE, WA_NAVHANDLE, WA_EXCLUSIVE, WA_FILE, WA_STRUCT, WA_ORDERS, WA_ORDER,
    WA_INDEXFILE, WA_RECLEN, WA_REPLICATE, WA_PENDING, WA_TABLENAME, WA_TABLETYPE, WA_FIELDNAMES,
    WA_SIZE = WA_FIELDNAMES
};
// Structure row elements (1-based).
enum FieldRow : int { FLD_NAME = 1, FLD_TYPE, FLD_LEN, FLD_DEC, FLD_POS, FLD_ENGTYPE, FLD_SIZE = FLD_ENGTYPE };

constexpr int kMaxThreads = 32;
constexpr int kMaxAreas = 256;

// ------------------------------------------------------ binding and loading
Value QELLOADDLL(const Value& cPath = {});
Value QELUNLOADDLL();
Value QELSETSERVERTYPE(const Value& nType = {});
Value QELGETCONNECTIONTYPE();
Value QELINSTALLINFO();

// --------------------------------------------------------- errors and log
Value QELSHOWERROR(const Value& nCode = {}, const Value& cText = {}, const Value& lLogOnly = {});
Value QELERRORLOG(const Value& cText = {});

// ------------------------------------------- connections and transactions
Value QELCONNECT(const Value& cPath = {});
Value QELFINDCONNECTION(const Value& cPath = {});
Value QELDISCONNECT(const Value& nHandle = {});
Value QELBEGINTRANSACTION(const Value& nHandle = {});
Value QELCOMMITTRANSACTION(const Value& nHandle = {});
Value QELROLLBACKTRANSACTION(const Value& nHandle = {});
Value QELINTRANSACTION(const Value& nHandle = {});
Value QELSETTABLETYPE(const Value& xType = {});
Value QELCONVERTTABLE(const Value& nType = {});
Value QELDBOPEN(const Value& aList = {});

// ------------------------------------------------- selecting and closing
Value DBUSEAREA(const Value& lNew = {}, const Value& cDriver = {}, const Value& cFile = {},
                const Value& cAlias = {}, const Value& lShared = {}, const Value& lReadOnly = {},
                const Value& lProduction = {});
Value DBCLOSEAREA();
Value DBCLOSEALL();
Value DBSELECTAREA(const Value& x = {});
Value SELECT(const Value& x = {});
Value ALIAS(const Value& n = {});
Value USED();
Value USEDINDEX();
Value QELGETTABLEHANDLE(const Value& name = {});
Value QELCLOSETABLE(const Value& nHandle = {});

// ------------------------------------------------------ creation and zap
Value DBCREATE(const Value& cFile = {}, const Value& aStruct = {}, const Value& cDriver = {});
Value DBZAP();

}  // namespace qelxpp
