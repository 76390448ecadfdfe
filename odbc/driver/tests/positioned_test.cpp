// SQLSetPos and scroll options through the driver manager.
#include <gtest/gtest.h>
