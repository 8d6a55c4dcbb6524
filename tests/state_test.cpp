// Simulator state and lifecycle: initialisation, re-initialisation,
// destruction, the lane-count query and the operand-range check.
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "kmr_api.h"
#include "kmrsim.hpp"

namespace {

uint8_t *sp_base()
{
    return static_cast<uint8_t *>(get_the_kmrsim()->tqm.scratchpad_addr);
}
uint8_t *sp_end()
{
    return static_cast<uint8_t *>(get_the_kmrsim()->tqm.scratchpad_end);
}

// Bytes the C heap currently hands out (arena and mmapped blocks).
size_t heap_in_use()
{
    const struct mallinfo2 mi = mallinfo2();
    return mi.uordblks + mi.hblkhd;
}

}  // namespace

// The state as the process starts, taken during static initialisation, before
// any test (in whatever order they run) has called kmrsim_init.
struct FreshState {
    bool accessor_non_null;
    bool sp_null;
    bool flag_memory_null_after_destroy;
    bool sp_null_after_destroy;
};
const FreshState kFresh = [] {
    FreshState f{};
    kmr_sim_t *s = get_the_kmrsim();
    f.accessor_non_null = s != nullptr;
    f.sp_null = s->tqm.sp == nullptr;
    kmrsim_destroy();
    f.flag_memory_null_after_destroy = s->flag_memory == nullptr;
    f.sp_null_after_destroy = s->tqm.sp == nullptr;
    return f;
}();

TEST(StateFresh, AccessorWorksAndDestroyIsHarmlessBeforeInit)
{
    EXPECT_TRUE(kFresh.accessor_non_null);
    EXPECT_TRUE(kFresh.sp_null);
    EXPECT_TRUE(kFresh.flag_memory_null_after_destroy);
    EXPECT_TRUE(kFresh.sp_null_after_destroy);
    EXPECT_EQ(get_the_kmrsim(), get_the_kmrsim());
}

TEST(StateInit, FillsDescriptorRegistersAndMemories)
{
    kmrsim_init(4, 64, 256, 6, 5, 4);
    kmr_sim_t *s = get_the_kmrsim();
    const kmr_tqm_t &t = s->tqm;

    EXPECT_EQ(t.scratchpad_size, 65536);
    EXPECT_EQ(sp_end() - sp_base(), 65536);
    EXPECT_EQ(t.sp, t.scratchpad_addr);
    EXPECT_EQ(t.core_freq, 100000000);
    EXPECT_EQ(t.dma_alignment_bytes, 16);
    EXPECT_EQ(t.scratchpad_alignment_bytes, 16);
    EXPECT_EQ(t.vector_lanes, 4);
    EXPECT_EQ(t.max_masked_vector_length, 1024);
    EXPECT_EQ(t.mask_partitions, 1);
    EXPECT_EQ(t.fixed_point_support, 1);
    EXPECT_EQ(t.fxp_word_frac_bits, 6);
    EXPECT_EQ(t.fxp_half_frac_bits, 5);
    EXPECT_EQ(t.fxp_byte_frac_bits, 4);
    EXPECT_EQ(t.spstack_max, 64);
    EXPECT_EQ(t.spstack_top, 0);
    EXPECT_EQ(t.init, 1);
    EXPECT_EQ(t.instr_port_addr, nullptr);
    EXPECT_EQ(t.instr_p, nullptr);
    EXPECT_EQ(kmr_tqm_ptr, &s->tqm);

    EXPECT_EQ(s->dma_type, 0u);
    EXPECT_EQ(s->warnings_enabled, 1u);
    EXPECT_EQ(s->dma_queue, nullptr);
    EXPECT_EQ(s->dma_until_hook, &_internal_do_dma_until);
    EXPECT_EQ(s->mask_length, 0);

    for (int r : {0, 1, 5})
        EXPECT_EQ(s->reg_mask[r], 0x1FFFFu) << "register " << r;
    for (int r : {2, 3, 4, 6, 7, 8})
        EXPECT_EQ(s->reg_mask[r], 0xFFFFu) << "register " << r;
    for (int r = 9; r < 32; ++r)
        EXPECT_EQ(s->reg_mask[r], 0xFFFFFFFFu) << "register " << r;
    for (int r = 0; r < 32; ++r)
        EXPECT_EQ(s->regs[r], 0u) << "register " << r;

    // All three memories are zero-filled and usable end to end.
    ASSERT_NE(s->flag_memory, nullptr);
    ASSERT_NE(s->mask_memory, nullptr);
    for (int i = 0; i < 65536; ++i)
        ASSERT_EQ(sp_base()[i] | s->flag_memory[i], 0) << i;
    for (int i = 0; i < 4096; ++i)
        ASSERT_EQ(s->mask_memory[i], 0) << i;
    EXPECT_TRUE(mask_memory_contains(s->mask_memory + 4095));
    EXPECT_FALSE(mask_memory_contains(s->mask_memory + 4096));
}

