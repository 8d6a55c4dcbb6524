/* Every typed call of every family, compiled as C11: each one is run and
 * its entry point is run from the same memories, and the two must leave the
 * same scratchpad, flag memory and statistics. The calls are generated from
 * the family list and the mode list, so a call that issued the wrong entry
 * point (another width, signedness, form, dimensionality, accumulation or
 * the unmasked twin) shows up as a difference: the data are pseudo-random
 * and the opcode is a subtraction, whose values and flags depend on all of
 * these. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kmr_api.h"

enum {
    DEST = 0,
    SRC_A = 1024,
    SRC_B = 2048,
    SPAN = 3072
};

static uint8_t start_mem[SPAN], start_flags[SPAN];
static uint8_t typed_mem[SPAN], typed_flags[SPAN];
static kmrsim_stats_t typed_stats;
static int calls, failures;

static uint8_t *sp_at(int off)
{
    return (uint8_t *)get_the_kmrsim()->tqm.scratchpad_addr + off;
}
static uint8_t *flags_at(int off)
{
    return (uint8_t *)get_flg_addr(sp_at(off));
}

static void restore(void)
{
    memcpy(sp_at(0), start_mem, SPAN);
    memcpy(flags_at(0), start_flags, SPAN);
    kmrsim_reset_stats();
}

static void keep_typed(void)
{
    memcpy(typed_mem, sp_at(0), SPAN);
    memcpy(typed_flags, flags_at(0), SPAN);
    typed_stats = kmrsim_get_stats();
}

static void compare(const char *name)
{
    kmrsim_stats_t flat_stats = kmrsim_get_stats();
    calls += 1;
    if (memcmp(typed_mem, sp_at(0), SPAN) != 0 || memcmp(typed_flags, flags_at(0), SPAN) != 0 ||
        memcmp(&typed_stats, &flat_stats, sizeof flat_stats) != 0) {
        printf("%s differs from its entry point\n", name);
        failures += 1;
    }
}

#define TC_SCALAR 0x5A3C9177
#define TC_TYPED_VV(S) (S *)sp_at(SRC_A), (S *)sp_at(SRC_B)
#define TC_TYPED_VE(S) (S *)sp_at(SRC_A), (kmr_enum_t *)0
#define TC_TYPED_SV(S) TC_SCALAR, (S *)sp_at(SRC_B)
#define TC_TYPED_SE(S) TC_SCALAR, (kmr_enum_t *)0
#define TC_FLAT_VV sp_at(SRC_A), sp_at(SRC_B)
#define TC_FLAT_VE sp_at(SRC_A), 0
#define TC_FLAT_SV TC_SCALAR, sp_at(SRC_B)
#define TC_FLAT_SE TC_SCALAR, 0

#define TC_CAT5_(a, b, c, d, e) a##b##c##d##e
#define TC_STR_(x) #x
#define TC_NAME_(fp, f, sw, dw, sg) TC_STR_(fp##f##sw##dw##sg)

#define TC_CHECK_(fp, ep, f, sw, dw, sg)                                                                        \
    restore();                                                                                                  \
    TC_CAT5_(fp, f, sw, dw, sg)(VSUB, (KMRSIM_ELEM_##dw##sg *)sp_at(DEST), TC_TYPED_##f(KMRSIM_ELEM_##sw##sg)); \
    keep_typed();                                                                                               \
    restore();                                                                                                  \
    TC_CAT5_(ep, f, sw, dw, sg)(V_##f##sw##dw##sg, VSUB, sp_at(DEST), TC_FLAT_##f);                             \
    compare(TC_NAME_(fp, f, sw, dw, sg));

#define TC_CHECK_PAIR_(pair, f, sw, dw, sg) TC_APPLY_(TC_CHECK_, TC_EXPAND_ pair, f, sw, dw, sg)
#define TC_EXPAND_(fp, ep) fp, ep
#define TC_APPLY_(M, ...) M(__VA_ARGS__)
#define TC_CHECK_FAMILY_(fp, ep) KMRSIM_MODE_LIST_WITH(TC_CHECK_PAIR_, (fp, ep))

int main(void)
{
    int i;
    uint8_t *mask_src;
    kmrsim_init(4, 64, 256, 6, 5, 4);

    /* A mask that enables about half of the first 40 positions. */
    mask_src = (uint8_t *)kmr_sp_malloc_nodebug(64);
    for (i = 0; i < 40; ++i)
        mask_src[i] = (uint8_t)((i * 7) % 3 == 0);
    kmr_set_vl(40);
    kmrsim_setup_mask(V_VVBBU, VCMV_NZ, mask_src);

    srand(12345);
    for (i = 0; i < SPAN; ++i) {
        start_mem[i] = (uint8_t)rand();
        start_flags[i] = (uint8_t)(rand() & 1);
    }
    /* 2D: 3 rows, 3D: 2 matrices; rows 80 bytes apart, matrices 300. */
    KMR_SET_VL(KMR_SEL_COUNT, 3, 80);
    KMR_SET_VL(KMR_SEL_STRIDES, 80, 80);
    KMR_SET_VL3D(KMR_SEL_COUNT, 2, 300);
    KMR_SET_VL3D(KMR_SEL_STRIDES, 300, 300);

    KMR_CPROTO_FAMILY_LIST(TC_CHECK_FAMILY_)

    printf("%d passed, %d failed\n", calls - failures, failures);
    return failures == 0 && calls == 8 * KMRSIM_NUM_MODES ? 0 : 1;
}
