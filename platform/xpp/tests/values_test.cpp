// Values, arrays, blocks, operators and the text, number, date and binary
// functions.
#include <gtest/gtest.h>

#include "xpp/xpp.h"

using namespace xpp;

namespace {

// Turns runtime errors into a C++ exception the test can see.
struct ErrorCatcher {
    Block old;
    ErrorCatcher() {
        old = ErrorBlock(Block([](Args& a) -> Value { Break(a.Get(1)); }));
    }
    ~ErrorCatcher() { ErrorBlock(old); }
};

// Runs `fn`; answers the genCode of the runtime error it raised, 0 when none.
template <class F>
int64_t GenCodeOf(F fn) {
    ErrorCatcher catcher;
    int64_t code = 0;
    Sequence(fn, [&](const Value& v) {
        if (auto e = v.As<Error>()) code = e->genCode.Int();
    });
    return code;
}

TEST(Values, TypesAndReaders) {
    EXPECT_EQ(Value().Type(), 'U');
    EXPECT_EQ(Value("a\0b").Type(), 'C');
    EXPECT_EQ(Value(std::string("a\0b", 3)).Str().size(), 3u);
    EXPECT_EQ(Value(5).Type(), 'N');
    EXPECT_EQ(Value(Date::FromYMD(2024, 2, 29)).Type(), 'D');
    EXPECT_EQ(Value(true).Type(), 'L');
    EXPECT_EQ(Value(Array()).Type(), 'A');
    EXPECT_EQ(Value(Block([](Args&) { return Value(); })).Type(), 'B');
    EXPECT_EQ(Value(Error::New()).Type(), 'O');
    // a reader of another type answers the neutral value
    EXPECT_EQ(Value(5).Str(), "");
    EXPECT_EQ(Value("x").Int(), 0);
    EXPECT_TRUE(Value(3).Dat().IsEmpty());
}

// Every kind of value copied, moved, assigned over every other kind and
// swapped through assignments comes out as it went in: its type, its
// contents, a number's decimals, the very array or block.
TEST(Values, EveryKindKeepsItselfThroughCopiesMovesAndAssignments) {
    Array array{1, "two"};
    Block block([](Args&) { return Value(7); });
    const std::vector<Value> kinds = {Value(),
                                      Value(""),
                                      Value("text"),
                                      Value(-42),
                                      Value(Number::Double(12.5, 3)),
                                      Value(Date::FromYMD(2024, 2, 29)),
                                      Value(true),
                                      Value(false),
                                      Value(array),
                                      Value(block),
                                      Value(Error::New())};
    auto same = [](const Value& a, const Value& b) {
        if (a.Type() != b.Type()) return false;
        switch (a.Type()) {
            case 'C': return a.Str() == b.Str();
            case 'N': return a.Num().IsInteger() == b.Num().IsInteger() && a.Num().Decimals() == b.Num().Decimals() &&
                             a.Dbl() == b.Dbl();
            case 'D': return a.Dat() == b.Dat();
            case 'L': return a.Log() == b.Log();
            case 'A': case 'O': return a.Identity() == b.Identity();
            case 'B': return a.Blk().Same(b.Blk());
            default: return true;
        }
    };
    for (size_t i = 0; i < kinds.size(); ++i) {
        SCOPED_TRACE(i);
        Value copy = kinds[i];
        EXPECT_TRUE(same(copy, kinds[i]));
        Value moved = std::move(copy);
        EXPECT_TRUE(same(moved, kinds[i]));
        EXPECT_TRUE(copy.IsNil());  // NOLINT: what a move leaves is read on purpose
        for (const Value& other : kinds) {
            Value target = other;
            target = kinds[i];
            EXPECT_TRUE(same(target, kinds[i]));
            target = other;
            EXPECT_TRUE(same(target, other));
            Value from = kinds[i];
            target = std::move(from);
            EXPECT_TRUE(same(target, kinds[i]));
        }
        Value self = kinds[i];
        Value& alias = self;
        self = alias;
        self = std::move(alias);
        EXPECT_TRUE(same(self, kinds[i]));
    }
    EXPECT_EQ(kinds[4].Num().Decimals(), 3);
    EXPECT_EQ(kinds[9].Blk()().Int(), 7);
    EXPECT_EQ(kinds[8].Arr().Len(), 2u);
}

TEST(Values, DatesKeepAnEmptyDateApart) {
    Date empty;
    Date d = Date::FromYMD(2000, 2, 29);
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_FALSE(d.IsEmpty());
    EXPECT_LT(empty, d);
    EXPECT_EQ(d.Year(), 2000);
    EXPECT_EQ(d.Month(), 2);
    EXPECT_EQ(d.Day(), 29);
    EXPECT_TRUE(Date::FromYMD(1900, 2, 29).IsEmpty());
    EXPECT_TRUE(Date::FromYMD(2023, 13, 1).IsEmpty());
    EXPECT_EQ(Date::FromJulian(d.Julian() + 1), Date::FromYMD(2000, 3, 1));
}

TEST(Values, ArgumentListsKeepCountAndReferences) {
    Block b([](Args& a) -> Value {
        if (a.IsRef(2)) a.Put(2, Plus(a.Get(2), Value(1)));
        a.Put(5, "not passed");  // ignored
        return static_cast<int64_t>(a.PCount());
    });
    Ref cell(Value(41));
    EXPECT_EQ(b(Value(), cell).Int(), 2);  // a NIL passed counts
    EXPECT_EQ(cell.Get().Int(), 42);
    EXPECT_EQ(b().Int(), 0);
    Args args{1, "x"};
    EXPECT_TRUE(args.Get(3).IsNil());
    EXPECT_FALSE(args.Passed(3));
    EXPECT_FALSE(args.IsRef(1));
    // text passed by reference writes back too
    Ref text(Value("abc"));
    Block up([](Args& a) -> Value {
        a.Put(1, Upper(a.Get(1).Str()));
        return Value();
    });
    up(text);
    EXPECT_EQ(text.Get().Str(), "ABC");
}

TEST(Values, ArraysHaveReferenceSemantics) {
    Array a{1, "two", Array{3}};
    Value holder1 = a, holder2 = a;
    holder1.Arr().Set(2, "changed");
    EXPECT_EQ(holder2.Arr().Get(2).Str(), "changed");
    EXPECT_TRUE(ExactEq(holder1, holder2));
    Array clone = AClone(a);
    clone.Set(1, 99);
    clone.Get(3).Arr().Set(1, 33);  // nested arrays are cloned as well
    EXPECT_EQ(a.Get(1).Int(), 1);
    EXPECT_EQ(a.Get(3).Arr().Get(1).Int(), 3);
    EXPECT_FALSE(ExactEq(Value(clone), Value(a)));
    a.Clear();
    EXPECT_EQ(holder2.Arr().Len(), 0u);
}

TEST(Values, ArrayFunctions) {
    Array a{1, 2, 3, 4};
    ADel(a, 2);
    EXPECT_EQ(Var2Char(a), "{1, 3, 4, NIL}");
    AIns(a, 1);
    EXPECT_EQ(Var2Char(a), "{NIL, 1, 3, 4}");
    ASize(a, 2);
    EXPECT_EQ(AAdd(a, "x").Str(), "x");
    EXPECT_EQ(Var2Char(a), "{NIL, 1, x}");
    AFill(a, 7, 2);
    EXPECT_EQ(Var2Char(a), "{NIL, 7, 7}");
    Array m = MakeArray(2, 3);
    EXPECT_EQ(Var2Char(m), "{{NIL, NIL, NIL}, {NIL, NIL, NIL}}");
    EXPECT_FALSE(m.Get(1).Arr().Same(m.Get(2).Arr()));

    Array names{"CUSTOMER", "CUST", "ORDERS"};
    EXPECT_EQ(AScan(names, Value("CUST")), 2u);  // exact, whatever EXACT says
    EXPECT_EQ(AScan(names, Value("ORD")), 0u);
    EXPECT_EQ(AScan(names, Value(1)), 0u);  // another type never matches
    EXPECT_EQ(AScan(names, Block([](Args& x) { return Value(Left(x.Get(1).Str(), 2) == "OR"); })), 3u);
    EXPECT_EQ(AScan(names, Value("CUSTOMER"), 2), 0u);
    Array inner;
    Array outer{Array(), inner};
    EXPECT_EQ(AScan(outer, Value(inner)), 2u);  // arrays by identity
    // by identity within the range asked, never by equal contents
    Array twin{1};
    Array same{1};
    Array holder{twin, 7, same, "x", same};
    struct IdentityCase {
        Value sought;
        size_t start, count, found;
    };
    const IdentityCase identityCases[] = {
        {same, 1, 5, 3}, {same, 4, 5, 5}, {same, 4, 1, 0}, {twin, 2, 5, 0}, {Array{1}, 1, 5, 0}, {same, 9, 5, 0},
    };
    for (const IdentityCase& c : identityCases)
        EXPECT_EQ(AScan(holder, c.sought, c.start, c.count), c.found) << c.start << "/" << c.count;

    // a snapshot into room of the caller's replaces what it held and keeps
    // no tie to the array
    std::vector<Value> room{Value("old"), Value(1), Value(2), Value(3)};
    names.ItemsInto(room);
    names.Set(1, "CHANGED");
    ASSERT_EQ(room.size(), 3u);
    EXPECT_EQ(room[0].Str(), "CUSTOMER");
    EXPECT_EQ(room[2].Str(), "ORDERS");

    Array sum;
    AEval(Array{1, 2, 3}, Block([&](Args& x) {
              sum.Add(Times(x.Get(1), x.Get(2)));
              return Value();
          }),
          2);
    EXPECT_EQ(Var2Char(sum), "{4, 9}");
    Array files{"a", "b", "c"};
    AEval(files, Block([](Args& x) {
              x.Put(1, x.Get(1).Str() + ".lnk");
              return Value();
          }),
          1, SIZE_MAX, true);
    EXPECT_EQ(Var2Char(files), "{a.lnk, b.lnk, c.lnk}");
}

TEST(Values, ASortOrdersAndSurvivesAnInconsistentBlock) {
    Array a{3, 1, 2};
    ASort(a);
    EXPECT_EQ(Var2Char(a), "{1, 2, 3}");
    Array d{"b", "a", "c"};
    ASort(d, 1, SIZE_MAX, Block([](Args& x) { return Value(Gt(x.Get(1), x.Get(2))); }));
    EXPECT_EQ(Var2Char(d), "{c, b, a}");
    // a block that is no order at all: every element is still there, once
    Array many;
    for (int i = 0; i < 500; ++i) many.Add(i);
    int calls = 0;
    ASort(many, 1, SIZE_MAX, Block([&](Args&) { return Value(++calls % 3 == 0); }));
    ASSERT_EQ(many.Len(), 500u);
    std::vector<bool> seen(500);
    for (const Value& v : many.Items()) seen[static_cast<size_t>(v.Int())] = true;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 500);
    // = under EXACT off says "AB" = "A", yet nothing is lost
    Array texts{"AB", "A", "ABC", "B"};
    ASort(texts, 1, SIZE_MAX, Block([](Args& x) { return Value(Le(x.Get(1), x.Get(2))); }));
    EXPECT_EQ(texts.Len(), 4u);
    // an error raised in the block propagates and leaves the array alone
    Array mixed{1, "x", 2};
    EXPECT_EQ(GenCodeOf([&] { ASort(mixed, 1, SIZE_MAX, Block([](Args& x) { return Value(Lt(x.Get(1), x.Get(2))); })); }),
              EG_ARG);
    EXPECT_EQ(Var2Char(mixed), "{1, x, 2}");
}

