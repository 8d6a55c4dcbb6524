// What the engine knows while it runs an instruction: the per-instruction
// context (decided once, before the first row), the per-row state, and the
// storage and pipeline of each executor instance.
#pragma once

#include <cstdint>

#include "element_ops.hpp"
#include "engine_steps.hpp"
#include "memory.hpp"
#include "overlap.hpp"
#include "pipeline.hpp"
#include "workspace.hpp"

namespace kmrsim {

// Operand A or B of a form is a vector in the scratchpad.
constexpr bool a_is_vector(int form)
{
    return form == KMRSIM_FORM_VV || form == KMRSIM_FORM_VE;
}
constexpr bool b_is_vector(int form)
{
    return form == KMRSIM_FORM_VV || form == KMRSIM_FORM_SV;
}

// Everything an instruction decides once, before its first row.
template <typename S>
struct instr_ctx {
    vinstr_t op;
    int form;  // kmrsim_form_t
    bool masked;
    bool acc;
    bool custom;
    bool wide;  // the rows run the instances compiled for AVX2 (use_wide)
    int G;      // elements per lane group
    kmrsim_custom_func_t func;
    uint16_t opcode_select;
    op_loop_fn<S> loop_all;   // every element computed
    op_loop_fn<S> loop_some;  // elements with a nonzero enable entry
    const op_info *info;      // the opcode's facts
    unsigned frac;            // fixed-point fraction width of S
    memory_view mem;
    row_plan plan;
    // Whether an operand's rows may have DMA to complete (dma_needed over
    // the operand's span); false lets every row skip the call.
    bool dma_dest, dma_a, dma_b;
    // Whether an operand's rows all lie in the scratchpad (plan_ranges).
    bool dest_inside, a_inside, b_inside;
};

// One row of an instruction.
struct row_ctx {
    uintptr_t dest;
    uintptr_t scalar;  // address of the 32-bit scalar A (SV and SE forms)
    source_view a;     // vector sources (values 0 for a scalar or the enumeration)
    source_view b;
    int32_t L;        // elements in the row
    bool first_row;   // first row of the instruction
    bool last_row;    // last row of the instruction
    bool dest_flags;  // the destination has flags (it is not the mask memory)
};

// The storage and write-back pipeline of one executor instance, made on
// first use and kept for the life of the process.
template <typename D, typename S>
struct executor {
    workspace<D, S> ws;
    write_back_pipeline<D, S> rb;
};

}  // namespace kmrsim
