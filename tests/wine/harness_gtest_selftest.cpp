// Checks the end-to-end harness's GoogleTest runner: one test always passes, the other fails
// only when KORVANE_SELFTEST_FAIL is set, so the runner can be seen to pass and to fail.
#include <cstdlib>

#include <gtest/gtest.h>

TEST(HarnessSelfTest, Passes)
{
    EXPECT_EQ(2 + 2, 4);
}

TEST(HarnessSelfTest, FailsOnRequest)
{
    EXPECT_EQ(std::getenv("KORVANE_SELFTEST_FAIL"), nullptr) << "KORVANE_SELFTEST_FAIL is set";
}