// The scratchpad begins on a host page, the flags half a page off the
// values and the mask memory a quarter page off: an element loop's flag
// and mask stores then never share the low 12 address bits with the values
// it reads, which would stall the host's loads. Sizes
// from the heap's small blocks to its mapped ones, and again after a
// re-initialisation.
TEST(StateInit, MemoriesArePlacedForTheHostsVectorAccesses)
{
    for (int kb : {1, 64, 4096, 64}) {
        kmrsim_init(4, kb, 16, 6, 5, 4);
        const kmr_sim_t *s = get_the_kmrsim();
        const uintptr_t sp = reinterpret_cast<uintptr_t>(sp_base());
        EXPECT_EQ(sp % 4096, 0u) << kb << " KB";
        EXPECT_EQ((reinterpret_cast<uintptr_t>(get_flg_addr(sp_base())) - sp) % 4096, 2048u) << kb << " KB";
        EXPECT_EQ((reinterpret_cast<uintptr_t>(s->mask_memory) - sp) % 4096, 1024u) << kb << " KB";
        EXPECT_EQ(s->flag_memory[size_t(kb) * 1024 - 1], 0) << kb << " KB";
    }
}

TEST(StateInit, FractionWidthsDropHighBits)
{
    kmrsim_init(4, 64, 256, 33, 17, 9);
    const kmr_tqm_t &t = get_the_kmrsim()->tqm;
    EXPECT_EQ(t.fxp_word_frac_bits, 1);
    EXPECT_EQ(t.fxp_half_frac_bits, 1);
    EXPECT_EQ(t.fxp_byte_frac_bits, 1);
}

TEST(StateInit, ZeroMaskDepthHasNoMaskMemory)
{
    kmrsim_destroy();
    kmrsim_init(4, 64, 0, 6, 5, 4);
    const kmr_sim_t *s = get_the_kmrsim();
    EXPECT_EQ(s->mask_memory, nullptr);
    EXPECT_EQ(s->tqm.mask_partitions, 0);
    EXPECT_EQ(s->tqm.max_masked_vector_length, 0);
}

TEST(StateReinit, SameConfigurationStartsAfreshButKeepsStatsAndCustomTable)
{
    kmrsim_init(4, 64, 256, 6, 5, 4);
    kmr_sim_t *s = get_the_kmrsim();
    auto dummy = [](kmrsim_custom_args *) {};
    s->stats.instruction_count[VADD] = 7;
    s->custom_instructions[3].func = dummy;
    s->custom_instructions[3].count = 1;
    kmrsim::custom_lanes(s->tqm, 3) = 4;
    s->regs[REG_VL] = 10;
    s->dma_type = 1;
    s->warnings_enabled = 0;
    ASSERT_NE(kmr_sp_malloc_nodebug(100), nullptr);
    kmr_sp_push();
    std::memset(sp_base(), 0xAB, 256);

    kmrsim_init(4, 64, 256, 6, 5, 4);

    EXPECT_EQ(s->tqm.sp, s->tqm.scratchpad_addr);
    EXPECT_EQ(s->tqm.spstack_top, 0);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(sp_base()[i], 0) << i;
    EXPECT_EQ(s->stats.instruction_count[VADD], 7u);
    EXPECT_EQ(s->custom_instructions[3].func, +dummy);
    EXPECT_EQ(s->custom_instructions[3].count, 1);
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(kmrsim::custom_lanes(s->tqm, k), 0) << k;
    EXPECT_EQ(lanes_for_instruction(VCUSTOM3), 0);
    EXPECT_EQ(s->regs[REG_VL], 0u);
    EXPECT_EQ(s->dma_type, 0u);
    EXPECT_EQ(s->warnings_enabled, 1u);
}

