#include "sql/parser.h"

#include <cstring>
#include <string>

#include "connect/connstring.h"
#include "handles/messages.h"
#include "sql/scanner.h"
#include "data/valuetext.h"

namespace kivodbc {
namespace {

constexpr const char* kStartList =
    "Your statement must start with CREATE, DROP, SELECT, INSERT, UPDATE, ALTER, EXECUTE, DELETE, GRANT, REVOKE, "
    "BEGIN, COMMIT, ROLLBACK, SAVEPOINT, or SET";
constexpr const char* kShortStartList =
    "CREATE, DROP, SELECT, INSERT, UPDATE, ALTER, EXECUTE, DELETE, GRANT, REVOKE, BEGIN, COMMIT, ROLLBACK, or SET";
constexpr const char* kJoinText = "<LEFT [OUTER] | FULL [OUTER] | RIGHT [OUTER]> JOIN";

struct Token {
  char text[kTokenSize];
  int16_t kind;
  ScanPosition next;
};

class Parser {
 public:
  Parser(ParseRoot* root, char* argument, const char* text, size_t length)
      : root_(root), argument_(argument), start_(text), position_{text, length} {}

  uint32_t Statement(ParseNode** out);

 private:
  // ---- tokens
  uint32_t Peek(Token* token) { return ScanToken(argument_, position_, token->text, &token->kind, &token->next); }
  bool IsSymbol(const Token& t, const char* symbol) const {
    return t.kind == kTokenSymbol && std::strcmp(t.text, symbol) == 0;
  }
  bool IsKeyword(const Token& t, const char* word) const {
    return t.kind == kTokenWord && EqualsIgnoreCase(t.text, word);
  }
  int32_t Offset() const { return static_cast<int32_t>(position_.at - start_); }

  uint32_t Fail(uint32_t code, const std::string& argument) {
    SetScanArgument(argument_, argument);
    return code;
  }
  uint32_t ExpectSymbol(const char* symbol) {
    Token t;
    if (uint32_t code = Peek(&t)) return code;
    if (t.kind == kTokenSymbol && (symbol == nullptr || std::strcmp(t.text, symbol) == 0)) {
      position_ = t.next;
      return 0;
    }
    return Fail(kExpectedNotFound, symbol != nullptr ? symbol : "<symbol>");
  }
  bool AcceptSymbol(const char* symbol) {
    Token t;
    if (Peek(&t) != 0 || !IsSymbol(t, symbol)) return false;
    position_ = t.next;
    return true;
  }
  uint32_t ExpectKeyword(const char* word) {
    Token t;
    if (uint32_t code = Peek(&t)) return code;
    if (t.kind == kTokenWord && (word == nullptr || EqualsIgnoreCase(t.text, word))) {
      position_ = t.next;
      return 0;
    }
    return Fail(kExpectedNotFound, word != nullptr ? word : "<keyword>");
  }
  bool AcceptKeyword(const char* word) {
    Token t;
    if (Peek(&t) != 0 || !IsKeyword(t, word)) return false;
    position_ = t.next;
    return true;
  }
  uint32_t ExpectReserved(const char* word) {
    Token t;
    if (uint32_t code = Peek(&t)) return code;
    if (t.kind == kTokenWord && ClassifyWord(t.text) == kTokenReserved &&
        (word == nullptr || EqualsIgnoreCase(t.text, word))) {
      position_ = t.next;
      return 0;
    }
    return Fail(kExpectedNotFound, word != nullptr ? word : "<reserved word>");
  }
  // An identifier: a delimited name, or a word that is not reserved.
  uint32_t ExpectIdentifier(const char** name, bool* delimited = nullptr) {
    Token t;
    if (uint32_t code = Peek(&t)) return code;
    if (t.kind == kTokenIdentifier || (t.kind == kTokenWord && ClassifyWord(t.text) == kTokenIdentifier)) {
      if (delimited != nullptr) *delimited = t.kind == kTokenIdentifier;
      position_ = t.next;
      *name = Copy(t.text);
      return *name != nullptr ? 0 : kMemoryError;
    }
    if (t.kind == kTokenWord) return Fail(kExpectedNotFound, std::string("<identifier> but found: ") + t.text);
    return Fail(kExpectedNotFound, "<identifier>");
  }
  bool NextIsIdentifier() {
    Token t;
    return Peek(&t) == 0 &&
           (t.kind == kTokenIdentifier || (t.kind == kTokenWord && ClassifyWord(t.text) == kTokenIdentifier));
  }

