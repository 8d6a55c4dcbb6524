// Opcode checks, cycle accounting and instruction admission, shared by every
// entry point and by mask setup.
#include "dispatch.hpp"
#include "accumulate.hpp"
#include "cycle_model.hpp"
#include "issue_record.hpp"
#include "observers.hpp"

#include <cstdio>

namespace kmrsim {

int64_t accumulator = 0;
bool whole_row_path_enabled = true;

bool issuable(vinstr_t instr, bool masked)
{
    if (static_cast<uint32_t>(instr) > static_cast<uint32_t>(MAX_INSTR_VAL)) {
        std::fprintf(stderr, "Error: opcode %d is not an instruction (0 to %d); nothing executed\n",
                     static_cast<int>(instr), static_cast<int>(MAX_INSTR_VAL));
        print_issue_context(false, "refused");
        return false;
    }
    if (masked && sim().mask_memory == nullptr) {
        std::fprintf(stderr, "Error: masked instruction without mask memory (mask depth 0); nothing executed\n");
        print_issue_context(false, "refused");
        return false;
    }
    return true;
}

namespace {
// The last estimate made for each element size (1, 2, 4 bytes), with the
// shape it was made for: programs issue runs of instructions of one shape,
// and the estimate depends on nothing else.
struct cycle_memo {
    uint64_t vl = 0;
    uint32_t rows = 0, mats = 0;
    int dim = 0;  // 0: nothing remembered
    uint32_t cycles[KMRSIM_NUM_CONFIGS] = {};
};
cycle_memo memo[3];

// Makes the estimate for a new shape (kept out of line, so that the common
// case, a remembered shape, is a few compares and adds).
[[gnu::noinline]] void remember_shape(cycle_memo &m, int dim, int esize, uint32_t rows, uint32_t mats)
{
    instruction_cycles(dim, esize, m.cycles);
    m.dim = dim;
    m.vl = sim().regs[REG_VL];
    m.rows = rows;
    m.mats = mats;
}
}  // namespace

void account_cycles(vinstr_t instr, int dim, int esize)
{
    const kmr_sim_t &s = sim();
    cycle_memo &m = memo[esize >= 4 ? 2 : esize >= 2 ? 1 : 0];
    const uint32_t rows = dim >= 2 ? s.regs[REG_ROWS] : 0, mats = dim == 3 ? s.regs[REG_MATS] : 0;
    if (m.dim != dim || m.vl != s.regs[REG_VL] || m.rows != rows || m.mats != mats) [[unlikely]]
        remember_shape(m, dim, esize, rows, mats);
    uint32_t *cycles = sim().stats.cycle_count[instr];
    for (int i = 0; i < KMRSIM_NUM_CONFIGS; ++i)
        cycles[i] += m.cycles[i];
}

bool count_and_admit(vinstr_t instr)
{
    kmr_sim_t &s = sim();
    s.stats.instruction_count[instr] += 1;
    if (instr >= VCUSTOM) {
        const int k = instr - VCUSTOM;
        if (s.custom_instructions[k].func == nullptr) {
            std::fprintf(stderr, "Error: NO VCUSTOM%d registered\n", k);
            print_issue_context(false, "refused");
            return false;
        }
        if (lanes_for_instruction(instr) <= 0) {
            std::fprintf(stderr,
                         "Error: %s has a lane count of %d (register it again after kmrsim_init); "
                         "nothing executed\n",
                         opcode_name(instr), lanes_for_instruction(instr));
            print_issue_context(false, "refused");
            return false;
        }
    } else if (lanes_for_instruction(instr) <= 0) {
        std::fprintf(stderr, "Error: the simulator has no vector lanes (call kmrsim_init first); nothing executed\n");
        print_issue_context(false, "refused");
        return false;
    }
    return true;
}

}  // namespace kmrsim