// A re-initialisation with the same configuration replaces the memories and
// drops queued DMA; the old blocks and nodes must be freed, not leaked.
TEST(StateReinit, SameConfigurationReleasesOldMemoriesAndQueuedDma)
{
    kmrsim_init(4, 64, 256, 6, 5, 4);
    static uint8_t host[64];
    for (int i = 0; i < 200; ++i)
        sim_dma_to_vector(sp_base(), host, sizeof host);
    kmrsim_init(4, 64, 256, 6, 5, 4);
    EXPECT_EQ(get_the_kmrsim()->dma_queue, nullptr);

    const size_t before = heap_in_use();
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 200; ++i)
            sim_dma_to_vector(sp_base(), host, sizeof host);
        kmrsim_init(4, 64, 256, 6, 5, 4);
    }
    // One leaked round alone would be 2 x 64 KiB + 4 KiB + 200 nodes.
    EXPECT_LT(heap_in_use(), before + 64 * 1024);
    EXPECT_EQ(get_the_kmrsim()->dma_queue, nullptr);
}

TEST(StateReinit, DifferentLaneCountTakesEffect)
{
    kmrsim_init(4, 64, 256, 6, 5, 4);
    kmrsim_init(8, 32, 16, 6, 5, 4);
    const kmr_sim_t *s = get_the_kmrsim();
    EXPECT_EQ(s->tqm.vector_lanes, 8);
    EXPECT_EQ(s->tqm.scratchpad_size, 32768);
    EXPECT_EQ(sp_end() - sp_base(), 32768);
    EXPECT_EQ(s->tqm.scratchpad_alignment_bytes, 32);
    EXPECT_EQ(s->tqm.max_masked_vector_length, 128);
    EXPECT_EQ(s->reg_mask[REG_VL], 0xFFFFu);
    EXPECT_EQ(s->reg_mask[REG_ID2], 0x7FFFu);
    EXPECT_EQ(lanes_for_instruction(VADD), 8);
    // The new scratchpad is fully usable.
    std::memset(sp_base(), 1, 32768);
    std::memset(s->mask_memory, 1, 512);
}

TEST(StateDestroy, ReleasesMemoriesAndForgetsTheMaskMemory)
{
    kmrsim_init(4, 64, 256, 6, 5, 4);
    kmr_sim_t *s = get_the_kmrsim();
    uint8_t *old_mask = s->mask_memory;
    std::memset(old_mask, 1, 12);
    s->mask_length = 12;
    s->regs[REG_VL] = 5;
    s->stats.set_vl_count = 3;

    kmrsim_destroy();

    EXPECT_EQ(s->tqm.sp, nullptr);
    EXPECT_EQ(s->tqm.scratchpad_addr, nullptr);
    EXPECT_EQ(s->tqm.scratchpad_end, nullptr);
    EXPECT_EQ(s->tqm.scratchpad_size, 0);
    EXPECT_EQ(s->flag_memory, nullptr);
    EXPECT_EQ(s->mask_memory, nullptr);
    EXPECT_EQ(s->mask_length, 0);
    EXPECT_EQ(s->tqm.max_masked_vector_length, 0);
    EXPECT_EQ(s->tqm.mask_partitions, 0);
    EXPECT_FALSE(mask_memory_contains(old_mask));
    uint32_t status = 0;
    kmr_get_mask(&status);  // reads no released mask memory
    EXPECT_EQ(status & 1u, 0u);
    EXPECT_EQ(kmr_sp_malloc_nodebug(16), nullptr);
    // Registers, statistics and the published descriptor stay.
    EXPECT_EQ(s->regs[REG_VL], 5u);
    EXPECT_EQ(s->stats.set_vl_count, 3u);
    EXPECT_EQ(kmr_tqm_ptr, &s->tqm);
    EXPECT_DEATH(verify_sp_ptr(old_mask, 4), "sp_ptr<=sp_end");

    kmrsim_destroy();  // a second destroy does nothing
    EXPECT_EQ(s->tqm.sp, nullptr);
}

TEST(StateDestroy, ReinitWithoutMaskDepthLeavesNoStaleMaskMemory)
{
    kmrsim_init(4, 64, 256, 6, 5, 4);
    kmr_sim_t *s = get_the_kmrsim();
    uint8_t *old_mask = s->mask_memory;
    s->mask_length = 100;
    kmrsim_init(4, 64, 0, 6, 5, 4);
    EXPECT_EQ(s->mask_memory, nullptr);
    EXPECT_EQ(s->mask_length, 0);
    EXPECT_EQ(s->tqm.max_masked_vector_length, 0);
    EXPECT_EQ(s->tqm.mask_partitions, 0);
    EXPECT_FALSE(mask_memory_contains(old_mask));
    // No mask memory exempts nothing, not even the null pointer.
    EXPECT_FALSE(mask_memory_contains(nullptr));
    EXPECT_DEATH(verify_sp_ptr(nullptr, 0), "sp_ptr>=sp_base");
}

