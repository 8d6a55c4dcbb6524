// Vector expression library: the generated dispatch from typed operands to
// simulator entry points.
//
// For each family of entry points (1D, 2D, 3D, accumulating, masked) one
// set of inline overloads is generated from the operand-mode list of
// kmr_sim.h. Each overload takes the opcode and the resolved operands and
// calls the one entry point whose name matches the operand kinds and the
// element types, passing the matching mode value first:
//
//   family(v_op, D *v_out, S *v_in1, S *v_in2)           VV, opcodes VAND..VCUSTOM15
//   family(v_op, D *v_out, S *v_in1, kmr_enum_t *v_enum) VE, opcodes VAND..VCUSTOM15
//   family(v_op, D *v_out, word s_in1, S *v_in2)         SV, opcodes VAND..VCUSTOM15
//   family(v_op, D *v_out, word s_in1, kmr_enum_t *)     SE, opcodes VAND..VCUSTOM15
//   family(v_op, D *v_out, S *v_in1)                     VMOV only: VV, B null
//   family(v_op, D *v_out, word s_in1)                   VMOV only: SV with source and
//                                                        destination width D's, B null
//
// D and S are the fixed-width types of the destination and source widths
// with the same signedness; word is kmr_word_t (signed) or uint32_t. The
// scalar-and-enumeration form uses word sources (its source width has no
// effect); the scalar copy uses the destination's width as source width, so
// it is charged for the destination's element size. Any other opcode makes no call. The
// enumeration argument is never forwarded: 0 is passed in its place.
#pragma once

#include <cstdint>

#include "kmr_api.h"

