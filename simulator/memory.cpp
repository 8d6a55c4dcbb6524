// The operand-range checks every instruction engine and the DMA requests
// run, and the mask-memory test. They are called for every instruction row,
// so each is a handful of loads and compares.
#include <cstdint>

#include "memory.hpp"

namespace {

using kmrsim::addr;

constexpr const char *kVerifyFunc = "void verify_sp_ptr(void*, int)";

// The exemption of the range check: [mask_memory, mask_memory +
// max_masked_vector_length], both ends included. A state without mask memory
// exempts nothing (not even a null pointer).
inline bool in_mask_exemption(const kmr_sim_t &s, uintptr_t p)
{
    const uintptr_t m = addr(s.mask_memory);
    return m != 0 && p >= m && p - m <= static_cast<uint64_t>(static_cast<uint32_t>(s.tqm.max_masked_vector_length));
}

// One end of an operand range within [scratchpad_addr, scratchpad_end]
// (both ends included).
inline void check_end(const kmr_sim_t &s, uintptr_t p)
{
    KMRSIM_ASSERT(p <= addr(s.tqm.scratchpad_end), "sp_ptr<=sp_end", kVerifyFunc);
    KMRSIM_ASSERT(p >= addr(s.tqm.scratchpad_addr), "sp_ptr>=sp_base", kVerifyFunc);
}

}  // namespace

bool mask_memory_contains(const void *p)
{
    return kmrsim::memory_view::current().mask_holds(addr(p), 1);
}

void verify_sp_ptr(void *sp_ptr, int len)
{
    // The length is sign-extended.
    kmrsim::verify_sp_range(sp_ptr, len);
}

namespace {

// The other end of [start, start + len). A range whose end would leave the
// address space is out of the scratchpad: it is clamped to the extreme
// address so the check fails on the side the range runs off to instead of
// wrapping into a valid range.
uintptr_t range_end(uintptr_t start, int64_t len)
{
    if (len >= 0) {
        const uintptr_t ulen = static_cast<uintptr_t>(len);
        return ulen > UINTPTR_MAX - start ? UINTPTR_MAX : start + ulen;
    }
    const uintptr_t back = static_cast<uintptr_t>(-(len + 1)) + 1;
    return back > start ? 0 : start - back;
}

// Both ends in the mask memory: a range from the scratchpad into the mask
// memory (or back) would cover whatever lies between the blocks.
bool mask_range(const kmr_sim_t &s, uintptr_t start, uintptr_t end)
{
    return in_mask_exemption(s, start) && in_mask_exemption(s, end);
}

}  // namespace

void kmrsim::verify_sp_range(const void *sp_ptr, int64_t len)
{
    const kmr_sim_t &s = kmrsim::sim();
    const uintptr_t start = addr(sp_ptr);
    const uintptr_t end = range_end(start, len);
    if (mask_range(s, start, end))
        return;
    check_end(s, start);
    check_end(s, end);
}

bool kmrsim::range_passes(uintptr_t start, int64_t len)
{
    const kmr_sim_t &s = kmrsim::sim();
    const uintptr_t end = range_end(start, len);
    const uintptr_t base = addr(s.tqm.scratchpad_addr), top = addr(s.tqm.scratchpad_end);
    return mask_range(s, start, end) || (start >= base && start <= top && end >= base && end <= top);
}
