/* Typed instruction calls: one inline function per entry point, so that a
 * program never writes a mode argument by hand. Each call issues its entry
 * point with the mode value that matches the entry point's name.
 *
 * Names: a family prefix followed by the mode letters (form, source width,
 * destination width, signedness):
 *
 *   kmr_VVWWS            kmrsim_1D_VVWWS            one-dimensional
 *   kmr_2D_VVWWS         kmrsim_2D_VVWWS            two-dimensional
 *   kmr_3D_VVWWS         kmrsim_3D_VVWWS            three-dimensional
 *   kmr_acc_1D_VVWWS     kmrsim_acc_1D_VVWWS        accumulating, 1D/2D/3D
 *   kmr_acc_2D_VVWWS     kmrsim_acc_2D_VVWWS
 *   kmr_acc_3D_VVWWS     kmrsim_acc_3D_VVWWS
 *   kmr_masked_1D_VVWWS  kmrsim_masked_1D_VVWWS     under the current mask
 *   kmr_masked_acc_1D_VVWWS kmrsim_masked_acc_1D_VVWWS
 *
 * The one-dimensional family keeps its short names (kmr_SEWWS, ...). Every
 * family exists for all 72 modes. Parameters, by form (D the destination
 * element type, S the source element type of the mode):
 *
 *   VV  (vinstr_t v_op, D *v_out, S *v_in1, S *v_in2)
 *   VE  (vinstr_t v_op, D *v_out, S *v_in1, kmr_enum_t *v_enum)
 *   SV  (vinstr_t v_op, D *v_out, kmr_word_t s_in1, S *v_in2)
 *   SE  (vinstr_t v_op, D *v_out, kmr_word_t s_in1, kmr_enum_t *v_enum)
 *
 * The enumeration operand is not read; 0 is passed in its place.
 *
 * KMR_CPROTO_FAMILY_LIST(X) calls X(family prefix, entry prefix) once per
 * family, in the order of the table above; with KMRSIM_MODE_LIST_WITH it
 * yields every typed call and the entry point it issues, e.g. for a
 * generated listing of the names. Compiles as C11 and as C++17. */
#ifndef KMR_CPROTO_H
#define KMR_CPROTO_H

#include "kmr_sim.h"
#include "kmr_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* clang-format off */
#define KMR_CPROTO_FAMILY_LIST(X)                                          \
    X(kmr_, kmrsim_1D_)                                                    \
    X(kmr_2D_, kmrsim_2D_)                                                 \
    X(kmr_3D_, kmrsim_3D_)                                                 \
    X(kmr_acc_1D_, kmrsim_acc_1D_)                                         \
    X(kmr_acc_2D_, kmrsim_acc_2D_)                                         \
    X(kmr_acc_3D_, kmrsim_acc_3D_)                                         \
    X(kmr_masked_1D_, kmrsim_masked_1D_)                                   \
    X(kmr_masked_acc_1D_, kmrsim_masked_acc_1D_)
/* clang-format on */

#define KMR_CPROTO_PARAMS_VV(t) t *v_in1, t *v_in2
#define KMR_CPROTO_PARAMS_VE(t) t *v_in1, kmr_enum_t *v_enum
#define KMR_CPROTO_PARAMS_SV(t) kmr_word_t s_in1, t *v_in2
#define KMR_CPROTO_PARAMS_SE(t) kmr_word_t s_in1, kmr_enum_t *v_enum
#define KMR_CPROTO_ARGS_VV v_in1, v_in2
#define KMR_CPROTO_ARGS_VE v_in1, 0
#define KMR_CPROTO_ARGS_SV s_in1, v_in2
#define KMR_CPROTO_ARGS_SE s_in1, 0
#define KMR_CPROTO_UNUSED_VV
#define KMR_CPROTO_UNUSED_VE (void)v_enum;
#define KMR_CPROTO_UNUSED_SV
#define KMR_CPROTO_UNUSED_SE (void)v_enum;

#define KMR_CPROTO_CAT3_(a, b, c) a##b##c
#define KMR_CPROTO_CAT5_(a, b, c, d, e) a##b##c##d##e

/* Typed calls are inlined even without optimisation, so that the entry
 * point is called from the program's own line: failure reports and the
 * call-site profile name that line, not this header. */
#if defined(__GNUC__)
#define KMR_CPROTO_INLINE_ __attribute__((always_inline)) static inline
#else
#define KMR_CPROTO_INLINE_ static inline
#endif

/* One typed call: family prefix fp, entry prefix ep, mode letters. */
#define KMR_CPROTO_DEFINE_(fp, ep, f, sw, dw, sg)                                                                   \
    KMR_CPROTO_INLINE_ void KMR_CPROTO_CAT5_(fp, f, sw, dw, sg)(vinstr_t v_op, KMRSIM_ELEM_##dw##sg * v_out,             \
                                                           KMR_CPROTO_PARAMS_##f(KMRSIM_ELEM_##sw##sg))             \
    {                                                                                                               \
        KMR_CPROTO_UNUSED_##f KMR_CPROTO_CAT5_(ep, f, sw, dw, sg)(KMR_CPROTO_CAT3_(V_, f, sw##dw##sg), v_op, v_out, \
                                                                  KMR_CPROTO_ARGS_##f);                             \
    }

/* KMRSIM_MODE_LIST_WITH passes one argument: the family's prefixes ride in
 * it as a parenthesised pair and are unpacked here. */
#define KMR_CPROTO_DEFINE_PAIR_(pair, f, sw, dw, sg) KMR_CPROTO_DEFINE_UNPACK_(KMR_CPROTO_DEFINE_, pair, f, sw, dw, sg)
#define KMR_CPROTO_DEFINE_UNPACK_(M, pair, f, sw, dw, sg) KMR_CPROTO_APPLY_(M, KMR_CPROTO_EXPAND_ pair, f, sw, dw, sg)
#define KMR_CPROTO_EXPAND_(fp, ep) fp, ep
#define KMR_CPROTO_APPLY_(M, ...) M(__VA_ARGS__)
#define KMR_CPROTO_DEFINE_FAMILY_(fp, ep) KMRSIM_MODE_LIST_WITH(KMR_CPROTO_DEFINE_PAIR_, (fp, ep))

KMR_CPROTO_FAMILY_LIST(KMR_CPROTO_DEFINE_FAMILY_)

#undef KMR_CPROTO_DEFINE_FAMILY_
#undef KMR_CPROTO_APPLY_
#undef KMR_CPROTO_EXPAND_
#undef KMR_CPROTO_DEFINE_UNPACK_
#undef KMR_CPROTO_DEFINE_PAIR_
#undef KMR_CPROTO_DEFINE_
#undef KMR_CPROTO_INLINE_

#ifdef __cplusplus
}
#endif

#endif /* KMR_CPROTO_H */
