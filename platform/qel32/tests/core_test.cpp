#include <gtest/gtest.h>

#include "qel32.h"

TEST(Smoke, Version) {
    uint32_t v = 0;
    EXPECT_EQ(KIV_OK, KivGetLibraryVersion(&v));
    EXPECT_EQ(KIV_LIBRARY_VERSION, v);
}
