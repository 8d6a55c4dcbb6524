// Vector expression library: assignment back ends. Each assignment sets the
// vector length (when it changed), resolves its operands, sets the 2D/3D
// counts and strides, and issues one instruction through kmr_func.
#pragma once

#include <cstddef>
#include <cstdint>

#include "expression_width.hpp"
#include "fwd_declaration.hpp"
#include "kmr_func.hpp"
#include "resolve.hpp"
#include "type_manipulation.hpp"

namespace KMR {
namespace _internal {

template <typename dest_t, mask_choice is_masked, int dim>
struct assignment {
    using D = typename canonical<dest_t>::type;

    // destination = expression.
    template <typename lhs_t, typename rhs_t, vinstr_t instr, typename btype, int dim1, acc_choice acc>
    static void assign(dest_t *dest, int dest_rows, int dest_inc2, int dest_mats, int dest_inc3,
                       const bin_op<lhs_t, rhs_t, instr, btype, dim1, acc> &src, size_t vlen)
    {
        set_vl(vlen);
        check_mask_coverage(vlen);
        // Temporaries of nested expressions go to the free end of the scratchpad.
        using scratch_t = typename node_source<dest_t, lhs_t, btype>::type;
        scratch_t *sp = static_cast<scratch_t *>(kmr_tqm_ptr->sp);
        evaluate(dest, dest_rows, dest_inc2, dest_mats, dest_inc3, src, vlen, sp);
    }

    // destination = scalar (VMOV).
    static void assign(dest_t *dest, int dest_rows, int dest_inc2, int dest_mats, int dest_inc3,
                       typename word_sized<dest_t>::type src, size_t vlen)
    {
        set_vl(vlen);
        check_mask_coverage(vlen);
        set_strides(dest_rows, dest_inc2, dest_mats, dest_inc3, 0, 0, 0, 0);
        kmr_func<is_masked, NO_ACC, dim>::func(VMOV, reinterpret_cast<D *>(dest), src);
    }

    // destination = enumeration: 0 + ENUM (VADD).
    static void assign(dest_t *dest, int dest_rows, int dest_inc2, int dest_mats, int dest_inc3, const enum_t &src,
                       size_t vlen)
    {
        const bin_op<int, enum_t, VADD, kmr_enum_t, -1, NO_ACC> index(0, src);
        assign(dest, dest_rows, dest_inc2, dest_mats, dest_inc3, index, vlen);
    }

    // destination = vector (VMOV, converting the element width if needed).
    template <typename U, int d>
    static void assign(dest_t *dest, int dest_rows, int dest_inc2, int dest_mats, int dest_inc3,
                       const Vector<U, d> &src, size_t vlen)
    {
        static_assert(d == dim, "a vector is copied into a vector of the same dimensionality");
        using S = typename same_sign_as<U, dest_t>::type;
        set_vl(vlen);
        check_mask_coverage(vlen);
        set_strides(dest_rows, dest_inc2, dest_mats, dest_inc3, src.increment2, 0, src.increment3, 0);
        kmr_func<is_masked, NO_ACC, dim>::func(VMOV, reinterpret_cast<D *>(dest), reinterpret_cast<S *>(src.data));
    }

    // Element 0 of destination = sum of the vector's elements (accumulating VMOV).
    template <typename U>
    static void assign_acc(dest_t *dest, const Vector<U, 1> &src, size_t vlen)
    {
        using S = typename same_sign_as<U, dest_t>::type;
        set_vl(vlen);
        check_mask_coverage(vlen);
        kmr_func<is_masked, IS_ACC, 1>::func(VMOV, reinterpret_cast<D *>(dest), reinterpret_cast<S *>(src.data));
    }

    // Evaluates the expression into the destination; scratch is the free
    // end of the scratchpad for the temporaries of sub-expressions.
    template <typename lhs_t, typename rhs_t, vinstr_t instr, typename btype, int dim1, acc_choice acc, typename P>
    static void evaluate(dest_t *dest, int dest_rows, int dest_inc2, int dest_mats, int dest_inc3,
                         const bin_op<lhs_t, rhs_t, instr, btype, dim1, acc> &src, size_t vlen, P *scratch)
    {
        static_assert(dimensions_match<dim1, dim>::dim == dim,
                      "the expression has another dimensionality than the destination");
        // The element type of the sources; its signedness is the destination's.
        using S = typename node_source<dest_t, lhs_t, btype>::type;
        static_assert(width_agrees<lhs_t, S>::value && width_agrees<rhs_t, S>::value,
                      "both vector operands of an instruction must have the same element width");
        using res = resolve<S, is_masked, dim>;

        S *sp = reinterpret_cast<S *>(scratch);
        const size_t mats = static_cast<size_t>(dest_mats);
        const size_t rows = static_cast<size_t>(dest_rows);
        // Operand B first, then operand A.
        const auto srcB = res::_resolve(src.rhs, sp, mats, rows, vlen);
        const auto srcA = res::_resolve(src.lhs, sp, mats, rows, vlen);
        set_strides(dest_rows, dest_inc2, dest_mats, dest_inc3, res::row_stride(src.lhs, rows, vlen),
                    res::row_stride(src.rhs, rows, vlen), res::mat_stride(src.lhs, rows, vlen),
                    res::mat_stride(src.rhs, rows, vlen));
        kmr_func<is_masked, acc, dim>::func(instr, reinterpret_cast<D *>(dest), srcA, srcB);
    }

private:
    // Row (and matrix) counts and strides for 2D and 3D instructions.
    static void set_strides(int dest_rows, int dest_inc2, int dest_mats, int dest_inc3, int a_inc2, int b_inc2,
                            int a_inc3, int b_inc3)
    {
        if constexpr (dim >= 2) {
            KMR_SET_VL(KMR_SEL_COUNT, static_cast<uint32_t>(dest_rows), static_cast<uint32_t>(dest_inc2));
            KMR_SET_VL(KMR_SEL_STRIDES, static_cast<uint32_t>(a_inc2), static_cast<uint32_t>(b_inc2));
        }
        if constexpr (dim == 3) {
            KMR_SET_VL3D(KMR_SEL_COUNT, static_cast<uint32_t>(dest_mats), static_cast<uint32_t>(dest_inc3));
            KMR_SET_VL3D(KMR_SEL_STRIDES, static_cast<uint32_t>(a_inc3), static_cast<uint32_t>(b_inc3));
        }
        (void)dest_rows, (void)dest_inc2, (void)dest_mats, (void)dest_inc3;
        (void)a_inc2, (void)b_inc2, (void)a_inc3, (void)b_inc3;
    }

    // A masked instruction covers the length of the current mask: the
    // destination (and the sources) must be at least that long, or the
    // instruction would reach past them.
    static void check_mask_coverage(size_t covered)
    {
        if constexpr (is_masked == IS_MASK) {
            const int32_t mask_length = get_the_kmrsim()->mask_length;
            KMR_VEC_ASSERT(mask_length <= 0 || static_cast<size_t>(mask_length) <= covered);
        }
        (void)covered;
    }
};

}  // namespace _internal
}  // namespace KMR
