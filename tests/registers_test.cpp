// Instruction registers: pair setters and their counters, single-register
// access, wrap masks, stride sign extension and the assertion failures.
#include <gtest/gtest.h>

#include <cstdint>

#include "kmr_api.h"
#include "kmrsim.hpp"

namespace {

// Before the first kmrsim_init every wrap mask is 0, so a write stores 0.
// Taken during static initialisation, before any test has initialised.
const uint32_t kUninitialisedWrite = [] {
    KMR_SET(REG_VL, 1234);
    KMR_SET(20, 0xFFFFFFFFu);
    return _KMR_GET1(REG_VL) | _KMR_GET1(20);
}();

class Registers : public testing::Test {
protected:
    void SetUp() override
    {
        kmrsim_init(4, 64, 256, 6, 5, 4);
        get_the_kmrsim()->stats = kmrsim_stats_t{};
    }
    const kmrsim_stats_t &stats() { return get_the_kmrsim()->stats; }
};

using RegistersDeathTest = Registers;

}  // namespace

TEST(RegistersUninitialised, WritesStoreZero)
{
    EXPECT_EQ(kUninitialisedWrite, 0u);
}

TEST_F(Registers, VectorLengthIsSetAndCounted)
{
    KMR_SET_VL(1, 10, 10);
    EXPECT_EQ(_KMR_GET1(REG_VL), 10u);
    EXPECT_EQ(stats().set_vl_count, 1u);
    kmr_set_vl(0);  // a length of 0 is accepted
    EXPECT_EQ(_KMR_GET1(REG_VL), 0u);
    EXPECT_EQ(stats().set_vl_count, 2u);
    EXPECT_EQ(stats().set_2D_count, 0u);
}

TEST_F(Registers, PairSettersWriteTwoRegistersAndCountOnlySelector3)
{
    KMR_SET_VL(3, 4, 64);
    KMR_SET_VL(4, 64, 64);
    EXPECT_EQ(_KMR_GET1(REG_ROWS), 4u);
    EXPECT_EQ(_KMR_GET1(REG_ID2), 64u);
    EXPECT_EQ(_KMR_GET1(REG_IA2), 64u);
    EXPECT_EQ(_KMR_GET1(REG_IB2), 64u);
    EXPECT_EQ(stats().set_2D_count, 1u);

    KMR_SET_VL3D(3, 2, 256);
    KMR_SET_VL3D(4, 128, 512);
    EXPECT_EQ(_KMR_GET1(REG_MATS), 2u);
    EXPECT_EQ(_KMR_GET1(REG_ID3), 256u);
    EXPECT_EQ(_KMR_GET1(REG_IA3), 128u);
    EXPECT_EQ(_KMR_GET1(REG_IB3), 512u);
    EXPECT_EQ(stats().set_3D_count, 1u);
    EXPECT_EQ(stats().set_2D_count, 1u);
    EXPECT_EQ(stats().set_vl_count, 0u);
    // Selector 3 masks both values with their own register's mask.
    KMR_SET_VL(3, 0x30000, 0x12345);
    EXPECT_EQ(_KMR_GET1(REG_ROWS), 0x10000u);
    EXPECT_EQ(_KMR_GET1(REG_ID2), 0x2345u);
}

TEST_F(Registers, WritesWrapAtTheRegisterMask)
{
    KMR_SET(REG_ID2, static_cast<uint32_t>(-4));
    EXPECT_EQ(_KMR_GET1(REG_ID2), 0xFFFCu);
    KMR_SET(REG_VL, 0x20000);
    EXPECT_EQ(_KMR_GET1(REG_VL), 0u);
    KMR_SET(REG_VL, 0x1FFFF);
    EXPECT_EQ(_KMR_GET1(REG_VL), 0x1FFFFu);
    KMR_SET(20, 0x12345678);
    EXPECT_EQ(_KMR_GET1(20), 0x12345678u);
    KMR_SET(31, 0xFFFFFFFFu);
    EXPECT_EQ(_KMR_GET1(31), 0xFFFFFFFFu);
}

TEST_F(Registers, StridesSignExtendFromTheMaskWidth)
{
    const uint32_t m = get_the_kmrsim()->reg_mask[REG_ID2];
    EXPECT_EQ(kmrsim::sign_extend_stride(0xFFFC, m), -4);
    EXPECT_EQ(kmrsim::sign_extend_stride(0x8000, m), -32768);
    EXPECT_EQ(kmrsim::sign_extend_stride(0x7FFF, m), 32767);
    EXPECT_EQ(kmrsim::sign_extend_stride(0, m), 0);
    // The count mask is one bit wider; an unwrapped register is not extended.
    EXPECT_EQ(kmrsim::sign_extend_stride(0x10000, 0x1FFFF), -65536);
    EXPECT_EQ(kmrsim::sign_extend_stride(0x80000000u, 0xFFFFFFFFu), INT32_MIN);
    EXPECT_EQ(kmrsim::sign_extend_stride(0x7FFFFFFF, 0xFFFFFFFFu), INT32_MAX);
}

TEST_F(RegistersDeathTest, BadRegisterNumbers)
{
    const char *report = "void kmr_assert_tqm_reg_range\\(uint32_t\\): Assertion `reg < 32' failed";
    EXPECT_DEATH(KMR_SET(32, 1), report);
    EXPECT_DEATH(_KMR_GET1(32), report);
    EXPECT_DEATH(kmr_assert_tqm_reg_range(0xFFFFFFFFu), report);
    kmr_assert_tqm_reg_range(31);
}

TEST_F(RegistersDeathTest, BadVectorLengthSettings)
{
    EXPECT_DEATH(KMR_SET_VL(1, 5, 6), "void KMR_SET_VL\\(uint32_t, uint32_t, uint32_t\\): "
                                      "Assertion `new_vl1 == new_vl2' failed");
    EXPECT_DEATH(KMR_SET_VL(2, 1, 1), "void KMR_SET_VL\\(uint32_t, uint32_t, uint32_t\\): Assertion `0' failed");
    EXPECT_DEATH(KMR_SET_VL(0, 1, 1), "Assertion `0' failed");
    EXPECT_DEATH(KMR_SET_VL3D(1, 1, 1), "void KMR_SET_VL3D\\(uint32_t, uint32_t, uint32_t\\): Assertion `0' failed");
    // The failed setting leaves the register alone.
    EXPECT_EQ(_KMR_GET1(REG_VL), 0u);
}
