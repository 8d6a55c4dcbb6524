// Strided traversal of 2D and 3D instructions: row addresses (positive and
// negative strides), scalars and the enumeration per row, row order and the
// first/last flags, rows leaving the scratchpad, and accumulating rows.
#include <cstdio>
#include <vector>

#include "sim_fixture.hpp"

using namespace simtest;

namespace {

class Traversal : public SimTest {};
class TraversalPaths : public BothPaths {};
class TraversalDeathTest : public SimTest {};

int32_t *words(size_t off)
{
    return reinterpret_cast<int32_t *>(sp(off));
}

// Calls of a recording custom instruction, one entry per lane group.
struct call {
    bool start;
    bool end;
    uintptr_t dest;
    int32_t a0;
};
std::vector<call> calls;

void record(kmrsim_custom_args *args)
{
    calls.push_back({args->start != 0, args->end != 0, reinterpret_cast<uintptr_t>(args->dest_addr_in),
                     static_cast<int32_t *>(args->a)[0]});
}

void announce(kmrsim_custom_args *)
{
    std::fprintf(stderr, "lane group computed\n");
}

}  // namespace

TEST_P(TraversalPaths, OneDimensionalIgnoresTheStrideRegisters)
{
    int32_t *a = words(1024), *b = words(2048), *d = words(3072);
    for (int i = 0; i < 8; ++i) {
        a[i] = i;
        b[i] = 10 * i;
    }
    set_vl(6);
    set_2d(3, 0x100, 0x200, 0x300);
    set_3d(2, 0x400, 0x500, 0x600);
    image expected = snapshot();
    for (int i = 0; i < 6; ++i)
        ref::store<int32_t>(expected.mem, int64_t(sp_offset(d + i)), 11 * i);
    kmrsim_1D_VVWWS(V_VVWWS, VADD, d, a, b);
    EXPECT_TRUE(snapshot() == expected) << first_difference(snapshot(), expected);
}

// Each row's operands start at operand + r * stride, with a stride of its own
// for the destination and each source.
TEST_P(TraversalPaths, RowsLieTheirOwnStrideApart)
{
    int32_t *a = words(1024), *b = words(2048), *d = words(3072);
    for (int i = 0; i < 32; ++i) {
        a[i] = 100 * i;
        b[i] = i;
        d[i] = -1;
    }
    set_vl(4);
    set_2d(3, 24, 32, 20);
    kmrsim_2D_VVWWS(V_VVWWS, VADD, d, a, b);
    for (int r = 0; r < 3; ++r) {
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(d[6 * r + i], a[8 * r + i] + b[5 * r + i]) << "row " << r << " element " << i;
        EXPECT_EQ(d[6 * r + 4], -1);
        EXPECT_EQ(d[6 * r + 5], -1);
    }
}

// A destination row stride written as 0xFFF0 on a 64 KB scratchpad is -16.
TEST_P(TraversalPaths, NegativeRowStrideMovesBackwards)
{
    int32_t *a = words(1024), *d = words(8192);
    for (int i = 0; i < 12; ++i)
        a[i] = i + 1;
    set_vl(4);
    KMR_SET_VL(3, 3, 0xFFF0);
    KMR_SET_VL(4, 16, 0);
    EXPECT_EQ(_KMR_GET1(REG_ID2), 0xFFF0u);
    kmrsim_2D_VVWWS(V_VVWWS, VMOV, d, a, nullptr);
    for (int r = 0; r < 3; ++r)
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(d[-4 * r + i], a[4 * r + i]) << "row " << r;
}

TEST_P(TraversalPaths, ScalarAndEnumerationAreTheSameInEveryRow)
{
    int32_t *d = words(1024);
    set_vl(3);
    set_2d(2, 12, 0, 0);
    kmrsim_2D_SEWWS(V_SEWWS, VADD, d, 0, 0);
    const int32_t expected[6] = {0, 1, 2, 0, 1, 2};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(d[i], expected[i]);

    // Source A's stride register has no effect on a scalar.
    int32_t *b = words(2048), *e = words(3072);
    for (int i = 0; i < 9; ++i)
        b[i] = i - 4;
    set_2d(3, 12, 0x4000, 12);
    kmrsim_2D_SVWWS(V_SVWWS, VMUL, e, 3, b);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(e[i], 3 * (i - 4));
}

