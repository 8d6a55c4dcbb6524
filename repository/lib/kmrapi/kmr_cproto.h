/* Typed instruction calls: one inline function per operand mode, named
 * kmr_ + the mode letters (kmr_SEWWS, kmr_VVBHU, ...), issuing the
 * one-dimensional entry point of that mode with the matching mode value. */
#ifndef KMR_CPROTO_H
#define KMR_CPROTO_H

#include "kmr_sim.h"
#include "kmr_types.h"

#ifdef __cplusplus
extern "C" {
#endif

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

#define KMR_CPROTO_DEFINE_(f, sw, dw, sg)                                                                     \
    static inline void kmr_##f##sw##dw##sg(vinstr_t v_op, KMRSIM_ELEM_##dw##sg *v_out,                        \
                                           KMR_CPROTO_PARAMS_##f(KMRSIM_ELEM_##sw##sg))                       \
    {                                                                                                         \
        KMR_CPROTO_UNUSED_##f kmrsim_1D_##f##sw##dw##sg(V_##f##sw##dw##sg, v_op, v_out, KMR_CPROTO_ARGS_##f); \
    }

KMRSIM_MODE_LIST(KMR_CPROTO_DEFINE_)

#undef KMR_CPROTO_DEFINE_

#ifdef __cplusplus
}
#endif

#endif /* KMR_CPROTO_H */
