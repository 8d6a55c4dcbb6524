// Host API: descriptor handshake, the scratchpad bump allocator (rounding,
// exhaustion, sizes that would wrap) and the save stack.
#include <gtest/gtest.h>

#include <cstdint>

#include "kmr_api.h"

namespace {

// Every compiled call before a descriptor exists, taken during static
// initialisation (before any test has run kmrsim_init).
struct NoDescriptor {
    bool ptr_null;
    bool malloc_null;
    int used;
    int free_bytes;
    bool get_null;
    bool old_vl_zero;
};
const NoDescriptor kNoDescriptor = [] {
    NoDescriptor r{};
    r.ptr_null = kmr_tqm_ptr == nullptr;
    r.malloc_null = kmr_sp_malloc_nodebug(16) == nullptr;
    kmr_sp_free_nodebug();
    r.used = kmr_sp_getused();
    r.free_bytes = kmr_sp_getfree();
    r.get_null = kmr_sp_get() == nullptr;
    r.old_vl_zero = __old_vl__ == 0;
    return r;
}();

class HostApi : public testing::Test {
protected:
    void SetUp() override
    {
        kmrsim_init(4, 64, 256, 6, 5, 4);
        base = static_cast<uint8_t *>(kmr_tqm_ptr->scratchpad_addr);
    }
    uint8_t *base = nullptr;
};

using HostApiDeathTest = HostApi;

}  // namespace

TEST(HostApiNoDescriptor, CompiledCallsReturnNullOrZero)
{
    EXPECT_TRUE(kNoDescriptor.ptr_null);
    EXPECT_TRUE(kNoDescriptor.malloc_null);
    EXPECT_EQ(kNoDescriptor.used, 0);
    EXPECT_EQ(kNoDescriptor.free_bytes, 0);
    EXPECT_TRUE(kNoDescriptor.get_null);
    EXPECT_TRUE(kNoDescriptor.old_vl_zero);
}

TEST_F(HostApi, AllocationsAreRoundedToTheGranule)
{
    EXPECT_EQ(kmr_sp_malloc_nodebug(40), base);
    EXPECT_EQ(kmr_sp_malloc_nodebug(40), base + 48);
    EXPECT_EQ(kmr_sp_malloc_nodebug(40), base + 96);
    EXPECT_EQ(kmr_sp_getused(), 144);
    EXPECT_EQ(kmr_sp_getfree(), 65536 - 144);
    EXPECT_EQ(kmr_sp_malloc_nodebug(1), base + 144);
    EXPECT_EQ(kmr_sp_getused(), 160);
    EXPECT_EQ(kmr_sp_malloc_nodebug(0), nullptr);
    EXPECT_EQ(kmr_sp_getused(), 160);
    EXPECT_EQ(kmr_sp_get(), base + 160);
}

TEST_F(HostApi, ExhaustionReturnsNullAndKeepsTheAllocationPointer)
{
    ASSERT_NE(kmr_sp_malloc_nodebug(65536 - 64), nullptr);
    // One granule more than what is left.
    EXPECT_EQ(kmr_sp_malloc_nodebug(80), nullptr);
    EXPECT_EQ(kmr_sp_malloc_nodebug(65), nullptr);  // rounds up to 80
    EXPECT_EQ(kmr_sp_getused(), 65536 - 64);
    // Exactly the rest succeeds and ends at scratchpad_end.
    EXPECT_EQ(kmr_sp_malloc_nodebug(64), base + 65536 - 64);
    EXPECT_EQ(kmr_sp_get(), kmr_tqm_ptr->scratchpad_end);
    EXPECT_EQ(kmr_sp_getfree(), 0);
    EXPECT_EQ(kmr_sp_malloc_nodebug(1), nullptr);
}

TEST_F(HostApi, HugeRequestsNeverWrapAround)
{
    ASSERT_NE(kmr_sp_malloc_nodebug(4096), nullptr);
    void *before = kmr_sp_get();
    // Sizes whose padding or pointer addition would overflow 64 bits.
    for (size_t n :
         {SIZE_MAX, SIZE_MAX - 14, SIZE_MAX - 15, SIZE_MAX - 16, SIZE_MAX - reinterpret_cast<uintptr_t>(before) + 1,
          size_t{1} << 63, size_t{65536}, size_t{1} << 32}) {
        EXPECT_EQ(kmr_sp_malloc_nodebug(n), nullptr) << n;
        EXPECT_EQ(kmr_sp_get(), before) << n;
    }
    EXPECT_EQ(kmr_sp_malloc_nodebug(65536 - 4096), before);
}

TEST_F(HostApi, SaveStackRestoresAndFreeEmptiesIt)
{
    ASSERT_NE(kmr_sp_malloc_nodebug(32), nullptr);
    void *saved = kmr_sp_get();
    kmr_sp_push();
    ASSERT_NE(kmr_sp_malloc_nodebug(100), nullptr);
    ASSERT_NE(kmr_sp_malloc_nodebug(100), nullptr);
    kmr_sp_pop();
    EXPECT_EQ(kmr_sp_get(), saved);
    EXPECT_EQ(kmr_tqm_ptr->spstack_top, 0);

    for (int i = 0; i < 5; ++i) {
        kmr_sp_push();
        ASSERT_NE(kmr_sp_malloc_nodebug(16), nullptr);
    }
    kmr_sp_free_nodebug();
    EXPECT_EQ(kmr_sp_get(), base);
    EXPECT_EQ(kmr_tqm_ptr->spstack_top, 0);
    EXPECT_EQ(kmr_sp_getused(), 0);
}

TEST_F(HostApiDeathTest, SaveStackOverflowAndUnderflowStop)
{
    for (int i = 0; i < 64; ++i)
        kmr_sp_push();  // a full stack is fine
    EXPECT_EQ(kmr_tqm_ptr->spstack_top, 64);
    EXPECT_EXIT(kmr_sp_push(), testing::ExitedWithCode(1), "^Error: ");
    kmr_sp_free_nodebug();
    EXPECT_EXIT(kmr_sp_pop(), testing::ExitedWithCode(1), "^Error: ");
}

TEST_F(HostApiDeathTest, FatalExitsSilentlyWithTheStatus)
{
    EXPECT_EXIT(KMR_FATAL(__LINE__, __FILE__, 3), testing::ExitedWithCode(3), "^$");
}
