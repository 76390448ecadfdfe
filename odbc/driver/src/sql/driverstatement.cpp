#include "sql/driverstatement.h"

#include <cctype>
#include <cstring>

#include "connect/connstring.h"
#include "util/engine.h"
#include "data/enginetable.h"
#include "handles/messages.h"
#include "qel32.h"
#include "sql/statement.h"
#include "data/valuetext.h"

namespace kivodbc {
namespace {

constexpr uint16_t kOrdinalCloseTable = 19;
constexpr uint16_t kOrdinalDecrypt = 28;
constexpr uint16_t kOrdinalEncrypt = 33;
constexpr uint16_t kOrdinalCurrentDatabase = 52;
constexpr uint16_t kOrdinalOpenTable = 124;
constexpr uint16_t kOrdinalPack = 125;
constexpr uint16_t kOrdinalReindex = 128;
constexpr uint16_t kOrdinalUseDatabase = 137;
constexpr uint16_t kOrdinalZap = 164;
constexpr uint16_t kOrdinalEnableEncryption = 291;
constexpr uint16_t kOrdinalDisableEncryption = 292;
constexpr uint16_t kOrdinalSetPassword = 293;
constexpr uint16_t kOrdinalClearPasswords = 294;

constexpr uint32_t kEngineUnbound = 2004;
constexpr uint32_t kPathSize = 261;
constexpr uint16_t kRightsUnchecked = 2;
constexpr uint32_t kOpenOption = 1;

bool IsLayout(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsBracket(char c) { return c == '{' || c == '}' || c == ',' || c == '(' || c == ')'; }

// The words of the driver statements are prefixes: a longer word that
// begins with one (letter case aside) counts as that word.
bool SameWord(const std::string& word, const char* wanted) {
  const size_t length = std::strlen(wanted);
  if (word.size() < length) return false;
  for (size_t i = 0; i < length; ++i)
    if (std::tolower(static_cast<unsigned char>(word[i])) != std::tolower(static_cast<unsigned char>(wanted[i])))
      return false;
  return true;
}

// Reads text token by token from `*at`: leading separators are skipped; a
// token ends at a separator. `quoteEnds` makes "'" a separator too.
class Tokens {
 public:
  explicit Tokens(const std::string& text) : text_(text) {}
  bool Next(std::string* token, bool quoteEnds) {
    while (at_ < text_.size() && Separates(text_[at_], quoteEnds)) ++at_;
    if (at_ >= text_.size()) return false;
    const size_t start = at_;
    while (at_ < text_.size() && !Separates(text_[at_], quoteEnds)) ++at_;
    *token = text_.substr(start, at_ - start);
    return true;
  }
  // The rest up to a bracket or a quote, blanks included, after leading
  // layout, brackets and quotes.
  std::string UpToBracket() {
    while (at_ < text_.size() && (IsLayout(text_[at_]) || IsBracket(text_[at_]) || text_[at_] == '\'')) ++at_;
    const size_t start = at_;
    while (at_ < text_.size() && !IsBracket(text_[at_]) && text_[at_] != '\'') ++at_;
    return text_.substr(start, at_ - start);
  }

 private:
  static bool Separates(char c, bool quoteEnds) { return IsLayout(c) || IsBracket(c) || (quoteEnds && c == '\''); }
  const std::string& text_;
  size_t at_ = 0;
};

// The quoted argument: tokens joined with one blank until one ends with a quote.
uint32_t QuotedArgument(Tokens* tokens, std::string* argument) {
  std::string joined, token;
  for (;;) {
    if (!tokens->Next(&token, false)) return KIV_ERR_UNCLOSED_QUOTE;
    if (!joined.empty()) joined += ' ';
    joined += token;
    if (joined.size() > 1 && token.back() == '\'') break;
  }
  *argument = TrimQuotesAndBlanks(joined);
  if (argument->empty()) return KIV_ERR_EMPTY_ARGUMENT;
  if (argument->size() > kMaxDriverArgument) return kOutOfRange;
  return 0;
}

uint32_t Keep(EngineSession* session, uint32_t code) {
  if (session != nullptr && code != 0) session->lastError = code;
  return code;
}

// Runs `body` on the named table opened with the session's password for
// it, and closes the table whatever happened.
template <typename Body>
uint32_t WithTable(const std::string& name, EngineSession* session, Body body) {
  uint32_t table = 0;
  if (uint32_t code = OpenNamedTable(name, session, &table)) return Keep(session, code);
  uint32_t code = body(table);
  auto close = Engine<decltype(&KivCloseTable)>(kOrdinalCloseTable);
  const uint32_t closed = close != nullptr ? close(table) : kEngineUnbound;
  if (code == 0) code = closed;
  return Keep(session, code);
}

using TableOperation = KIVRESULT (*)(KIVHANDLE);

uint32_t RunOnTable(const std::string& name, EngineSession* session, uint16_t ordinal) {
  return WithTable(name, session, [&](uint32_t table) {
    auto operation = Engine<TableOperation>(ordinal);
    return operation != nullptr ? operation(table) : kEngineUnbound;
  });
}

// Every statement of the connection gives its engine statement the
// session's passwords again before its next preparation.
void ReapplyPasswords(StmtRecord* stmt, bool forget) {
  auto clear = Engine<decltype(&KivClearStatementPasswords)>(kOrdinalClearPasswords);
  for (StmtRecord* other = stmt->conn->firstStmt; other != nullptr; other = other->next) {
    if (other->request == nullptr) continue;
    if (forget && clear != nullptr) clear(other->request->statement);
    other->request->passwordsApplied = 0;
  }
}

uint32_t EnableEncryption(Tokens* tokens, const std::string& name, StmtRecord* stmt) {
  EngineSession* session = stmt->conn->session;
  std::string password;
  if (!tokens->Next(&password, true)) return Keep(session, KIV_ERR_PASSWORD_MISSING);
  // A name or password the session cannot keep is refused, never kept cut.
  if (name.size() >= sizeof(TablePassword::table) || password.size() >= sizeof(TablePassword::password))
    return kOutOfRange;
  EngineRequest* request = stmt->request;
  if (request != nullptr) {
    auto setPassword = Engine<decltype(&KivSetStatementPassword)>(kOrdinalSetPassword);
    if (setPassword == nullptr) return kEngineUnbound;
    if (uint32_t code = setPassword(request->statement, name.c_str(), password.c_str())) return Keep(session, code);
  }
  bool known = false;
  for (auto* entry = static_cast<TablePassword*>(session->tablePasswords); entry != nullptr; entry = entry->next)
    if (EqualsIgnoreCase(entry->table, name.c_str()) && password == entry->password) known = true;
  if (!known) {
    // The newest password of a table is the one it is opened with.
    RemoveTablePassword(session, name);
    if (uint32_t code = AddTablePassword(session, name.c_str(), password.c_str())) return Keep(session, code);
    ReapplyPasswords(stmt, false);
  }
  // The engine takes the key on a table handle.
  return WithTable(name, session, [&](uint32_t table) {
    auto enable = Engine<decltype(&KivEnableEncryption)>(kOrdinalEnableEncryption);
    return enable != nullptr ? enable(table, password.c_str()) : kEngineUnbound;
  });
}

uint32_t DisableEncryption(const std::string& name, StmtRecord* stmt) {
  EngineSession* session = stmt->conn->session;
  const uint32_t code = WithTable(name, session, [&](uint32_t table) {
    auto disable = Engine<decltype(&KivDisableEncryption)>(kOrdinalDisableEncryption);
    return disable != nullptr ? disable(table) : kEngineUnbound;
  });
  if (code != 0) return code;
  RemoveTablePassword(session, name);
  ReapplyPasswords(stmt, true);
  return 0;
}

}  // namespace

std::string TrimQuotesAndBlanks(const std::string& text) {
  auto trimmed = [](char c) { return IsLayout(c) || c == '\''; };
  size_t end = text.size();
  while (end > 0 && trimmed(text[end - 1])) --end;
  size_t start = 0;
  while (start < end && trimmed(text[start])) ++start;
  return text.substr(start, end - start);
}

uint32_t OpenNamedTable(const std::string& name, EngineSession* session, uint32_t* table) {
  *table = 0;
  auto current = Engine<decltype(&KivGetCurrentDatabase)>(kOrdinalCurrentDatabase);
  auto open = Engine<decltype(&KivOpenTable)>(kOrdinalOpenTable);
  if (current == nullptr || open == nullptr) return kEngineUnbound;
  char directory[kPathSize] = {};
  uint32_t length = sizeof directory;
  if (uint32_t code = current(directory, &length)) return code;
  const std::string folder = directory[0] != 0 ? std::string(directory) : std::string(session->connectPath);
  std::string path;
  if (uint32_t code = FreeTablePath(folder, name, session->tableExtension, &path)) return code;
  if (uint32_t code = open(session->engineConnection, path.c_str(), nullptr, static_cast<uint16_t>(session->tableType),
                           static_cast<uint16_t>(session->charSet), static_cast<uint16_t>(session->lockingMode),
                           kRightsUnchecked, kOpenOption, table))
    return code;
  if (uint32_t code = ApplySessionPassword(session, name, *table)) {
    if (auto close = Engine<decltype(&KivCloseTable)>(kOrdinalCloseTable)) close(*table);
    *table = 0;
    return code;
  }
  return 0;
}

uint32_t ExecuteDriverStatement(const std::string& text, StmtRecord* stmt, bool* handled) {
  *handled = false;
  EngineSession* session = stmt->conn->session;
  if (session == nullptr) return 0;
  Tokens tokens(text);
  std::string word;
  if (!tokens.Next(&word, true)) return 0;
  if (SameWord(word, "use")) {
    *handled = true;
    const std::string name = TrimQuotesAndBlanks(tokens.UpToBracket());
    if (name.empty()) return Keep(session, KIV_ERR_EMPTY_ARGUMENT);
    if (name.size() > kMaxDriverArgument) return kOutOfRange;
    auto use = Engine<decltype(&KivSetCurrentDatabase)>(kOrdinalUseDatabase);
    if (use == nullptr) return kEngineUnbound;
    return Keep(session, use(name.c_str()));
  }
  if (!SameWord(word, "call")) return 0;
  std::string procedure;
  if (!tokens.Next(&procedure, false)) return 0;
  static const struct {
    const char* word;
    uint16_t ordinal;  // 0: the encryption words
  } kProcedures[] = {{"KivPack", kOrdinalPack},
                     {"KivZap", kOrdinalZap},
                     {"KivReindex", kOrdinalReindex},
                     {"KivEnableEncryption", 0},
                     {"KivDisableEncryption", 0},
                     {"KivEncryptTable", kOrdinalEncrypt},
                     {"KivDecryptTable", kOrdinalDecrypt}};
  // The word may carry its opening quote: "KivZap'name'" reads as the word.
  const std::string bare = procedure.substr(0, procedure.find('\''));
  for (const auto& entry : kProcedures) {
    if (!SameWord(bare, entry.word)) continue;
    *handled = true;
    std::string argument;
    if (uint32_t code = QuotedArgument(&tokens, &argument)) return Keep(session, code);
    if (entry.ordinal != 0) return RunOnTable(argument, session, entry.ordinal);
    if (SameWord(bare, "KivEnableEncryption")) return EnableEncryption(&tokens, argument, stmt);
    return DisableEncryption(argument, stmt);
  }
  return 0;
}

}  // namespace kivodbc