TEST(StateDestroy, DropsQueuedDmaWithoutPerformingIt)
{
    kmrsim_init(4, 64, 256, 6, 5, 4);
    kmr_sim_t *s = get_the_kmrsim();
    std::memset(sp_base(), 0x5A, 64);
    uint8_t host[64] = {};
    sim_dma_to_host(host, sp_base(), sizeof host);
    sim_dma_to_vector(sp_base() + 64, host, sizeof host);
    ASSERT_NE(s->dma_queue, nullptr);

    kmrsim_destroy();
    EXPECT_EQ(s->dma_queue, nullptr);
    kmr_sim_sync();
    for (uint8_t b : host)
        ASSERT_EQ(b, 0);
}

TEST(StateLanes, LaneCountPerOpcode)
{
    kmrsim_init(4, 64, 256, 6, 5, 4);
    kmr_tqm_t &t = get_the_kmrsim()->tqm;
    t.vcustom3_lanes = 2;
    t.vcustom15_lanes = 8;
    EXPECT_EQ(lanes_for_instruction(VMOV), 4);
    EXPECT_EQ(lanes_for_instruction(VABSDIFF), 4);
    EXPECT_EQ(lanes_for_instruction(VCUSTOM0), 0);
    EXPECT_EQ(lanes_for_instruction(VCUSTOM3), 2);
    EXPECT_EQ(lanes_for_instruction(VCUSTOM15), 8);
    EXPECT_EQ(lanes_for_instruction(40), -1);
    EXPECT_EQ(lanes_for_instruction(-1), -1);
    EXPECT_EQ(&kmrsim::custom_lanes(t, 0), &t.vcustom0_lanes);
    EXPECT_EQ(&kmrsim::custom_lanes(t, 9), &t.vcustom9_lanes);
    EXPECT_EQ(&kmrsim::custom_lanes(t, 15), &t.vcustom15_lanes);
}

TEST(StateVerify, AcceptsScratchpadAndMaskRanges)
{
    kmrsim_init(4, 64, 256, 6, 5, 4);
    uint8_t *mask = get_the_kmrsim()->mask_memory;
    verify_sp_ptr(sp_base(), 65536);
    verify_sp_ptr(sp_end() - 16, 16);
    verify_sp_ptr(sp_end(), 0);
    verify_sp_ptr(mask, 1024);
    verify_sp_ptr(mask + 1024, 0);
    // A negative length runs downwards from the start.
    verify_sp_ptr(sp_base() + 16, -16);
}

TEST(StateVerifyDeathTest, RejectsRangesOutsideTheScratchpad)
{
    kmrsim_init(4, 64, 256, 6, 5, 4);
    uint8_t *mask = get_the_kmrsim()->mask_memory;
    const char *fn = "void verify_sp_ptr\\(void\\*, int\\)";
    EXPECT_DEATH(verify_sp_ptr(sp_end() - 16, 17), std::string(fn) + ": Assertion `sp_ptr<=sp_end' failed");
    EXPECT_DEATH(verify_sp_ptr(sp_base() - 1, 16), std::string(fn) + ": Assertion `sp_ptr>=sp_base' failed");
    EXPECT_DEATH(verify_sp_ptr(sp_base() + 8, -9), "sp_ptr>=sp_base");
    EXPECT_DEATH(verify_sp_ptr(sp_end() + 1, 0), "sp_ptr<=sp_end");
    // The end of a range starting in the mask memory must still be valid
    // (which bound it misses depends on where the heap put the two blocks).
    EXPECT_DEATH(verify_sp_ptr(mask, 1 << 30), "sp_ptr(<=sp_end|>=sp_base)");
}

