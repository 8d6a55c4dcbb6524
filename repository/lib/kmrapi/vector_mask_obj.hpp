// Vector expression library: masked regions.
//
// A vector_mask_obj marks a masked region for its lifetime. Its constructor
// sets up the mask from a condition vector (an opcode VCMV_LEZ ... VCMV_NZ,
// by default the vector's cmv, tested on each element): mask position i is
// enabled where the condition holds for element i. While any region is
// alive (`nested` is non-zero) every assignment uses the masked
// instructions, which compute and write only the enabled positions:
//
//     KMR_WHERE(d) {          // d.cmv is VCMV_NZ: where d[i] != 0
//         a = a + 1;          // masked VADD
//         KMR_WHERE(e, VCMV_GTZ) {
//             b = 0;          // where d[i] != 0 and e[i] > 0
//         }
//         a = a * 2;          // where d[i] != 0 again
//     }
//
// The condition may also be a comparison: KMR_WHERE(a < b) evaluates the
// difference into a temporary (one VSUB; the allocation pointer does not
// move) and sets the mask up from it with the comparison's conditional
// move, which judges the difference by its flag as well as its sign, so
// the comparison is exact for every pair of values.
//
// A region inside another narrows the enclosing mask (old mask AND the new
// condition); its condition vector must have the enclosing mask's length.
// It keeps a copy of the enclosing mask in `saved` (a byte vector on the
// scratchpad stack) and restores it when it ends. Regions are scoped
// objects: end them in reverse order of their construction, like vectors.
// Masked instructions are one-dimensional: a 2D or 3D assignment inside a
// region issues one masked instruction per row, each row under the same
// mask (mask position i enables element i of every row). Every vector
// assigned inside a region must have rows at least as long as the mask.
#pragma once

#include "fwd_declaration.hpp"
#include "type_manipulation.hpp"

namespace KMR {
namespace _internal {

// Mask setup mode for a condition vector of element type T (the mode only
// selects the source width and signedness).
template <typename T>
inline kmrsim_vmode_t mask_setup_mode()
{
    using C = typename canonical<T>::type;
    constexpr int width = sizeof(C) == 1 ? KMRSIM_WIDTH_B : sizeof(C) == 2 ? KMRSIM_WIDTH_H : KMRSIM_WIDTH_W;
    constexpr int sign = std::is_signed<C>::value ? KMRSIM_SIGN_S : KMRSIM_SIGN_U;
    return static_cast<kmrsim_vmode_t>(KMRSIM_MODE_VALUE(KMRSIM_FORM_VV, width, width, sign));
}

}  // namespace _internal
}  // namespace KMR

struct vector_mask_obj {
    // Number of masked regions alive; non-zero selects the masked
    // instructions in every assignment.
    static int nested;

    // Lets a region be written as a one-pass loop (KMR_WHERE).
    bool done_flag;

    // The enclosing region's mask, for a region inside another; else null.
    KMR::Vector<signed char, 1> *saved;

    // A region where cond's own condition (cond.cmv) holds.
    template <typename T>
    explicit vector_mask_obj(const KMR::Vector<T, 1> &cond) : vector_mask_obj(cond, cond.cmv)
    {}

    // A region where `condition` holds for the elements of cond.
    template <typename T>
    vector_mask_obj(const KMR::Vector<T, 1> &cond, vinstr_t condition);

    // A region where a comparison holds.
    template <typename Diff, vinstr_t cmv>
    explicit vector_mask_obj(const KMR::condition<Diff, cmv> &cond);

    ~vector_mask_obj();

    vector_mask_obj(const vector_mask_obj &) = delete;
    vector_mask_obj &operator=(const vector_mask_obj &) = delete;

private:
    // Inside another region: keeps a copy of the enclosing mask in `saved`;
    // the new condition must cover the enclosing mask's length.
    void save_enclosing(size_t len);
};

// Runs the following statement (or block) once, as a masked region.
#define KMR_WHERE(...) KMR_WHERE_AT_(__LINE__, __VA_ARGS__)
#define KMR_WHERE_AT_(line, ...) KMR_WHERE_NAMED_(KMR_WHERE_CAT_(kmr_where_region_, line), __VA_ARGS__)
#define KMR_WHERE_CAT_(a, b) a##b
#define KMR_WHERE_NAMED_(region, ...) \
    for (vector_mask_obj region(__VA_ARGS__); !region.done_flag; region.done_flag = true)

template <typename T>
vector_mask_obj::vector_mask_obj(const KMR::Vector<T, 1> &cond, vinstr_t condition) : done_flag(false), saved(nullptr)
{
    const kmrsim_vmode_t mode = KMR::_internal::mask_setup_mode<T>();
    if (nested == 0) {
        KMR::_internal::set_vl(cond.size);
        kmrsim_setup_mask(mode, condition, cond.data);
    } else {
        save_enclosing(cond.size);
        kmrsim_setup_mask_masked(mode, condition, cond.data);
    }
    ++nested;
}

template <typename Diff, vinstr_t cmv>
vector_mask_obj::vector_mask_obj(const KMR::condition<Diff, cmv> &cond) : done_flag(false), saved(nullptr)
{
    using namespace KMR::_internal;
    using V = typename value_type<Diff>::type;
    static_assert(KMR::is_element<V>::value, "a masked region's comparison needs a vector operand (it gives the "
                                             "region's length)");
    using S = typename KMR::_int_of<sizeof(V), expr_sign<Diff>::value == SIGN_SIGNED>::type;
    const size_t len = operand_length(cond.diff);
    if (nested != 0) {
        save_enclosing(len);
    }
    set_vl(len);
    const KMR::_internal::scratch_region region;
    char *scratch = region.start();
    S *const difference = make_temporary<S, KMR::NO_MASK, 1>(cond.diff, 0, 0, len, scratch);
    const kmrsim_vmode_t mode = mask_setup_mode<S>();
    if (nested == 0) {
        kmrsim_setup_mask(mode, cmv, difference);
    } else {
        kmrsim_setup_mask_masked(mode, cmv, difference);
    }
    ++nested;
}

inline void vector_mask_obj::save_enclosing(size_t len)
{
    kmr_sim_t *const sim = get_the_kmrsim();
    const int32_t enclosing_length = sim->mask_length;
    KMR_VEC_ASSERT(static_cast<size_t>(enclosing_length) == len);
    // Copy the enclosing mask (the mask memory is a valid operand).
    saved = new KMR::Vector<signed char, 1>(enclosing_length);
    KMR::_internal::set_vl(len);
    kmrsim_1D_VVBBS(V_VVBBS, VMOV, saved->data, sim->mask_memory, nullptr);
}

inline bool KMR::_internal::in_masked_region()
{
    return vector_mask_obj::nested != 0;
}

inline vector_mask_obj::~vector_mask_obj()
{
    --nested;
    if (saved != nullptr) {
        // Rebuild the enclosing mask from its copy: enabled where non-zero.
        KMR::_internal::set_vl(saved->size);
        kmrsim_setup_mask(V_VVBBS, VCMV_NZ, saved->data);
        delete saved;
    }
}
