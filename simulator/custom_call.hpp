// Handing one lane group to a registered custom function, and checking
// where its results will really be written.
#pragma once

#include <cstdint>
#include <type_traits>

#include "engine_context.hpp"
#include "memory.hpp"

namespace kmrsim {

// The operand arrays of one lane group (G entries each, of type S).
template <typename S>
struct group_arrays {
    S *a, *a_flag, *b, *b_flag, *out, *out_flag, *enable;
};

// Calls the custom function of the instruction on one lane group and
// returns the destination the function leaves for it.
template <typename S>
KMRSIM_ALWAYS_INLINE uintptr_t call_custom(kmrsim_custom_func_t func, uint16_t opcode_select, uintptr_t group_dest,
                                           bool start, bool end, group_arrays<S> g)
{
    kmrsim_custom_args args;  // every field is set below
    args.opcode_select = opcode_select;
    args.start = start ? 1 : 0;
    args.end = end ? 1 : 0;
    args.dest_addr_in = ptr(group_dest);
    args.dest_addr_out = ptr(group_dest);
    args.is_signed = std::is_signed_v<S> ? 1 : 0;
    args.opsize = sizeof(S) == 1 ? 0 : sizeof(S) == 2 ? 1 : 2;
    args.valid_in = g.enable;
    args.valid_out = g.enable;
    args.a = g.a;
    args.a_flag = g.a_flag;
    args.b = g.b;
    args.b_flag = g.b_flag;
    args.out = g.out;
    args.out_flag = g.out_flag;
    func(&args);
    return addr(args.dest_addr_out);
}

// A custom function may redirect its lane group or enable positions past
// the row's end; the range that will really be written is checked before
// anything of it is queued. Returns whether the lane group writes anywhere
// but within its own elements.
template <typename D, typename S>
bool check_custom_writes(uintptr_t group_dest, uintptr_t checked_dest, int G, int valid, const S *en)
{
    int last = -1;
    for (int i = G - 1; i >= 0; --i) {
        if (en[i] != 0) {
            last = i;
            break;
        }
    }
    if (last < 0 || (group_dest == checked_dest && last < valid))
        return false;
    check_range(group_dest, int64_t(last + 1) * int64_t(sizeof(D)), operand_kind::dest);
    return true;
}

}  // namespace kmrsim
