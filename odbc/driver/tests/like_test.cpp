#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "sql/like.h"

namespace kivodbc {
namespace {

struct LikeCase {
  const char* value;
  const char* pattern;
  bool exact;
  bool match;
};

// Cases without escape characters in the pattern: every path must agree.
const LikeCase kCases[] = {
    {"anything", "%", false, true},
    {"", "%", false, true},
    {"", "", false, true},
    {"x", "", false, false},
    {"customer ", "CUST%", false, true},
    {"customer", "CUST%", true, false},
    {"Customer", "%ER", false, true},
    {"Customer", "%ER", true, false},
    {"Customers", "%tom%", false, true},
    {"Customers", "%tox%", false, false},
    {"Orders", "orders", false, true},
    {"Orders", "orders", true, false},
    {"Orders  ", "Orders", true, true},
    {"Orders", "Orders   ", true, true},
    {"Order", "Orders", false, false},
    {"ab", "a_", false, true},
    {"abc", "a_", false, false},
    {"abc", "_b_", false, true},
    {"abcabd", "%b%d", false, true},
    {"abcabc", "%b%d", false, false},
    {"a_b", "a%b", false, true},
    {"xx", "%%", false, true},
    {"\xE9t\xE9", "\xC9T\xC9", false, true},  // Latin-1 letters fold too
    {"\xE9t\xE9", "\xC9T\xC9", true, false},
};

TEST(LikeMatching, EveryPathGivesTheSameAnswers) {
  for (const LikeCase& c : kCases) {
    SCOPED_TRACE(std::string(c.value) + " LIKE " + c.pattern);
    EXPECT_EQ(MatchLikeValue(0, c.value, SQL_NTS, c.pattern, SQL_NTS, c.exact) != 0, c.match) << "quick path";
    EXPECT_EQ(MatchLikeValue('\\', c.value, SQL_NTS, c.pattern, SQL_NTS, c.exact) != 0, c.match) << "with escape";
    EXPECT_EQ(MatchLikePattern(0, c.value, SQL_NTS, c.pattern, SQL_NTS, c.exact) != 0, c.match) << "general";
  }
}

TEST(LikeMatching, EscapedWildcardsMatchThemselves) {
  const char* pattern = "A\\_B";
  EXPECT_TRUE(MatchLikeValue('\\', "A_B", SQL_NTS, pattern, SQL_NTS, false));
  EXPECT_FALSE(MatchLikeValue('\\', "AXB", SQL_NTS, pattern, SQL_NTS, false));
  EXPECT_TRUE(MatchLikePattern(1, "A_B", SQL_NTS, pattern, SQL_NTS, false));  // 1 stands for '\'
  EXPECT_TRUE(MatchLikeValue('\\', "100%", SQL_NTS, "100\\%", SQL_NTS, false));
  EXPECT_FALSE(MatchLikeValue('\\', "1000", SQL_NTS, "100\\%", SQL_NTS, false));
  // An escape at the very end is an ordinary character.
  EXPECT_TRUE(MatchLikeValue('\\', "a\\", SQL_NTS, "a\\", SQL_NTS, false));
  // Without an escape character the backslash is literal.
  EXPECT_FALSE(MatchLikeValue(0, "A_B", SQL_NTS, pattern, SQL_NTS, false));
}

TEST(LikeMatching, LengthsAreHonoured) {
  EXPECT_TRUE(MatchLikeValue(0, "ORDERSxyz", 6, "ord%", 4, false));
  EXPECT_FALSE(MatchLikeValue(0, "ORDERSxyz", 6, "%xyz", SQL_NTS, false));
  EXPECT_TRUE(MatchLikeValue(0, nullptr, 0, "%", SQL_NTS, false));
}

TEST(LikeMatching, ShapesOfPatterns) {
  const auto shape = ClassifyLikePattern("%ab%", 4);
  EXPECT_TRUE(shape.leadingPercent && shape.trailingPercent && !shape.complex);
  EXPECT_TRUE(ClassifyLikePattern("a%b", 3).complex);
  EXPECT_TRUE(ClassifyLikePattern("_ab", 3).complex);
  EXPECT_TRUE(ClassifyLikePattern("ab_", 3).complex);
  EXPECT_FALSE(ClassifyLikePattern("ab", 2).complex);
}

// Backtracking matchers take exponential time on this shape; ours must not.
TEST(LikeMatching, PathologicalPatternAgainstLongValueFinishes) {
  std::string pattern;
  for (int i = 0; i < 40; ++i) pattern += "%a";
  pattern += "%b";
  const std::string value(20000, 'a');
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(MatchLikeValue(0, value.c_str(), SQL_NTS, pattern.c_str(), SQL_NTS, false));
  EXPECT_FALSE(MatchLikeValue('\\', value.c_str(), SQL_NTS, pattern.c_str(), SQL_NTS, false));
  EXPECT_TRUE(MatchLikeValue(0, (value + "b").c_str(), SQL_NTS, pattern.c_str(), SQL_NTS, false));
  // Generous bound: a backtracking matcher would not finish in a lifetime.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

}  // namespace
}  // namespace kivodbc
