#include <gtest/gtest.h>

#include "kivds/classes.h"
#include "kivds/rtl.h"

using namespace kivds;

namespace {

TEST(FloatFormat, FixedRoundsToPrecisionThenDigits) {
  struct Case { double v; int precision, digits; const char* text; };
  const Case cases[] = {
      {123.456, 8, 2, "123.46"},   {-0.5, 4, 0, "-1"},       {0.125, 3, 2, "0.13"},
      {99999, 4, 0, "1.000E+005"}, {1234.5, 4, 2, "1235.00"}, {-0.001, 5, 2, "0.00"},
      {12.5, 17, 0, "13"},         {1e-7, 15, 3, "0.000"},    {5, 6, 0, "5"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FloatToStrF(c.v, TFloatFormat::ffFixed, c.precision, c.digits), c.text) << c.v;
  EXPECT_EQ(FloatToStr(0.1), "0.1");
  EXPECT_EQ(FloatToStr(1e20), "1E20");
}

TEST(FloatFormat, LocaleSeparatorInBothDirections) {
  TFormatSettings saved = FormatSettings();
  FormatSettings().DecimalSeparator = ',';
  EXPECT_EQ(FloatToStrF(2.5, TFloatFormat::ffFixed, 5, 2), "2,50");
  EXPECT_DOUBLE_EQ(StrToFloat(" 2,25 "), 2.25);
  EXPECT_EQ(BcdToStr(StrToBcd("-12,340")), "-12,34");
  FormatSettings() = saved;
  EXPECT_THROW(StrToFloat("2,25"), EConvertError);
  EXPECT_THROW(StrToFloat(""), EConvertError);
}

TEST(Integers, StrToIntChecksRangeAndJunk) {
  EXPECT_EQ(StrToInt(" -42 "), -42);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_THROW(StrToInt("2147483648"), EConvertError);
  EXPECT_THROW(StrToInt("12a"), EConvertError);
  EXPECT_EQ(StrToIntDef("x", 64), 64);
}

TEST(Dates, EncodeDecodeAndTextFollowTheFormat) {
  EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0);
  EXPECT_DOUBLE_EQ(EncodeDate(2000, 1, 1), 36526);
  EXPECT_DOUBLE_EQ(EncodeDate(1, 1, 1), -DateDelta + 1);
  EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
  int y, m, d;
  DecodeDate(EncodeDate(2024, 2, 29), y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20240229);

  EXPECT_EQ(DateToStr(EncodeDate(2024, 3, 7)), "03/07/2024");
  EXPECT_DOUBLE_EQ(StrToDate("3/7/2024"), EncodeDate(2024, 3, 7));
  EXPECT_DOUBLE_EQ(StrToDate("03/07/24"), EncodeDate(2024, 3, 7));
  EXPECT_DOUBLE_EQ(StrToTime("13:30"), 13.5 / 24);
  EXPECT_DOUBLE_EQ(StrToTime("1:30 PM"), 13.5 / 24);
  EXPECT_DOUBLE_EQ(StrToDateTime("01/01/2000 12:00:00"), 36526.5);
  EXPECT_EQ(DateTimeToStr(36526.5), "01/01/2000 12:00:00");
  EXPECT_THROW(StrToDate("13/01/2000"), EConvertError);

  TFormatSettings saved = FormatSettings();
  FormatSettings().ShortDateFormat = "dd.mm.yyyy";
  FormatSettings().DateSeparator = '.';
  EXPECT_DOUBLE_EQ(StrToDate("07.03.2024"), EncodeDate(2024, 3, 7));
  EXPECT_EQ(DateToStr(EncodeDate(2024, 3, 7)), "07.03.2024");
  FormatSettings() = saved;
}

TEST(Bcd, CurrencyConversionsRoundAndDetectOverflow) {
  EXPECT_EQ(BcdToCurrency(StrToBcd("12.34565")).scaled, 123457);
  EXPECT_EQ(BcdToCurrency(StrToBcd("-0.00005")).scaled, -1);
  EXPECT_EQ(BcdToStr(CurrencyToBcd(Currency::FromScaled(-123450))), "-12.345");
  EXPECT_EQ(BcdToStr(CurrencyToBcd(Currency::FromScaled(5))), "0.0005");
  EXPECT_THROW(BcdToCurrency(StrToBcd("1000000000000000")), EConvertError);
  EXPECT_EQ(BcdToStr(StrToBcd("  007.50")), "7.5");
  EXPECT_EQ(BcdToStr(StrToBcd("-0.000")), "0");
  EXPECT_THROW(StrToBcd("1.2.3"), EConvertError);
  EXPECT_THROW(StrToBcd("-"), EConvertError);
  EXPECT_LT(BcdCompare(StrToBcd("-2"), StrToBcd("1.5")), 0);
  EXPECT_GT(BcdCompare(StrToBcd("-1"), StrToBcd("-1.01")), 0);
  EXPECT_EQ(BcdCompare(StrToBcd("2.50"), StrToBcd("2.5")), 0);
  EXPECT_DOUBLE_EQ(BcdToDouble(DoubleToBcd(-1234.5678)), -1234.5678);
  EXPECT_EQ(Currency::FromDouble(1.23455).scaled, 12346);
}

TEST(Variants, ConversionsAndNull) {
  EXPECT_EQ(Variant(42).ToString(), "42");
  EXPECT_EQ(Variant("12").ToInt(), 12);
  EXPECT_TRUE(Variant("true").ToBool());
  EXPECT_EQ(Variant(2.5).ToCurrency().scaled, 25000);
  EXPECT_TRUE(Variant::Null().IsNull());
  EXPECT_EQ(Variant::Null().ToString(), "");
  EXPECT_THROW(Variant::Null().ToInt(), EConvertError);
  EXPECT_TRUE(Variant(1) == Variant(1.0));
  EXPECT_FALSE(Variant("1") == Variant(1));
  Variant arr = VarArrayOf({1, "x"});
  EXPECT_TRUE(arr.IsArray());
  EXPECT_EQ(arr.Items()[1].ToString(), "x");
}

TEST(StringList, SortedListIgnoresDuplicatesAndReportsChangesOnce) {
  TStringList list;
  int changes = 0;
  list.OnChange = [&](TStringList*) { ++changes; };
  list.SetSorted(true);
  list.SetDuplicates(TDuplicates::dupIgnore);
  list.BeginUpdate();
  for (const char* s : {"b.ntx", "A.ntx", "B.NTX", "c.ntx"}) list.Add(s);
  list.EndUpdate();
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(list.ToVector(), (std::vector<std::string>{"A.ntx", "b.ntx", "c.ntx"}));
  EXPECT_EQ(list.IndexOf("C.NTX"), 2);
  EXPECT_THROW(list.Insert(0, "x"), EStringListError);
  list.SetDuplicates(TDuplicates::dupError);
  EXPECT_THROW(list.Add("a.NTX"), EStringListError);
  list.Delete(0);
  EXPECT_EQ(changes, 2);
}

TEST(StringList, TextSplitsAnyLineBreakAndJoinsWithCrLf) {
  TStringList list;
  list.SetText("one\r\ntwo\nthree\rfour");
  EXPECT_EQ(list.Count(), 4);
  EXPECT_EQ(list.Text(), "one\r\ntwo\r\nthree\r\nfour\r\n");
  EXPECT_EQ(list.Join(" "), "one two three four");
}

TEST(ExtractStrings, KeepsEmptyPiecesAndSkipsLeadingWhiteSpace) {
  std::vector<std::string> out;
  EXPECT_EQ(ExtractStrings(";", "", "admin;;users; x", out), 4);
  EXPECT_EQ(out, (std::vector<std::string>{"admin", "", "users", " x"}));
  out.clear();
  EXPECT_EQ(ExtractStrings(";", " ", "a; b", out), 2);
  EXPECT_EQ(out[1], "b");
  out.clear();
  EXPECT_EQ(ExtractStrings(";", "", "", out), 0);
}

TEST(Components, OwnerFreesOwnedAndNamesAreUnique) {
  auto* owner = new TComponent(nullptr);
  auto* a = new TComponent(owner);
  a->SetName("cn");
  auto* b = new TComponent(owner);
  EXPECT_THROW(b->SetName("CN"), Exception);
  EXPECT_THROW(b->SetName("1x"), Exception);
  b->SetName("qu");
  EXPECT_EQ(owner->FindComponent("Qu"), b);
  delete b;
  EXPECT_EQ(owner->ComponentCount(), 1);
  owner->BeginLoading();
  EXPECT_TRUE(a->InState(csLoading));
  owner->EndLoading();
  EXPECT_FALSE(a->InState(csLoading));
  delete owner;  // frees a; the sanitizer build checks for leaks
}

TEST(ThreadList, RemoveThenPackDropsTheEntry) {
  TThreadList<int*> list;
  int x = 0, y = 0;
  list.Add(&x);
  list.Add(&y);
  list.Add(&x);
  EXPECT_EQ(list.Count(), 2u);
  list.Remove(&x);
  list.Pack();
  auto& items = list.LockList();
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0], &y);
  list.UnlockList();
}

}  // namespace
