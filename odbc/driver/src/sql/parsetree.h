// Parse trees of the driver's SQL front end: the per-statement arena that
// owns every node and string of one parsed text, and the nodes themselves.
#ifndef KIVODBC_PARSETREE_H
#define KIVODBC_PARSETREE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "handles/records.h"

namespace kivodbc {

// Node kinds.
constexpr int16_t kNodeStatement = 1;
constexpr int16_t kNodeSelect = 4;
constexpr int16_t kNodePseudoStatement = 8;
constexpr int16_t kNodeFromItem = 9;
constexpr int16_t kNodeExpressionList = 10;
constexpr int16_t kNodeLogical = 16;
constexpr int16_t kNodeComparison = 17;
constexpr int16_t kNodeArithmetic = 18;
constexpr int16_t kNodeAggregate = 19;
constexpr int16_t kNodeTableRef = 20;
constexpr int16_t kNodeColumnRef = 21;
constexpr int16_t kNodeConstant = 22;
constexpr int16_t kNodeLiteral = 23;
constexpr int16_t kNodeParameter = 24;
constexpr int16_t kNodeUser = 25;
constexpr int16_t kNodeNull = 26;
constexpr int16_t kNodeDate = 27;
constexpr int16_t kNodeTime = 28;
constexpr int16_t kNodeTimestamp = 29;
constexpr int16_t kNodeKind30 = 30;
constexpr int16_t kNodeFunction = 32;
constexpr int16_t kNodeFunctionOption = 50;

// Collation derivations.
constexpr int16_t kDerivationNone = 0;
constexpr int16_t kDerivationCoercible = 1;
constexpr int16_t kDerivationImplicit = 2;
constexpr int16_t kDerivationExplicit = 3;

// Value categories that the semantic pass gives resolved columns.
constexpr int16_t kCategoryText = 1;
constexpr int16_t kCategoryDecimal = 2;
constexpr int16_t kCategoryInteger = 4;
constexpr int16_t kCategoryFloating = 8;
constexpr int16_t kCategoryDate = 9;
constexpr int16_t kCategoryTime = 10;
constexpr int16_t kCategoryTimestamp = 11;
constexpr int16_t kCategoryBinary = -2;

struct EngineTable;
struct ParseNode;
struct ParameterValue;

// Extension of a select node.
struct SelectExtension {
  ParseNode* items;  // chain of kind-10 item nodes; null for "*"
  ParseNode* from;   // first FROM item
  bool allColumns;
  void* keysetReader;  // the spooled keyset, once a cursor runs over it
  int32_t rowCount;    // -1 while unknown; the keys of a keyset
  int32_t position;    // -1 before the first row, -2 after the last, else the row index
};

// Extension of a table reference.
struct TableRefExtension {
  EngineTable* table;  // opened by the semantic pass
  const char* alias;   // as written, or the table name without a leading '#'
};

struct ParseNode {
  int16_t kind;
  ParseNode* created;  // next node in creation order
  int32_t link;        // -1
  int16_t flag;        // 1
  const char* name;
  const char* text;
  void* extension;
  int16_t derivation;
  int16_t collation;
  int32_t position;  // offset of the node's first token in the text

  ParseNode* left;
  ParseNode* right;
  ParseNode* extra;
  ParseNode* next;  // the following element of a chain
  const char* qualifier;
  const char* alias;
  int32_t op;
  bool distinct;
  bool allColumns;
  bool textSearch;

  // Literals and parameters.
  int16_t sqlType;
  int32_t precision;
  int16_t scale;
  double number;
  int32_t ordinal;

  // Filled by the semantic pass.
  ParseNode* tableRef;
  int32_t columnIndex;
  int16_t category;
  int32_t resolvedPrecision;
  int16_t resolvedScale;
  char* buffer;

  // The value loaded for the current row: text, numeric text and binary
  // (a 4-byte length, then the bytes) in `buffer`, of `bufferSize` bytes;
  // integers and doubles in `number`; dates, times and timestamps in `value`.
  size_t bufferSize;
  bool isNull;
  SQLLEN valueLength;
  alignas(8) unsigned char value[16];

  // Parameter nodes: the value converted from the application's binding
  // (DrvAlloc'd at the first conversion, freed with the tree) and the mark of
  // a value that arrives through SQLParamData/SQLPutData.
  ParameterValue* parameterValue;
  bool dataAtExecution;
};

struct ArenaBlock {
  ArenaBlock* previous;
  // the data follows
};

struct ParseRoot {
  int16_t kind;
  ArenaBlock* block;   // current block
  size_t blockSize;    // its data size
  size_t used;         // bytes used of it
  int sizeClass;       // 1, 4 or 8
  bool align;          // offsets rounded to 8
  ArenaBlock* ownBlocks;  // large requests with a block of their own
  ParseNode* head;
  ParseNode* tail;
  int32_t nodeCount;
  int32_t parameterCount;
  uint32_t engineConnection;
  const char* textStart;
  const char* textEnd;  // where parsing stopped
  ParseNode* statement;
  ParseNode* parameters;  // the first parameter node; the chain follows `next`
};

// A root with an empty arena (size class 4, aligned); null when memory runs out.
ParseRoot* NewParseRoot(uint32_t engineConnection);
// Bytes from the arena (8-byte aligned, zeroed); null for a negative size or
// when memory runs out.
void* ParseArenaAlloc(ParseRoot* root, ptrdiff_t size);
char* ParseArenaStrdup(ParseRoot* root, const char* text, size_t length);
// A zeroed node appended to the node list, with its extension for kinds 4,
// 20 and 30; null when memory runs out.
ParseNode* NewParseNode(ParseRoot* root, int16_t kind);

// Releases what the tree's nodes hold (opened tables, owned buffers), from `node` on.
void FreeParseResources(EngineSession* session, ParseNode* node);
// Frees the tree's resources, its arena and the root. A null root frees the
// statement's current tree and clears the statement's link to it.
void FreeParseTree(StmtRecord* stmt, ParseRoot* root);

// A readable form of a tree for checks and traces.
std::string DumpParseTree(const ParseNode* node);

}  // namespace kivodbc

#endif
