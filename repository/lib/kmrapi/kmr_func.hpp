// Vector expression library: choice of the entry-point family for an
// instruction (masked or not, accumulating or not, 1D/2D/3D).
#pragma once

#include "fwd_declaration.hpp"
#include "kmrx.hpp"
#include "type_manipulation.hpp"

namespace KMR {
namespace _internal {

template <mask_choice is_mask, acc_choice is_acc, int dim>
struct kmr_func {
    static constexpr dimensions_match<dim, dim> _ = dimensions_match<dim, dim>();

    // Opcode, destination, operand A and (except for a copy) operand B,
    // resolved to the types of one generated kmrx overload.
    template <typename D, typename... Ops>
    static void func(vinstr_t vinstr, D dest, Ops... ops)
    {
        static_assert(sizeof...(Ops) == 1 || sizeof...(Ops) == 2,
                      "an instruction has operand A and, except for a copy, operand B");
        static_assert(is_mask == NO_MASK || dim == 1,
                      "masked instructions are one-dimensional (2D and 3D assignments issue them row by row)");
        if constexpr (is_mask == IS_MASK) {
            if constexpr (is_acc == IS_ACC) {
                kmrx_masked_acc(vinstr, dest, ops...);
            } else {
                kmrx_masked(vinstr, dest, ops...);
            }
        } else if constexpr (dim == 1) {
            if constexpr (is_acc == IS_ACC) {
                kmrx_acc(vinstr, dest, ops...);
            } else {
                kmrx(vinstr, dest, ops...);
            }
        } else if constexpr (dim == 2) {
            if constexpr (is_acc == IS_ACC) {
                kmrx_acc_2D(vinstr, dest, ops...);
            } else {
                kmrx_2D(vinstr, dest, ops...);
            }
        } else {
            if constexpr (is_acc == IS_ACC) {
                kmrx_acc_3D(vinstr, dest, ops...);
            } else {
                kmrx_3D(vinstr, dest, ops...);
            }
        }
    }
};

}  // namespace _internal
}  // namespace KMR
