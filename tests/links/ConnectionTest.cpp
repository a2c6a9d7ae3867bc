#include <gtest/gtest.h>

namespace {

TEST(ConnectionTest, Placeholder)
{
}

} // namespace
