// How the simulator touches the memories of the simulated processor: byte
// addresses, unaligned element loads and stores, the scratchpad and flag
// memory as one instruction sees them, and the operand-range checks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "issue_record.hpp"
#include "kmrsim.hpp"

namespace kmrsim {

inline uintptr_t addr(const void *p)
{
    return reinterpret_cast<uintptr_t>(p);
}
inline void *ptr(uintptr_t a)
{
    return reinterpret_cast<void *>(a);
}

// Scratchpad elements may sit at any byte address, so every access goes
// through memcpy (which compiles to a plain load or store).
template <typename T>
inline T load(uintptr_t a)
{
    T v;
    std::memcpy(&v, ptr(a), sizeof v);
    return v;
}
template <typename T>
inline void store(uintptr_t a, T v)
{
    std::memcpy(ptr(a), &v, sizeof v);
}

// The scratchpad, its flag memory and the mask memory as one instruction
// sees them.
struct memory_view {
    uintptr_t base;       // first scratchpad byte
    uintptr_t end;        // one past the last scratchpad byte
    uint8_t *flags;       // flag of scratchpad byte base + i: flags[i]
    uintptr_t mask_base;  // first mask-memory byte (0: no mask memory)
    uintptr_t mask_end;   // one past the last mask-memory byte

    static memory_view current()
    {
        const kmr_sim_t &s = sim();
        const uintptr_t m = addr(s.mask_memory);
        const uint64_t mask_bytes = 4u * uint64_t(uint32_t(s.tqm.max_masked_vector_length));
        return {addr(s.tqm.scratchpad_addr), addr(s.tqm.scratchpad_end), s.flag_memory, m,
                m == 0 ? 0 : m + uintptr_t(mask_bytes)};
    }
    // [a, a + bytes) lies in the scratchpad.
    bool holds(uintptr_t a, size_t bytes) const { return a >= base && a <= end && bytes <= end - a; }
    // [a, a + bytes) lies in the mask memory.
    bool mask_holds(uintptr_t a, size_t bytes) const
    {
        return mask_base != 0 && a >= mask_base && a <= mask_end && bytes <= mask_end - a;
    }
    // The flag of the scratchpad element at a.
    uintptr_t flag_of(uintptr_t a) const { return addr(flags) + (a - base); }
};

// Aborts unless [a, a + len) lies in the scratchpad or the mask memory; the
// state's shared check, with lengths beyond the int range handed to its
// 64-bit form. A failing range of the current instruction's operand is first
// described on standard error.
inline void check_range(uintptr_t a, int64_t len, operand_kind kind)
{
    if (!range_passes(a, len))
        report_operand_failure(kind, a, len);
    if (len >= INT32_MIN && len <= INT32_MAX)
        verify_sp_ptr(ptr(a), static_cast<int>(len));
    else
        verify_sp_range(ptr(a), len);
}

// Completes pending DMA over an operand range, then checks the range, and
// tells whether the range lies in the scratchpad. The built-in completion
// routine has nothing to do on an empty queue, and the range check cannot
// fail for a range inside the scratchpad, so those two common cases skip the
// calls. complete_dma false: the caller knows that the completion has
// nothing to do for this range (see dma_needed).
inline bool prepare_operand(const memory_view &mem, uintptr_t a, int64_t len, operand_kind kind,
                            bool complete_dma = true)
{
    const kmr_sim_t &s = sim();
    const size_t bytes = static_cast<size_t>(std::max<int64_t>(len, 0));
    if (complete_dma && s.dma_until_hook != nullptr &&
        (s.dma_queue != nullptr || s.dma_until_hook != &_internal_do_dma_until))
        s.dma_until_hook(ptr(a), bytes);
    const bool inside = len >= 0 && mem.holds(a, bytes);
    if (!inside)
        check_range(a, len, kind);
    return inside;
}

// Whether DMA completion may have work over the bytes [lo, hi) that an
// operand covers in all rows of an instruction: always for a completion
// routine other than the built-in one, else only when a queued transfer may
// touch them. When it has none, no row of the operand needs the call (the
// queue changes only when a transfer is completed or requested, and the
// engine requests none).
inline bool dma_needed(uintptr_t lo, uintptr_t hi)
{
    const kmr_sim_t &s = sim();
    if (s.dma_until_hook == nullptr)
        return false;
    if (s.dma_until_hook != &_internal_do_dma_until)
        return true;
    return dma_may_touch(lo, hi - lo);
}

}  // namespace kmrsim