// Matrices outer, rows inner; row (m, r) at dest + m * d3 + r * d2; only the
// instruction's first lane group has the start flag, only its last the end
// flag.
TEST_F(Traversal, ThreeDimensionalRowOrderAndFirstLastFlags)
{
    kmrsim_set_custom_instruction(0, 1, 4, record);
    int32_t *a = words(1024);
    uint8_t *d = sp(8192);
    for (int i = 0; i < 256; ++i)
        a[i] = i;
    set_vl(4);  // one lane group per row
    set_2d(2, 32, 16, 0);
    set_3d(2, 256, 128, 0);
    calls.clear();
    kmrsim_3D_VEWWS(V_VEWWS, VCUSTOM0, d, a, 0);
    ASSERT_EQ(calls.size(), 4u);
    const int order[4][2] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
    for (int k = 0; k < 4; ++k) {
        const int m = order[k][0], r = order[k][1];
        EXPECT_EQ(calls[size_t(k)].dest, reinterpret_cast<uintptr_t>(d + m * 256 + r * 32)) << "call " << k;
        EXPECT_EQ(calls[size_t(k)].a0, (m * 128 + r * 16) / 4) << "call " << k;
        EXPECT_EQ(calls[size_t(k)].start, k == 0) << "call " << k;
        EXPECT_EQ(calls[size_t(k)].end, k == 3) << "call " << k;
    }

    // Several lane groups per row: still one start and one end.
    set_vl(10);
    calls.clear();
    kmrsim_3D_VEWWS(V_VEWWS, VCUSTOM0, d, a, 0);
    ASSERT_EQ(calls.size(), 12u);
    for (size_t k = 0; k < calls.size(); ++k) {
        EXPECT_EQ(calls[size_t(k)].start, k == 0) << k;
        EXPECT_EQ(calls[size_t(k)].end, k == 11) << k;
    }
    kmrsim_set_custom_instruction(0, 1, 0, nullptr);
}

// Each row is checked just before it runs: earlier rows are computed, then
// the row that leaves the scratchpad aborts the process.
TEST_F(TraversalDeathTest, LaterRowLeavingTheScratchpadAbortsAfterEarlierRows)
{
    kmrsim_set_custom_instruction(1, 1, 4, announce);
    uint8_t *end = static_cast<uint8_t *>(state().tqm.scratchpad_end);
    set_vl(4);
    set_2d(3, 16, 0, 0);  // rows 0 and 1 end inside, row 2 beyond the end
    EXPECT_DEATH(kmrsim_2D_SEWWS(V_SEWWS, VCUSTOM1, end - 32, 0, 0),
                 "lane group computed\nlane group computed\n.*sp_ptr<=sp_end");
    EXPECT_DEATH(kmrsim_2D_SEWWS(V_SEWWS, VMOV, end - 32, 0, 0), "sp_ptr<=sp_end");

    set_2d(3, 16, -64, 0);  // source A runs off the start
    EXPECT_DEATH(kmrsim_2D_VVWWS(V_VVWWS, VMOV, sp(4096), sp(100), nullptr), "sp_ptr>=sp_base");
    kmrsim_set_custom_instruction(1, 1, 0, nullptr);
}

// Every row of an accumulating instruction is summed on its own into element
// 0 of that row's destination.
TEST_P(TraversalPaths, AccumulatingRowsWriteOneSumPerRow)
{
    int32_t *a = words(1024), *b = words(2048), *d = words(3072);
    for (int i = 0; i < 12; ++i) {
        a[i] = i;
        b[i] = 100;
    }
    for (int i = 0; i < 4; ++i)
        d[i] = -7;
    set_vl(4);
    set_2d(3, 4, 16, 16);
    kmrsim_acc_2D_VVWWS(V_VVWWS, VADD, d, a, b);
    EXPECT_EQ(d[0], 0 + 1 + 2 + 3 + 400);
    EXPECT_EQ(d[1], 4 + 5 + 6 + 7 + 400);
    EXPECT_EQ(d[2], 8 + 9 + 10 + 11 + 400);
    EXPECT_EQ(d[3], -7);

    set_2d(3, 0, 16, 16);
    kmrsim_acc_2D_VVWWS(V_VVWWS, VADD, d + 8, a, b);
    EXPECT_EQ(d[8], 8 + 9 + 10 + 11 + 400);
    EXPECT_EQ(d[9], 0);
}

INSTANTIATE_TEST_SUITE_P(, TraversalPaths, testing::Bool(), path_name);
