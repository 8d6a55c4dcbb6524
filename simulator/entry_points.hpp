// Generates entry-point definitions from the lists in kmr_sim.h: each entry
// is a thin C-callable wrapper that runs the common chain with the element
// types, form, dimensionality and switches its name encodes.
#pragma once

#include "dispatch.hpp"

#define KMRSIM_DEFINE_ENTRY_(name, dims, acc, masked, f, sw, dw, sg)                                               \
    extern "C" void name(kmrsim_vmode_t, vinstr_t instr, void *dest, KMRSIM_ARG_A_##f srcA, KMRSIM_ARG_B_##f srcB) \
    {                                                                                                              \
        kmrsim::enter(#name, __builtin_return_address(0));                                                         \
        kmrsim::run_entry<KMRSIM_FORM_##f, KMRSIM_ELEM_##sw##sg, KMRSIM_ELEM_##dw##sg>(                            \
            dims, acc != 0, masked != 0, instr, dest, kmrsim::make_operand(srcA), kmrsim::make_operand(srcB));     \
    }
