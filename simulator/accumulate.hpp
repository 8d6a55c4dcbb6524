// Accumulating instructions: each row's enabled results are summed in a
// 40-bit accumulator and the sum, saturated to the destination type, is
// stored with its flag in the row's destination element 0.
#pragma once

#include <cstdint>
#include <cstdio>
#include <type_traits>

#include "element_ops.hpp"
#include "memory.hpp"

namespace kmrsim {

// The accumulator: 64 bits in the simulator, wrapped to the hardware's 40
// bits at the end of every row. Set to 0 at the start of every row.
inline constexpr int accumulator_width = 40;
extern int64_t accumulator;

// End of an accumulating row: wrap to 40 bits (with a warning when the sum
// did not fit), saturate to D, check the destination element and store the
// sum and its flag (no flag for a destination in the mask memory).
template <typename D>
void finish_accumulation(const memory_view &mem, uintptr_t dest, bool dest_flags)
{
    const int64_t sum = accumulator;
    const uint64_t top = static_cast<uint64_t>(sum) >> accumulator_width;
    const int64_t wrapped =
        static_cast<int64_t>(static_cast<uint64_t>(sum) << (64 - accumulator_width)) >> (64 - accumulator_width);
    if ((static_cast<uint64_t>(wrapped) >> accumulator_width) != top)
        std::fprintf(stderr, "Warning: %dbit accumulator has overflowed\n", accumulator_width);
    accumulator = wrapped;

    D value;
    D flag = 0;
    if constexpr (std::is_signed_v<D>) {
        if (wrapped > int64_t(max_int<D>())) {
            value = max_int<D>();
            flag = 1;
        } else if (wrapped < int64_t(min_int<D>())) {
            value = min_int<D>();
            flag = 1;
        } else {
            value = static_cast<D>(wrapped);
        }
    } else {
        if (static_cast<uint64_t>(wrapped) > uint64_t(max_int<D>())) {
            value = max_int<D>();
            flag = 1;
        } else {
            value = static_cast<D>(wrapped);
        }
    }
    check_range(dest, int64_t(sizeof(D)), operand_kind::dest);
    store<D>(dest, value);
    if (dest_flags)
        store<D>(mem.flag_of(dest), flag);
}

}  // namespace kmrsim
