// The tables of every entry point and typed call, generated from the mode
// and family lists of the public headers, and the reference model's entry
// for each mode.
#include <type_traits>

#include "program.hpp"

namespace kmrfuzz {

namespace {

// Families from the entry lists of one mode: the lists give the
// dimensions, the accumulating and the masked switch of each name.
#define KMRFUZZ_FAMILY_(name, dims, acc, masked, f, sw, dw, sg) family{dims, (acc) != 0, (masked) != 0},
constexpr family families[] = {KMRSIM_UNMASKED_ENTRIES(KMRFUZZ_FAMILY_, VV, W, W, S)
                                   KMRSIM_MASKED_ENTRIES(KMRFUZZ_FAMILY_, VV, W, W, S)};
#undef KMRFUZZ_FAMILY_
static_assert(sizeof families / sizeof families[0] == num_families);

// Entry-point arguments by form: a vector operand is an address, a scalar a
// 32-bit value, the enumeration 0.
#define KMRFUZZ_EA_VV a
#define KMRFUZZ_EA_VE a
#define KMRFUZZ_EA_SV s
#define KMRFUZZ_EA_SE s
#define KMRFUZZ_EB_VV b
#define KMRFUZZ_EB_VE 0
#define KMRFUZZ_EB_SV b
#define KMRFUZZ_EB_SE 0
// Typed-call arguments by form, T the source element type.
#define KMRFUZZ_TA_VV(T) static_cast<T *>(a)
#define KMRFUZZ_TA_VE(T) static_cast<T *>(a)
#define KMRFUZZ_TA_SV(T) s
#define KMRFUZZ_TA_SE(T) s
#define KMRFUZZ_TB_VV(T) static_cast<T *>(b)
#define KMRFUZZ_TB_VE(T) static_cast<kmr_enum_t *>(nullptr)
#define KMRFUZZ_TB_SV(T) static_cast<T *>(b)
#define KMRFUZZ_TB_SE(T) static_cast<kmr_enum_t *>(nullptr)

#define KMRFUZZ_ENTRY_(ep, f, sw, dw, sg)                                             \
    [](vinstr_t op, void *d, void *a, int32_t s, void *b) {                           \
        (void)a;                                                                      \
        (void)s;                                                                      \
        (void)b;                                                                      \
        ep##f##sw##dw##sg(V_##f##sw##dw##sg, op, d, KMRFUZZ_EA_##f, KMRFUZZ_EB_##f); \
    },
#define KMRFUZZ_TYPED_(fp, f, sw, dw, sg)                                                                   \
    [](vinstr_t op, void *d, void *a, int32_t s, void *b) {                                                 \
        (void)a;                                                                                            \
        (void)s;                                                                                            \
        (void)b;                                                                                            \
        fp##f##sw##dw##sg(op, static_cast<KMRSIM_ELEM_##dw##sg *>(d), KMRFUZZ_TA_##f(KMRSIM_ELEM_##sw##sg), \
                          KMRFUZZ_TB_##f(KMRSIM_ELEM_##sw##sg));                                            \
    },
#define KMRFUZZ_ENTRY_FAMILY_(fp, ep) {KMRSIM_MODE_LIST_WITH(KMRFUZZ_ENTRY_, ep)},
#define KMRFUZZ_TYPED_FAMILY_(fp, ep) {KMRSIM_MODE_LIST_WITH(KMRFUZZ_TYPED_, fp)},

const issue_fn entry_calls[num_families][KMRSIM_NUM_MODES] = {KMR_CPROTO_FAMILY_LIST(KMRFUZZ_ENTRY_FAMILY_)};
const issue_fn typed_calls[num_families][KMRSIM_NUM_MODES] = {KMR_CPROTO_FAMILY_LIST(KMRFUZZ_TYPED_FAMILY_)};

// The element types of a mode: the computation type is the wider of the
// source and destination types, or the destination type for the SE form,
// which reads no vector (its "source" elements are then destination-sized).
template <int Form, typename Src, typename Dst>
struct mode_types {
    using wide = std::conditional_t<(sizeof(Src) > sizeof(Dst)), Src, Dst>;
    using comp = std::conditional_t<Form == KMRSIM_FORM_SE, Dst, wide>;
    using vec_src = std::conditional_t<Form == KMRSIM_FORM_SE, Dst, Src>;
};

template <int Form, typename Src, typename Dst>
void reference_run(simtest::image &im, const std::vector<simtest::ref::row> &rows, int L, int G, int32_t scalar,
                   vinstr_t op)
{
    using T = mode_types<Form, Src, Dst>;
    using S = typename T::comp;
    namespace ref = simtest::ref;
    ref::op_fn<S> fn;
    switch (op) {
    case VMOV: fn = ref::vmov<S>(); break;
    case VADD: fn = ref::vadd<S>(); break;
    case VADDC: fn = ref::vaddc<S>(); break;
    default: fn = ref::vcmv_z<S>(); break;
    }
    ref::run<Dst, S, typename T::vec_src>(im, rows, L, G, scalar, fn);
}

#define KMRFUZZ_REFERENCE_(f, sw, dw, sg) &reference_run<KMRSIM_FORM_##f, KMRSIM_ELEM_##sw##sg, KMRSIM_ELEM_##dw##sg>,
const reference_fn references[KMRSIM_NUM_MODES] = {KMRSIM_MODE_LIST(KMRFUZZ_REFERENCE_)};

}  // namespace

const family &family_of(int index)
{
    return families[index];
}

issue_fn entry_call(int family_index, int mode)
{
    return entry_calls[family_index][mode];
}

issue_fn typed_call(int family_index, int mode)
{
    return typed_calls[family_index][mode];
}

reference_fn reference_call(int mode)
{
    return references[mode];
}

bool reference_knows(vinstr_t op)
{
    return op == VMOV || op == VADD || op == VADDC || op == VCMV_Z;
}

mode_sizes sizes_of(int mode)
{
    const int src = 1 << KMRSIM_MODE_SRC_WIDTH(mode);
    const int dst = 1 << KMRSIM_MODE_DST_WIDTH(mode);
    if (KMRSIM_MODE_FORM(mode) == KMRSIM_FORM_SE)
        return {dst, dst, dst};
    return {src, dst, src > dst ? src : dst};
}

}  // namespace kmrfuzz