  const char* Copy(const char* text) { return ParseArenaStrdup(root_, text, std::strlen(text)); }
  ParseNode* Node(int16_t kind) {
    ParseNode* node = NewParseNode(root_, kind);
    if (node != nullptr) node->position = Offset();
    return node;
  }

  // ---- grammar
  uint32_t Select(ParseNode** out);
  uint32_t SelectItem(int column, ParseNode** out);
  uint32_t Alias(const char** alias);
  uint32_t TableReference(ParseNode** out);
  uint32_t Expression(ParseNode** out);
  uint32_t Term(ParseNode** out);
  uint32_t Factor(ParseNode** out);
  uint32_t Primary(ParseNode** out);
  uint32_t LongStringLiteral(ParseNode** out);
  uint32_t Case(ParseNode** out);
  uint32_t Aggregate(const char* name, ParseNode** out);
  uint32_t FunctionCall(const char* qualifier, const char* name, ParseNode** out);
  uint32_t Arguments(const char* name, ParseNode* call);
  uint32_t ArgumentList(ParseNode** first);
  uint32_t Escape(bool longForm, ParseNode** out);
  uint32_t EscapeClose(bool longForm);
  uint32_t Collate(ParseNode* node);
  uint32_t Condition(ParseNode** out);
  uint32_t AndCondition(ParseNode** out);
  uint32_t NotCondition(ParseNode** out);
  uint32_t Predicate(ParseNode** out);
  uint32_t SubSelect(ParseNode** out);
  uint32_t Wrap(ParseNode* expression, ParseNode** out) {
    ParseNode* item = Node(kNodeExpressionList);
    if (item == nullptr) return kMemoryError;
    item->left = expression;
    *out = item;
    return 0;
  }
  // Opens an escape: "{" or the long form opener; true when one was read.
  bool AcceptEscapeOpen(bool* longForm);

