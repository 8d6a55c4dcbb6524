/* Shared types of the TQM host API and the simulator: opcodes, element
 * types and the processor descriptor. Compiles as C11 and as C++17. */
#ifndef KMR_TYPES_H
#define KMR_TYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Opcodes of the vector unit.
 *
 * KMR_OPCODE_LIST(X) calls X(name, value) once per opcode, in the order of
 * the values 0 .. 39: the built-in operations VMOV .. VABSDIFF (0 .. 23),
 * then the sixteen custom opcodes VCUSTOM0 .. VCUSTOM15 (24 .. 39).
 * KMR_OPCODE_ALIAS_LIST(X) calls X(alias, name) for the second names of
 * some opcodes. The enumeration below, the simulator's opcode names
 * (kmrsim_opcode_name) and everything that prints or documents opcodes
 * are generated from these two lists. */
/* clang-format off */
#define KMR_OPCODE_LIST(X)                                                              \
    X(VMOV, 0)       X(VAND, 1)       X(VOR, 2)        X(VXOR, 3)                        \
    X(VADD, 4)       X(VSUB, 5)       X(VADDC, 6)      X(VSUBB, 7)                       \
    X(VMUL, 8)       X(VMULHI, 9)     X(VMULFXP, 10)   X(VSUBFXP, 11)                    \
    X(VSHL, 12)      X(VSHR, 13)      X(VROTL, 14)     X(VROTR, 15)                      \
    X(VCMV_LEZ, 16)  X(VCMV_GTZ, 17)  X(VCMV_LTZ, 18)  X(VCMV_GEZ, 19)                   \
    X(VCMV_Z, 20)    X(VCMV_NZ, 21)   X(VADDFXP, 22)   X(VABSDIFF, 23)                   \
    X(VCUSTOM0, 24)  X(VCUSTOM1, 25)  X(VCUSTOM2, 26)  X(VCUSTOM3, 27)                   \
    X(VCUSTOM4, 28)  X(VCUSTOM5, 29)  X(VCUSTOM6, 30)  X(VCUSTOM7, 31)                   \
    X(VCUSTOM8, 32)  X(VCUSTOM9, 33)  X(VCUSTOM10, 34) X(VCUSTOM11, 35)                  \
    X(VCUSTOM12, 36) X(VCUSTOM13, 37) X(VCUSTOM14, 38) X(VCUSTOM15, 39)

#define KMR_OPCODE_ALIAS_LIST(X) \
    X(VMULLO, VMUL) X(VCMV_FS, VCMV_LTZ) X(VCMV_FC, VCMV_GEZ) X(VCUSTOM, VCUSTOM0)

#define KMR_OPCODE_ENUMERATOR_(name, value) name = value,
#define KMR_OPCODE_ALIAS_ENUMERATOR_(alias, name) alias = name,
typedef enum vinstr_t {
    KMR_OPCODE_LIST(KMR_OPCODE_ENUMERATOR_) KMR_OPCODE_ALIAS_LIST(KMR_OPCODE_ALIAS_ENUMERATOR_)
    /* The highest opcode value. */
    MAX_INSTR_VAL = VCUSTOM15
} vinstr_t;
/* clang-format on */
#undef KMR_OPCODE_ENUMERATOR_
#undef KMR_OPCODE_ALIAS_ENUMERATOR_

/* A signed 32-bit scratchpad word. */
typedef int32_t kmr_word_t;
/* An untyped scratchpad element. */
typedef void kmr_void_t;
/* The enumeration operand (element index); only a null pointer of this
 * type is ever passed around. */
typedef struct kmr_enum_t {
    char unused_;
} kmr_enum_t;

#define KMR_SPSTACK_SIZE 64

/* The processor descriptor: filled by the simulator's kmrsim_init and
 * published to the host API through kmr_tqm_ptr. */
typedef struct kmr_tqm_t {
    kmr_void_t *scratchpad_addr;
    kmr_void_t *scratchpad_end;
    kmr_void_t *instr_port_addr;
    uint32_t *instr_p;
    int scratchpad_size;
    int core_freq;
    short dma_alignment_bytes;
    short scratchpad_alignment_bytes;
    short vector_lanes;
    short vcustom0_lanes;
    short vcustom1_lanes;
    short vcustom2_lanes;
    short vcustom3_lanes;
    short vcustom4_lanes;
    short vcustom5_lanes;
    short vcustom6_lanes;
    short vcustom7_lanes;
    short vcustom8_lanes;
    short vcustom9_lanes;
    short vcustom10_lanes;
    short vcustom11_lanes;
    short vcustom12_lanes;
    short vcustom13_lanes;
    short vcustom14_lanes;
    short vcustom15_lanes;
    int max_masked_vector_length;
    short mask_partitions;
    char vector_custom_instructions;
    char fixed_point_support;
    char fxp_word_frac_bits;
    char fxp_half_frac_bits;
    char fxp_byte_frac_bits;
    char init;
    kmr_void_t *sp;
    kmr_void_t *spstack[KMR_SPSTACK_SIZE];
    int spstack_top;
    int spstack_max;
} kmr_tqm_t;

/* The descriptor in use; null until _kmr_init has run. */
extern kmr_tqm_t *kmr_tqm_ptr;

#ifdef __cplusplus
}
#endif

#endif /* KMR_TYPES_H */