// Each end of a range may lie in the scratchpad or in the mask memory, but
// not one in each: the range would cover whatever the heap put between the
// blocks (the flag memory among others).
TEST(StateRangeDeathTest, RangesCannotJoinTheScratchpadAndTheMaskMemory)
{
    kmrsim_init(4, 4, 256, 6, 5, 4);
    uint8_t *const mask = get_the_kmrsim()->mask_memory;
    uint8_t *const from = sp_end() - 4;
    const int64_t to_mask = int64_t(reinterpret_cast<uintptr_t>(mask + 8) - reinterpret_cast<uintptr_t>(from));
    EXPECT_DEATH(kmrsim::verify_sp_range(from, to_mask), "sp_ptr(<=sp_end|>=sp_base)");
    const int64_t to_sp = int64_t(reinterpret_cast<uintptr_t>(sp_base() + 8) - reinterpret_cast<uintptr_t>(mask));
    EXPECT_DEATH(kmrsim::verify_sp_range(mask, to_sp), "sp_ptr(<=sp_end|>=sp_base)");
    // Through an instruction: a byte row from the scratchpad's end into the
    // mask memory, where the heap placed the mask memory within a row's reach
    // after the scratchpad (the vector length wraps at twice its size).
    if (mask > from && to_mask < 2 * 4096) {
        KMR_SET_VL(KMR_SEL_VL, uint32_t(to_mask), uint32_t(to_mask));
        EXPECT_DEATH(kmrsim_1D_SEBBS(V_SEBBS, VMOV, from, 0x55, 0), "sp_ptr<=sp_end");
    }
}

TEST(StateRangeDeathTest, LongRangesCannotWrapIntoTheScratchpad)
{
    kmrsim_init(4, 64, 256, 6, 5, 4);
    kmrsim::verify_sp_range(sp_base(), 65536);
    EXPECT_DEATH(kmrsim::verify_sp_range(sp_base(), int64_t{1} << 32), "sp_ptr<=sp_end");
    EXPECT_DEATH(kmrsim::verify_sp_range(sp_base(), INT64_MAX), "sp_ptr<=sp_end");
    EXPECT_DEATH(kmrsim::verify_sp_range(sp_base(), INT64_MIN), "sp_ptr>=sp_base");
}

TEST(StateDeathTest, SetTheKmrsimRefusesAndExits)
{
    EXPECT_EXIT(
        {
            dup2(STDERR_FILENO, STDOUT_FILENO);
            set_the_kmrsim(get_the_kmrsim());
        },
        testing::ExitedWithCode(255),
        "^Error; set_the_kmrsim should not be called for single-threaded implementation\n$");
}

TEST(StateDeathTest, ImpossibleConfigurationsStopWithTheCause)
{
    // Configurations that cannot be simulated stop the program at once with
    // the cause, before anything is allocated.
    EXPECT_EXIT(kmrsim_init(4, -1, 0, 0, 0, 0), testing::ExitedWithCode(EXIT_FAILURE),
                "^Error: kmrsim_init: a scratchpad of -1 KB \\(1 to 1048576 KB are simulated\\); the simulator is "
                "not initialised");
    EXPECT_EXIT(kmrsim_init(0, 64, 0, 0, 0, 0), testing::ExitedWithCode(EXIT_FAILURE),
                "^Error: kmrsim_init: 0 vector lanes \\(1 to 4096 lanes are simulated\\)");
    EXPECT_EXIT(kmrsim_init(4, 64, -2, 0, 0, 0), testing::ExitedWithCode(EXIT_FAILURE),
                "^Error: kmrsim_init: a mask depth of -2");
}

TEST(State, SizesThatAreNotPowersOfTwoAreModelledWithAWarning)
{
    testing::internal::CaptureStderr();
    kmrsim_init(3, 48, 2, 6, 5, 4);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Warning: kmrsim_init: 3 vector lanes is not a power of two\n"), std::string::npos) << err;
    EXPECT_NE(err.find("Warning: kmrsim_init: a scratchpad of 48 KB is not a power of two\n"), std::string::npos)
        << err;
    kmr_sim_t *s = get_the_kmrsim();
    // Registers are as wide as for a 64 KB scratchpad: a stride of 16 KB is
    // kept, not cut to the bits of 48 KB - 1.
    EXPECT_EQ(s->reg_mask[REG_ID2], 0xFFFFu);
    EXPECT_EQ(s->reg_mask[REG_VL], 0x1FFFFu);
    // Allocations are whole multiples of the 12-byte granule and never
    // overlap.
    auto *p1 = static_cast<uint8_t *>(kmr_sp_malloc_nodebug(5));
    auto *p2 = static_cast<uint8_t *>(kmr_sp_malloc_nodebug(13));
    auto *p3 = static_cast<uint8_t *>(kmr_sp_malloc_nodebug(1));
    EXPECT_EQ(p2 - p1, 12);
    EXPECT_EQ(p3 - p2, 24);
    kmrsim_destroy();
}