namespace KMR {

#define KMRX_CAT6_(a, b, c, d, e, f) a##b##c##d##e##f
#define KMRX_ENTRY_(prefix, f, sw, dw, sg) KMRX_CAT6_(kmrsim_, prefix, f, sw, dw, sg)
#define KMRX_THREE_OPERAND_(v_op) ((v_op) >= VAND && (v_op) <= MAX_INSTR_VAL)

// Vector and vector; also the vector copy (VMOV with source A a vector).
#define KMRX_DEF_VV_(name, prefix, sw, dw, sg)                                                  \
    inline void name(vinstr_t v_op, KMRSIM_ELEM_##dw##sg *v_out, KMRSIM_ELEM_##sw##sg *v_in1,   \
                     KMRSIM_ELEM_##sw##sg *v_in2)                                               \
    {                                                                                           \
        if (KMRX_THREE_OPERAND_(v_op))                                                          \
            KMRX_ENTRY_(prefix, VV, sw, dw, sg)(V_VV##sw##dw##sg, v_op, v_out, v_in1, v_in2);   \
    }                                                                                           \
    inline void name(vinstr_t v_op, KMRSIM_ELEM_##dw##sg *v_out, KMRSIM_ELEM_##sw##sg *v_in1)   \
    {                                                                                           \
        if (v_op == VMOV)                                                                       \
            KMRX_ENTRY_(prefix, VV, sw, dw, sg)(V_VV##sw##dw##sg, VMOV, v_out, v_in1, nullptr); \
    }

// Vector and enumeration.
#define KMRX_DEF_VE_(name, prefix, sw, dw, sg)                                                                    \
    inline void name(vinstr_t v_op, KMRSIM_ELEM_##dw##sg *v_out, KMRSIM_ELEM_##sw##sg *v_in1, kmr_enum_t *v_enum) \
    {                                                                                                             \
        (void)v_enum;                                                                                             \
        if (KMRX_THREE_OPERAND_(v_op))                                                                            \
            KMRX_ENTRY_(prefix, VE, sw, dw, sg)(V_VE##sw##dw##sg, v_op, v_out, v_in1, 0);                         \
    }

// Scalar and vector.
#define KMRX_DEF_SV_(name, prefix, sw, dw, sg)                                                                         \
    inline void name(vinstr_t v_op, KMRSIM_ELEM_##dw##sg *v_out, KMRSIM_ELEM_W##sg s_in1, KMRSIM_ELEM_##sw##sg *v_in2) \
    {                                                                                                                  \
        if (KMRX_THREE_OPERAND_(v_op))                                                                                 \
            KMRX_ENTRY_(prefix, SV, sw, dw, sg)(V_SV##sw##dw##sg, v_op, v_out, static_cast<int32_t>(s_in1), v_in2);    \
    }

// Scalar and enumeration, and the scalar copy; defined once per destination
// type, with word sources (the source width of these forms has no effect).
#define KMRX_DEF_SE_(name, prefix, sw, dw, sg) KMRX_DEF_SE_##sw##_(name, prefix, dw, sg)
#define KMRX_DEF_SE_B_(name, prefix, dw, sg)
#define KMRX_DEF_SE_H_(name, prefix, dw, sg)
#define KMRX_DEF_SE_W_(name, prefix, dw, sg)                                                                          \
    inline void name(vinstr_t v_op, KMRSIM_ELEM_##dw##sg *v_out, KMRSIM_ELEM_W##sg s_in1, kmr_enum_t *v_enum)         \
    {                                                                                                                 \
        (void)v_enum;                                                                                                 \
        if (KMRX_THREE_OPERAND_(v_op))                                                                                \
            KMRX_ENTRY_(prefix, SE, W, dw, sg)(V_SEW##dw##sg, v_op, v_out, static_cast<int32_t>(s_in1), 0);           \
    }                                                                                                                 \
    inline void name(vinstr_t v_op, KMRSIM_ELEM_##dw##sg *v_out, KMRSIM_ELEM_W##sg s_in1)                             \
    {                                                                                                                 \
        if (v_op == VMOV)                                                                                             \
            KMRX_ENTRY_(prefix, SV, dw, dw, sg)(V_SV##dw##dw##sg, VMOV, v_out, static_cast<int32_t>(s_in1), nullptr); \
    }

// One line per family: the overload name and the entry-point prefix.
#define KMRX_FAMILY_1D_(f, sw, dw, sg) KMRX_DEF_##f##_(kmrx, 1D_, sw, dw, sg)
#define KMRX_FAMILY_2D_(f, sw, dw, sg) KMRX_DEF_##f##_(kmrx_2D, 2D_, sw, dw, sg)
#define KMRX_FAMILY_3D_(f, sw, dw, sg) KMRX_DEF_##f##_(kmrx_3D, 3D_, sw, dw, sg)
#define KMRX_FAMILY_ACC_1D_(f, sw, dw, sg) KMRX_DEF_##f##_(kmrx_acc, acc_1D_, sw, dw, sg)
#define KMRX_FAMILY_ACC_2D_(f, sw, dw, sg) KMRX_DEF_##f##_(kmrx_acc_2D, acc_2D_, sw, dw, sg)
#define KMRX_FAMILY_ACC_3D_(f, sw, dw, sg) KMRX_DEF_##f##_(kmrx_acc_3D, acc_3D_, sw, dw, sg)
#define KMRX_FAMILY_MASKED_(f, sw, dw, sg) KMRX_DEF_##f##_(kmrx_masked, masked_1D_, sw, dw, sg)
#define KMRX_FAMILY_MASKED_ACC_(f, sw, dw, sg) KMRX_DEF_##f##_(kmrx_masked_acc, masked_acc_1D_, sw, dw, sg)

KMRSIM_MODE_LIST(KMRX_FAMILY_1D_)
KMRSIM_MODE_LIST(KMRX_FAMILY_2D_)
KMRSIM_MODE_LIST(KMRX_FAMILY_3D_)
KMRSIM_MODE_LIST(KMRX_FAMILY_ACC_1D_)
KMRSIM_MODE_LIST(KMRX_FAMILY_ACC_2D_)
KMRSIM_MODE_LIST(KMRX_FAMILY_ACC_3D_)
KMRSIM_MODE_LIST(KMRX_FAMILY_MASKED_)
KMRSIM_MODE_LIST(KMRX_FAMILY_MASKED_ACC_)

#undef KMRX_FAMILY_1D_
#undef KMRX_FAMILY_2D_
#undef KMRX_FAMILY_3D_
#undef KMRX_FAMILY_ACC_1D_
#undef KMRX_FAMILY_ACC_2D_
#undef KMRX_FAMILY_ACC_3D_
#undef KMRX_FAMILY_MASKED_
#undef KMRX_FAMILY_MASKED_ACC_
#undef KMRX_DEF_VV_
#undef KMRX_DEF_VE_
#undef KMRX_DEF_SV_
#undef KMRX_DEF_SE_
#undef KMRX_DEF_SE_B_
#undef KMRX_DEF_SE_H_
#undef KMRX_DEF_SE_W_
#undef KMRX_THREE_OPERAND_
#undef KMRX_ENTRY_
#undef KMRX_CAT6_

}  // namespace KMR
