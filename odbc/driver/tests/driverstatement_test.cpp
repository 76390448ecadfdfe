// The text handling of the statements the driver runs itself.
#include <gtest/gtest.h>

#include <string>

#include "sql/driverstatement.h"

namespace kivodbc {
namespace {

TEST(TrimQuotesAndBlanks, RemovesLayoutAndQuotesAtBothEnds) {
  struct Case {
    const char* text;
    const char* trimmed;
  };
  const Case cases[] = {
      {"'items'", "items"},
      {"  ' my table '\t\r\n", "my table"},
      {"it's", "it's"},  // a quote inside stays
      {"''", ""},
      {"", ""},
      {"\v\f'a'", "a"},
      {"'a' 'b'", "a' 'b"},
  };
  for (const Case& c : cases) EXPECT_EQ(TrimQuotesAndBlanks(c.text), c.trimmed) << c.text;
}

}  // namespace
}  // namespace kivodbc
