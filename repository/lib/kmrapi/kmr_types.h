/* Shared types of the TQM host API and the simulator: opcodes, element
 * types and the processor descriptor. Compiles as C11 and as C++17. */
#ifndef KMR_TYPES_H
#define KMR_TYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Opcodes of the vector unit. */
typedef enum vinstr_t {
    VMOV = 0,
    VAND = 1,
    VOR = 2,
    VXOR = 3,
    VADD = 4,
    VSUB = 5,
    VADDC = 6,
    VSUBB = 7,
    VMUL = 8,
    VMULLO = 8,
    VMULHI = 9,
    VMULFXP = 10,
    VSUBFXP = 11,
    VSHL = 12,
    VSHR = 13,
    VROTL = 14,
    VROTR = 15,
    VCMV_LEZ = 16,
    VCMV_GTZ = 17,
    VCMV_LTZ = 18,
    VCMV_FS = 18,
    VCMV_GEZ = 19,
    VCMV_FC = 19,
    VCMV_Z = 20,
    VCMV_NZ = 21,
    VADDFXP = 22,
    VABSDIFF = 23,
    VCUSTOM = 24,
    VCUSTOM0 = 24,
    VCUSTOM1 = 25,
    VCUSTOM2 = 26,
    VCUSTOM3 = 27,
    VCUSTOM4 = 28,
    VCUSTOM5 = 29,
    VCUSTOM6 = 30,
    VCUSTOM7 = 31,
    VCUSTOM8 = 32,
    VCUSTOM9 = 33,
    VCUSTOM10 = 34,
    VCUSTOM11 = 35,
    VCUSTOM12 = 36,
    VCUSTOM13 = 37,
    VCUSTOM14 = 38,
    VCUSTOM15 = 39,
    MAX_INSTR_VAL = 39
} vinstr_t;

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
