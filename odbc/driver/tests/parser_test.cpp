#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "handles/messages.h"
#include "sql/parser.h"
#include "sql/parsetree.h"
#include "handles/records.h"
#include "sql/scanner.h"

namespace kivodbc {
namespace {

struct Parsed {
  uint32_t code = 0;
  std::string argument;
  std::string tree;
};

Parsed Parse(const std::string& text) {
  Parsed out;
  char argument[kArgumentSize] = {};
  ParseRoot* root = nullptr;
  out.code = ParseText(text.c_str(), text.size(), 0, argument, &root);
  out.argument = argument;
  if (root != nullptr) {
    out.tree = DumpParseTree(root->statement);
    FreeParseTree(nullptr, root);
  }
  return out;
}

struct TreeCase {
  std::string text;
  std::string tree;
};

TEST(Parser, TextsBecomeTrees) {
  const std::vector<TreeCase> cases = {
      {"SELECT * FROM \"0012ab40\"", "(select * (from (table 0012ab40)))"},
      {"SQL", "(sql)"},
      {"  sql  -- trailing note", "(sql)"},
      {"select a, b x, c AS y from t1, t2 z",
       "(select (col a) (col b) as x (col c) as y (from (table t1) (table t2 z)))"},
      {"select x.a, x.* from dbo.t1 as x", "(select (col x.a) (col x.*) (from (table dbo.t1 x)))"},
      {"select [Order Details].qty from [Order Details]",
       "(select (col Order Details.qty) (from (table Order Details)))"},
      {"select ?, ? from t", "(select (param 1) (param 2) (from (table t)))"},
      {"select a + 1 * -b from t", "(select (+ (col a) (* (lit 4 1) (- (col b)))) (from (table t)))"},
      {"select (a - 2) / 3.50 from t", "(select (/ (- (col a) (lit 4 2)) (lit 2 3.50)) (from (table t)))"},
      {"select -5, true, 'It''s' from t", "(select (lit 4 -5) (lit 4 .T.) (lit 12 It's) (from (table t)))"},
      {"select count(*), sum(distinct a), max(a) from t",
       "(select (COUNT *) (SUM distinct (col a)) (MAX (col a)) (from (table t)))"},
      {"select user, null from t", "(select (user) (null) (from (table t)))"},
      {"select ucase(a), s.f(), {fn lcase(b)} from t",
       "(select (fn ucase (col a)) (fn s.f) (fn lcase (col b)) (from (table t)))"},
      {"select --(*vendor(Microsoft),product(ODBC) fn ucase('a') *)-- from t",
       "(select (fn ucase (lit 12 a)) (from (table t)))"},
      {"select {d '1999-02-28'}, {t '10:11:12'}, {ts '1999-02-28 10:11:12'} from t",
       "(select (date 1999-02-28) (time 10:11:12) (timestamp 1999-02-28 10:11:12) (from (table t)))"},
      {"select 'a' collate KIV_DEFAULT_CI, 'b' COLLATE kiv_default_cs from t",
       "(select (lit 12 a collate 1) (lit 12 b collate 0) (from (table t)))"},
      {"select case when a = 1 and not b < 2 then 'x' end from t",
       "(select (case (when (and (= (col a) (lit 4 1)) (not (< (col b) (lit 4 2)))) (lit 12 x)) (else (null))) "
       "(from (table t)))"},
      {"select case a when 1 then 2 else 3 end from t",
       "(select (case (col a) (when (lit 4 1) (lit 4 2)) (else (lit 4 3))) (from (table t)))"},
      {"select iif(a > 1, b, c), iif(d, e) from t",
       "(select (fn iif (> (col a) (lit 4 1)) (col b) (col c)) (fn iif (col d) (col e)) (from (table t)))"},
      {"select cast(a as char(10)), cast(null as numeric(99999999999, 2)) from t",
       "(select (fn cast (col a) (const char)) (fn cast (null) (const numeric)) (from (table t)))"},
      {"select lastautoinc(statement), trim(leading 'x' from a), trim(a) from t",
       "(select (fn lastautoinc (const statement)) (fn trim (const leading) (lit 12 x) (col a)) "
       "(fn trim (col a)) (from (table t)))"},
      {"select position('a' in b), extract(year from c) from t",
       "(select (fn position (lit 12 a) (col b)) (fn extract (const year) (col c)) (from (table t)))"},
      {"select contains(a, 'x'), f() from t", "(select (search contains (col a) (lit 12 x)) (fn f) (from (table t)))"},
      {"select iif(exists (select * from u), 1, 0) from t",
       "(select (fn iif (exists (select * (from (table u))) ()) (lit 4 1) (lit 4 0)) (from (table t)))"},
      {"select iif(a = any (select b from u), 1, 0) from t",
       "(select (fn iif (= any (col a) (select (col b) (from (table u)))) (lit 4 1) (lit 4 0)) (from (table t)))"},
  };
  for (const TreeCase& c : cases) {
    const Parsed p = Parse(c.text);
    EXPECT_EQ(p.code, 0u) << c.text << ": " << p.argument;
    EXPECT_EQ(p.tree, c.tree) << c.text;
  }
}

struct ErrorCase {
  std::string text;
  uint32_t code;
  std::string argument;
};

TEST(Parser, RefusedTextsGiveCodesAndArguments) {
  const std::string fromText = " You are missing the keyword FROM after the column definitions in your SELECT statement.";
  const std::string tablesText =
      " There was a problem parsing the table names after the FROM keyword in your SELECT statement.";
  const std::vector<ErrorCase> cases = {
      {"UPDATE t SET a = 1", kExpectedNotFound,
       "Your statement must start with CREATE, DROP, SELECT, INSERT, UPDATE, ALTER, EXECUTE, DELETE, GRANT, REVOKE, "
       "BEGIN, COMMIT, ROLLBACK, SAVEPOINT, or SET"},
      {"", kExpectedNotFound,
       "Your statement must start with CREATE, DROP, SELECT, INSERT, UPDATE, ALTER, EXECUTE, DELETE, GRANT, REVOKE, "
       "BEGIN, COMMIT, ROLLBACK, SAVEPOINT, or SET"},
      {"SET x = 1", kExpectedNotFound,
       "CREATE, DROP, SELECT, INSERT, UPDATE, ALTER, EXECUTE, DELETE, GRANT, REVOKE, BEGIN, COMMIT, ROLLBACK, or SET"},
      {"SQL x", kUnexpectedToken, ""},
      {"SELECT * FROM t WHERE a = 1", kUnexpectedToken, ""},
      {"SELECT * t", kExpectedNotFound, "FROM" + fromText},
      {"SELECT a b c FROM t", kExpectedNotFound, "FROM" + fromText},
      {"SELECT * FROM", kExpectedNotFound, "<identifier>" + tablesText},
      {"SELECT * FROM select", kExpectedNotFound, "<identifier> but found: select" + tablesText},
      {"SELECT * FROM (t)", kInternalError, ""},
      {"SELECT * FROM {oj a LEFT OUTER JOIN b ON a.x = b.x}", kExpectedNotFound,
       "<LEFT [OUTER] | FULL [OUTER] | RIGHT [OUTER]> JOIN" + tablesText},
      {"SELECT * FROM {oj a LEFT JOIN b ON a.x = b.x", kExpectedNotFound,
       "<LEFT [OUTER] | FULL [OUTER] | RIGHT [OUTER]> JOIN missing }" + tablesText},
      {"SELECT a, FROM t", kExpectedNotFound,
       "<identifier> but found: FROM [Parsing Expression (column 2 in the SELECT clause)]"},
      {"SELECT a AS FROM t", kExpectedNotFound,
       "<identifier> but found: FROM [Parsing for Alias (column 1 in the SELECT clause)]"},
      {"SELECT (a FROM t", kExpectedNotFound,
       ") expected closing ')' in expression [Parsing Expression (column 1 in the SELECT clause)]"},
      {"SELECT \"f\"(a) FROM t", kUnexpectedToken,
       "Scalar function name should not be delimited. [Parsing Expression (column 1 in the SELECT clause)]"},
      {"SELECT count a FROM t", kExpectedNotFound,
       "( missing ( in aggregate function [Parsing Expression (column 1 in the SELECT clause)]"},
      {"SELECT case when a ? 1 end FROM t", kExpectedNotFound,
       "=, <>, <, <=, >, or >= Parsing for boolean search condition. [Parsing Expression (column 1 in the SELECT "
       "clause)]"},
      {"SELECT case when a then 1 end FROM t", kExpectedNotFound,
       "<keyword> Parsing for boolean search condition. [Parsing Expression (column 1 in the SELECT clause)]"},
      {"SELECT case a end FROM t", kExpectedNotFound,
       "WHEN | ELSE | END [Parsing Expression (column 1 in the SELECT clause)]"},
      {"SELECT lastautoinc(session) FROM t", kExpectedNotFound,
       "CONNECTION or STATEMENT [Parsing Expression (column 1 in the SELECT clause)]"},
      {"SELECT 'a' collate FROM t", kExpectedNotFound,
       " expecting language after COLLATE clause. [Parsing Expression (column 1 in the SELECT clause)]"},
      {"SELECT 'a' collate german FROM t", kExpectedNotFound,
       " unknown language found after COLLATE clause. [Parsing Expression (column 1 in the SELECT clause)]"},
      {"SELECT {d '1999-02-30'} FROM t", kMalformedEscape,
       "1999-02-30 [Parsing Expression (column 1 in the SELECT clause)]"},
      {"SELECT --(*vendor(Microsoft),product(ODBC) fn f() FROM t", kExpectedNotFound,
       "*)-- [Parsing Expression (column 1 in the SELECT clause)]"},
      {"SELECT 1.2.3 FROM t", kMalformedNumber, "1.2 [Parsing Expression (column 1 in the SELECT clause)]"},
      {"SELECT * FROM t /* open", kUnexpectedEnd, "Cannot find matching */ for comment." + tablesText},
  };
  // An argument list that does not parse is dropped; ")" must then follow.
  EXPECT_EQ(Parse("select f(,) from t").code, kExpectedNotFound);
  for (const ErrorCase& c : cases) {
    const Parsed p = Parse(c.text);
    EXPECT_EQ(p.code, c.code) << c.text;
    EXPECT_EQ(p.argument, c.argument) << c.text;
    EXPECT_EQ(p.tree, "") << c.text;
  }
}

TEST(Parser, LongStringLiteralsAreReadWhole) {
  const std::string value(3000, 'q');
  const Parsed p = Parse("select '" + value + "' from t");
  ASSERT_EQ(p.code, 0u) << p.argument;
  EXPECT_EQ(p.tree, "(select (lit 12 " + value + ") (from (table t)))");
  // A delimited name has no such escape hatch.
  EXPECT_EQ(Parse("select \"" + value + "\" from t").code, kTokenTooLarge);
}

TEST(Parser, ManyNodesSpanManyArenaBlocks) {
  std::string text = "select ";
  for (int i = 0; i < 2000; ++i) text += (i != 0 ? ", c" : "c") + std::to_string(i) + " + ?";
  text += " from t";
  char argument[kArgumentSize] = {};
  ParseRoot* root = nullptr;
  ASSERT_EQ(ParseText(text.c_str(), text.size(), 0, argument, &root), 0u) << argument;
  EXPECT_EQ(root->parameterCount, 2000);
  EXPECT_GT(root->nodeCount, 6000);
  FreeParseTree(nullptr, root);
}

}  // namespace
}  // namespace kivodbc
