#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sql/parsetree.h"
#include "handles/records.h"
#include "sql/scanner.h"

namespace kivodbc {
namespace {

struct Scanned {
  uint32_t code = 0;
  std::string argument;
  std::vector<std::string> tokens;  // "kind:text"
};

Scanned ScanAll(const std::string& text) {
  Scanned out;
  char argument[kArgumentSize] = {};
  ScanPosition p{text.c_str(), text.size()};
  for (int guard = 0; guard < 100; ++guard) {
    char token[kTokenSize];
    int16_t kind = -1;
    ScanPosition next{};
    out.code = ScanToken(argument, p, token, &kind, &next);
    if (out.code != 0) break;
    if (kind == kTokenEnd) break;
    out.tokens.push_back(std::to_string(kind) + ":" + token);
    p = next;
  }
  out.argument = argument;
  return out;
}

struct TokenCase {
  std::string text;
  std::vector<std::string> tokens;
};

TEST(Scanner, SplitsTextsIntoTokens) {
  const std::string longEscape = "--(*vendor(Microsoft),product(ODBC) fn ucase('a') *)--";
  const std::vector<TokenCase> cases = {
      {"[Order Details]", {"4:Order Details"}},
      {"\"Order Details\"", {"4:Order Details"}},
      {"'It''s'", {"3:It's"}},
      {"a<>b", {"7:a", "1:<>", "7:b"}},
      {"a<=b>=c<d>e", {"7:a", "1:<=", "7:b", "1:>=", "7:c", "1:<", "7:d", "1:>", "7:e"}},
      {"1.5e-3x", {"2:1.5e-3", "7:x"}},
      {".5+t.c", {"2:.5", "1:+", "7:t", "1:.", "7:c"}},
      {"12. 3E+2", {"2:12.", "2:3E+2"}},
      {"select -- note\n x", {"7:select", "7:x"}},
      {"a // to the end\n b", {"7:a", "7:b"}},
      {"a /* inside\n */ b", {"7:a", "7:b"}},
      {"f(?,*){}; =/", {"7:f", "1:(", "1:?", "1:,", "1:*", "1:)", "1:{", "1:}", "1:;", "1:=", "1:/"}},
      {"a-b", {"7:a", "1:-", "7:b"}},
      {"caf\xE9s x", {"7:caf\xE9s", "7:x"}},
      {"", {}},
      {" \t\r\n", {}},
      {longEscape, {"1:--", "1:(", "1:*", "7:vendor", "1:(", "7:Microsoft", "1:)", "1:,", "7:product", "1:(",
                    "7:ODBC", "1:)", "7:fn", "7:ucase", "1:(", "3:a", "1:)", "1:*", "1:)"}},
      {"-- (*vendor(Microsoft),product(ODBC)", {}},  // not the opener: a comment
  };
  for (const TokenCase& c : cases) {
    const Scanned s = ScanAll(c.text);
    EXPECT_EQ(s.code, 0u) << c.text;
    EXPECT_EQ(s.tokens, c.tokens) << c.text;
  }
}

TEST(Scanner, ClassifiesReservedWords) {
  for (const char* word : {"FROM", "select", "Set", "sql"}) EXPECT_EQ(ClassifyWord(word), kTokenReserved) << word;
  for (const char* word : {"FROMX", "update", "t1"}) EXPECT_EQ(ClassifyWord(word), kTokenIdentifier) << word;
}

struct ErrorCase {
  std::string text;
  uint32_t code;
  std::string argument;
};

TEST(Scanner, ReportsMalformedTexts) {
  const std::string long1024(1024, 'x');
  const std::string long1025(1025, 'x');
  const std::vector<ErrorCase> cases = {
      {"select /* open comment", kUnexpectedEnd, "Cannot find matching */ for comment."},
      {"'open", kUnexpectedEnd, ""},
      {"\"open", kUnexpectedEnd, ""},
      {"[open", kUnexpectedEnd, ""},
      {"1.2.3", kMalformedNumber, "1.2"},
      {"1e5e6", kMalformedNumber, "1e5e"},
      {"1e5.2", kMalformedNumber, "1e5"},
      {"12E", kMalformedNumber, "12E"},
      {"'" + long1025 + "'", kTokenTooLarge, long1024},
      {"\"" + long1025 + "\"", kTokenTooLarge, long1024},
      {long1025, kTokenTooLarge, long1024},
      {std::string(1025, '7'), kTokenTooLarge, std::string(1024, '7')},
  };
  for (const ErrorCase& c : cases) {
    const Scanned s = ScanAll(c.text);
    EXPECT_EQ(s.code, c.code) << c.text.substr(0, 40);
    EXPECT_EQ(s.argument, c.argument) << c.text.substr(0, 40);
  }
  // The limits themselves are fine.
  EXPECT_EQ(ScanAll("'" + long1024 + "'").code, 0u);
  EXPECT_EQ(ScanAll(long1024).code, 0u);
}

struct NumberCase {
  std::string text;
  double value;
  int16_t type;
  int16_t scale;
  std::string literal;
};

TEST(Scanner, ReadsNumberLiterals) {
  const std::vector<NumberCase> cases = {
      {"42", 42, SQL_INTEGER, 0, "42"},
      {"-42", -42, SQL_INTEGER, 0, "-42"},
      {"+7", 7, SQL_INTEGER, 0, "7"},
      {"3.25", 3.25, SQL_NUMERIC, 2, "3.25"},
      {"12.", 12, SQL_INTEGER, 0, "12."},
      {"1.5e2", 150, SQL_DOUBLE, 1, "1.5e2"},
      {"TRUE", 1, SQL_INTEGER, 0, ".T."},
      {"false", 0, SQL_INTEGER, 0, ".F."},
  };
  for (const NumberCase& c : cases) {
    char argument[kArgumentSize] = {};
    ScanPosition p{c.text.c_str(), c.text.size()};
    NumberLiteral n;
    ASSERT_EQ(ScanNumberLiteral(argument, &p, &n), 0u) << c.text;
    EXPECT_DOUBLE_EQ(n.value, c.value) << c.text;
    EXPECT_EQ(n.sqlType, c.type) << c.text;
    EXPECT_EQ(n.scale, c.scale) << c.text;
    EXPECT_EQ(n.text, c.literal) << c.text;
    EXPECT_EQ(p.remaining, 0u) << c.text;
  }
  char argument[kArgumentSize] = {};
  const std::string word = "abc";
  ScanPosition p{word.c_str(), word.size()};
  NumberLiteral n;
  EXPECT_EQ(ScanNumberLiteral(argument, &p, &n), kExpectedNotFound);
  EXPECT_STREQ(argument, "<number>");
  EXPECT_EQ(p.at, word.c_str());  // not advanced
}

TEST(ParseArena, ManySmallAndSomeLargeRequests) {
  ParseRoot* root = NewParseRoot(0);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(ParseArenaAlloc(root, -1), nullptr);
  std::vector<std::pair<unsigned char*, size_t>> blocks;
  for (int i = 0; i < 5000; ++i) {
    const size_t size = i % 97 == 0 ? 4080 + static_cast<size_t>(i) : static_cast<size_t>(i % 41 + 1);
    auto* p = static_cast<unsigned char*>(ParseArenaAlloc(root, static_cast<ptrdiff_t>(size)));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
    for (size_t k = 0; k < size; ++k) ASSERT_EQ(p[k], 0) << "arena memory comes zeroed";
    std::memset(p, i & 0xFF, size);
    blocks.emplace_back(p, size);
  }
  // Nothing overlapped: every request still holds its own byte.
  for (size_t i = 0; i < blocks.size(); ++i)
    for (size_t k = 0; k < blocks[i].second; ++k) ASSERT_EQ(blocks[i].first[k], i & 0xFF);
  // The size classes grow: the first block is 4080 bytes, then 8176.
  EXPECT_EQ(root->sizeClass, 8);
  ParseNode* node = NewParseNode(root, kNodeSelect);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->link, -1);
  EXPECT_EQ(node->flag, 1);
  EXPECT_NE(node->extension, nullptr);
  EXPECT_EQ(NewParseNode(root, kNodeColumnRef)->derivation, kDerivationImplicit);
  EXPECT_EQ(NewParseNode(root, kNodeParameter)->derivation, kDerivationCoercible);
  EXPECT_EQ(NewParseNode(root, kNodeLiteral)->derivation, kDerivationNone);
  EXPECT_EQ(root->nodeCount, 4);
  EXPECT_STREQ(ParseArenaStrdup(root, "abcdef", 3), "abc");
  FreeParseTree(nullptr, root);  // ASan reports any block left behind
}

}  // namespace
}  // namespace kivodbc
