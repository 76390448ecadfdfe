#include "handles/messages.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "util/engine.h"
#include "kivwin/win.h"

namespace kivodbc {
namespace {

struct StateRange {
  const char* odbc2;
  const char* odbc3;
  std::vector<std::pair<uint16_t, uint16_t>> codes;  // inclusive ranges
};

const std::vector<StateRange>& StateTable() {
  static const std::vector<StateRange> table = {
      {"S0000", "S0000", {{2001, 2001}, {2003, 2015}, {2119, 2139}, {2145, 2152}, {2154, 2160},
                          {2162, 2162}, {2165, 2167}, {2170, 2170}, {2175, 2176}, {2188, 2188},
                          {2193, 2194}, {2203, 2203}, {2209, 2211}}},
      {"01004", "01004", {{2002, 2002}, {2102, 2102}}},
      {"S1001", "HY001", {{2101, 2101}}},
      {"IM001", "IM001", {{2103, 2103}, {2192, 2192}, {2226, 2226}}},
      {"34000", "34000", {{2104, 2104}}},
      {"3C000", "3C000", {{2105, 2105}}},
      {"08002", "08002", {{2106, 2106}}},
      {"24000", "24000", {{2107, 2107}}},
      {"S1002", "07009", {{2108, 2108}}},
      {"07006", "07006", {{2109, 2109}}},
      {"S1C00", "IM001", {{2110, 2110}}},
      {"22003", "22003", {{2111, 2111}}},
      {"22005", "22018", {{2112, 2112}}},
      {"37000", "42000", {{2113, 2118}, {2216, 2225}, {2227, 2228}, {2230, 2231}}},
      {"08001", "08001", {{2140, 2140}}},
      {"07001", "07002", {{2141, 2141}}},
      {"S1091", "HY091", {{2142, 2142}}},
      {"S1092", "HY092", {{2143, 2143}}},
      {"S1096", "HY096", {{2144, 2144}}},
      {"S1096", "22012", {{2153, 2153}, {2232, 2232}}},
      {"25000", "25000", {{2161, 2161}}},
      {"01000", "01000", {{2163, 2164}}},
      {"S1093", "07009", {{2168, 2168}}},
      {"01S02", "01S02", {{2169, 2169}}},
      {"S1106", "HY106", {{2171, 2171}}},
      {"S1111", "HY111", {{2172, 2172}}},
      {"S1107", "HY107", {{2173, 2173}}},
      {"S1109", "S1109", {{2174, 2174}}},
      {"S1C00", "HYC00", {{2177, 2177}, {2185, 2185}}},
      {"S0000", "HY007", {{2178, 2178}}},
      {"S1010", "HY010", {{2179, 2179}}},
      {"S0000", "HY016", {{2180, 2180}}},
      {"S0000", "HY017", {{2181, 2181}}},
      {"S1009", "HY024", {{2182, 2182}}},
      {"S1009", "HY091", {{2183, 2183}}},
      {"S1009", "HY092", {{2184, 2184}}},
      {"S0000", "22002", {{2186, 2186}}},
      {"S0000", "07009", {{2187, 2187}}},
      {"S1019", "HY019", {{2191, 2191}}},
      {"S1090", "HY090", {{2199, 2199}}},
      {"S1008", "HY008", {{2233, 2233}}},
      {"70100", "HY018", {{2234, 2234}}},
      {"01000", "01000", {{2235, 2235}}},
      {"S1000", "HY000", {{2189, 2190}, {2195, 2198}, {2200, 2202}, {2204, 2208}, {2229, 2229}}},
      {"S0000", "HY000", {{2212, 2215}}},
  };
  return table;
}

const std::vector<std::pair<uint16_t, const char*>>& MessageTexts() {
  static const std::vector<std::pair<uint16_t, const char*>> texts = {
      {2001, "No data found"},
      {2002, "Data truncated"},
      {2003, "Not supported"},
      {2004, "ISAM error"},
      {2005, "ISAM communication error"},
      {2006, "ISAM client/server version mismatch error"},
      {2007, "ISAM netISAM parameter error"},
      {2008, "ISAM memory allocation failure"},
      {2009, "ISAM path or file name too long"},
      {2010, "ISAM table already exists"},
      {2011, "ISAM index expression not valid"},
      {2012, "ISAM column name too long"},
      {2013, "Stack limit exceeded due to recursion."},
      {2014, "ISAM error"},
      {2015, "ISAM invalid path"},
      {2101, "Memory allocation error"},
      {2102, "Data truncated"},
      {2103, "Not supported"},
      {2104, "Invalid cursor name"},
      {2105, "Cursor name in use"},
      {2106, "Connection in use"},
      {2107, "Invalid cursor state"},
      {2108, "Invalid column id"},
      {2109, "Conversion error"},
      {2110, "Driver not capable"},
      {2111, "Out of range"},
      {2112, "Assignment error"},
      {2113, "Unexpected end of SQL statement"},
      {2114, "Lexical element too large: %s"},
      {2115, "Expected lexical element not found: %s"},
      {2116, "Malformed number: %s"},
      {2117, "Unexpected token: %s"},
      {2118, "Malformed escape clause: %s"},
      {2119, "Internal error"},
      {2120, "ISAM error"},
      {2121, "Column not found: %s"},
      {2122, "Table not found: %s"},
      {2123, "Data type of parameter cannot be determined"},
      {2124, "Invalid operand for operator: %s"},
      {2125, "Invalid table name: %s"},
      {2126, "ORDER BY ordinal greater than select list count"},
      {2127, "ORDER BY contains too many columns"},
      {2128, "Cannot ORDER BY an expression"},
      {2129, "Unequal number of insert columns and insert values"},
      {2130, "Insert value must be a simple value"},
      {2131, "Value in an IN expression must be a simple value"},
      {2132, "Table alias used multiple times: %s"},
      {2133, "Column on list multiple times: %s"},
      {2134, "Invalid column name: %s"},
      {2135, "No such type: %s"},
      {2136, "Invalid number of parameters for type: %s"},
      {2137, "Column found in multiple tables: %s"},
      {2138, "No data found"},
      {2139, "Invalid connection string"},
      {2140, "Unable to connect"},
      {2141, "Parameter missing"},
      {2142, "Descriptor type out of range"},
      {2143, "Option type out of range"},
      {2144, "Info type out of range"},
      {2145, "Unable to ORDER BY this column: %s"},
      {2146, "Unable to do ORDER BY"},
      {2147, "GROUP BY contains too many columns"},
      {2148, "Unable to GROUP BY this column: %s"},
      {2149, "Aggregate function not allowed in this context: %s"},
      {2150, "SELECT * not allowed if there is a GROUP BY"},
      {2151, "Unable to do GROUP BY"},
      {2152, "HAVING specified without a GROUP BY"},
      {2153, "Division by zero"},
      {2154, "The data type of a parameter cannot be determined"},
      {2155, "String concatenation overflow"},
      {2156, "Invalid index name: %s"},
      {2157, "Too many key columns for index"},
      {2158, "Scalar function not found: %s"},
      {2159, "Invalid argument to scalar function: %s"},
      {2160, "Scalar function not supported: %s"},
      {2161, "Transaction still active"},
      {2162, "DDL statement encountered within a transaction"},
      {2163, "DDL statement has been ignored"},
      {2164, "Transaction committed before DDL statement was executed"},
      {2165, "Prepared DDL statement deleted (due to commit) before it could be executed."},
      {2166, "SELECT sub-query returns more than one column."},
      {2167, "SELECT sub-query returned more than one row."},
      {2168, "Invalid parameter number."},
      {2169, "Option value changed."},
      {2170, "Unable to create keyset."},
      {2171, "Fetch type out of range."},
      {2172, "Invalid bookmark value."},
      {2173, "Row value out of range."},
      {2174, "Invalid cursor position."},
      {2175, "Cursor is read-only."},
      {2176, "Cannot assign value to an expression."},
      {2177, "Optional feature not implemented."},
      {2178, "Associated statement is not prepared."},
      {2179, "Function sequence error."},
      {2180, "Cannot modify an implementation row descriptor."},
      {2181, "Invalid use of an automatically allocated descriptor handle."},
      {2182, "Invalid attribute value."},
      {2183, "Invalid descriptor field identifier."},
      {2184, "Invalid attribute identifier."},
      {2185, "Optional feature not implemented."},
      {2186, "Indicator variable required but not supplied."},
      {2187, "Invalid descriptor index."},
      {2188, "Cannot position to a row you added to the row set."},
      {2189, "Inconsistent number of columns in the result sets participating in the union statement."},
      {2190, "Incompatible column data types in the result sets participating in the union statement."},
      {2191, "Non-character and non-binary data sent in pieces."},
      {2192, "Group By and Having are not supported in Union statement."},
      {2193, "DISTINCT contains too many columns"},
      {2194, "Unable to perform DISTINCT operation on this column: %s"},
      {2195, "Column in the Order By clause is not in the result set: %s"},
      {2196, "Column not found in GROUP BY clause: %s"},
      {2197, "The operation attempted is not legal on VIEWs"},
      {2198, "The stored procedure name is invalid"},
      {2199, "Invalid string or buffer length."},
      {2200, "The temporary file used as input to the stored procedures could not be deleted. Make sure "
             "the file is closed by the stored procedure DLL.  To prevent problems, do not open the input "
             "or output tables with a connection that is in a transaction.,1"},
      {2201, "The column ordinal in the ORDER BY or GROUP BY clause is not valid: %s"},
      {2202, "Constant values are not allowed in this context: %s"},
      {2203, "An error was encountered while reading an intermediate or temporary file."},
      {2204, "The size of the defined key is too large."},
      {2205, "A column specified in the key's column list is of an invalid type: %s"},
      {2206, "The table name is ambiguous. It is used more than once in the FROM clause of the UPDATE "
             "statement."},
      {2207, "An error was encountered generating a temp file name for input/output parameters. Contact "
             "Morvane Technical Services and provide your kiv_err.dbf log file."},
      {2208, "An input value was larger than the input parameter.  Check the stored procedure's input "
             "parameter definition."},
      {2209, "A reference to all columns in a table was not unique. It must be qualified with an alias. %s"},
      {2210, "An option in a CREATE INDEX statement was not valid. If you specified options for creating a "
             "full text search index, verify that the keyword CONTENT is provided."},
      {2211, "CONTAINS (or SCORE) with wild card not allowed in GROUP BY statement."},
      {2212, "Aggregate function cannot be nested: %s"},
      {2213, "Invalid comparison or operation on strings with different collations."},
      {2214, "Invalid coercion: %s"},
      {2215, "Invalid create options: %s"},
      {2216, "Unexpected end of SQL script: %s"},
      {2217, "The declaration statement is not valid: %s"},
      {2218, "The variable is not found: %s"},
      {2219, "There is an error in the SQL script: %s"},
      {2220, "Error using a closed cursor: %s"},
      {2221, "Cursor is already opened. %s"},
      {2222, "There was an error referencing the cursor column: %s"},
      {2223, "The cursor is before first row or after last row. Referencing: %s"},
      {2224, "An exception is raised in the SQL script. %s"},
      {2225, "Invalid assignment in the SQL script. %s"},
      {2226, "Invalid use of a subquery: %s"},
      {2227, "Value assigned to variable is out of range: %s"},
      {2228, "Invalid view definition: %s"},
      {2229, "Ambiguous identifier: %s"},
      {2230, "Invalid function definition: %s"},
      {2231, "The result of a numeric algebraic expression is out of range: %s"},
      {2232, "Evaluation of numeric expression resulted in overflow error: %s"},
      {2233, "Operation canceled"},
      {2234, "Server declined cancel request"},
      {2235, "The library libqel32.so is older than the ODBC Driver DLL.  Morvane DLLs must be of the same version."},
  };
  return texts;
}

const char* VendorPrefix(uint32_t code) {
  if (code >= 2001 && code <= 2015) return "[Kestrane][Morvane ODBC Driver][ISAM]";
  if (code >= 2200) return "[Kestrane][Morvane ODBC DRIVER]";
  return "[Kestrane][Morvane ODBC Driver]";
}

const StateRange* StatesOf(uint32_t code) {
  for (const StateRange& states : StateTable())
    for (auto [first, last] : states.codes)
      if (code >= first && code <= last) return &states;
  return nullptr;
}

kivwin::StringTable BuildStringTable() {
  kivwin::StringTable table;
  table.Add(0, "00000 00000 ");
  for (auto [code, text] : MessageTexts()) {
    const StateRange* states = StatesOf(code);
    if (states == nullptr) continue;  // a text needs its states; the table test checks this
    table.Add(code, std::string(states->odbc2) + ' ' + states->odbc3 + ' ' + VendorPrefix(code) + text);
  }
  static const char* const kSetupTexts[] = {
      "Setup", "Data source already exists.  OK to overwrite it?", "Sunday", "Monday", "Tuesday",
      "Wednesday", "Thursday", "Friday", "Saturday", "January", "February", "March", "April", "May",
      "June", "July", "August", "September", "October", "November", "December"};
  uint32_t id = kSetupTitle;
  for (const char* text : kSetupTexts) table.Add(id++, text);
  return table;
}

const kivwin::StringTable& DriverStrings() {
  static const kivwin::StringTable table = BuildStringTable();
  return table;
}

// Copies `text` into a kMessageSize buffer, cut at 511 characters.
void StoreMessage(char* buffer, std::string_view text) {
  const size_t n = std::min(text.size(), kMessageSize - 1);
  if (n > 0) std::memcpy(buffer, text.data(), n);
  buffer[n] = 0;
}

}  // namespace

bool IsDriverCode(uint32_t code) { return code >= 2000 && code <= 2300; }

bool IsWarningCode(uint32_t code) {
  return code == kDataTruncated || code == 2163 || code == 2164 || code == kOptionValueChanged ||
         code == kEngineLibraryOlder;
}

SQLRETURN ResultOfCode(uint32_t code) {
  if (code == 0) return SQL_SUCCESS;
  return IsWarningCode(code) ? SQL_SUCCESS_WITH_INFO : SQL_ERROR;
}

std::string LoadDriverString(uint32_t id) { return DriverStrings().Find(id).value_or(std::string()); }

std::string DriverMessageSource(uint32_t code) {
  std::string text = LoadDriverString(code);
  if (text.empty()) return "S1000 HY000 [Kestrane][Morvane ODBC Driver]Internal error";
  return text;
}

void BuildDiagnosticText(uint32_t code, char* buffer) {
  if (IsDriverCode(code)) {
    StoreMessage(buffer, DriverMessageSource(code));
    return;
  }
  std::string text = "HY000 HY000 [Kestrane][Morvane SQL][DAX] ";
  std::string engineText;
  EngineBinding& engine = EngineBinding::Instance();
  if (auto getLastError = engine.Function<EngineGetLastError>(kOrdinalGetLastError)) {
    char part[kMessageSize] = {};
    uint32_t lastCode = 0;
    uint32_t room = static_cast<uint32_t>(kMessageSize - text.size());
    getLastError(&lastCode, part, &room);
    if (lastCode != code) {
      part[0] = 0;
      room = static_cast<uint32_t>(kMessageSize - text.size());
      if (auto errorString = engine.Function<EngineGetErrorString>(kOrdinalGetErrorString))
        errorString(code, part, &room);
    }
    part[kMessageSize - 1] = 0;
    engineText = part;
  } else {
    engineText = EngineBinding::LoadFailureText();
  }
  StoreMessage(buffer, text + engineText);
}

void BuildDiagnosticText(EngineSession* session, char* buffer) {
  BuildDiagnosticText(session != nullptr ? session->lastError : 0, buffer);
}

void BuildDiagnosticTextWithDetail(EngineSession* session, StmtRecord* stmt, const char* first,
                                   const char* second) {
  BuildDiagnosticText(session, stmt->engineText);
  std::string text = stmt->engineText;
  if (first != nullptr) text += first;
  if (second != nullptr) text += second;
  StoreMessage(stmt->engineText, text);
}

void SetArgumentText(char* field, std::string_view text) {
  const size_t n = std::min(text.size(), kArgumentSize - 1);
  if (n > 0) std::memcpy(field, text.data(), n);
  field[n] = 0;
}

SQLRETURN PostEnvError(EnvRecord* env, uint32_t code) {
  env->code = static_cast<uint16_t>(code);
  if (code != 0 && !IsDriverCode(code)) BuildDiagnosticText(code, env->text);
  return ResultOfCode(code);
}

SQLRETURN PostConnError(ConnRecord* conn, uint32_t code, std::string_view argument) {
  conn->code = static_cast<uint16_t>(code);
  SetArgumentText(conn->argument, argument);
  if (code != 0 && !IsDriverCode(code)) BuildDiagnosticText(code, conn->engineText);
  else conn->engineText[0] = 0;  // no detail of an earlier failure
  return ResultOfCode(code);
}

SQLRETURN PostDescError(DescRecord* desc, uint32_t code, std::string_view argument) {
  desc->code = static_cast<uint16_t>(code);
  SetArgumentText(desc->argument, argument);
  return ResultOfCode(code);
}

SQLRETURN PostStatementError(StmtRecord* stmt, uint32_t code, std::string_view argument) {
  if (code == 0) return SQL_SUCCESS;
  stmt->code = static_cast<uint16_t>(code);
  SetArgumentText(stmt->argument, argument);
  EngineSession* session = stmt->conn != nullptr ? stmt->conn->session : nullptr;
  if (session != nullptr) session->lastError = code;
  if (!IsDriverCode(code)) BuildDiagnosticText(code, stmt->engineText);
  return ResultOfCode(code);
}

SQLRETURN PostError(SQLSMALLINT handleType, SQLHANDLE handle, uint32_t code) {
  switch (handleType) {
    case SQL_HANDLE_ENV:
      if (EnvRecord* env = AsEnv(handle)) return PostEnvError(env, code);
      break;
    case SQL_HANDLE_DBC:
      if (ConnRecord* conn = AsConn(handle)) return PostConnError(conn, code);
      break;
    case SQL_HANDLE_STMT:
      if (StmtRecord* stmt = AsStmt(handle)) return PostStatementError(stmt, code);
      break;
    case SQL_HANDLE_DESC:
      if (DescRecord* desc = AsDesc(handle)) return PostDescError(desc, code);
      break;
  }
  return SQL_INVALID_HANDLE;
}

SQLRETURN PostNotImplemented(SQLSMALLINT handleType, SQLHANDLE handle) {
  return PostError(handleType, handle, kFeatureNotImplemented);
}

}  // namespace kivodbc
