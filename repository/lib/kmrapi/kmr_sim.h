/* The simulator's public interface: operand modes, instruction registers,
 * the statistics record, custom-instruction arguments, the simulator state
 * and every exported simulator function. Compiles as C11 and as C++17. */
#ifndef KMR_SIM_H
#define KMR_SIM_H

#include <stddef.h>
#include <stdint.h>

#include "kmr_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * Operand forms, element widths, element types and operand modes.
 *
 * An instruction's operand mode names its form (what operands A and B
 * are), the width of its vector sources, the width of its destination and
 * its signedness, in this order: V_VVWBS reads two signed 32-bit vectors
 * and writes signed 8-bit results. A mode's value is
 *     24 * source width + 8 * destination width + 2 * form + signedness
 * with the codes below. Everything that issues or decodes modes (entry
 * points, typed calls, mask setup, the vector library) uses these.
 * ---------------------------------------------------------------------- */

/* Operand forms: A and B are a vector (V), a scalar (S, operand A only) or
 * the enumeration (E, operand B only: element i of a row has the value i). */
typedef enum kmrsim_form_t {
    KMRSIM_FORM_SE = 0, /* scalar A, enumeration B */
    KMRSIM_FORM_SV = 1, /* scalar A, vector B */
    KMRSIM_FORM_VE = 2, /* vector A, enumeration B */
    KMRSIM_FORM_VV = 3  /* vector A, vector B */
} kmrsim_form_t;

/* Element widths: the code is log2 of the element size in bytes. */
enum {
    KMRSIM_WIDTH_B = 0, /* 8 bits */
    KMRSIM_WIDTH_H = 1, /* 16 bits */
    KMRSIM_WIDTH_W = 2  /* 32 bits */
};

/* Signedness codes. */
enum {
    KMRSIM_SIGN_S = 0, /* signed */
    KMRSIM_SIGN_U = 1  /* unsigned */
};

/* The element type of a width letter and a signedness letter. */
#define KMRSIM_ELEM_BS int8_t
#define KMRSIM_ELEM_BU uint8_t
#define KMRSIM_ELEM_HS int16_t
#define KMRSIM_ELEM_HU uint16_t
#define KMRSIM_ELEM_WS int32_t
#define KMRSIM_ELEM_WU uint32_t

/* Mode value from its codes, and the codes of a mode value. */
#define KMRSIM_MODE_VALUE(form, src_width, dst_width, sign) (24 * (src_width) + 8 * (dst_width) + 2 * (form) + (sign))
#define KMRSIM_MODE_SRC_WIDTH(mode) ((int)(mode) / 24)
#define KMRSIM_MODE_DST_WIDTH(mode) (((int)(mode) / 8) % 3)
#define KMRSIM_MODE_FORM(mode) (((int)(mode) / 2) % 4)
#define KMRSIM_MODE_IS_UNSIGNED(mode) ((int)(mode)&1)

/* KMRSIM_MODE_LIST(X) calls X(form, source width, destination width, sign)
 * with letters (VV, W, B, S ...) once per mode, in the order of the mode
 * values. KMRSIM_MODE_LIST_WITH(X, arg) calls X(arg, form, source width,
 * destination width, sign), and KMRSIM_MODES_OF_SOURCE(X, arg, sw) does so
 * for the 24 modes with source width sw only. */
/* clang-format off */
#define KMRSIM_MODE_LIST(X) KMRSIM_MODE_LIST_WITH(KMRSIM_CALL_WITHOUT_ARG_, X)
#define KMRSIM_MODE_LIST_WITH(X, arg) \
    KMRSIM_MODES_OF_SOURCE(X, arg, B) KMRSIM_MODES_OF_SOURCE(X, arg, H) KMRSIM_MODES_OF_SOURCE(X, arg, W)
#define KMRSIM_MODES_OF_SOURCE(X, arg, sw) \
    KMRSIM_MODES_DST_(X, arg, sw, B) KMRSIM_MODES_DST_(X, arg, sw, H) KMRSIM_MODES_DST_(X, arg, sw, W)
#define KMRSIM_MODES_DST_(X, arg, sw, dw)                                     \
    KMRSIM_MODES_SIGN_(X, arg, SE, sw, dw) KMRSIM_MODES_SIGN_(X, arg, SV, sw, dw) \
    KMRSIM_MODES_SIGN_(X, arg, VE, sw, dw) KMRSIM_MODES_SIGN_(X, arg, VV, sw, dw)
#define KMRSIM_MODES_SIGN_(X, arg, f, sw, dw) X(arg, f, sw, dw, S) X(arg, f, sw, dw, U)
#define KMRSIM_CALL_WITHOUT_ARG_(X, f, sw, dw, sg) X(f, sw, dw, sg)

#define KMRSIM_MODE_ENUMERATOR_(f, sw, dw, sg) V_##f##sw##dw##sg,
typedef enum kmrsim_vmode_t {
    KMRSIM_MODE_LIST(KMRSIM_MODE_ENUMERATOR_)
    KMRSIM_NUM_MODES
} kmrsim_vmode_t;
#undef KMRSIM_MODE_ENUMERATOR_
/* clang-format on */

