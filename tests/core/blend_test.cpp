#include "core/dib.h"
#include "core/random.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(BlendTables, HoldTheirDefinedValues) {
    const size_t live = KML_LiveBlockCount();
    ASSERT_EQ(InitBlendTables(), 0);
    EXPECT_EQ(KML_LiveBlockCount(), live + 1) << "the multiply table lives in one block";
    const BlendTables& t = GetBlendTables();
    ASSERT_NE(t.multiply, nullptr);
    // a x b / 255 rounded (the table rounds a remainder of 127 up).
    for (int a = 0; a < 256; a += 5)
        for (int b = 0; b < 256; b += 7) {
            const int n = a * b;
            const int expected = static_cast<int>(std::lround(n / 255.0)) + (n % 255 == 127 ? 1 : 0);
            ASSERT_EQ(t.multiply[n], expected) << a << " x " << b;
        }
    EXPECT_EQ(t.multiply[65025], 255);

    KervSrand(1);
    for (int i = 0; i < 128 * 128; ++i) ASSERT_EQ(t.noise[i], KervRand() % 254) << i;
    EXPECT_EQ(t.noise[0], 41);

    EXPECT_EQ(t.sqrtTable[0], 0);
    EXPECT_EQ(t.sqrtTable[64], 127);
    EXPECT_EQ(t.sqrtTable[255], 255);

    EXPECT_EQ(t.division[255 * 256 + 254], 65536u);      // 255 / 255
    EXPECT_EQ(t.division[1 * 256 + 2], (65536u + 1) / 3);  // 1 / 3
    EXPECT_EQ(t.division[7 * 256 + 255], 0u);

    FreeBlendTables();
    EXPECT_EQ(GetBlendTables().multiply, nullptr);
    EXPECT_EQ(KML_LiveBlockCount(), live);
}

TEST(BlendTables, AllocationFailureReportsOutOfMemory) {
    brellix::test::LeakCheck leaks;
    KML_FailNthAllocation(1);
    EXPECT_EQ(InitBlendTables(), KERV_NO_MEMORY);
    KML_FailNthAllocation(0);
    EXPECT_EQ(GetBlendTables().multiply, nullptr);
}

}  // namespace
