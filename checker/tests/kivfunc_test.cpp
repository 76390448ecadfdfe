// The structure check: a table file's fields against the dictionary's
// column catalogue for it, through the table and query components.
#include "checker/kivfunc.h"
#include "checker/kivquery.h"
#include "checker/kivtable.h"
#include "test_support.h"

using namespace checker;
using namespace checker::testing;
using namespace kivds;

namespace {

constexpr const char* kColumns =
    " select field_num, name, field_type, field_length, field_decimal  from system.columns  where parent=:parent  "
    "order by 1";

// One dictionary "app.kdd" with table T over "t.dbf" (ID N(6), NAME C(20),
// PRICE N(8,2), FLAG L) and the catalogue changes a case gives.
class CompareTest : public EngineFixture {
 protected:
  void Make(const std::string& catalogueChanges) {
    MakeTable("t.dbf", KIV_TABLE_CDX, "ID,N,6;NAME,C,20;PRICE,N,8,2;FLAG,L");
    const std::string kdd = dir.path() + "/app.kdd";
    KIV_ASSERT_OK(KivDDCreate(kdd.c_str(), ("table T t.dbf\n" + catalogueChanges).c_str()));
    SetDictionaryLogin(dd, kdd);
    table.SetKivConnection(&dd);
    table.SetTableName("T");
    table.Open();
    query.SetKivConnection(&dd);
    query.SQL().SetText(kColumns);
    query.ParamByName("parent")->SetAsString("T");
    query.Open();
  }
  void TearDown() override {
    query.Close();
    table.Close();
    dd.Disconnect();
    EngineFixture::TearDown();
  }

  TKivConnection dd{nullptr};
  TKivTable table{nullptr};
  TKivQuery query{nullptr};
};

struct CompareCase {
  const char* what;
  const char* changes;   // lines of the dictionary description
  const char* expected;  // the difference text
};

const CompareCase kCases[] = {
    {"a catalogue read from the file agrees", "", ""},
    {"names differing in case agree", "column T 2 name 4 20 0\n", ""},
    {"an equal character type with another length", "column T 2 NAME 4 25 0\n",
     "   NAME : [Field Length different]"},
    {"numeric decimals", "column T 3 PRICE 2 8 3\n", "   PRICE : [Field Decimals different]"},
    {"a logical row is never compared for length or decimals", "column T 4 FLAG 1 9 9\n", ""},
    {"the catalogue's type decides the checks", "column T 2 NAME 2 20 1\n",
     "   NAME : [Field Type different] [Field Decimals different]"},
    {"a renamed field", "column T 2 TITLE 4 20 0\n", "   NAME : [Field Name different]"},
    {"every faulty field has its line", "column T 1 ID 2 7 0\ncolumn T 2 NAME 4 25 0\n",
     "   ID : [Field Length different]\r\n   NAME : [Field Length different]"},
    {"a catalogue column the file lacks, at the end", "column T 5 NOTE 4 30 0\n",
     "   NOTE : [Field missing in table]"},
    {"a catalogue column the file lacks, at the start", "column T 0 CODE 4 5 0\n",
     "   CODE : [Field missing in table]"},
    {"a field the catalogue lacks, at the end", "drop-column T FLAG\n", "   FLAG : [Field not in dictionary]"},
    {"a field the catalogue lacks, in the middle", "drop-column T NAME\n",
     "   NAME : [Field not in dictionary]"},
};

void PrintTo(const CompareCase& c, std::ostream* out) { *out << c.what; }

class CompareCases : public CompareTest, public ::testing::WithParamInterface<CompareCase> {};

TEST_P(CompareCases, GivesTheDifferenceText) {
  Make(GetParam().changes);
  std::string text = "left over";
  const bool same = CompareTableWithDictionary(table, query, text);
  EXPECT_EQ(text, GetParam().expected);
  EXPECT_EQ(same, text.empty());
}

INSTANTIATE_TEST_SUITE_P(Catalogues, CompareCases, ::testing::ValuesIn(kCases));

TEST_F(CompareTest, AFieldWithoutALengthCountsAsZeroAndOtherFailuresRaise) {
  Make("column T 1 ID 2 0 0\ncolumn T 2 NAME 4 0 0\ncolumn T 3 PRICE 2 0 2\n");
  KivTestFailCall("KivGetFieldLength", KIV_ERR_NO_CURRENT_RECORD, "no value", 0);
  std::string text;
  EXPECT_TRUE(CompareTableWithDictionary(table, query, text)) << text;
  KivTestClearFaults();
  EXPECT_EQ(FieldLengthOf(table, "NAME"), 20u);
  EXPECT_EQ(FieldDecimalsOf(table, "PRICE"), 2u);

  KivTestFailCall("KivGetFieldType", KIV_ERR_FIELD_NOT_FOUND, "type unreadable", 1);
  EXPECT_NE(MessageOf([&] { CompareTableWithDictionary(table, query, text); }).find("type unreadable"),
            std::string::npos);
  KivTestFailCall("KivGetFieldDecimals", KIV_ERR_FIELD_NOT_FOUND, "decimals unreadable", 1);
  EXPECT_NE(MessageOf([&] { FieldDecimalsOf(table, "PRICE"); }).find("decimals unreadable"), std::string::npos);
}

}  // namespace
