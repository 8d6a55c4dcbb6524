// Instructions must not allocate once each kind has run once: the executors
// keep their working storage between instructions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "kmr_api.h"

namespace {
bool counting = false;
long allocations = 0;
}  // namespace

void *operator new(std::size_t size)
{
    if (counting)
        ++allocations;
    if (void *p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t size)
{
    return operator new(size);
}
void operator delete(void *p) noexcept
{
    std::free(p);
}
void operator delete[](void *p) noexcept
{
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

void custom_negate(kmrsim_custom_args *args)
{
    int32_t *out = static_cast<int32_t *>(args->out);
    const int32_t *a = static_cast<const int32_t *>(args->a);
    for (int i = 0; i < 4; ++i)
        out[i] = -a[i];
}

// One of each instruction kind: whole-row and pipelined rows, overlapping
// copies, narrowing, 2D, accumulation, masks, custom.
void workload(int32_t *a, int32_t *b, int32_t *c, int8_t *c8)
{
    kmr_set_vl(1000);
    kmrsim_1D_VVWWS(V_VVWWS, VADD, c, a, b);
    kmrsim_1D_VVWWS(V_VVWWS, VMOV, a + 1, a, 0);
    kmrsim_1D_VVWWS(V_VVWWS, VMOV, a + 13, a, 0);
    kmrsim_1D_SVWWS(V_SVWWS, VMULFXP, c, 3, b);
    kmrsim_1D_VVWBS(V_VVWBS, VADDFXP, c8, a, b);
    kmrsim_1D_SEWBS(V_SEWBS, VADD, c8, 1, 0);
    kmrsim_acc_1D_VVWWS(V_VVWWS, VADD, c, a, b);
    KMR_SET_VL(3, 4, 40);
    KMR_SET_VL(4, 40, 40);
    kmr_set_vl(10);
    kmrsim_2D_VVWWS(V_VVWWS, VSUB, c, a, b);
    kmrsim_2D_VVWWS(V_VVWWS, VSUB, a + 2, a, b);  // overlapping rows: the pipeline
    kmrsim_setup_mask(V_VVWWS, VCMV_GTZ, b);
    kmrsim_setup_mask_masked(V_VVWWS, VCMV_NZ, a);
    kmrsim_masked_1D_VVWWS(V_VVWWS, VADD, c, a, b);
    kmrsim_1D_VVWWS(V_VVWWS, VCUSTOM0, c, a, b);
}

TEST(NoAllocation, InstructionsAllocateNothingAfterTheFirstOfEachKind)
{
    kmrsim_init(4, 64, 256, 6, 5, 4);
    kmrsim_set_custom_instruction(0, 1, 4, custom_negate);
    int32_t *a = static_cast<int32_t *>(kmr_sp_malloc_nodebug(4096));
    int32_t *b = static_cast<int32_t *>(kmr_sp_malloc_nodebug(4096));
    int32_t *c = static_cast<int32_t *>(kmr_sp_malloc_nodebug(4096));
    int8_t *c8 = static_cast<int8_t *>(kmr_sp_malloc_nodebug(4096));
    for (int i = 0; i < 1000; ++i) {
        a[i] = i * 7 - 300;
        b[i] = (i % 5) - 2;
    }

    workload(a, b, c, c8);  // sets up each executor's storage
    allocations = 0;
    counting = true;
    for (int round = 0; round < 20; ++round)
        workload(a, b, c, c8);
    counting = false;
    EXPECT_EQ(allocations, 0);
}

// Instructions that complete pending transfers allocate nothing either, even
// when the queue has grown since: a transfer queued below the others leaves
// the index of pending transfers something to sort out when the instruction
// asks it, and more transfers are queued every round.
TEST(NoAllocation, InstructionsCompletingTransfersAllocateNothing)
{
    kmrsim_init(4, 64, 256, 6, 5, 4);
    int32_t *a = static_cast<int32_t *>(kmr_sp_malloc_nodebug(16384));
    int32_t *c = static_cast<int32_t *>(kmr_sp_malloc_nodebug(16384));
    static int32_t host[4096];
    allocations = 0;
    for (int round = 0; round < 20; ++round) {
        const int blocks = 40 + 10 * round;
        for (int k = 1; k < blocks; ++k)
            sim_dma_to_vector(a + 8 * k, host + 8 * k, 32);
        sim_dma_to_vector(a, host, 32);
        kmr_set_vl(8 * blocks);
        counting = round > 0;  // the first round sets up the executor's storage
        kmrsim_1D_VVWWS(V_VVWWS, VADD, c, a, a);
        counting = false;
        kmr_sync();
    }
    EXPECT_EQ(allocations, 0);
}

// Nor do instructions that complete transfers out of the index's order or
// part of a transfer: twelve batches queued each below the last (more runs
// than the index keeps apart, so they are merged into one, ordered by
// place rather than by queue), then instructions reading the first half of
// a block in each batch, which completes everything queued before it and
// leaves the rest of that block queued.
TEST(NoAllocation, InstructionsCompletingTransfersOutOfPlaceOrderAllocateNothing)
{
    kmrsim_init(4, 64, 256, 6, 5, 4);
    int32_t *a = static_cast<int32_t *>(kmr_sp_malloc_nodebug(12 * 2048));
    int32_t *c = static_cast<int32_t *>(kmr_sp_malloc_nodebug(4096));
    static int32_t host[8192];
    allocations = 0;
    for (int round = 0; round < 10; ++round) {
        for (int batch = 11; batch >= 0; --batch)
            for (int k = 0; k < 8; ++k)
                sim_dma_to_vector(a + batch * 512 + k * 64, host + batch * 512 + k * 64, 256);
        kmr_set_vl(32);
        counting = round > 0;  // the first round sets up the executor's storage
        for (int batch = 11; batch >= 0; --batch)
            kmrsim_1D_VVWWS(V_VVWWS, VADD, c, a + batch * 512 + 3 * 64, a + batch * 512 + 3 * 64);
        counting = false;
        kmr_sync();
    }
    EXPECT_EQ(allocations, 0);
}

}  // namespace
