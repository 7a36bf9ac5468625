#include <gtest/gtest.h>
TEST(Base, Placeholder) {}
