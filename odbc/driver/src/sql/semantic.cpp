#include "sql/semantic.h"

#include <cstring>
#include <string>

#include "connect/connstring.h"
#include "handles/messages.h"
#include "sql/scanner.h"
#include "handles/typetable.h"

namespace kivodbc {
namespace {

constexpr uint16_t kColumnNotFound = 2121;
constexpr uint16_t kTableNotFound = 2122;
constexpr uint16_t kInvalidTableName = 2125;
constexpr uint16_t kSubqueryColumns = 2166;
constexpr uint16_t kInvalidCoercion = 2214;
constexpr size_t kMaxTableNameLength = 255;

class Checker {
 public:
  Checker(StmtRecord* stmt, ParseRoot* root, bool exact, const DriverResult* result)
      : stmt_(stmt), root_(root), exact_(exact), result_(result) {}

  uint32_t Check(ParseNode* node);

 private:
  bool Same(const char* a, const char* b) const {
    if (a == nullptr || b == nullptr) return false;
    return exact_ ? std::strcmp(a, b) == 0 : EqualsIgnoreCase(a, b);
  }
  uint32_t Fail(uint32_t code, const char* argument) {
    SetArgumentText(stmt_->argument, argument != nullptr ? argument : "");
    return code;
  }
  uint32_t Select(ParseNode* select);
  uint32_t TableReference(ParseNode* ref);
  uint32_t ColumnReference(ParseNode* column);
  uint32_t ExpressionList(ParseNode* list);
  // Column references for every column of the table, as a chain of select items.
  uint32_t AllColumns(ParseNode* ref, ParseNode** first, ParseNode** last);