TEST(Values, OperatorsFollowExact) {
    struct Case {
        Value a, b;
        bool exactOff, exactOn, exactEq;
    } cases[] = {
        {"CUSTOMER", "CUST", true, false, false},
        {"CUST", "CUSTOMER", false, false, false},
        {"abc", "", true, false, false},
        {"abc  ", "abc", true, true, false},
        {"abc", "abc", true, true, true},
        {1, 1.0, true, true, true},
        {Value(), Value(), true, true, true},
        {Value(), 0, false, false, false},
    };
    for (const auto& c : cases) {
        Set(SET_EXACT, false);
        EXPECT_EQ(Eq(c.a, c.b), c.exactOff) << Var2Char(c.a) << " = " << Var2Char(c.b);
        EXPECT_EQ(Ne(c.a, c.b), !c.exactOff);
        Set(SET_EXACT, true);
        EXPECT_EQ(Eq(c.a, c.b), c.exactOn) << Var2Char(c.a) << " = " << Var2Char(c.b) << " (EXACT)";
        EXPECT_EQ(ExactEq(c.a, c.b), c.exactEq);
    }
    Set(SET_EXACT, false);
    EXPECT_TRUE(Lt(1, 2));
    EXPECT_TRUE(Ge("b", "a"));
    EXPECT_TRUE(Lt(Date(), Date::FromYMD(2000, 1, 1)));
    EXPECT_TRUE(Lt(false, true));
    EXPECT_TRUE(Gt(Value(static_cast<int64_t>(9007199254740993)), Value(9007199254740992.0)));
    EXPECT_EQ(GenCodeOf([] { Lt(1, "1"); }), EG_ARG);
    EXPECT_EQ(GenCodeOf([] { Eq(Date(), 0); }), EG_ARG);
    EXPECT_EQ(GenCodeOf([] { Lt(Value(), Value()); }), EG_ARG);
    EXPECT_TRUE(Contains("ell", "hello"));
}