/* ------------------------------------------------------------------------
 * Instruction registers.
 * ---------------------------------------------------------------------- */
enum {
    REG_VL = 0,   /* vector length: elements per row */
    REG_ROWS = 1, /* rows of a 2D instruction */
    REG_ID2 = 2,  /* destination row stride in bytes */
    REG_IA2 = 3,  /* source A row stride in bytes */
    REG_IB2 = 4,  /* source B row stride in bytes */
    REG_MATS = 5, /* matrices of a 3D instruction */
    REG_ID3 = 6,  /* destination matrix stride in bytes */
    REG_IA3 = 7,  /* source A matrix stride in bytes */
    REG_IB3 = 8,  /* source B matrix stride in bytes */
    KMRSIM_NUM_REGS = 32
};

/* Selectors of KMR_SET_VL and KMR_SET_VL3D. */
enum {
    KMR_SEL_VL = 1,     /* KMR_SET_VL: vector length (both values equal) */
    KMR_SEL_COUNT = 3,  /* row (or matrix) count and destination stride */
    KMR_SEL_STRIDES = 4 /* source A and source B strides */
};

/* ------------------------------------------------------------------------
 * Statistics.
 * ---------------------------------------------------------------------- */
#define KMRSIM_NUM_OPCODES (MAX_INSTR_VAL + 1)
#define KMRSIM_NUM_CONFIGS 9
/* The largest lane count and scratchpad size (in KB) that kmrsim_init
 * accepts. */
#define KMRSIM_MAX_LANES 4096
#define KMRSIM_MAX_SCRATCHPAD_KB 1048576

typedef struct kmrsim_stats_t {
    uint32_t cycle_count[KMRSIM_NUM_OPCODES][KMRSIM_NUM_CONFIGS];
    uint32_t instruction_count[KMRSIM_NUM_OPCODES];
    uint32_t set_vl_count;
    uint32_t set_2D_count;
    uint32_t set_3D_count;
    uint32_t dma_bytes;
    uint32_t dma_calls;
    uint32_t dma_cycles[KMRSIM_NUM_CONFIGS];
} kmrsim_stats_t;

/* ------------------------------------------------------------------------
 * Custom instructions. The record passed to a custom function; every array
 * holds one lane group of the computation type (opsize 0: 8-bit, 1: 16-bit,
 * 2: 32-bit elements, signed or unsigned by is_signed).
 * ---------------------------------------------------------------------- */
typedef struct kmrsim_custom_args {
    uint16_t opcode_select; /* 1 << (issued VCUSTOMk - first of its group) */
    uint8_t start;          /* first lane group of the instruction */
    uint8_t end;            /* last lane group of the instruction */
    void *dest_addr_in;     /* destination of the lane group's element 0 */
    void *dest_addr_out;    /* where the results go; may be redirected */
    uint8_t is_signed;
    int32_t opsize;
    void *valid_in;  /* enable entries */
    void *valid_out; /* the same array as valid_in */
    void *a;
    void *a_flag;
    void *b;
    void *b_flag;
    void *out;      /* previous destination values in, results out */
    void *out_flag; /* previous destination flags in, result flags out */
} kmrsim_custom_args;

typedef void (*kmrsim_custom_func_t)(kmrsim_custom_args *);

typedef struct kmrsim_custom_entry_t {
    kmrsim_custom_func_t func; /* null when the opcode is unregistered */
    int32_t first;             /* first VCUSTOM number of the group */
    int32_t count;             /* size of the group */
} kmrsim_custom_entry_t;

#define KMRSIM_NUM_CUSTOM 16

/* ------------------------------------------------------------------------
 * DMA queue node.
 * ---------------------------------------------------------------------- */
typedef struct dma_request_t {
    struct dma_request_t *next;
    uint8_t *to;
    uint8_t *from;
    uint64_t size;
    uint8_t to_host;
} dma_request_t;

typedef void (*kmrsim_dma_hook_t)(void *sp_ptr, size_t len);

/* ------------------------------------------------------------------------
 * The simulator state (one per process, see get_the_kmrsim).
 * ---------------------------------------------------------------------- */
typedef struct kmr_sim_t {
    uint32_t regs[KMRSIM_NUM_REGS];
    uint8_t *flag_memory;
    kmr_tqm_t tqm;
    uint32_t dma_type;
    uint32_t warnings_enabled;
    kmrsim_stats_t stats;
    kmrsim_custom_entry_t custom_instructions[KMRSIM_NUM_CUSTOM];
    kmrsim_dma_hook_t dma_until_hook;
    dma_request_t *dma_queue;
    uint32_t reg_mask[KMRSIM_NUM_REGS];
    uint8_t *mask_memory;
    int32_t mask_length;
    int32_t mask_status_read;
} kmr_sim_t;

/* Lifecycle. */
kmr_sim_t *get_the_kmrsim(void);
void set_the_kmrsim(kmr_sim_t *sim);
void kmrsim_init(int vector_lanes, int scratchpad_kb, int mask_depth, unsigned fxp_word_frac_bits,
                 unsigned fxp_half_frac_bits, unsigned fxp_byte_frac_bits);
