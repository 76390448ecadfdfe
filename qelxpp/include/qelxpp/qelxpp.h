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

// ------------------------------------------------------ fields and records
Value FIELDGET(const Value& nField = {});
Value FIELDPUT(const Value& nField = {}, const Value& xValue = {});
Value FCOUNT();
Value FIELDNAME(const Value& nField = {});
Value FIELDPOS(const Value& cName = {});
Value DELETED();
Value RECORDGET();
Value RECORDPUT(const Value& aValues = {});
Value QELGETRECORD();
Value QELSETRECORD(const Value& cRecord = {});
Value SETDELETED(const Value& lShow = {});
Value RECNO();
// EOF(): the C library's EOF macro takes the plain name, so it carries a
// trailing underscore here.
Value EOF_();
Value FOUND();

// ------------------------------------------------- work in another area
Value FIELDWGET(const Value& xAlias = {}, const Value& cName = {});
Value FIELDWPUT(const Value& xAlias = {}, const Value& cName = {}, const Value& xValue = {});
Value FIELDWGET2(const Value& xAlias = {}, const Value& nField = {});
Value FIELDWPUT2(const Value& xAlias = {}, const Value& nField = {}, const Value& xValue = {});
Value QELWRECNO(const Value& xAlias = {});
Value QELWBLOCK(const Value& xAlias = {}, const Value& bBlock = {}, const Value& x1 = {}, const Value& x2 = {},
                const Value& x3 = {}, const Value& x4 = {}, const Value& x5 = {}, const Value& x6 = {},
                const Value& x7 = {}, const Value& x8 = {}, const Value& x9 = {}, const Value& x10 = {});
Value FIELDWBLOCK(const Value& cField = {}, const Value& xAlias = {});

// ------------------------------------------------------ orders and keys
// Order entry elements (1-based).
enum OrderEntry : int { ORD_HANDLE = 1, ORD_TAG, ORD_KEY, ORD_FOR, ORD_KEYLEN, ORD_KEYTYPE, ORD_SIZE = ORD_KEYTYPE };
// Index-creation condition elements (1-based).
enum OrderCondition : int { OC_DESCEND = 1, OC_FOR, OC_WHILE, OC_SIZE = OC_WHILE };

Value ORDLISTADD(const Value& cIndexFile = {}, const Value& xOrder = {});
Value ORDLISTCLEAR();
Value ORDSETFOCUS(const Value& xOrder = {});
Value ORDNAME(const Value& nOrder = {});
Value ORDNUMBER(const Value& cTag = {});
Value ORDBAGNAME();
Value ORDBAGEXT();
Value QELTABLEEXT();
Value INDEXEXT();
Value INDEXKEY(const Value& x = {});
Value INDEXORD();
Value ORDCONDSET(const Value& cFor = {}, const Value& p2 = {}, const Value& p3 = {}, const Value& cWhile = {},
                 const Value& p5 = {}, const Value& p6 = {}, const Value& p7 = {}, const Value& p8 = {},
                 const Value& p9 = {}, const Value& p10 = {}, const Value& lDescend = {});
Value ORDCREATE(const Value& cIndexFile = {}, const Value& cTag = {}, const Value& cKey = {}, const Value& p4 = {},
                const Value& lUnique = {});
Value ORDKEY();
Value ORDFOR();
Value ORDKEYLENGTH();
Value ORDKEYNO();
Value ORDKEYCOUNT();
Value ORDKEYVAL();
Value DBSEEK(const Value& xKey = {}, const Value& lSoftSeek = {}, const Value& lLast = {});

// ------------------------------------------------- navigation and position
Value BOF();
Value RECSIZE();
Value LASTREC();
Value RECCOUNT();
Value DBGOTOP();
Value DBGOBOTTOM();
Value DBGOTO(const Value& nRecord = {});
Value DBSKIP(const Value& nSkip = {});
Value DBSKIPPER(const Value& nRecords = {});
Value DBPOSITION();
Value DBGOPOSITION(const Value& nPercent = {});
Value DBREQUEST(const Value& xArea = {}, const Value& p2 = {}, const Value& p3 = {}, const Value& p4 = {});
Value DBRELEASE(const Value& xArea = {}, const Value& p2 = {});

// ---------------------------------------------- filters, locate, relations
Value DBSETFILTER(const Value& bCondition = {}, const Value& cCondition = {});
Value DBCLEARFILTER();
Value DBFILTER();
Value DBLOCATE(const Value& cCondition = {}, const Value& p2 = {}, const Value& p3 = {}, const Value& p4 = {},
               const Value& p5 = {});
Value DBCONTINUE();
Value DBRELATION(const Value& n = {});
Value DBCLEARRELATION();

// ------------------------------------- locks, commits, pack and structure
Value FLOCK();
Value DBRLOCK(const Value& nRecord = {});
Value RLOCK();
Value DBRUNLOCK(const Value& x = {});
Value DBUNLOCKALL();
Value DBCOMMIT();
Value DBCOMMITALL();
Value DBPACK();
Value DBSETINDEX(const Value& cIndexFile = {});
Value DBCLEARINDEX();
Value DBSTRUCT();

// ------------------------------------------------------- record changes
Value DBAPPEND();
Value DBDELETE();
Value DBRECALL();
Value DBUNLOCK();

// ----------------------------------------------- replication and import
// QELSQLREPLICATE(cName): names a table whose row changes are sent to the
// replication database (tables opened afterwards); answers the list.
Value QELSQLREPLICATE(const Value& cName = {});
// QELSQLREPLICATECONNECTION(cConnect): the ODBC connection string of the
// replication database; answers the string held.
Value QELSQLREPLICATECONNECTION(const Value& cConnect = {});
// DBIMPORT(cAlias): copies every record of another table (an open area's
// alias, else a table file opened for the time of the import) into the
// current area's table, fields matched by name.
Value DBIMPORT(const Value& cAlias = {}, const Value& p2 = {}, const Value& p3 = {}, const Value& p4 = {},
               const Value& p5 = {}, const Value& p6 = {}, const Value& p7 = {}, const Value& p8 = {});

}  // namespace qelxpp
