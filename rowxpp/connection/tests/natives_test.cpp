// The native memory functions: blocks, packed strings, strings read back.
#include <gtest/gtest.h>

#include <cstring>

#include "rowxpp/natives.h"

using namespace rowxpp;

namespace {

TEST(Natives, LoWordAnswersTheUnsignedLow16Bits) {
    struct Case {
        int64_t in;
        int64_t out;
    };
    for (Case c : {Case{0, 0}, Case{1, 1}, Case{100, 100}, Case{-1, 65535}, Case{-2, 65534},
                   Case{65536 + 99, 99}, Case{0x7FFFFFFFFFFFLL, 0xFFFF}}) {
        EXPECT_EQ(LoWord_(c.in), c.out) << c.in;
        EXPECT_EQ(LoWord_(xpp::Value(c.in)).Int(), c.out) << c.in;
    }
    EXPECT_EQ(LoWord_(xpp::Value(-1.7)).Int(), 65535);  // the integer part
}

TEST(Natives, PackedStringsLieBackToBackInOneBlock) {
    xpp::Value packed = PackStrings_(xpp::Array{"ab", "", "c"});
    ASSERT_TRUE(packed.IsArray());
    xpp::Array a = packed.Arr();
    ASSERT_EQ(a.Len(), 3u);
    int64_t b = a.Get(1).Int();
    EXPECT_NE(b, 0);
    EXPECT_EQ(a.Get(2).Int(), b + 2);
    EXPECT_EQ(a.Get(3).Int(), b + 2);
    EXPECT_EQ(Mem2Str_(b, 3).Str(), "abc");
    EXPECT_EQ(FreePacked_(packed).Int(), b);
}

TEST(Natives, BadInputGivesTheNeutralAnswer) {
    EXPECT_TRUE(PackStrings_(xpp::Array{"ab", 5, "c"}).IsNil());
    EXPECT_TRUE(PackStrings_(xpp::Value("ab")).IsNil());
    EXPECT_EQ(FreePacked_(xpp::Array()).Int(), 0);
    EXPECT_EQ(FreePacked_(xpp::Array{"x"}).Int(), 0);
    EXPECT_EQ(FreePacked_(xpp::Value()).Int(), 0);
    EXPECT_EQ(MemAlloc_(xpp::Value("10")).Int(), 0);
    EXPECT_EQ(MemRelease_(xpp::Value("10")).Int(), 0);
    EXPECT_TRUE(Mem2Str_(xpp::Value("abc")).IsNil());
    EXPECT_EQ(Mem2Str_(0).Str(), "");
}

TEST(Natives, AllocatedMemoryReadsBackByLengthOrToTheFirstZero) {
    int64_t address = MemAlloc_(8).Int();
    ASSERT_NE(address, 0);
    char* p = reinterpret_cast<char*>(static_cast<intptr_t>(address));
    std::memcpy(p, "ab\0cdefg", 8);
    EXPECT_EQ(Mem2Str_(address).Str(), "ab");
    EXPECT_EQ(Mem2Str_(address, 5).Str(), std::string("ab\0cd", 5));
    EXPECT_EQ(MemRelease_(address).Int(), address);
}

}  // namespace
