// Parameters of a statement: the application's bindings (kept in the
// statement's parameter descriptor), their description and count, and data
// sent at execution through SQLParamData and SQLPutData.
#ifndef KIVODBC_PARAMETERS_H
#define KIVODBC_PARAMETERS_H

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "sql/paramconvert.h"
#include "handles/records.h"

namespace kivodbc {

constexpr uint16_t kParameterMissing = 2141;

// The C type SQL_C_DEFAULT stands for with this SQL type (before the
// signedness of SQL_C_LONG, SQL_C_SHORT and SQL_C_TINYINT is settled); 0
// when the SQL type has none.
int16_t DefaultParameterCType(int16_t sqlType);
// How the statement's connection reads the sign-neutral integer C types.
ParameterSigns SignsOfStatement(const StmtRecord* stmt);
// The value type a parameter bound with this SQL type gets; 0 when the SQL
// type leaves the value type as it is.
int16_t ParameterValueTypeOf(int16_t sqlType);

SQLRETURN BindParameter(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT ioType, SQLSMALLINT cType,
                        SQLSMALLINT sqlType, SQLULEN columnSize, SQLSMALLINT digits, SQLPOINTER value,
                        SQLLEN bufferLength, SQLLEN* lengthOrIndicator);
SQLRETURN DescribeParam(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT* sqlType, SQLULEN* columnSize,
                        SQLSMALLINT* digits, SQLSMALLINT* nullable);
SQLRETURN NumParams(SQLHSTMT stmt, SQLSMALLINT* count);
SQLRETURN ParamOptions(SQLHSTMT stmt, SQLULEN rows, SQLULEN* rowsProcessed);
SQLRETURN ParamData(SQLHSTMT stmt, SQLPOINTER* token);
SQLRETURN PutData(SQLHSTMT stmt, SQLPOINTER data, SQLLEN length);

// The step execution takes before it hands the parameters to the engine:
// every parameter node of the prepared statement gets the value of its
// binding, converted into the node's value type. A value bound for data at
// execution is marked instead, and the statement then waits for it
// (need-data set, put offset 0): the caller returns SQL_NEED_DATA.
//
// Returns 0; 2102 when a value was stored cut (the first parameter status
// says so); or the failure, posted on the statement: 2141 a parameter
// without binding, or a conversion failure.
uint32_t BindParameterValues(StmtRecord* stmt);

// Ends the values that arrived in pieces: 2102 when one was stored cut
// (a binary value given as an odd number of hexadecimal digits), else 0.
uint32_t FinishDataAtExecution(StmtRecord* stmt);

}  // namespace kivodbc

#endif
