// Vector expression library: resolution of expression operands into what
// the simulator's entry points take.
#pragma once

#include <cstddef>

#include "expression_width.hpp"
#include "fwd_declaration.hpp"
#include "type_manipulation.hpp"

namespace KMR {
namespace _internal {

// dest_t is the element type in which the instruction computes its sources
// (it carries the destination's signedness); dim is the dimensionality of
// the instruction. Every _resolve takes the operand, the scratch pointer sp
// (the free end of the scratchpad, not allocated), the matrix and row
// counts and the vector length.
template <typename dest_t, mask_choice is_masked, int dim>
struct resolve {
    // A vector: its data pointer, with dest_t's signedness.
    template <typename T, int d, typename S>
    static typename same_sign_as<T, dest_t>::type *_resolve(const Vector<T, d> &src, S *&sp, size_t mats, size_t rows,
                                                            size_t vlen)
    {
        (void)sp, (void)mats, (void)rows, (void)vlen;
        return reinterpret_cast<typename same_sign_as<T, dest_t>::type *>(src.data);
    }

    // A scalar: the value itself.
    template <typename S>
    static typename word_sized<dest_t>::type _resolve(const kmr_word_t &src, S *&sp, size_t mats, size_t rows,
                                                      size_t vlen)
    {
        (void)sp, (void)mats, (void)rows, (void)vlen;
        return static_cast<typename word_sized<dest_t>::type>(src);
    }

    // The enumeration: a null pointer stands for it.
    template <typename S>
    static kmr_enum_t *_resolve(enum_t src, S *&sp, size_t mats, size_t rows, size_t vlen)
    {
        (void)src, (void)sp, (void)mats, (void)rows, (void)vlen;
        return nullptr;
    }

    // A sub-expression: evaluated into a temporary of dest_t elements at sp,
    // laid out densely (rows of vlen elements, matrices of rows rows); sp
    // moves past it, so the other operand's temporary does not overlap it.
    // The allocation pointer itself does not move: the temporary is dead
    // once the instruction that reads it has run.
    template <typename L, typename R, vinstr_t instr, typename B, int d, acc_choice a, typename S>
    static typename canonical<dest_t>::type *_resolve(const bin_op<L, R, instr, B, d, a> &src, S *&sp, size_t mats,
                                                      size_t rows, size_t vlen)
    {
        static_assert(a == NO_ACC, "an accumulating expression cannot be an operand");
        using tmp_t = typename canonical<dest_t>::type;

        const size_t rows_eff = dim >= 2 ? rows : 1;
        const size_t mats_eff = dim == 3 ? mats : 1;
        const size_t pitch2 = vlen * sizeof(tmp_t);
        const size_t pitch3 = rows_eff * pitch2;
        const size_t granule = static_cast<size_t>(kmr_tqm_ptr->scratchpad_alignment_bytes);
        const size_t padded = (pitch3 * mats_eff + granule - 1) & ~(granule - 1);

        char *const temporary = reinterpret_cast<char *>(sp);
        const char *const scratchpad_end = static_cast<const char *>(kmr_tqm_ptr->scratchpad_end);
        KMR_VEC_ASSERT(padded <= static_cast<size_t>(scratchpad_end - temporary));
        sp = reinterpret_cast<S *>(temporary + padded);

        tmp_t *const tmp = reinterpret_cast<tmp_t *>(temporary);
        assignment<tmp_t, is_masked, dim>::evaluate(tmp, static_cast<int>(rows), static_cast<int>(pitch2),
                                                    static_cast<int>(mats), static_cast<int>(pitch3), src, vlen, sp);
        return tmp;
    }

    // Row and matrix strides (bytes) of an operand: a vector's own, those
    // of a temporary's dense layout, 0 for scalars and the enumeration.
    template <typename T, int d>
    static int row_stride(const Vector<T, d> &src, size_t, size_t)
    {
        return src.increment2;
    }
    template <typename T, int d>
    static int mat_stride(const Vector<T, d> &src, size_t, size_t)
    {
        return src.increment3;
    }
    template <typename X>
    static int row_stride(const X &, size_t rows, size_t vlen)
    {
        (void)rows;
        return is_expr<X>::value ? static_cast<int>(vlen * sizeof(dest_t)) : 0;
    }
    template <typename X>
    static int mat_stride(const X &, size_t rows, size_t vlen)
    {
        const size_t rows_eff = dim >= 2 ? rows : 1;
        return is_expr<X>::value ? static_cast<int>(rows_eff * vlen * sizeof(dest_t)) : 0;
    }
};

}  // namespace _internal
}  // namespace KMR
