// The cycle estimate of one instruction on 1, 2, 4, ... 256 lanes, from the
// vector length, row and matrix registers: the figures the statistics add
// up and the tools report per instruction.
#pragma once

#include <algorithm>
#include <cstdint>

#include "kmrsim.hpp"

namespace kmrsim {

// The cycles of the current instruction on every configuration.
inline void instruction_cycles(int dim, int esize, uint32_t out[KMRSIM_NUM_CONFIGS])
{
    const kmr_sim_t &s = sim();
    const uint64_t vl = s.regs[REG_VL];
    const uint32_t rows = s.regs[REG_ROWS];
    const uint32_t mats = s.regs[REG_MATS];
    // Elements per cycle, (2^i * 4) / esize, is a power of two for the element
    // sizes 1, 2 and 4, so the rounded-up division is a shift.
    const int esize_log2 = esize >= 4 ? 2 : esize >= 2 ? 1 : 0;
    for (int i = 0; i < KMRSIM_NUM_CONFIGS; ++i) {
        const int shift = std::max(i + 2 - esize_log2, 0);
        uint32_t c = static_cast<uint32_t>((vl + (uint64_t(1) << shift) - 1) >> shift);
        if (dim >= 2)
            c *= rows;
        if (dim == 3)
            c *= mats;
        out[i] = c;
    }
}

}  // namespace kmrsim
