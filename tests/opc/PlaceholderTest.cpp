#include <gtest/gtest.h>
TEST(Opc, Placeholder) { SUCCEED(); }
