// Vector expression library: resolution of expression operands into what
// the simulator's entry points take.
#pragma once

#include <cstddef>

#include "expression_width.hpp"
#include "fwd_declaration.hpp"
#include "type_manipulation.hpp"

namespace KMR {
namespace _internal {

// Evaluates an expression into a dense temporary of element type S at
// `scratch` (the allocation pointer, which scratch_region moves past each
// temporary while the statement runs) and moves `scratch` past it; defined
// in assign.hpp.
template <typename S, mask_choice is_masked, int dim, typename Node>
S *make_temporary(const Node &node, size_t rows, size_t mats, size_t vlen, char *&scratch);

// S is the element type of the instruction's sources (width and
// signedness); dim is the dimensionality of the instruction. Every
// _resolve takes the operand, the scratch pointer, the matrix and row
// counts and the vector length.
template <typename S, mask_choice is_masked, int dim>
struct resolve {
    // A vector: its data pointer. Its element type has S's width and, by
    // the signedness rule, S's signedness.
    template <typename T, int d>
    static S *_resolve(const Vector<T, d> &src, char *&, size_t, size_t, size_t)
    {
        return reinterpret_cast<S *>(src.data);
    }

    // A scalar: the value itself, as the word type of S's signedness.
    static typename word_sized<S>::type _resolve(const kmr_word_t &src, char *&, size_t, size_t, size_t)
    {
        return static_cast<typename word_sized<S>::type>(src);
    }

    // The enumeration: a null pointer stands for it.
    static kmr_enum_t *_resolve(enum_t, char *&, size_t, size_t, size_t) { return nullptr; }

    // The missing operand B of a copy.
    static none_t _resolve(none_t, char *&, size_t, size_t, size_t) { return none_t(); }

    // A sub-expression: evaluated into a temporary of S elements, laid out
    // densely (rows of vlen elements, matrices of rows rows). The allocation
    // pointer does not move: the temporary is dead once the instruction
    // that reads it has run.
    template <typename L, typename R, vinstr_t instr, typename B, int d, acc_choice a>
    static S *_resolve(const bin_op<L, R, instr, B, d, a> &src, char *&scratch, size_t mats, size_t rows, size_t vlen)
    {
        static_assert(a == NO_ACC, "an accumulating expression cannot be an operand");
        return make_temporary<S, is_masked, dim>(src, rows, mats, vlen, scratch);
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
        return is_expr<X>::value ? static_cast<int>(vlen * sizeof(S)) : 0;
    }
    template <typename X>
    static int mat_stride(const X &, size_t rows, size_t vlen)
    {
        const size_t rows_eff = dim >= 2 ? rows : 1;
        return is_expr<X>::value ? static_cast<int>(rows_eff * vlen * sizeof(S)) : 0;
    }
};

}  // namespace _internal
}  // namespace KMR
