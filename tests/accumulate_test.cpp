// Accumulating instructions: the row sum in the 40-bit accumulator, its
// wrap and warning, saturation to the destination type with the flag, and
// which elements take part. Every case runs on both engine paths.
#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <cstdint>
#include <string>

#include "sim_fixture.hpp"

using namespace simtest;

namespace {

class Accumulate : public BothPaths {
protected:
    void SetUp() override
    {
        BothPaths::SetUp();
        a = reinterpret_cast<int32_t *>(sp(1024));
        b = reinterpret_cast<int32_t *>(sp(8192));
        d = sp(16384);
    }
    int32_t *a = nullptr;
    int32_t *b = nullptr;
    uint8_t *d = nullptr;

    // Destination elements 0..3 hold `fill` with flag 1 before the instruction.
    template <typename D>
    void prefill(D fill)
    {
        for (size_t i = 0; i < 4; ++i) {
            put<D>(d, i, fill);
            put_flag<D>(d, i, 1);
        }
    }
    template <typename D>
    void expect_rest_untouched(D fill)
    {
        for (size_t i = 1; i < 4; ++i) {
            EXPECT_EQ(get<D>(d, i), fill) << i;
            EXPECT_EQ(flag<D>(d, i), D(1)) << i;
        }
    }
};

const std::string overflow_warning = "Warning: 40bit accumulator has overflowed\n";

}  // namespace

TEST_P(Accumulate, EmptyRowStoresZeroWithFlagZero)
{
    prefill<int32_t>(99);
    set_vl(0);
    kmrsim_acc_1D_VVWWS(V_VVWWS, VADD, d, a, b);
    EXPECT_EQ(get<int32_t>(d), 0);
    EXPECT_EQ(flag<int32_t>(d), 0);
    expect_rest_untouched<int32_t>(99);
}

TEST_P(Accumulate, SumInRangeIsStoredWithFlagZero)
{
    prefill<int32_t>(55);
    a[0] = 3;
    a[1] = -5;
    a[2] = 4;
    set_vl(3);
    kmrsim_acc_1D_VVWWS(V_VVWWS, VMOV, d, a, nullptr);
    EXPECT_EQ(get<int32_t>(d), 2);
    EXPECT_EQ(flag<int32_t>(d), 0);
    expect_rest_untouched<int32_t>(55);

    // Only the vector length's elements count, whatever follows them.
    for (int i = 0; i < 12; ++i)
        a[i] = i < 10 ? i : 1 << 30;
    set_vl(10);
    kmrsim_acc_1D_VVWWS(V_VVWWS, VMOV, d, a, nullptr);
    EXPECT_EQ(get<int32_t>(d), 45);

    // The destination may be a source: the sum lands after the row is read.
    kmrsim_acc_1D_VVWWS(V_VVWWS, VMOV, a, a, nullptr);
    EXPECT_EQ(a[0], 45);
    EXPECT_EQ(a[1], 1);
}

TEST_P(Accumulate, SumBeyondTheWordSaturatesWithoutWarning)
{
    a[0] = 1500000000;
    a[1] = 1500000000;
    set_vl(2);
    std::string err = stderr_of([&] { kmrsim_acc_1D_VVWWS(V_VVWWS, VMOV, d, a, nullptr); });
    EXPECT_EQ(get<int32_t>(d), INT_MAX);
    EXPECT_EQ(flag<int32_t>(d), 1);
    EXPECT_EQ(err, "");

    a[0] = a[1] = -1500000000;
    err = stderr_of([&] { kmrsim_acc_1D_VVWWS(V_VVWWS, VMOV, d, a, nullptr); });
    EXPECT_EQ(get<int32_t>(d), INT_MIN);
    EXPECT_EQ(flag<int32_t>(d), 1);
    EXPECT_EQ(err, "");
}

// 512 x 2^30 = 2^39 does not fit in 40 signed bits: it wraps to -2^39, warns
// (whatever the warnings switch says), and saturates.
TEST_P(Accumulate, FortyBitOverflowWrapsAndWarns)
{
    set_vl(512);
    kmrsim_disable_warnings();
    std::string err = stderr_of([&] { kmrsim_acc_1D_SVWWS(V_SVWWS, VMOV, d, 1 << 30, nullptr); });
    kmrsim_enable_warnings();
    EXPECT_EQ(err, overflow_warning);
    EXPECT_EQ(get<int32_t>(d), INT_MIN);
    EXPECT_EQ(flag<int32_t>(d), 1);

    // One sum below the limit stays silent.
    set_vl(511);
    err = stderr_of([&] { kmrsim_acc_1D_SVWWS(V_SVWWS, VMOV, d, 1 << 30, nullptr); });
    EXPECT_EQ(err, "");
    EXPECT_EQ(get<int32_t>(d), INT_MAX);

    // The warning comes once per row.
    set_vl(512);
    set_2d(2, 4, 0, 0);
    err = stderr_of([&] { kmrsim_acc_2D_SVWWS(V_SVWWS, VMOV, d, 1 << 30, nullptr); });
    EXPECT_EQ(err, overflow_warning + overflow_warning);
}

