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

cycle_memo cycle_memos[3];

void remember_shape(cycle_memo &m, int dim, int esize, uint32_t rows, uint32_t mats)
{
    instruction_cycles(dim, esize, m.cycles);
    m.dim = dim;
    m.vl = sim().regs[REG_VL];
    m.rows = rows;
    m.mats = mats;
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
    } else if (s.tqm.vector_lanes <= 0) {  // the lane count of every built-in opcode
        std::fprintf(stderr, "Error: the simulator has no vector lanes (call kmrsim_init first); nothing executed\n");
        print_issue_context(false, "refused");
        return false;
    }
    return true;
}

}  // namespace kmrsim
