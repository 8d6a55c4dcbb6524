// Vector expression library: choice of the entry-point family for an
// assignment (masked or not, accumulating or not, 1D/2D/3D).
#pragma once

#include <cstdio>

#include "fwd_declaration.hpp"
#include "kmrx.hpp"
#include "type_manipulation.hpp"

namespace KMR {
namespace _internal {

// The simulator has masked instructions only in one dimension.
[[noreturn]] inline void masked_region_needs_1D()
{
    fprintf(stderr, "Error: a two- or three-dimensional assignment cannot run inside a masked region "
                    "(masked instructions are one-dimensional)\n");
    KMR_FATAL(__LINE__, __FILE__, 1);
}

template <mask_choice is_mask, acc_choice is_acc, int dim>
struct kmr_func {
    static constexpr dimensions_match<dim, dim> _ = dimensions_match<dim, dim>();

    // Three operands: opcode, destination, operand A, operand B.
    template <typename T, typename U, typename V>
    static void func(vinstr_t vinstr, T dest, U srcA, V srcB)
    {
        if constexpr (is_mask == IS_MASK) {
            if constexpr (dim != 1) {
                masked_region_needs_1D();
            } else if constexpr (is_acc == IS_ACC) {
                kmrx_masked_acc(vinstr, dest, srcA, srcB);
            } else {
                kmrx_masked(vinstr, dest, srcA, srcB);
            }
        } else if constexpr (dim == 1) {
            if constexpr (is_acc == IS_ACC) {
                kmrx_acc(vinstr, dest, srcA, srcB);
            } else {
                kmrx(vinstr, dest, srcA, srcB);
            }
        } else if constexpr (dim == 2) {
            if constexpr (is_acc == IS_ACC) {
                kmrx_acc_2D(vinstr, dest, srcA, srcB);
            } else {
                kmrx_2D(vinstr, dest, srcA, srcB);
            }
        } else {
            if constexpr (is_acc == IS_ACC) {
                kmrx_acc_3D(vinstr, dest, srcA, srcB);
            } else {
                kmrx_3D(vinstr, dest, srcA, srcB);
            }
        }
    }

    // Two operands (VMOV of a scalar or a vector).
    template <typename T, typename U>
    static void func(vinstr_t vinstr, T dest, U srcA)
    {
        if constexpr (is_mask == IS_MASK) {
            if constexpr (dim != 1) {
                masked_region_needs_1D();
            } else if constexpr (is_acc == IS_ACC) {
                kmrx_masked_acc(vinstr, dest, srcA);
            } else {
                kmrx_masked(vinstr, dest, srcA);
            }
        } else if constexpr (dim == 1) {
            if constexpr (is_acc == IS_ACC) {
                kmrx_acc(vinstr, dest, srcA);
            } else {
                kmrx(vinstr, dest, srcA);
            }
        } else if constexpr (dim == 2) {
            if constexpr (is_acc == IS_ACC) {
                kmrx_acc_2D(vinstr, dest, srcA);
            } else {
                kmrx_2D(vinstr, dest, srcA);
            }
        } else {
            if constexpr (is_acc == IS_ACC) {
                kmrx_acc_3D(vinstr, dest, srcA);
            } else {
                kmrx_3D(vinstr, dest, srcA);
            }
        }
    }
};

}  // namespace _internal
}  // namespace KMR