TEST(Values, Arithmetic) {
    Value big = static_cast<int64_t>(9007199254740993);
    EXPECT_EQ(Plus(big, 1).Int(), 9007199254740994);
    EXPECT_TRUE(Plus(big, 1).Num().IsInteger());
    EXPECT_EQ(Str(Plus(Val("1.25"), Val("2.5"))), "         3.75");
    EXPECT_EQ(Plus("ab", "cd").Str(), "abcd");
    EXPECT_EQ(Minus("ab  ", "cd").Str(), "abcd  ");
    EXPECT_EQ(Plus(Date::FromYMD(2024, 2, 28), 2).Dat(), Date::FromYMD(2024, 3, 1));
    EXPECT_EQ(Minus(Date::FromYMD(2024, 3, 1), Date::FromYMD(2024, 2, 28)).Int(), 2);
    EXPECT_EQ(Divide(10, 2).Int(), 5);
    EXPECT_DOUBLE_EQ(Divide(10, 4).Dbl(), 2.5);
    EXPECT_EQ(Times(Value(static_cast<int64_t>(1) << 40), 1024).Int(), static_cast<int64_t>(1) << 50);
    EXPECT_FALSE(Times(Value(INT64_MAX), 2).Num().IsInteger());  // overflows into a double
    EXPECT_EQ(GenCodeOf([] { Divide(1, 0); }), EG_ZERODIV);
    EXPECT_EQ(GenCodeOf([] { Plus(1, "a"); }), EG_ARG);
}

