#include <gtest/gtest.h>

#include "kivds/db.h"

using namespace kivds;

namespace {

std::vector<std::string> Names(const TParams& p) {
  std::vector<std::string> out;
  for (int i = 0; i < p.Count(); ++i) out.push_back(p[i]->Name());
  return out;
}

TEST(ParseSQL, MarkersAreFoundOutsideQuotes) {
  struct Case {
    const char* sql;
    std::vector<std::string> names;
    const char* parsed;
  };
  const Case cases[] = {
      {"select * from t where parent=:parent", {"parent"}, "select * from t where parent=?"},
      {"where a=:p1 and b=:Field_2 and c=:_x9", {"p1", "Field_2", "_x9"},
       "where a=? and b=? and c=?"},
      {"select '::' || ':x' || \":y\" from t where z=:z", {"z"},
       "select '::' || ':x' || \":y\" from t where z=?"},
      {"select a::int, b from t where c=:c", {"c"}, "select a:int, b from t where c=?"},
      {"where a=:name or b=:NAME or c=:other or d=:name", {"name", "other"},
       "where a=? or b=? or c=? or d=?"},
      {"select 'it''s :x' from t where :1=1", {"1"}, "select 'it''s :x' from t where ?=1"},
      {"where a = : b and c=:", {}, "where a = : b and c=:"},
  };
  for (const Case& c : cases) {
    TParams params;
    EXPECT_EQ(params.ParseSQL(c.sql, true), c.parsed) << c.sql;
    EXPECT_EQ(Names(params), c.names) << c.sql;
    for (int i = 0; i < params.Count(); ++i) {
      EXPECT_EQ(params[i]->DataType(), ftUnknown);
      EXPECT_EQ(params[i]->ParamType(), ptInput);
      EXPECT_TRUE(params[i]->IsNull());
    }
  }
}

TEST(ParseSQL, WithoutCreateOnlyRewritesTheText) {
  TParams params;
  params.CreateParam(ftString, "keep", ptInput);
  EXPECT_EQ(params.ParseSQL("x=:a and y=:keep", false), "x=? and y=?");
  EXPECT_EQ(Names(params), (std::vector<std::string>{"keep"}));
  EXPECT_EQ(params.ParseSQL("x=:a and y=:keep", true), "x=? and y=?");
  EXPECT_EQ(Names(params), (std::vector<std::string>{"keep", "a"}));
}

TEST(Params, TypedSettersBindAndAssignValuesMatchesByName) {
  TParams old;
  old.CreateParam(ftUnknown, "parent", ptInput)->SetAsString("CUSTOMER");
  old.CreateParam(ftUnknown, "gone", ptInput)->SetAsInteger(5);
  EXPECT_TRUE(old.ParamByName("PARENT")->Bound());
  EXPECT_EQ(old.ParamByName("parent")->DataType(), ftString);

  TParams fresh;
  fresh.ParseSQL("where parent=:Parent and n=:n", true);
  fresh.AssignValues(old);
  EXPECT_EQ(fresh.ParamByName("parent")->AsString(), "CUSTOMER");
  EXPECT_EQ(fresh.ParamByName("parent")->Name(), "Parent") << "the new name stays";
  EXPECT_TRUE(fresh.ParamByName("n")->IsNull());
  EXPECT_FALSE(fresh.ParamByName("n")->Bound());
  EXPECT_THROW(fresh.ParamByName("gone"), EDatabaseError);

  TParam* p = fresh.ParamByName("n");
  p->SetAsDateTime(EncodeDate(2000, 1, 1) + 0.5);
  EXPECT_EQ(p->DataType(), ftDateTime);
  EXPECT_DOUBLE_EQ(p->AsDateTime(), 36526.5);
  p->Clear();
  EXPECT_TRUE(p->IsNull());
  EXPECT_EQ(p->DataType(), ftDateTime);
  p->SetAsBlob(std::string("\0\1\2", 3));
  EXPECT_EQ(p->GetDataSize(), 3);
  char buf[3];
  p->GetData(buf);
  EXPECT_EQ(std::string(buf, 3), std::string("\0\1\2", 3));
}

TEST(ProviderHelpers, OrderByAndTableNameComeFromTheText) {
  auto def = GetIndexForOrderBy("select a, b from t where x=1 order by a, \"B c\" desc", nullptr);
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->Fields(), "a;B c");
  EXPECT_EQ(def->DescFields(), "B c");
  EXPECT_EQ(GetIndexForOrderBy("select a from t", nullptr), nullptr);

  EXPECT_EQ(GetTableNameFromSQL("select name from system.tables order by 1"), "system.tables");
  EXPECT_EQ(GetTableNameFromSQL("SELECT * FROM \"my table\" WHERE a=1"), "my table");
  EXPECT_EQ(GetTableNameFromSQL("select * from a, b"), "");
  EXPECT_EQ(GetTableNameFromSQL("select * from a join b on a.x=b.x"), "");
  EXPECT_EQ(GetTableNameFromSQL("update t set a=1"), "");
}

TEST(IndexDefs, IndexForFieldsMatchesLeadingFieldsAndCaseOption) {
  TIndexDefs defs;
  defs.Add("BYNAME", "LAST;FIRST", ixCaseInsensitive);
  defs.Add("PK", "ID", ixPrimary | ixUnique);
  defs.Add("BYNAME_CS", "last;first;id", 0);
  EXPECT_EQ(defs.GetIndexForFields("last", false)->Name(), "BYNAME_CS");
  EXPECT_EQ(defs.GetIndexForFields("Last; First", true)->Name(), "BYNAME");
  EXPECT_EQ(defs.GetIndexForFields("id", false)->Name(), "PK");
  EXPECT_EQ(defs.GetIndexForFields("first", false), nullptr);
  EXPECT_EQ(defs.GetIndexForFields("", false), nullptr);
  EXPECT_THROW(defs.Find("nope"), EDatabaseError);
}

}  // namespace
