// Filter texts, engine filters, FindFirst/FindNext, Locate and Lookup
// against the real engine.
#include <string>
#include <vector>

#include "checker/kivfilter.h"
#include "people_support.h"

namespace checker::testing {
namespace {

using namespace kivds;

TEST(FilterTextTest, TrailingWildcardsInLiteralsAreRemovedAndTurnExactMatchingOff) {
  struct Case {
    const char* text;
    const char* expected;
    uint16_t exact;
  };
  const Case cases[] = {
      {"name = 'SM*'", "name = 'SM'", 0},
      {"name = 'SM**'", "name = 'SM*'", 0},
      {"name = '***'", "name = '***'", 1},
      {"name = '*'", "name = '*'", 1},
      {"name = \"SM*\"", "name = \"SM\"", 0},
      {"name = 'S*M'", "name = 'S*M'", 1},
      {"name = 'A*' .OR. name = \"B*\"", "name = 'A' .OR. name = \"B\"", 0},
      {"name = \"it's*\"", "name = \"it's\"", 0},
      {"CONTAINS(notes, 'a*') .AND. name = 'B*'", "CONTAINS(notes, 'a*') .AND. name = 'B'", 0},
      {"contains (notes, ')*', [x*)]) .AND. age = 3", "contains (notes, ')*', [x*)]) .AND. age = 3", 1},
      {"CONTAINS(notes, 'a*'", "CONTAINS(notes, 'a'", 0},
      {"name = 'SM*", "name = 'SM*", 1},
      {"", "", 1},
  };
  for (const Case& c : cases) {
    uint16_t exact = 1;
    EXPECT_EQ(StripFilterWildcards(c.text, exact), c.expected) << c.text;
    EXPECT_EQ(exact, c.exact) << c.text;
  }
}

TEST(FilterTextTest, KeyFieldsMatchAnIndexOnlyFromItsFirstSegmentOn) {
  struct Case {
    const char* index;
    const char* keys;
    bool match;
    const char* last;
  };
  const Case cases[] = {
      {"NAME", "name", true, "NAME"},
      {"NAME;AGE", "NAME", true, "NAME"},
      {"NAME;AGE", "age;Name", true, "AGE"},
      {"NAME;AGE", "AGE", false, ""},
      {"NAME;AGE;CITY", "NAME;CITY", false, ""},
      {"NAME", "NAME;AGE", false, ""},
      {"NAMES", "NAME", false, ""},
      {"NAME", "", false, ""},
  };
  for (const Case& c : cases) {
    std::string last;
    EXPECT_EQ(MatchKeyFieldsToIndex(c.index, c.keys, last), c.match) << c.index << " / " << c.keys;
    if (c.match) {
      EXPECT_EQ(last, c.last);
    }
  }
}

class FilterTest : public PeopleFixture {
 protected:
  static std::string Current(TKivDataSet& ds) { return ds.FieldByName("NAME")->AsString(); }
  static uint16_t Exact(TKivDataSet& ds) {
    uint16_t exact = 9;
    KIV_EXPECT_OK(KivGetExact22(ds.BaseHandle(), &exact));
    return exact;
  }
  // No AOF and no filter on the engine table; with `exactBefore` given the
  // exact setting is that one.
  static void ExpectEngineUntouched(TKivDataSet& ds, int exactBefore = -1) {
    uint32_t length = 0;
    EXPECT_EQ(KivGetAOF(ds.BaseHandle(), nullptr, &length), KIV_ERR_NO_FILTER);
    length = 0;
    EXPECT_EQ(KivGetFilter(ds.BaseHandle(), nullptr, &length), KIV_ERR_NO_FILTER);
    if (exactBefore >= 0) {
      EXPECT_EQ(Exact(ds), exactBefore);
    }
  }
};

TEST_F(FilterTest, TheFilterGoesToTheEngineAsAnAOFOrAPlainFilter) {
  MakePeople("people", KIV_TABLE_KDT, {"Smith", "Ada", "Smythe", "Sm"});
  for (bool optimized : {true, false}) {
    TestTable ds(nullptr, conn, "people");
    ds.KivTableOptions().SetKivOptimizedFilters(optimized);
    ds.Open();
    ds.SetFilter("NAME = 'Sm*'");
    ds.SetFilteredValue(true);
    EXPECT_EQ(Names(ds), "Smith,Smythe,Sm") << optimized;
    uint32_t length = 0;
    EXPECT_EQ(optimized ? KivGetFilter(ds.BaseHandle(), nullptr, &length)
                        : KivGetAOF(ds.BaseHandle(), nullptr, &length),
              KIV_ERR_NO_FILTER);
    ds.SetFilter("NAME = 'Sm'");
    EXPECT_EQ(Names(ds), "Sm") << "without a wildcard the match is exact";
    ds.KivTableOptions().SetKivOptimizedFilters(!optimized);
    EXPECT_EQ(Names(ds), "Sm") << "the filter moves to the other kind";
    ds.SetFilteredValue(false);
    EXPECT_EQ(Names(ds), "Smith,Ada,Smythe,Sm");
  }
}

TEST_F(FilterTest, FindFirstAndFindNextUseATemporaryFilter) {
  MakePeople("people", KIV_TABLE_KDT, {"Ada", "Bea", "Al", "Cy"});
  TestTable ds(nullptr, conn, "people");
  ds.Open();
  ds.SetFilter("NAME = 'A*'");
  EXPECT_TRUE(ds.FindFirst());
  EXPECT_EQ(Current(ds), "Ada");
  EXPECT_TRUE(ds.FindNext());
  EXPECT_EQ(Current(ds), "Al");
  EXPECT_FALSE(ds.FindNext());
  EXPECT_EQ(Current(ds), "Al");
  EXPECT_TRUE(ds.FindLast());
  EXPECT_EQ(Current(ds), "Al");
  EXPECT_TRUE(ds.FindPrior());
  EXPECT_EQ(Current(ds), "Ada");
  ExpectEngineUntouched(ds);
  EXPECT_EQ(Names(ds), "Ada,Bea,Al,Cy");
  // The event decides on top of the filter; without it the scan refuses.
  ds.SetOnFilterRecordEvent([](TDataSet* d, bool& accept) { accept = d->FieldByName("AGE")->AsInteger() > 10; });
  EXPECT_TRUE(ds.FindFirst());
  EXPECT_EQ(Current(ds), "Al");
}

TEST_F(FilterTest, LocateSeeksOnACoveringIndexExceptCaseInsensitively) {
  MakeIndexedPeople({"Dee", "Ada", "Eve", "Bea", "Cy"});
  TestTable ds(nullptr, conn, "people");
  ds.Open();
  struct Case {
    const char* value;
    unsigned options;
    const char* found;  // nullptr: not found
    int seeks;
  };
  const Case cases[] = {
      {"Bea", 0, "Bea", 1},
      {"Be", 0, nullptr, 1},
      {"Be", loPartialKey, "Bea", 1},
      {"bea", 0, nullptr, 1},
      {"bea", loCaseInsensitive, "Bea", 0},
      {"e", loCaseInsensitive | loPartialKey, "Eve", 0},
      {"Zed", 0, nullptr, 1},
  };
  for (const Case& c : cases) {
    ds.First();
    ds.Next();  // Ada in natural order
    const uint16_t exact = Exact(ds);
    CallRecorder calls;
    const bool found = ds.Locate("NAME", Variant(c.value), c.options);
    const std::vector<std::string> log = calls.Take();
    EXPECT_EQ(found, c.found != nullptr) << c.value << " " << c.options;
    EXPECT_EQ(Current(ds), c.found ? c.found : "Ada") << c.value << " " << c.options;
    EXPECT_EQ(CountOf(log, "KivSeek"), c.seeks) << c.value << " " << c.options;
    ExpectEngineUntouched(ds, exact);
  }
  EXPECT_EQ(Names(ds), "Dee,Ada,Eve,Bea,Cy") << "the natural order is kept";
}

TEST_F(FilterTest, LocateBuildsConditionsForEachKindOfValue) {
  MakeTable("items", KIV_TABLE_KDT, "NAME,C,20;BORN,D;OK,L;PRICE,N,8,2;NOTE,C,10", [](KIVHANDLE t) {
    struct Row {
      const char* name;
      const char* born;
      uint16_t ok;
      double price;
    };
    const Row rows[] = {{"plain", "2001-02-03", 1, 1.5}, {"say \"hi\"", "1999-12-31", 0, 20.25}};
    for (const Row& r : rows) {
      KIV_ASSERT_OK(KivAppendRecord(t));
      KIV_ASSERT_OK(KivSetString(t, "NAME", r.name, static_cast<uint32_t>(strlen(r.name))));
      KIV_ASSERT_OK(KivSetDateText(t, "BORN", r.born, 10));
      KIV_ASSERT_OK(KivSetLogical(t, "OK", r.ok));
      KIV_ASSERT_OK(KivSetDouble(t, "PRICE", r.price));
      KIV_ASSERT_OK(KivWriteRecord(t));
    }
  });
  TestTable ds(nullptr, conn, "items");
  ds.Open();
  struct Case {
    const char* fields;
    Variant values;
    const char* found;
  };
  const Case cases[] = {
      {"NAME", Variant("say \"hi\""), "say \"hi\""},
      {"PRICE", Variant(20.25), "say \"hi\""},
      {"OK", Variant(true), "plain"},
      {"OK;PRICE", VarArrayOf({Variant(false), Variant(20.25)}), "say \"hi\""},
      {"BORN", Variant::FromDate(EncodeDate(1999, 12, 31)), "say \"hi\""},
      {"NOTE;NAME", VarArrayOf({Variant::Null(), Variant("plain")}), "plain"},
      {"OK;PRICE", VarArrayOf({Variant(true), Variant(20.25)}), nullptr},
  };
  for (const Case& c : cases) {
    ds.First();
    const uint16_t exact = Exact(ds);
    EXPECT_EQ(ds.Locate(c.fields, c.values, 0), c.found != nullptr) << c.fields;
    EXPECT_EQ(Current(ds), c.found ? c.found : "plain") << c.fields;
    ExpectEngineUntouched(ds, exact);
  }
  EXPECT_EQ(ds.Lookup("PRICE", Variant(1.5), "NAME").ToString(), "plain");
  EXPECT_TRUE(ds.Lookup("PRICE", Variant(9.0), "NAME").IsNull());
}

TEST_F(FilterTest, AFailingLocateLeavesTheStartRecordAndTheEngineAsTheyWere) {
  MakePeople("people", KIV_TABLE_KDT, {"Ada", "Bea", "Cy"});
  TestTable ds(nullptr, conn, "people");
  ds.Open();
  ds.Next();
  KIV_ASSERT_OK(KivSetExact22(ds.BaseHandle(), 0));
  KIV_ASSERT_OK(KivSetFilter(ds.BaseHandle(), "AGE > 0"));
  KivTestFailCall("KivAtEOF", KIV_ERR_IO, "disk gone", 1);
  EXPECT_THROW(ds.Locate("NAME", Variant("Cy"), 0), EKIVDatabaseError);
  KivTestClearFaults();
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(Current(ds), "Bea");
  uint32_t length = 0;
  EXPECT_EQ(KivGetAOF(ds.BaseHandle(), nullptr, &length), KIV_ERR_NO_FILTER) << "the temporary AOF is gone";
  length = 0;
  EXPECT_EQ(KivGetFilter(ds.BaseHandle(), nullptr, &length), KIV_ERR_BUFFER_TOO_SMALL) << "the own filter stays";
  KIV_ASSERT_OK(KivClearFilter(ds.BaseHandle()));
  ds.Refresh();
  EXPECT_EQ(Current(ds), "Bea");
  ExpectEngineUntouched(ds, 0);
  // With both slots taken the search evaluates the expression per record.
  KIV_ASSERT_OK(KivSetFilter(ds.BaseHandle(), "AGE > 0"));
  KIV_ASSERT_OK(KivSetAOF(ds.BaseHandle(), "AGE < 100", 2));
  EXPECT_TRUE(ds.Locate("NAME", Variant("Cy"), 0));
  EXPECT_EQ(Current(ds), "Cy");
  EXPECT_FALSE(ds.Locate("NAME", Variant("Zed"), 0));
  EXPECT_EQ(Current(ds), "Cy");
}

}  // namespace
}  // namespace checker::testing