  StmtRecord* stmt_;
  ParseRoot* root_;
  bool exact_;
  const DriverResult* result_;
  ParseNode* table_ = nullptr;  // the one table reference of the FROM list
};

uint32_t Checker::Check(ParseNode* node) {
  if (node == nullptr) return 0;
  switch (node->kind) {
    case kNodeStatement: return Check(node->left);
    case kNodeSelect: return Select(node);
    case kNodePseudoStatement: return Fail(kExpectedNotFound, "CREATE, DROP, SELECT, INSERT, UPDATE, or DELETE");
    case kNodeFromItem:
      if (uint32_t code = Check(node->left)) return code;
      return node->next != nullptr ? Fail(kInternalError, nullptr) : 0;
    case kNodeExpressionList: return ExpressionList(node);
    case kNodeTableRef: return TableReference(node);
    case kNodeColumnRef: return ColumnReference(node);
    case kNodeParameter:
      node->sqlType = SQL_UNKNOWN_TYPE;
      node->precision = 0;
      node->scale = 0;
      return 0;
    default: return Fail(kInternalError, nullptr);
  }
}

uint32_t Checker::ExpressionList(ParseNode* list) {
  for (ParseNode* element = list; element != nullptr; element = element->next) {
    ParseNode* value = element->left;
    if (uint32_t code = Check(value)) return code;
    if (value == nullptr) continue;
    if (value->kind == kNodeSelect) {
      const auto* ext = static_cast<const SelectExtension*>(value->extension);
      if (ext->allColumns || (ext->items != nullptr && ext->items->next != nullptr))
        return Fail(kSubqueryColumns, nullptr);
    }
    const bool text = value->category == kCategoryText || value->sqlType == SQL_VARCHAR;
    if (text && value->derivation == kDerivationNone)
      return Fail(kInvalidCoercion, "Result of expression is an ambiguous character type.");
  }
  return 0;
}

uint32_t Checker::Select(ParseNode* select) {
  auto* ext = static_cast<SelectExtension*>(select->extension);
  if (uint32_t code = Check(ext->from)) return code;
  if (table_ == nullptr) return Fail(kInternalError, nullptr);
  if (ext->allColumns) {
    ParseNode* last = nullptr;
    if (uint32_t code = AllColumns(table_, &ext->items, &last)) return code;
  }
  // "name.*" items become the table's columns.
  for (ParseNode** link = &ext->items; *link != nullptr;) {
    ParseNode* item = *link;
    if (item->left == nullptr || item->left->kind != kNodeColumnRef || !item->left->allColumns) {
      link = &item->next;
      continue;
    }
    const auto* tableExt = static_cast<const TableRefExtension*>(table_->extension);
    if (!Same(item->left->qualifier, tableExt->alias)) return Fail(kTableNotFound, item->left->qualifier);
    ParseNode* first = nullptr;
    ParseNode* last = nullptr;
    if (uint32_t code = AllColumns(table_, &first, &last)) return code;
    if (first == nullptr) {
      *link = item->next;
      continue;
    }
    last->next = item->next;
    *link = first;
    link = &last->next;
  }
  for (ParseNode* item = ext->items; item != nullptr; item = item->next) {
    ParseNode* value = item->left;
    if (value != nullptr && (value->kind == kNodeColumnRef || value->kind == kNodeParameter)) {
      if (uint32_t code = Check(value)) return code;
    } else {
      return Fail(kInternalError, nullptr);
    }
  }
  return 0;
}

uint32_t Checker::AllColumns(ParseNode* ref, ParseNode** first, ParseNode** last) {
  const auto* ext = static_cast<const TableRefExtension*>(ref->extension);
  ParseNode** tail = first;
  for (size_t i = 0; i < ext->table->columns.size(); ++i) {
    ParseNode* column = NewParseNode(root_, kNodeColumnRef);
    ParseNode* item = NewParseNode(root_, kNodeExpressionList);
    if (column == nullptr || item == nullptr) return kMemoryError;
    column->name = ParseArenaStrdup(root_, ext->table->columns[i].name.c_str(), ext->table->columns[i].name.size());
    if (column->name == nullptr) return kMemoryError;
    column->qualifier = ext->alias;
    column->position = ref->position;
    item->left = column;
    *tail = item;
    tail = &item->next;
    *last = item;
  }
  return 0;
}

uint32_t Checker::TableReference(ParseNode* ref) {
  auto* ext = static_cast<TableRefExtension*>(ref->extension);
  if (std::strlen(ref->name) > kMaxTableNameLength) return Fail(kInvalidTableName, ref->name);
  EngineSession* session = stmt_->conn != nullptr ? stmt_->conn->session : nullptr;
  if (session == nullptr) return Fail(kInternalError, nullptr);
  EngineTable* table = nullptr;
  if (uint32_t code = OpenEngineTable(session, ref->qualifier, ref->name, kLockRead, false, result_, &table)) {
    session->lastError = code;
    BuildDiagnosticTextWithDetail(session, stmt_, " Table name: ", ref->name);
    SetArgumentText(stmt_->argument, "");
    return code;
  }
  ext->table = table;
  const char* alias = ref->alias != nullptr ? ref->alias : ref->name;
  if (ref->alias == nullptr && alias[0] == '#') ++alias;
  ext->alias = alias;
  table_ = ref;
  return 0;
}

uint32_t Checker::ColumnReference(ParseNode* column) {
  if (table_ == nullptr) return Fail(kInternalError, nullptr);
  const auto* ext = static_cast<const TableRefExtension*>(table_->extension);
  if (column->qualifier != nullptr && !Same(column->qualifier, ext->alias))
    return Fail(kTableNotFound, column->qualifier);
  const std::vector<EngineColumn>& columns = ext->table->columns;
  size_t index = 0;
  while (index < columns.size() && !Same(columns[index].name.c_str(), column->name)) ++index;
  if (index == columns.size()) return Fail(kColumnNotFound, column->name);
  const EngineColumn& found = columns[index];
  const int16_t sqlType = MapDateTimeTypeCode(stmt_, found.sqlType);
  if (column->derivation == kDerivationExplicit && found.sqlType != SQL_CHAR && found.sqlType != SQL_VARCHAR)
    return Fail(kInvalidCoercion, "Explicit coercion is only legal if the column is a string.");
  if (uint32_t code = CategoryOfColumn(sqlType, found.columnSize, found.digits, &column->category,
                                       &column->resolvedPrecision, &column->resolvedScale))
    return Fail(code, nullptr);
  column->tableRef = table_;
  column->columnIndex = static_cast<int32_t>(index);
  column->sqlType = sqlType;
  if (column->qualifier == nullptr) column->qualifier = ext->alias;
  if (column->category == kCategoryDecimal) {
    column->buffer = static_cast<char*>(ParseArenaAlloc(root_, column->resolvedPrecision + 3));
    if (column->buffer == nullptr) return Fail(kMemoryError, nullptr);
  }
  return 0;
}

}  // namespace

uint32_t CategoryOfColumn(int16_t sqlType, int32_t columnSize, int16_t digits, int16_t* category, int32_t* precision,
                          int16_t* scale) {
  *scale = 0;
  switch (sqlType) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR: *category = kCategoryText; *precision = columnSize; break;
    case SQL_NUMERIC: case SQL_DECIMAL:
      *category = kCategoryDecimal;
      *precision = columnSize;
      *scale = digits;
      break;
    case SQL_BIGINT: *category = kCategoryDecimal; *precision = columnSize; break;
    case SQL_INTEGER: *category = kCategoryInteger; *precision = 10; break;
    case SQL_SMALLINT: *category = kCategoryInteger; *precision = 5; break;
    case SQL_TINYINT: *category = kCategoryInteger; *precision = 3; break;
    case SQL_BIT: *category = kCategoryInteger; *precision = 1; break;
    case SQL_FLOAT: case SQL_DOUBLE: *category = kCategoryFloating; *precision = 15; *scale = -1; break;
    case SQL_REAL: *category = kCategoryFloating; *precision = 7; break;
    case SQL_DATE: case SQL_TYPE_DATE: *category = kCategoryDate; *precision = 10; break;
    case SQL_TIME: case SQL_TYPE_TIME: *category = kCategoryTime; *precision = 8; break;
    case SQL_TIMESTAMP: case SQL_TYPE_TIMESTAMP: *category = kCategoryTimestamp; *precision = 23; *scale = 3; break;
    case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY:
      *category = kCategoryBinary;
      *precision = columnSize;
      break;
    default: return kNotSupported;
  }
  return 0;
}

uint32_t CheckParsedStatement(StmtRecord* stmt, ParseRoot* root, ParseNode* node, bool exactNames,
                              const DriverResult* result) {
  Checker checker(stmt, root, exactNames, result);
  return checker.Check(node);
}

}  // namespace kivodbc
