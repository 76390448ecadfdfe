#include "sql/parsetree.h"
#include "data/tempfile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "data/enginetable.h"
#include "sql/paramconvert.h"

namespace kivodbc {
namespace {

constexpr size_t kLargeRequest = 4080;

ArenaBlock* NewBlock(size_t capacity) {
  return static_cast<ArenaBlock*>(DrvAlloc(sizeof(ArenaBlock) + capacity));
}

char* DataOf(ArenaBlock* block) { return reinterpret_cast<char*>(block + 1); }

void FreeChain(ArenaBlock* block) {
  while (block != nullptr) {
    ArenaBlock* previous = block->previous;
    DrvFree(block);
    block = previous;
  }
}

}  // namespace

ParseRoot* NewParseRoot(uint32_t engineConnection) {
  auto* root = static_cast<ParseRoot*>(DrvAlloc(sizeof(ParseRoot)));
  if (root == nullptr) return nullptr;
  root->sizeClass = 4;
  root->align = true;
  root->engineConnection = engineConnection;
  return root;
}

void* ParseArenaAlloc(ParseRoot* root, ptrdiff_t size) {
  if (size < 0) return nullptr;
  const auto n = static_cast<size_t>(size);
  const size_t offset = root->align ? (root->used + 7) & ~static_cast<size_t>(7) : root->used;
  if (root->block != nullptr && offset <= root->blockSize && n <= root->blockSize - offset) {
    root->used = offset + n;
    return DataOf(root->block) + offset;
  }
  if (root->block != nullptr && n >= kLargeRequest) {
    ArenaBlock* own = NewBlock(n);
    if (own == nullptr) return nullptr;
    own->previous = root->ownBlocks;
    root->ownBlocks = own;
    return DataOf(own);
  }
  size_t capacity = 8176;
  int nextClass = 8;
  if (root->sizeClass == 1) {
    capacity = 1008;
    nextClass = 4;
  } else if (root->sizeClass == 4) {
    capacity = 4080;
  }
  capacity = std::max(capacity, n);
  ArenaBlock* block = NewBlock(capacity);
  if (block == nullptr) return nullptr;
  block->previous = root->block;
  root->block = block;
  root->blockSize = capacity;
  root->used = n;
  root->sizeClass = nextClass;
  return DataOf(block);
}

char* ParseArenaStrdup(ParseRoot* root, const char* text, size_t length) {
  auto* copy = static_cast<char*>(ParseArenaAlloc(root, static_cast<ptrdiff_t>(length + 1)));
  if (copy == nullptr) return nullptr;
  if (length > 0) std::memcpy(copy, text, length);
  copy[length] = 0;
  return copy;
}

ParseNode* NewParseNode(ParseRoot* root, int16_t kind) {
  auto* node = static_cast<ParseNode*>(ParseArenaAlloc(root, sizeof(ParseNode)));
  if (node == nullptr) return nullptr;
  std::memset(static_cast<void*>(node), 0, sizeof(ParseNode));
  node->kind = kind;
  node->link = -1;
  node->flag = 1;
  node->columnIndex = -1;
  switch (kind) {
    case kNodeColumnRef: node->derivation = kDerivationImplicit; break;
    case kNodeConstant: case kNodeParameter: case kNodeUser: case kNodeNull: case kNodeFunctionOption:
      node->derivation = kDerivationCoercible;
      break;
    default: node->derivation = kDerivationNone; break;
  }
  size_t extension = 0;
  if (kind == kNodeSelect) extension = sizeof(SelectExtension);
  else if (kind == kNodeTableRef) extension = sizeof(TableRefExtension);
  else if (kind == kNodeKind30) extension = 84;
  if (extension != 0) {
    node->extension = ParseArenaAlloc(root, static_cast<ptrdiff_t>(extension));
    if (node->extension == nullptr) return nullptr;
    std::memset(node->extension, 0, extension);
    if (kind == kNodeSelect) {
      auto* select = static_cast<SelectExtension*>(node->extension);
      select->rowCount = -1;
      select->position = -1;
    }
  }
  if (root->tail != nullptr) root->tail->created = node;
  else root->head = node;
  root->tail = node;
  ++root->nodeCount;
  return node;
}

void FreeParseResources(EngineSession* session, ParseNode* node) {
  // Every node of a tree is on the root's creation list, so a walk over
  // that list reaches each table reference exactly once.
  for (; node != nullptr; node = node->created) {
    if (node->kind == kNodeSelect && node->extension != nullptr) {
      auto* ext = static_cast<SelectExtension*>(node->extension);
      CloseTempFileReader(static_cast<TempFileReader*>(ext->keysetReader), true);
      ext->keysetReader = nullptr;
    }
    if (node->kind == kNodeParameter && node->parameterValue != nullptr) {
      ReleaseParameterValue(node->parameterValue);
      DrvFree(node->parameterValue);
      node->parameterValue = nullptr;
    }
    if (node->kind == kNodeTableRef && node->extension != nullptr) {
      auto* ext = static_cast<TableRefExtension*>(node->extension);
      CloseEngineTable(session, ext->table);
      ext->table = nullptr;
    }
  }
}

void FreeParseTree(StmtRecord* stmt, ParseRoot* root) {
  const bool current = root == nullptr || (stmt != nullptr && stmt->parseTree == root);
  if (root == nullptr && stmt != nullptr) root = stmt->parseTree;
  if (current && stmt != nullptr) stmt->parseTree = nullptr;
  if (root == nullptr) return;
  EngineSession* session = stmt != nullptr && stmt->conn != nullptr ? stmt->conn->session : nullptr;
  FreeParseResources(session, root->head);
  FreeChain(root->ownBlocks);
  FreeChain(root->block);
  DrvFree(root);
}

namespace {

void Dump(const ParseNode* node, std::string& out);

void DumpChain(const ParseNode* node, std::string& out) {
  for (; node != nullptr; node = node->next) {
    out += ' ';
    Dump(node, out);
  }
}

const char* OperatorText(int32_t op) {
  switch (op) {
    case '+': return "+";
    case '-': return "-";
    case '*': return "*";
    case '/': return "/";
    case 'N': return "not";
    case 'A': return "and";
    case 'O': return "or";
    default: return "?";
  }
}

void Dump(const ParseNode* node, std::string& out) {
  if (node == nullptr) {
    out += "()";
    return;
  }
  auto text = [](const char* t) { return std::string(t != nullptr ? t : ""); };
  switch (node->kind) {
    case kNodePseudoStatement: out += "(sql)"; return;
    case kNodeSelect: {
      const auto* ext = static_cast<const SelectExtension*>(node->extension);
      out += "(select";
      if (ext->allColumns) out += " *";
      DumpChain(ext->items, out);
      out += " (from";
      DumpChain(ext->from, out);
      out += "))";
      return;
    }
    case kNodeFromItem: Dump(node->left, out); return;
    case kNodeTableRef:
      out += "(table " + (node->qualifier != nullptr ? text(node->qualifier) + "." : "") + text(node->name);
      if (node->alias != nullptr) out += " " + text(node->alias);
      out += ")";
      return;
    case kNodeExpressionList:
      if (node->op == 'C') {  // CASE
        out += "(case";
        if (node->left != nullptr) {
          out += ' ';
          Dump(node->left, out);
        }
        DumpChain(node->extra, out);
        out += " (else ";
        Dump(node->right, out);
        out += "))";
      } else if (node->op == 'W') {
        out += "(when ";
        Dump(node->left, out);
        out += ' ';
        Dump(node->right, out);
        out += ')';
      } else {  // select item or argument
        Dump(node->left, out);
        if (node->alias != nullptr) out += " as " + text(node->alias);
      }
      return;
    case kNodeColumnRef:
      out += "(col " + (node->qualifier != nullptr ? text(node->qualifier) + "." : "") +
             (node->allColumns ? std::string("*") : text(node->name)) + ")";
      return;
    case kNodeLiteral: out += "(lit " + std::to_string(node->sqlType) + " " + text(node->text); break;
    case kNodeConstant: out += "(const " + text(node->text); break;
    case kNodeParameter: out += "(param " + std::to_string(node->ordinal) + ")"; return;
    case kNodeUser: out += "(user)"; return;
    case kNodeNull: out += "(null)"; return;
    case kNodeDate: out += "(date " + text(node->text) + ")"; return;
    case kNodeTime: out += "(time " + text(node->text) + ")"; return;
    case kNodeTimestamp: out += "(timestamp " + text(node->text) + ")"; return;
    case kNodeArithmetic:
    case kNodeLogical:
      out += std::string("(") + OperatorText(node->op) + " ";
      Dump(node->left, out);
      if (node->right != nullptr) {
        out += ' ';
        Dump(node->right, out);
      }
      out += ')';
      return;
    case kNodeComparison:
      out += "(" + text(node->name) + (node->alias != nullptr ? " " + text(node->alias) : std::string()) + " ";
      Dump(node->left, out);
      out += ' ';
      Dump(node->right, out);
      out += ')';
      return;
    case kNodeAggregate:
      out += "(" + text(node->name) + (node->distinct ? " distinct " : " ");
      if (node->allColumns) out += "*";
      else Dump(node->left, out);
      out += ')';
      return;
    case kNodeFunction:
      out += std::string(node->textSearch ? "(search " : "(fn ") +
             (node->qualifier != nullptr ? text(node->qualifier) + "." : "") + text(node->name);
      DumpChain(node->left, out);
      break;
    default: out += "(kind " + std::to_string(node->kind); break;
  }
  if (node->derivation == kDerivationExplicit) out += " collate " + std::to_string(node->collation);
  out += ')';
}

}  // namespace

std::string DumpParseTree(const ParseNode* node) {
  std::string out;
  Dump(node, out);
  return out;
}

}  // namespace kivodbc
