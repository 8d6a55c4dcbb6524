// Generates entry-point definitions from the lists in kmr_sim.h: each entry
// is a thin C-callable wrapper that runs the common chain with the element
// types, form, dimensionality and switches its name encodes.
#pragma once

#include "dispatch.hpp"

#define KMRSIM_ELEM_BS int8_t
#define KMRSIM_ELEM_BU uint8_t
#define KMRSIM_ELEM_HS int16_t
#define KMRSIM_ELEM_HU uint16_t
#define KMRSIM_ELEM_WS int32_t
#define KMRSIM_ELEM_WU uint32_t

#define KMRSIM_DEFINE_ENTRY_(masked, name, dim, acc, f, sw, dw, sg)                                                \
    extern "C" void name(kmrsim_vmode_t, vinstr_t instr, void *dest, KMRSIM_ARG_A_##f srcA, KMRSIM_ARG_B_##f srcB) \
    {                                                                                                              \
        kmrsim::run_entry<kmrsim::FORM_##f, KMRSIM_ELEM_##sw##sg, KMRSIM_ELEM_##dw##sg>(                           \
            dim, acc != 0, masked, instr, dest, kmrsim::make_operand(srcA), kmrsim::make_operand(srcB));           \
    }

#define KMRSIM_DEFINE_UNMASKED_ENTRY_(name, dim, acc, f, sw, dw, sg) \
    KMRSIM_DEFINE_ENTRY_(false, name, dim, acc, f, sw, dw, sg)
#define KMRSIM_DEFINE_MASKED_ENTRY_(name, dim, acc, f, sw, dw, sg) \
    KMRSIM_DEFINE_ENTRY_(true, name, dim, acc, f, sw, dw, sg)