  ParseRoot* root_;
  char* argument_;
  const char* start_;
  ScanPosition position_;
};

uint32_t Parser::Statement(ParseNode** out) {
  Token t;
  if (uint32_t code = Peek(&t)) return code;
  if (t.kind != kTokenWord || ClassifyWord(t.text) != kTokenReserved) return Fail(kExpectedNotFound, kStartList);
  if (EqualsIgnoreCase(t.text, "SELECT")) {
    position_ = t.next;
    if (uint32_t code = Select(out)) return code;
  } else if (EqualsIgnoreCase(t.text, "SQL")) {
    if ((*out = Node(kNodePseudoStatement)) == nullptr) return kMemoryError;
    position_ = t.next;
  } else {
    return Fail(kExpectedNotFound, kShortStartList);
  }
  if (uint32_t code = Peek(&t)) return code;
  if (t.kind != kTokenEnd) return Fail(kUnexpectedToken, "");
  root_->textEnd = position_.at;
  return 0;
}

uint32_t Parser::Select(ParseNode** out) {
  ParseNode* select = Node(kNodeSelect);
  if (select == nullptr) return kMemoryError;
  auto* ext = static_cast<SelectExtension*>(select->extension);
  if (AcceptSymbol("*")) {
    ext->allColumns = true;
  } else {
    ParseNode** tail = &ext->items;
    for (int column = 1;; ++column) {
      if (uint32_t code = SelectItem(column, tail)) return code;
      tail = &(*tail)->next;
      if (!AcceptSymbol(",")) break;
    }
  }
  if (uint32_t code = ExpectReserved("FROM")) {
    AppendScanArgument(argument_, " You are missing the keyword FROM after the column definitions in your SELECT "
                                  "statement.");
    return code;
  }
  ParseNode** tail = &ext->from;
  for (;;) {
    ParseNode* item = Node(kNodeFromItem);
    if (item == nullptr) return kMemoryError;
    if (uint32_t code = TableReference(&item->left)) {
      if (code != kInternalError)
        AppendScanArgument(argument_, " There was a problem parsing the table names after the FROM keyword in "
                                      "your SELECT statement.");
      return code;
    }
    *tail = item;
    tail = &item->next;
    if (!AcceptSymbol(",")) break;
  }
  *out = select;
  return 0;
}

uint32_t Parser::SelectItem(int column, ParseNode** out) {
  auto context = [this, column](const char* what) {
    AppendScanArgument(argument_, std::string(" [") + what + " (column " + std::to_string(column) +
                                      " in the SELECT clause)]");
  };
  ParseNode* expression = nullptr;
  // name.* first; anything else is an expression.
  const ScanPosition saved = position_;
  const char* name = nullptr;
  if (NextIsIdentifier() && ExpectIdentifier(&name) == 0 && AcceptSymbol(".") && AcceptSymbol("*")) {
    if ((expression = Node(kNodeColumnRef)) == nullptr) return kMemoryError;
    expression->qualifier = name;
    expression->allColumns = true;
  } else {
    position_ = saved;
    if (uint32_t code = Expression(&expression)) {
      context("Parsing Expression");
      return code;
    }
  }
  if (uint32_t code = Wrap(expression, out)) return code;
  if (uint32_t code = Alias(&(*out)->alias)) {
    context("Parsing for Alias");
    return code;
  }
  return 0;
}

uint32_t Parser::Alias(const char** alias) {
  if (AcceptKeyword("AS")) return ExpectIdentifier(alias);
  if (NextIsIdentifier()) return ExpectIdentifier(alias);
  return 0;
}

bool Parser::AcceptEscapeOpen(bool* longForm) {
  Token t;
  if (Peek(&t) != 0) return false;
  if (IsSymbol(t, "{")) {
    position_ = t.next;
    *longForm = false;
    return true;
  }
  if (IsSymbol(t, "--")) {
    // The scanner stops in front of "--" only when the whole opener follows.
    ScanPosition p = t.next;
    for (int i = 0; i < 11; ++i) {  // ( * vendor ( Microsoft ) , product ( ODBC )
      Token u;
      if (ScanToken(argument_, p, u.text, &u.kind, &u.next) != 0) return false;
      p = u.next;
    }
    position_ = p;
    *longForm = true;
    return true;
  }
  return false;
}

uint32_t Parser::EscapeClose(bool longForm) {
  if (!longForm) return ExpectSymbol("}");
  if (ExpectSymbol("*") != 0 || ExpectSymbol(")") != 0) return Fail(kExpectedNotFound, "*)--");
  // The closing "--" is read from the text itself: as a token it would start a comment.
  ScanPosition p = position_;
  while (p.remaining > 0 && (*p.at == ' ' || *p.at == '\t' || *p.at == '\r' || *p.at == '\n')) {
    ++p.at;
    --p.remaining;
  }
  if (p.remaining < 2 || p.at[0] != '-' || p.at[1] != '-') return Fail(kExpectedNotFound, "*)--");
  position_ = {p.at + 2, p.remaining - 2};
  return 0;
}

uint32_t Parser::TableReference(ParseNode** out) {
  Token t;
  if (uint32_t code = Peek(&t)) return code;
  if (IsSymbol(t, "(")) return kInternalError;
  bool longForm = false;
  const ScanPosition saved = position_;
  if (AcceptEscapeOpen(&longForm)) {
    if (AcceptKeyword("oj")) {
      // Outer joins are not answered by this front end.
      ParseNode* left = nullptr;
      std::string text = kJoinText;
      if (TableReference(&left) == 0 && (AcceptKeyword("LEFT") || AcceptKeyword("RIGHT") || AcceptKeyword("FULL"))) {
        AcceptKeyword("OUTER");
        ParseNode* right = nullptr;
        ParseNode* on = nullptr;
        if (ExpectKeyword("JOIN") == 0 && TableReference(&right) == 0 && ExpectKeyword("ON") == 0 &&
            Condition(&on) == 0 && EscapeClose(longForm) != 0)
          text += " missing }";
      }
      return Fail(kExpectedNotFound, text);
    }
    position_ = saved;
  }
  ParseNode* ref = Node(kNodeTableRef);
  if (ref == nullptr) return kMemoryError;
  if (uint32_t code = ExpectIdentifier(&ref->name)) return code;
  if (AcceptSymbol(".")) {
    ref->qualifier = ref->name;
    if (uint32_t code = ExpectIdentifier(&ref->name)) return code;
  }
  // Join words never stand for an alias of a table.
  Token next;
  if (uint32_t code = Peek(&next)) return code;
  bool joinWord = false;
  for (const char* word : {"LEFT", "RIGHT", "FULL", "INNER", "OUTER", "JOIN", "ON"})
    joinWord = joinWord || IsKeyword(next, word);
  if (!joinWord) {
    if (uint32_t code = Alias(&ref->alias)) return code;
  }
  *out = ref;
  return 0;
}

uint32_t Parser::Expression(ParseNode** out) {
  if (uint32_t code = Term(out)) return code;
  for (;;) {
    Token t;
    if (uint32_t code = Peek(&t)) return code;
    if (!IsSymbol(t, "+") && !IsSymbol(t, "-")) return 0;
    ParseNode* node = Node(kNodeArithmetic);
    if (node == nullptr) return kMemoryError;
    node->op = t.text[0];
    position_ = t.next;
    node->left = *out;
    if (uint32_t code = Term(&node->right)) return code;
    *out = node;
  }
}

uint32_t Parser::Term(ParseNode** out) {
  if (uint32_t code = Factor(out)) return code;
  for (;;) {
    Token t;
    if (uint32_t code = Peek(&t)) return code;
    if (!IsSymbol(t, "*") && !IsSymbol(t, "/")) return 0;
    if (IsSymbol(t, "*")) {  // "*)" is COUNT's argument, not a product
      Token u;
      if (ScanToken(argument_, t.next, u.text, &u.kind, &u.next) == 0 && IsSymbol(u, ")")) return 0;
    }
    ParseNode* node = Node(kNodeArithmetic);
    if (node == nullptr) return kMemoryError;
    node->op = t.text[0];
    position_ = t.next;
    node->left = *out;
    if (uint32_t code = Factor(&node->right)) return code;
    *out = node;
  }
}

uint32_t Parser::Factor(ParseNode** out) {
  Token t;
  if (uint32_t code = Peek(&t)) return code == kTokenTooLarge ? Primary(out) : code;
  if (IsSymbol(t, "+") || IsSymbol(t, "-")) {
    Token u;
    if (uint32_t code = ScanToken(argument_, t.next, u.text, &u.kind, &u.next)) return code;
    if (u.kind == kTokenNumber) return Primary(out);  // a signed number literal
    ParseNode* node = Node(kNodeArithmetic);
    if (node == nullptr) return kMemoryError;
    node->op = t.text[0];
    position_ = t.next;
    return Factor(&node->left) == 0 ? (*out = node, 0u) : kExpectedNotFound;
  }
  if (IsSymbol(t, "(")) {
    position_ = t.next;
    if (uint32_t code = Expression(out)) return code;
    if (uint32_t code = ExpectSymbol(")")) {
      AppendScanArgument(argument_, " expected closing ')' in expression");
      return code;
    }
    return 0;
  }
  return Primary(out);
}

uint32_t Parser::Collate(ParseNode* node) {
  if (!AcceptKeyword("COLLATE")) return 0;
  Token t;
  if (uint32_t code = Peek(&t)) return code;
  if (t.kind != kTokenIdentifier && (t.kind != kTokenWord || ClassifyWord(t.text) == kTokenReserved))
    return Fail(kExpectedNotFound, " expecting language after COLLATE clause.");
  if (EqualsIgnoreCase(t.text, "KIV_DEFAULT_CS")) node->collation = 0;
  else if (EqualsIgnoreCase(t.text, "KIV_DEFAULT_CI")) node->collation = 1;
  else return Fail(kExpectedNotFound, " unknown language found after COLLATE clause.");
  position_ = t.next;
  node->derivation = kDerivationExplicit;
  return 0;
}

uint32_t Parser::LongStringLiteral(ParseNode** out) {
  ScanPosition p = position_;
  if (SkipBlanksAndComments(argument_, &p) != 0 || p.remaining == 0 || *p.at != '\'') return kTokenTooLarge;
  std::string value;
  size_t i = 1;
  for (;; ++i) {
    if (i >= p.remaining || p.at[i] == 0) return kUnexpectedEnd;
    if (p.at[i] == '\'') {
      if (i + 1 < p.remaining && p.at[i + 1] == '\'') {
        value += '\'';
        ++i;
        continue;
      }
      break;
    }
    value += p.at[i];
  }
  ParseNode* node = Node(kNodeLiteral);
  if (node == nullptr || (node->text = ParseArenaStrdup(root_, value.data(), value.size())) == nullptr)
    return kMemoryError;
  node->sqlType = SQL_VARCHAR;
  node->precision = static_cast<int32_t>(value.size());
  node->derivation = kDerivationCoercible;
  position_ = {p.at + i + 1, p.remaining - i - 1};
  argument_[0] = 0;
  *out = node;
  return Collate(node);
}

uint32_t Parser::Primary(ParseNode** out) {
  Token t;
  if (uint32_t code = Peek(&t)) return code == kTokenTooLarge ? LongStringLiteral(out) : code;
  const int32_t at = Offset();
  if (IsSymbol(t, "?")) {
    position_ = t.next;
    if ((*out = Node(kNodeParameter)) == nullptr) return kMemoryError;
    (*out)->ordinal = ++root_->parameterCount;
    return 0;
  }
  if (t.kind == kTokenNumber || IsSymbol(t, "+") || IsSymbol(t, "-") || IsKeyword(t, "true") ||
      IsKeyword(t, "false")) {
    NumberLiteral number;
    if (uint32_t code = ScanNumberLiteral(argument_, &position_, &number)) return code;
    ParseNode* node = Node(kNodeLiteral);
    if (node == nullptr || (node->text = Copy(number.text.c_str())) == nullptr) return kMemoryError;
    node->position = at;
    node->sqlType = number.sqlType;
    node->scale = number.scale;
    node->number = number.value;
    node->precision = static_cast<int32_t>(number.text.size());
    *out = node;
    return 0;
  }
  if (t.kind == kTokenString) {
    ParseNode* node = Node(kNodeLiteral);
    if (node == nullptr || (node->text = Copy(t.text)) == nullptr) return kMemoryError;
    position_ = t.next;
    node->sqlType = SQL_VARCHAR;
    node->precision = static_cast<int32_t>(std::strlen(t.text));
    node->derivation = kDerivationCoercible;
    *out = node;
    return Collate(node);
  }
  bool longForm = false;
  const ScanPosition saved = position_;
  if (AcceptEscapeOpen(&longForm)) {
    if (uint32_t code = Escape(longForm, out)) return code;
    return 0;
  }
  position_ = saved;
  if (t.kind == kTokenWord) {
    if (IsKeyword(t, "CASE")) {
      position_ = t.next;
      return Case(out);
    }
    for (const char* aggregate : {"COUNT", "AVG", "MAX", "MIN", "SUM"})
      if (IsKeyword(t, aggregate)) {
        position_ = t.next;
        return Aggregate(aggregate, out);
      }
    if (IsKeyword(t, "USER") || IsKeyword(t, "NULL")) {
      position_ = t.next;
      return (*out = Node(IsKeyword(t, "USER") ? kNodeUser : kNodeNull)) != nullptr ? 0 : kMemoryError;
    }
  }
  // A column reference or a function call.
  const char* first = nullptr;
  bool delimited = false;
  if (uint32_t code = ExpectIdentifier(&first, &delimited)) return code;
  const char* qualifier = nullptr;
  const char* name = first;
  bool secondDelimited = false;
  if (AcceptSymbol(".")) {
    qualifier = first;
    if (uint32_t code = ExpectIdentifier(&name, &secondDelimited)) return code;
    delimited = secondDelimited;
  }
  Token u;
  if (uint32_t code = Peek(&u)) return code;
  if (IsSymbol(u, "(")) {
    if (delimited) return Fail(kUnexpectedToken, "Scalar function name should not be delimited.");
    return FunctionCall(qualifier, name, out);
  }
  ParseNode* column = Node(kNodeColumnRef);
  if (column == nullptr) return kMemoryError;
  column->position = at;
  column->qualifier = qualifier;
  column->name = name;
  *out = column;
  return 0;
}

uint32_t Parser::Escape(bool longForm, ParseNode** out) {
  Token t;
  if (uint32_t code = Peek(&t)) return code;
  if (IsKeyword(t, "fn")) {
    position_ = t.next;
    const char* name = nullptr;
    bool delimited = false;
    if (uint32_t code = ExpectIdentifier(&name, &delimited)) return code;
    if (delimited) return Fail(kUnexpectedToken, "Scalar function name should not be delimited.");
    if (uint32_t code = FunctionCall(nullptr, name, out)) return code;
    return EscapeClose(longForm);
  }
  int16_t kind = 0;
  if (IsKeyword(t, "d")) kind = kNodeDate;
  else if (IsKeyword(t, "t")) kind = kNodeTime;
  else if (IsKeyword(t, "ts")) kind = kNodeTimestamp;
  if (kind == 0) return Fail(kExpectedNotFound, "fn | d | t | ts");
  position_ = t.next;
  Token literal;
  if (uint32_t code = Peek(&literal)) return code;
  if (literal.kind != kTokenString) return Fail(kExpectedNotFound, "<string literal>");
  position_ = literal.next;
  DATE_STRUCT date;
  TIME_STRUCT time;
  TIMESTAMP_STRUCT timestamp;
  if (ParseDateText(literal.text, SQL_NTS, &date) == 0) kind = kNodeDate;
  else if (ParseTimeText(literal.text, SQL_NTS, &time) == 0) kind = kNodeTime;
  else if (ParseTimestampText(literal.text, SQL_NTS, &timestamp) == 0) kind = kNodeTimestamp;
  else return Fail(kMalformedEscape, literal.text);
  ParseNode* node = Node(kind);
  if (node == nullptr || (node->text = Copy(literal.text)) == nullptr) return kMemoryError;
  *out = node;
  return EscapeClose(longForm);
}

uint32_t Parser::Case(ParseNode** out) {
  ParseNode* node = Node(kNodeExpressionList);
  if (node == nullptr) return kMemoryError;
  node->op = 'C';
  Token t;
  if (uint32_t code = Peek(&t)) return code;
  const bool searched = IsKeyword(t, "WHEN");
  if (!searched && (Expression(&node->left) != 0)) return kExpectedNotFound;
  ParseNode** tail = &node->extra;
  while (AcceptKeyword("WHEN")) {
    ParseNode* branch = Node(kNodeExpressionList);
    if (branch == nullptr) return kMemoryError;
    branch->op = 'W';
    if (searched) {
      if (uint32_t code = Condition(&branch->left)) {
        AppendScanArgument(argument_, " Parsing for boolean search condition.");
        return code;
      }
    } else if (uint32_t code = Expression(&branch->left)) {
      return code;
    }
    if (!AcceptKeyword("THEN")) return Fail(kExpectedNotFound, "WHEN | ELSE | END");
    if (uint32_t code = Expression(&branch->right)) return code;
    *tail = branch;
    tail = &branch->next;
  }
  if (node->extra == nullptr) return Fail(kExpectedNotFound, "WHEN | ELSE | END");
  if (AcceptKeyword("ELSE")) {
    if (uint32_t code = Expression(&node->right)) return code;
  } else if ((node->right = Node(kNodeNull)) == nullptr) {
    return kMemoryError;
  }
  if (!AcceptKeyword("END")) return Fail(kExpectedNotFound, "WHEN | ELSE | END");
  *out = node;
  return 0;
}

uint32_t Parser::Aggregate(const char* name, ParseNode** out) {
  ParseNode* node = Node(kNodeAggregate);
  if (node == nullptr || (node->name = Copy(name)) == nullptr) return kMemoryError;
  if (uint32_t code = ExpectSymbol("(")) {
    AppendScanArgument(argument_, " missing ( in aggregate function");
    return code;
  }
  if (AcceptKeyword("DISTINCT")) node->distinct = true;
  else AcceptKeyword("ALL");
  if (std::strcmp(name, "COUNT") == 0 && AcceptSymbol("*")) {
    node->allColumns = true;
  } else if (uint32_t code = Expression(&node->left)) {
    return code;
  }
  if (uint32_t code = ExpectSymbol(")")) return code;
  *out = node;
  return 0;
}

uint32_t Parser::ArgumentList(ParseNode** first) {
  ParseNode** tail = first;
  for (;;) {
    ParseNode* expression = nullptr;
    if (uint32_t code = Expression(&expression)) return code;
    if (uint32_t code = Wrap(expression, tail)) return code;
    tail = &(*tail)->next;
    if (!AcceptSymbol(",")) return 0;
  }
}

uint32_t Parser::Arguments(const char* name, ParseNode* call) {
  auto constant = [this](const char* text, ParseNode** out) -> uint32_t {
    ParseNode* node = Node(kNodeConstant);
    if (node == nullptr || (node->text = Copy(text)) == nullptr) return kMemoryError;
    return Wrap(node, out);
  };
  if (EqualsIgnoreCase(name, "LASTAUTOINC")) {
    Token t;
    if (uint32_t code = Peek(&t)) return code;
    if (!IsKeyword(t, "CONNECTION") && !IsKeyword(t, "STATEMENT"))
      return Fail(kExpectedNotFound, "CONNECTION or STATEMENT");
    position_ = t.next;
    return constant(t.text, &call->left);
  }
  if (EqualsIgnoreCase(name, "POSITION")) {
    ParseNode* a = nullptr;
    ParseNode* b = nullptr;
    if (uint32_t code = Expression(&a)) return code;
    if (uint32_t code = ExpectKeyword("IN")) return code;
    if (uint32_t code = Expression(&b)) return code;
    if (Wrap(a, &call->left) != 0 || Wrap(b, &call->left->next) != 0) return kMemoryError;
    return 0;
  }
  if (EqualsIgnoreCase(name, "EXTRACT")) {
    Token t;
    if (uint32_t code = Peek(&t)) return code;
    if (t.kind != kTokenWord) return Fail(kExpectedNotFound, "<keyword>");
    position_ = t.next;
    if (uint32_t code = constant(t.text, &call->left)) return code;
    if (uint32_t code = ExpectReserved("FROM")) return code;
    ParseNode* value = nullptr;
    if (uint32_t code = Expression(&value)) return code;
    return Wrap(value, &call->left->next);
  }
  if (EqualsIgnoreCase(name, "IIF")) {
    const ScanPosition saved = position_;
    ParseNode* condition = nullptr;
    if (Condition(&condition) == 0 && AcceptSymbol(",")) {
      if (uint32_t code = Wrap(condition, &call->left)) return code;
      return ArgumentList(&call->left->next);
    }
    position_ = saved;
    return ArgumentList(&call->left);
  }
  if (EqualsIgnoreCase(name, "CAST")) {
    ParseNode* value = nullptr;
    if (AcceptKeyword("NULL")) {
      if ((value = Node(kNodeNull)) == nullptr) return kMemoryError;
    } else if (uint32_t code = Expression(&value)) {
      return code;
    }
    if (uint32_t code = ExpectKeyword("AS")) return code;
    const char* type = nullptr;
    if (uint32_t code = ExpectIdentifier(&type)) return code;
    std::string typeName = type;
    if (AcceptSymbol(".")) {
      if (uint32_t code = ExpectIdentifier(&type)) return code;
      typeName += std::string(".") + type;
    }
    ParseNode* typeNode = Node(kNodeConstant);
    if (typeNode == nullptr || (typeNode->text = Copy(typeName.c_str())) == nullptr) return kMemoryError;
    typeNode->precision = -1;
    typeNode->scale = -1;
    if (AcceptSymbol("(")) {
      NumberLiteral length;
      if (uint32_t code = ScanNumberLiteral(argument_, &position_, &length)) return code;
      if (length.sqlType == SQL_INTEGER && length.value >= 0 && length.value <= 2147483647.0 && length.text[0] != '.')
        typeNode->precision = static_cast<int32_t>(length.value);
      if (AcceptSymbol(",")) {
        NumberLiteral scale;
        if (uint32_t code = ScanNumberLiteral(argument_, &position_, &scale)) return code;
        if (scale.sqlType == SQL_INTEGER && scale.value >= 0 && scale.value <= 32767.0 && scale.text[0] != '.')
          typeNode->scale = static_cast<int16_t>(scale.value);
      }
      if (uint32_t code = ExpectSymbol(")")) return code;
    }
    if (uint32_t code = Wrap(value, &call->left)) return code;
    return Wrap(typeNode, &call->left->next);
  }
  if (EqualsIgnoreCase(name, "TRIM")) {
    const ScanPosition saved = position_;
    ParseNode** tail = &call->left;
    Token t;
    if (Peek(&t) == 0 && (IsKeyword(t, "LEADING") || IsKeyword(t, "TRAILING") || IsKeyword(t, "BOTH"))) {
      position_ = t.next;
      if (constant(t.text, tail) != 0) return kMemoryError;
    } else if (constant("BOTH", tail) != 0) {
      return kMemoryError;
    }
    tail = &(*tail)->next;
    ParseNode* characters = nullptr;
    if (Peek(&t) == 0 && !(t.kind == kTokenWord && EqualsIgnoreCase(t.text, "FROM"))) Expression(&characters);
    if (characters == nullptr) {
      if (constant(" ", tail) != 0) return kMemoryError;
    } else if (Wrap(characters, tail) != 0) {
      return kMemoryError;
    }
    tail = &(*tail)->next;
    ParseNode* value = nullptr;
    if (ExpectReserved("FROM") == 0 && Expression(&value) == 0) return Wrap(value, tail);
    position_ = saved;
    call->left = nullptr;
    return ArgumentList(&call->left);
  }
  return ArgumentList(&call->left);
}

uint32_t Parser::FunctionCall(const char* qualifier, const char* name, ParseNode** out) {
  ParseNode* call = Node(kNodeFunction);
  if (call == nullptr) return kMemoryError;
  call->qualifier = qualifier;
  call->name = name;
  call->textSearch = EqualsIgnoreCase(name, "CONTAINS") || EqualsIgnoreCase(name, "SCORE") ||
                     EqualsIgnoreCase(name, "SCOREDISTINCT");
  if (uint32_t code = ExpectSymbol("(")) return code;
  const ScanPosition saved = position_;
  if (uint32_t code = Arguments(name, call)) {
    if (EqualsIgnoreCase(name, "LASTAUTOINC") || code == kMemoryError) return code;
    // An argument list that does not parse is dropped: ")" must follow directly.
    position_ = saved;
    call->left = nullptr;
  }
  if (uint32_t code = ExpectSymbol(")")) return code;
  *out = call;
  return Collate(call);
}

uint32_t Parser::Condition(ParseNode** out) {
  if (uint32_t code = AndCondition(out)) return code;
  while (AcceptKeyword("OR")) {
    ParseNode* node = Node(kNodeLogical);
    if (node == nullptr) return kMemoryError;
    node->op = 'O';
    node->left = *out;
    if (uint32_t code = AndCondition(&node->right)) return code;
    *out = node;
  }
  return 0;
}

uint32_t Parser::AndCondition(ParseNode** out) {
  if (uint32_t code = NotCondition(out)) return code;
  while (AcceptKeyword("AND")) {
    ParseNode* node = Node(kNodeLogical);
    if (node == nullptr) return kMemoryError;
    node->op = 'A';
    node->left = *out;
    if (uint32_t code = NotCondition(&node->right)) return code;
    *out = node;
  }
  return 0;
}

uint32_t Parser::NotCondition(ParseNode** out) {
  if (!AcceptKeyword("NOT")) return Predicate(out);
  ParseNode* node = Node(kNodeLogical);
  if (node == nullptr) return kMemoryError;
  node->op = 'N';
  if (uint32_t code = Predicate(&node->left)) return code;
  *out = node;
  return 0;
}

uint32_t Parser::SubSelect(ParseNode** out) {
  if (uint32_t code = ExpectSymbol("(")) return code;
  if (uint32_t code = ExpectReserved("SELECT")) return code;
  if (uint32_t code = Select(out)) return code;
  return ExpectSymbol(")");
}

uint32_t Parser::Predicate(ParseNode** out) {
  Token t;
  if (uint32_t code = Peek(&t)) return code;
  if (IsSymbol(t, "(")) {  // a parenthesised condition, else an expression in parentheses
    const ScanPosition saved = position_;
    position_ = t.next;
    if (Condition(out) == 0 && AcceptSymbol(")")) return 0;
    position_ = saved;
  }
  if (IsKeyword(t, "EXISTS")) {
    position_ = t.next;
    ParseNode* node = Node(kNodeComparison);
    if (node == nullptr || (node->name = Copy("exists")) == nullptr) return kMemoryError;
    if (uint32_t code = SubSelect(&node->left)) return code;
    *out = node;
    return 0;
  }
  ParseNode* left = nullptr;
  if (uint32_t code = Expression(&left)) return code;
  if (uint32_t code = Peek(&t)) return code;
  static const char* const kOperators[] = {"=", "<>", "<", "<=", ">", ">="};
  bool comparison = false;
  for (const char* op : kOperators) comparison = comparison || IsSymbol(t, op);
  if (!comparison) {
    if (left->kind == kNodeFunction && EqualsIgnoreCase(left->name, "CONTAINS")) {
      *out = left;
      return 0;
    }
    if (t.kind == kTokenSymbol) return Fail(kExpectedNotFound, "=, <>, <, <=, >, or >=");
    return Fail(kExpectedNotFound, "<keyword>");
  }
  ParseNode* node = Node(kNodeComparison);
  if (node == nullptr || (node->name = Copy(t.text)) == nullptr) return kMemoryError;
  position_ = t.next;
  node->left = left;
  Token u;
  if (uint32_t code = Peek(&u)) return code;
  if (IsKeyword(u, "ALL") || IsKeyword(u, "ANY")) {
    position_ = u.next;
    if ((node->alias = Copy(u.text)) == nullptr) return kMemoryError;
    if (uint32_t code = SubSelect(&node->right)) return code;
  } else {
    const ScanPosition saved = position_;
    if (SubSelect(&node->right) != 0) {
      position_ = saved;
      if (uint32_t code = Expression(&node->right)) return code;
    }
  }
  *out = node;
  return 0;
}

}  // namespace

uint32_t ParseText(const char* text, size_t length, uint32_t engineConnection, char* argument, ParseRoot** out) {
  *out = nullptr;
  argument[0] = 0;
  ParseRoot* root = NewParseRoot(engineConnection);
  if (root == nullptr) return kMemoryError;
  root->textStart = text;
  Parser parser(root, argument, text, length);
  ParseNode* statement = nullptr;
  if (uint32_t code = parser.Statement(&statement)) {
    FreeParseTree(nullptr, root);
    return code;
  }
  root->statement = statement;
  root->kind = statement->kind;
  *out = root;
  return 0;
}

uint32_t ParseStatementText(StmtRecord* stmt, const char* text, SQLLEN length) {
  const size_t size = ResolveLength(text, length);
  const uint32_t connection =
      stmt->conn != nullptr && stmt->conn->session != nullptr ? stmt->conn->session->engineConnection : 0;
  ParseRoot* root = nullptr;
  const uint32_t code = ParseText(text != nullptr ? text : "", size, connection, stmt->argument, &root);
  FreeParseTree(stmt, nullptr);
  if (code != 0) return code;
  stmt->parseTree = root;
  return 0;
}

}  // namespace kivodbc
