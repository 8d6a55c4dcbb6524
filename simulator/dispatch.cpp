// Opcode checks, cycle accounting and instruction admission, shared by every
// entry point and by mask setup.
#include "dispatch.hpp"
#include "accumulate.hpp"

#include <cstdio>

namespace kmrsim {

int64_t accumulator = 0;
bool whole_row_path_enabled = true;

bool issuable(vinstr_t instr, bool masked)
{
    if (static_cast<uint32_t>(instr) > static_cast<uint32_t>(MAX_INSTR_VAL)) {
        std::fprintf(stderr, "Error: opcode %d is not an instruction (0 to %d); nothing executed\n",
                     static_cast<int>(instr), static_cast<int>(MAX_INSTR_VAL));
        return false;
    }
    if (masked && sim().mask_memory == nullptr) {
        std::fprintf(stderr, "Error: masked instruction without mask memory (mask depth 0); nothing executed\n");
        return false;
    }
    return true;
}

void account_cycles(vinstr_t instr, int dim, int esize)
{
    kmr_sim_t &s = sim();
    const uint64_t vl = s.regs[REG_VL];
    const uint32_t rows = s.regs[REG_ROWS];
    const uint32_t mats = s.regs[REG_MATS];
    uint32_t *cycles = s.stats.cycle_count[instr];
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
        cycles[i] += c;
    }
}

bool count_and_admit(vinstr_t instr)
{
    kmr_sim_t &s = sim();
    s.stats.instruction_count[instr] += 1;
    if (instr >= VCUSTOM) {
        const int k = instr - VCUSTOM;
        if (s.custom_instructions[k].func == nullptr) {
            std::fprintf(stderr, "Error: NO VCUSTOM%d registered\n", k);
            return false;
        }
        if (lanes_for_instruction(instr) <= 0) {
            std::fprintf(stderr,
                         "Error: %s has a lane count of %d (register it again after kmrsim_init); "
                         "nothing executed\n",
                         opcode_name(instr), lanes_for_instruction(instr));
            return false;
        }
    } else if (lanes_for_instruction(instr) <= 0) {
        std::fprintf(stderr, "Error: the simulator has no vector lanes (call kmrsim_init first); nothing executed\n");
        return false;
    }
    return true;
}

}  // namespace kmrsim