TEST(Functions, NumbersTable) {
    struct Case {
        std::string got, want;
    } cases[] = {
        {Str(12), "        12"},
        {Str(-3), "        -3"},
        {Str(Val("12.50 ")), "        12.50"},
        {Str(12345678901LL), "12345678901"},
        {Str(Val("9007199254740993")), "9007199254740993"},
        {Str(3.14159, 8, 2), "    3.14"},
        {Str(2.675, 5, 2), " 2.68"},
        {Str(-2.5, 3), " -3"},
        {Str(12345, 3), "***"},
        {Str(7, 5, 1), "  7.0"},
        {LTrim(Str(Round(Val("7.9"), 0))), "8"},
        {Str(Int(Val("7.9"))), "         7"},
        {Str(Int(Val("-7.9"))), "        -7"},
        {Str(Abs(-4)), "         4"},
        {Str(Max(3, 9)), "         9"},
        {Str(Min(3, 9)), "         3"},
        {Str(Round(1250, -2)), "      1300"},
        {Var2Char(Val("  -12")), "-12"},
        {Var2Char(Val("abc")), "0"},
        {Var2Char(Val("1.5e3")), "1.5"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
    Value v = Val("12.50 ");
    EXPECT_EQ(v.Num().Decimals(), 2);
    EXPECT_DOUBLE_EQ(v.Dbl(), 12.5);
    Value big = Val("9007199254740993");
    EXPECT_TRUE(big.Num().IsInteger());
    EXPECT_EQ(big.Int(), 9007199254740993);
    EXPECT_EQ(Val("-9223372036854775808").Int(), INT64_MIN);
    EXPECT_FALSE(Val("99999999999999999999").Num().IsInteger());
}

// Numbers of up to 18 digits keep them through VAL, ROUND, STR and
// VAR2CHAR; doubles round as they are written.
TEST(Functions, NumbersKeepTheirDigits) {
    struct Case {
        Value n;
        const char* text;     // LTRIM(STR(n)), and VAR2CHAR(n)
        int dec;              // places to round to
        const char* rounded;  // LTRIM(STR(ROUND(n, dec))), and LTRIM(STR(n, 30, dec))
    } cases[] = {
        // halves at 0 places
        {0.5, "0.5", 0, "1"},
        {1.5, "1.5", 0, "2"},
        {2.5, "2.5", 0, "3"},
        {-0.5, "-0.5", 0, "-1"},
        {-2.5, "-2.5", 0, "-3"},
        {Val("2.5"), "2.5", 0, "3"},
        {Val("-0.5"), "-0.5", 0, "-1"},
        // halves at 2 places, as written
        {2.675, "2.675", 2, "2.68"},
        {1.005, "1.005", 2, "1.01"},
        {-1.005, "-1.005", 2, "-1.01"},
        {0.285, "0.285", 2, "0.29"},
        {0.125, "0.125", 2, "0.13"},
        {Val("2.675"), "2.675", 2, "2.68"},
        {Val("1.005"), "1.005", 2, "1.01"},
        {Val("-1.005"), "-1.005", 2, "-1.01"},
        {Val("0.285"), "0.285", 2, "0.29"},
        {Val("0.125"), "0.125", 2, "0.13"},
        // 15 digits
        {300000000000000.0, "300000000000000", 0, "300000000000000"},
        {Val("300000000000000"), "300000000000000", 0, "300000000000000"},
        {999999999999999.0, "999999999999999", 0, "999999999999999"},
        {Val("999999999999999"), "999999999999999", 0, "999999999999999"},
        {2999999999999.99, "2999999999999.99", 2, "2999999999999.99"},
        {Val("2999999999999.99"), "2999999999999.99", 2, "2999999999999.99"},
        {Val("2999999999999.99"), "2999999999999.99", 1, "3000000000000.0"},
        {9999999999999.99, "9999999999999.99", 2, "9999999999999.99"},
        {Val("9999999999999.99"), "9999999999999.99", 2, "9999999999999.99"},
        {-9999999999999.99, "-9999999999999.99", 2, "-9999999999999.99"},
        {Val("-9999999999999.99"), "-9999999999999.99", 2, "-9999999999999.99"},
        {Val("-9999999999999.98"), "-9999999999999.98", 1, "-10000000000000.0"},
        // 16 digits
        {299999999999999.5, "299999999999999.5", 0, "300000000000000"},
        {Val("299999999999999.5"), "299999999999999.5", 0, "300000000000000"},
        {Val("299999999999999.5"), "299999999999999.5", 1, "299999999999999.5"},
        {1234567890123.456, "1234567890123.456", 2, "1234567890123.46"},
        {Val("1234567890123.456"), "1234567890123.456", 2, "1234567890123.46"},
        {9007199254740992.0, "9007199254740992", 0, "9007199254740992"},
        {Val("9007199254740992"), "9007199254740992", 0, "9007199254740992"},
        {99999999.99999999, "99999999.99999999", 8, "99999999.99999999"},
        {Val("99999999.99999999"), "99999999.99999999", 8, "99999999.99999999"},
        {Val("99999999.99999999"), "99999999.99999999", 7, "100000000.0000000"},
        {Divide(900719925474099, 10), "90071992547409.9", 1, "90071992547409.9"},
        // 17 digits
        {12345678901234.567, "12345678901234.566", 2, "12345678901234.57"},  // the double holds ...566
        {Val("12345678901234.567"), "12345678901234.567", 2, "12345678901234.57"},
        {Val("9007199254740993"), "9007199254740993", 0, "9007199254740993"},
        {Val("99999999999.999999"), "99999999999.999999", 6, "99999999999.999999"},
        {Val("99999999999.999999"), "99999999999.999999", 5, "100000000000.00000"},
        // 18 digits
        {Val("9999999999.99999999"), "9999999999.99999999", 8, "9999999999.99999999"},
        {Val("9999999999.99999998"), "9999999999.99999998", 8, "9999999999.99999998"},
        {Val("-9999999999.99999998"), "-9999999999.99999998", 4, "-10000000000.0000"},
        {Val("999999999999999999"), "999999999999999999", 0, "999999999999999999"},
        {Val("0.000000000000000001"), "0.000000000000000001", 17, "0.00000000000000000"},
        // 20 digits: the digits of the nearest double
        {Val("12345678901234567890"), "12345678901234567168", 0, "12345678901234567168"},
        {Val("1234567890123456789.5"), "1234567890123456768.0", 0, "1234567890123456768"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(LTrim(Str(c.n)), c.text);
        EXPECT_EQ(Var2Char(c.n), c.text);
        EXPECT_TRUE(Eq(Val(c.text), c.n));
        Value rounded = Round(c.n, c.dec);
        EXPECT_EQ(LTrim(Str(rounded)), c.rounded);
        EXPECT_EQ(LTrim(Str(c.n, 30, c.dec)), c.rounded);
        // rounding again, and STR of the rounded value, change no digit
        EXPECT_EQ(LTrim(Str(Round(rounded, c.dec))), c.rounded);
        EXPECT_EQ(LTrim(Str(rounded, 30, c.dec)), c.rounded);
        EXPECT_TRUE(ExactEq(Round(rounded, c.dec), rounded));
        // the binary form keeps the number
        Value back = Bin2Var(Var2Bin(c.n));
        EXPECT_TRUE(ExactEq(back, c.n));
        EXPECT_EQ(Var2Char(back), c.text);
        EXPECT_EQ(back.Num().IsExact(), c.n.Num().IsExact());
    }
    EXPECT_EQ(Str(Val("9999999999999.99"), 18, 2), "  9999999999999.99");
    EXPECT_EQ(Str(Val("9999999999999.99")), "9999999999999.99");
    EXPECT_EQ(Str(Val("1.50")), "         1.50");
    EXPECT_EQ(Str(Val("12345.6"), 4, 1), "****");

    // texts of up to 18 digits are held exactly
    EXPECT_TRUE(Val("9999999999.99999999").Num().IsExact());
    EXPECT_FALSE(Val("9999999999.99999999").Num().IsInteger());
    EXPECT_EQ(Val("9999999999.99999999").Num().Decimals(), 8);
    EXPECT_FALSE(Val("12345678901234567890").Num().IsExact());
    EXPECT_TRUE(Ne(Val("9999999999.99999999"), Val("9999999999.99999998")));
    EXPECT_TRUE(Lt(Val("9999999999.99999998"), Val("9999999999.99999999")));
    EXPECT_TRUE(Gt(Val("9999999999.99999999"), Val("9999999999.9999999")));
    EXPECT_TRUE(Eq(Val("5.00"), 5));
    EXPECT_TRUE(ExactEq(Val("1.50"), Val("1.5")));
    EXPECT_TRUE(Lt(Val("9007199254740992.5"), Value(static_cast<int64_t>(9007199254740993))));
    // beside a double, the exact number is its nearest double
    EXPECT_TRUE(Eq(Val("9999999999999.99"), 9999999999999.99));
    EXPECT_TRUE(Eq(Val("9999999999.99999999"), 10000000000.0));
    EXPECT_DOUBLE_EQ(Val("9999999999999.99").Dbl(), 9999999999999.99);
    EXPECT_EQ(Val("-9999999999999.99").Dbl(), -9999999999999.99);
    EXPECT_EQ(Val("99999999999.999999").Dbl(), 99999999999.999999);
    EXPECT_EQ(Int(Val("9999999999.99999999")).Int(), 9999999999);
    EXPECT_TRUE(Int(Val("-7.9")).Num().IsInteger());
    EXPECT_EQ(Int(Val("-7.9")).Int(), -7);
    EXPECT_EQ(Round(Val("2.5"), 0).Int(), 3);
    EXPECT_TRUE(Round(Val("2.5"), 0).Num().IsInteger());
    EXPECT_EQ(Round(Val("1234.5"), -2).Int(), 1200);
    EXPECT_EQ(Round(Val("-1250.5"), -2).Int(), -1300);
    EXPECT_EQ(Round(Val("0.5"), -1).Int(), 0);
    EXPECT_TRUE(Empty(Val("0.00")));
    EXPECT_FALSE(Empty(Val("0.000000000000000001")));
    EXPECT_EQ(LTrim(Str(Abs(Val("-9999999999.99999999")))), "9999999999.99999999");
    // arithmetic gives a double
    EXPECT_EQ(LTrim(Str(Plus(Val("0.10"), Val("0.20")))), "0.30");
    // rounding a double twice moves nothing
    EXPECT_EQ(LTrim(Str(Round(Round(9999999999999.99, 2), 2))), "9999999999999.99");
    EXPECT_EQ(Round(9007199254740992.0, 0).Int(), 9007199254740992);
    EXPECT_EQ(Round(300000000000000.0, 0).Int(), 300000000000000);
    EXPECT_EQ(Round(1250.5, -2).Int(), 1300);
    EXPECT_EQ(Round(-1249.5, -1).Int(), -1250);
    EXPECT_EQ(Round(0.05, -1).Int(), 0);
    EXPECT_EQ(LTrim(Str(Round(-0.004, 2))), "0.00");
    EXPECT_EQ(Str(-0.004, 5, 2), " 0.00");
    EXPECT_EQ(Str(0.005, 5, 2), " 0.01");
}

TEST(Functions, TextTable) {
    struct Case {
        std::string got, want;
    } cases[] = {
        {LTrim("  a b "), "a b "},
        {Trim("  a b  "), "  a b"},
        {RTrim("x  "), "x"},
        {AllTrim(" \t x  "), "x"},
        {Upper("abc\xe9"), "ABC\xc9"},
        {Lower("ABC"), "abc"},
        {Left("abcdef", 2), "ab"},
        {Left("ab", 10), "ab"},
        {Right("abcdef", 2), "ef"},
        {SubStr("abcdef", 2, 3), "bcd"},
        {SubStr("abcdef", -2), "ef"},
        {SubStr("abcdef", 9), ""},
        {StrTran("a-b-c", "-", "+"), "a+b+c"},
        {StrTran("a-b-c", "-"), "abc"},
        {StrTran("a-b-c-d", "-", "+", 2, 1), "a-b+c-d"},
        {Space(3), "   "},
        {PadR("ab", 4), "ab  "},
        {PadR("abcdef", 3), "abc"},
        {Replicate("ab", 3), "ababab"},
        {Chr(65) + Chr(0) + Chr(256 + 66), std::string("A\0B", 3)},
        {ValType(Value()), "U"},
        {ConvToAnsiCP("\x81"), "\xfc"},  // u umlaut from code page 850
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
    EXPECT_EQ(At("b", "abcb"), 2u);
    EXPECT_EQ(At("b", "abcb", 3), 4u);
    EXPECT_EQ(At("", "abc"), 0u);
    EXPECT_EQ(RAt("b", "abcb"), 4u);
    EXPECT_EQ(Len(Value(std::string("a\0b", 3))), 3u);
    EXPECT_EQ(Len(Value(Array{1, 2})), 2u);
    EXPECT_TRUE(Empty(Value("  \r\n")));
    EXPECT_TRUE(Empty(Value(0)));
    EXPECT_TRUE(Empty(Value(Date())));
    EXPECT_TRUE(Empty(Value(Array())));
    EXPECT_FALSE(Empty(Value(" x")));
    EXPECT_FALSE(Empty(Value(true)));
}

TEST(Functions, DatesByFormat) {
    Date d = Date::FromYMD(2024, 3, 7);
    EXPECT_EQ(DToS(d), "20240307");
    EXPECT_EQ(DToS(Date()), "        ");
    EXPECT_EQ(SToD("20240307"), d);
    EXPECT_TRUE(SToD("20240231").IsEmpty());
    EXPECT_TRUE(SToD("2024-3-7").IsEmpty());
    EXPECT_EQ(Year(d), 2024);
    EXPECT_EQ(Month(d), 3);
    EXPECT_EQ(Day(d), 7);
    struct Case {
        const char* format;
        const char* text;
    } cases[] = {{"mm/dd/yyyy", "03/07/2024"}, {"dd.mm.yyyy", "07.03.2024"}, {"yyyy-mm-dd", "2024-03-07"}};
    Value old = Set(SET_DATEFORMAT);
    for (const auto& c : cases) {
        Set(SET_DATEFORMAT, c.format);
        EXPECT_EQ(DToC(d), c.text);
        EXPECT_EQ(CToD(c.text), d);
        EXPECT_EQ(DToC(Date()).find_first_of("0123456789"), std::string::npos);
        EXPECT_TRUE(CToD("xx").IsEmpty());
    }
    Set(SET_DATEFORMAT, "dd.mm.yy");
    EXPECT_EQ(CToD("07.03.24"), d);
    EXPECT_EQ(DToC(Date()), "  .  .  ");
    Set(SET_DATEFORMAT, old);
}

TEST(Functions, TextForms) {
    Value nested = Array{1, "abc", Array{Val("2.50"), true, Value()}, Date::FromYMD(2024, 1, 2)};
    EXPECT_EQ(Var2Char(nested), "{1, abc, {2.50, .T., NIL}, 01/02/2024}");
    EXPECT_EQ(Var2Char(Value(Error::New())), "Error");
}

TEST(Functions, BinaryForms) {
    EXPECT_EQ(L2Bin(0x01020304), std::string("\x04\x03\x02\x01", 4));
    EXPECT_EQ(L2Bin(-1), std::string("\xff\xff\xff\xff", 4));
    EXPECT_EQ(I2Bin(-2), std::string("\xfe\xff", 2));
    EXPECT_EQ(W2Bin(65535), std::string("\xff\xff", 2));
    EXPECT_EQ(Bin2U(std::string("\xff\xff\xff\xff", 4)), 4294967295LL);
    EXPECT_EQ(Bin2L(std::string("\xff\xff\xff\xff", 4)), -1);
    EXPECT_EQ(Bin2W(std::string("\xff\xff", 2)), 65535);
    EXPECT_EQ(Bin2I(std::string("\xff\xff", 2)), -1);
    EXPECT_EQ(Bin2L("\x01"), 1);  // short input reads as zero-filled
    EXPECT_DOUBLE_EQ(Bin2F(F2Bin(-12.75)), -12.75);
    EXPECT_EQ(BAnd(0x1234, 0xFF), 0x34);

    Value all = Array{Value(), std::string("a\0b", 3), static_cast<int64_t>(9007199254740993),
                      Val("12.50"), Date::FromYMD(1999, 12, 31), Date(), true, false, Array{Array{1}}};
    Value back = Bin2Var(Var2Bin(all));
    ASSERT_TRUE(back.IsArray());
    EXPECT_EQ(Var2Char(back), Var2Char(all));
    std::vector<Value> a = all.Arr().Items(), b = back.Arr().Items();
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].Type(), b[i].Type());
        if (!a[i].IsArray()) {
            EXPECT_TRUE(ExactEq(a[i], b[i])) << i;
        }
    }
    EXPECT_EQ(b[3].Num().Decimals(), 2);
    EXPECT_TRUE(b[2].Num().IsInteger());
    for (const Value& one : a) EXPECT_EQ(Var2Char(Bin2Var(Var2Bin(one))), Var2Char(one));
    // damaged forms answer NIL without reading past the end
    std::string bin = Var2Bin(all);
    for (size_t cut = 0; cut < bin.size(); ++cut) EXPECT_TRUE(Bin2Var(bin.substr(0, cut)).IsNil());
    EXPECT_TRUE(Bin2Var("garbage").IsNil());
    EXPECT_EQ(GenCodeOf([] { Var2Bin(Block([](Args&) { return Value(); })); }), EG_ARG);
}

}  // namespace