void kmrsim_destroy(void);

/* Instruction registers. */
void KMR_SET_VL(uint32_t selector, uint32_t new_vl1, uint32_t new_vl2);
void KMR_SET_VL3D(uint32_t selector, uint32_t value1, uint32_t value2);
void KMR_SET(uint32_t reg, uint32_t value);
uint32_t _KMR_GET1(uint32_t reg);
void kmr_assert_tqm_reg_range(uint32_t reg);

/* ------------------------------------------------------------------------
 * Instruction entry points.
 *
 * Every entry point takes (mode, opcode, destination, A, B); a vector
 * operand is a scratchpad address, a scalar and the (unread) enumeration
 * argument are 32-bit integers. The mode argument is not read.
 * ---------------------------------------------------------------------- */
#define KMRSIM_ARG_A_VV void *
#define KMRSIM_ARG_A_VE void *
#define KMRSIM_ARG_A_SV int32_t
#define KMRSIM_ARG_A_SE int32_t
#define KMRSIM_ARG_B_VV void *
#define KMRSIM_ARG_B_VE int32_t
#define KMRSIM_ARG_B_SV void *
#define KMRSIM_ARG_B_SE int32_t

/* The entry points of one mode: KMRSIM_UNMASKED_ENTRIES(X, f, sw, dw, sg)
 * calls X(name, dimensions, acc, masked, f, sw, dw, sg) for the six
 * unmasked ones (1D, 2D, 3D, each with and without acc_), and
 * KMRSIM_MASKED_ENTRIES(X, f, sw, dw, sg) for the two masked ones.
 * KMRSIM_ENTRY_LIST(X) calls X for every entry point: 432 unmasked, then
 * 144 masked. */
/* clang-format off */
#define KMRSIM_UNMASKED_ENTRIES(X, f, sw, dw, sg)                   \
    X(kmrsim_1D_##f##sw##dw##sg, 1, 0, 0, f, sw, dw, sg)            \
    X(kmrsim_2D_##f##sw##dw##sg, 2, 0, 0, f, sw, dw, sg)            \
    X(kmrsim_3D_##f##sw##dw##sg, 3, 0, 0, f, sw, dw, sg)            \
    X(kmrsim_acc_1D_##f##sw##dw##sg, 1, 1, 0, f, sw, dw, sg)        \
    X(kmrsim_acc_2D_##f##sw##dw##sg, 2, 1, 0, f, sw, dw, sg)        \
    X(kmrsim_acc_3D_##f##sw##dw##sg, 3, 1, 0, f, sw, dw, sg)
#define KMRSIM_MASKED_ENTRIES(X, f, sw, dw, sg)                     \
    X(kmrsim_masked_1D_##f##sw##dw##sg, 1, 0, 1, f, sw, dw, sg)     \
    X(kmrsim_masked_acc_1D_##f##sw##dw##sg, 1, 1, 1, f, sw, dw, sg)
#define KMRSIM_ENTRY_LIST(X) \
    KMRSIM_MODE_LIST_WITH(KMRSIM_UNMASKED_ENTRIES, X) KMRSIM_MODE_LIST_WITH(KMRSIM_MASKED_ENTRIES, X)
/* clang-format on */

#define KMRSIM_DECLARE_ENTRY_(name, dims, acc, masked, f, sw, dw, sg) \
    void name(kmrsim_vmode_t mode, vinstr_t instr, void *dest, KMRSIM_ARG_A_##f srcA, KMRSIM_ARG_B_##f srcB);
KMRSIM_ENTRY_LIST(KMRSIM_DECLARE_ENTRY_)
#undef KMRSIM_DECLARE_ENTRY_

/* The mnemonic of an opcode ("VMOV", "VCUSTOM3", ...): the name of its
 * value in vinstr_t (for the aliases, the first name). Null for a value
 * that is not an opcode. */
const char *kmrsim_opcode_name(int opcode);

/* Masks. */
void kmrsim_setup_mask(kmrsim_vmode_t mode, vinstr_t instr, void *src);
void kmrsim_setup_mask_masked(kmrsim_vmode_t mode, vinstr_t instr, void *src);
void kmr_get_mask(uint32_t *status);

/* Custom instructions. */
void kmrsim_set_custom_instruction(int first, int count, int lanes, void (*func)(kmrsim_custom_args *));

/* DMA. */
void sim_dma_to_vector(void *to, const void *from, size_t num_bytes);
void sim_dma_to_host(void *to, const void *from, size_t num_bytes);
void kmr_sim_sync(void);
void kmrsim_set_dma_type(uint32_t dma_type);
void print_dma_queue(void);
void *get_flg_addr(void *p);

/* Statistics. */
void kmrsim_print_stats(void);
void kmrsim_print_stats_extended(void);
kmrsim_stats_t kmrsim_get_stats(void);
void kmrsim_reset_stats(void);
void kmrsim_enable_warnings(void);
void kmrsim_disable_warnings(void);

#ifdef __cplusplus
}
#endif

#endif /* KMR_SIM_H */
