#include <gtest/gtest.h>
TEST(Formatter, Placeholder) {}