TEST_P(Accumulate, UnsignedSumsSaturateToTheMaximum)
{
    uint32_t *u = reinterpret_cast<uint32_t *>(a);
    u[0] = 0xFFFFFFFFu;
    u[1] = 1;
    set_vl(2);
    kmrsim_acc_1D_VVWWU(V_VVWWU, VMOV, d, a, nullptr);
    EXPECT_EQ(get<uint32_t>(d), 0xFFFFFFFFu);
    EXPECT_EQ(flag<uint32_t>(d), 1u);

    u[0] = 5;
    u[1] = 6;
    kmrsim_acc_1D_VVWWU(V_VVWWU, VMOV, d, a, nullptr);
    EXPECT_EQ(get<uint32_t>(d), 11u);
    EXPECT_EQ(flag<uint32_t>(d), 0u);

    // 256 x 0xFFFFFFFF wraps to a negative 40-bit value, which saturates to
    // the maximum as well.
    set_vl(256);
    const std::string err = stderr_of([&] { kmrsim_acc_1D_SVWWU(V_SVWWU, VMOV, d, -1, nullptr); });
    EXPECT_EQ(err, overflow_warning);
    EXPECT_EQ(get<uint32_t>(d), 0xFFFFFFFFu);
    EXPECT_EQ(flag<uint32_t>(d), 1u);
}

TEST_P(Accumulate, NarrowDestinationsSaturateTheSum)
{
    prefill<int8_t>(9);
    a[0] = 100;
    a[1] = 100;
    set_vl(2);
    kmrsim_acc_1D_VVWBS(V_VVWBS, VMOV, d, a, nullptr);
    EXPECT_EQ(get<int8_t>(d), 127);
    EXPECT_EQ(flag<int8_t>(d), 1);
    expect_rest_untouched<int8_t>(9);

    a[1] = -30;
    kmrsim_acc_1D_VVWBS(V_VVWBS, VMOV, d, a, nullptr);
    EXPECT_EQ(get<int8_t>(d), 70);
    EXPECT_EQ(flag<int8_t>(d), 0);

    a[0] = a[1] = -100;
    kmrsim_acc_1D_VVWBS(V_VVWBS, VMOV, d, a, nullptr);
    EXPECT_EQ(get<int8_t>(d), -128);
    EXPECT_EQ(flag<int8_t>(d), 1);

    a[0] = a[1] = 20000;
    kmrsim_acc_1D_VVWHS(V_VVWHS, VMOV, d, a, nullptr);
    EXPECT_EQ(get<int16_t>(d), 32767);
    EXPECT_EQ(flag<int16_t>(d), 1);
}

// The element results are summed at the computation width, sign- or
// zero-extended, before any narrowing.
TEST_P(Accumulate, ResultsAreSummedAtTheComputationWidth)
{
    set_vl(16);
    kmrsim_acc_1D_SEWBS(V_SEWBS, VADD, d, 120, 0);  // 120 .. 127, then -128 .. -121
    EXPECT_EQ(get<int8_t>(d), -8);
    EXPECT_EQ(flag<int8_t>(d), 0);

    set_vl(3);
    kmrsim_acc_1D_SEWBU(V_SEWBU, VADD, d, 200, 0);  // 200 + 201 + 202
    EXPECT_EQ(get<uint8_t>(d), 255);
    EXPECT_EQ(flag<uint8_t>(d), 1);
}

TEST_P(Accumulate, ConditionalMoveSumsOnlyElementsWhoseConditionHolds)
{
    const int32_t av[5] = {1, 2, 4, 8, 16};
    const int32_t bv[5] = {0, 5, 0, 0, 3};
    for (int i = 0; i < 5; ++i) {
        a[i] = av[i];
        b[i] = bv[i];
    }
    set_vl(5);
    kmrsim_acc_1D_VVWWS(V_VVWWS, VCMV_Z, d, a, b);
    EXPECT_EQ(get<int32_t>(d), 13);
    EXPECT_EQ(flag<int32_t>(d), 0);
}

INSTANTIATE_TEST_SUITE_P(, Accumulate, testing::Bool(), path_name);

// Masked rows of 8- and 16-bit elements of every length up to the mask
// memory's, against sums computed here element by element: the engine sums
// narrow elements in 32-bit parts, and the result must be the exact sum,
// saturated to the destination.
TEST_P(Accumulate, MaskedNarrowSumsMatchSumsComputedElementByElement)
{
    std::mt19937 rng(7);
    int16_t *const h = reinterpret_cast<int16_t *>(sp(2048));
    int8_t *const c = reinterpret_cast<int8_t *>(sp(2048));
    int32_t *const mask_source = reinterpret_cast<int32_t *>(sp(24576));
    uint8_t *const zeros = sp(32768);
    std::memset(zeros, 0, 2048);
    for (int rep = 0; rep < 40; ++rep) {
        const int L = rep == 0 ? 1024 : 1 + int(rng() % 1024);
        const bool halves = rep % 2 == 0;
        int64_t sum = 0;
        for (int i = 0; i < L; ++i) {
            mask_source[i] = rng() % 3 == 0 ? 0 : 1;
            const int v = int(rng() % 61) - 30;
            if (halves)
                h[i] = static_cast<int16_t>(v * 30);
            else
                c[i] = static_cast<int8_t>(v / 10);
            if (mask_source[i] != 0)
                sum += halves ? v * 30 : v / 10;
        }
        set_vl(uint32_t(L));
        kmrsim_setup_mask(V_VVWWS, VCMV_NZ, mask_source);
        if (halves) {
            kmrsim_masked_acc_1D_VVHHS(V_VVHHS, VADD, d, h, zeros);
            EXPECT_EQ(get<int16_t>(d), static_cast<int16_t>(std::clamp<int64_t>(sum, INT16_MIN, INT16_MAX)))
                << "L " << L;
        } else {
            kmrsim_masked_acc_1D_VVBBS(V_VVBBS, VADD, d, c, zeros);
            EXPECT_EQ(get<int8_t>(d), static_cast<int8_t>(std::clamp<int64_t>(sum, INT8_MIN, INT8_MAX))) << "L " << L;
        }
    }
}
