// Vector expression library: the assignment funnel. Every assignment (of a
// vector, scalar, ENUM, expression, sum or select, to a vector or to one
// element) goes through assignment<dest_t, dim>::assign, which
//   - chooses the masked or the unmasked instructions (masked inside a
//     masked region, unless the caller is one that ignores regions),
//   - sets the vector length when the register does not hold it already,
//   - checks that a masked instruction stays within the destination,
// and then evaluates the expression: sub-expressions into temporaries,
// then one instruction, with the 2D/3D counts and strides set when the
// registers do not hold them already.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "expression_width.hpp"
#include "fwd_declaration.hpp"
#include "kmr_func.hpp"
#include "operators.hpp"
#include "resolve.hpp"
#include "type_manipulation.hpp"

namespace KMR {
namespace _internal {

// Whether an assignment follows the masked region it runs in. Clones and
// the library's own bookkeeping copies ignore it.
enum region_use {
    FOLLOW_REGION = 0,
    IGNORE_REGION = 1
};

// Sets a pair of 2D or 3D registers through `set` unless both already hold
// their values (a setting is counted in the statistics, so a redundant one
// is not made).
inline void set_pair(void (*set)(uint32_t, uint32_t, uint32_t), uint32_t selector, uint32_t reg1, uint32_t value1,
                     uint32_t reg2, uint32_t value2)
{
    if (!register_holds(reg1, value1) || !register_holds(reg2, value2)) {
        set(selector, value1, value2);
    }
}

// Row (and matrix) counts and strides of a 2D or 3D instruction.
template <int dim>
inline void set_strides(const shape_t &d, int a_inc2, int b_inc2, int a_inc3, int b_inc3)
{
    if constexpr (dim >= 2) {
        set_pair(KMR_SET_VL, KMR_SEL_COUNT, REG_ROWS, static_cast<uint32_t>(d.rows), REG_ID2,
                 static_cast<uint32_t>(d.inc2));
        set_pair(KMR_SET_VL, KMR_SEL_STRIDES, REG_IA2, static_cast<uint32_t>(a_inc2), REG_IB2,
                 static_cast<uint32_t>(b_inc2));
    }
    if constexpr (dim == 3) {
        set_pair(KMR_SET_VL3D, KMR_SEL_COUNT, REG_MATS, static_cast<uint32_t>(d.mats), REG_ID3,
                 static_cast<uint32_t>(d.inc3));
        set_pair(KMR_SET_VL3D, KMR_SEL_STRIDES, REG_IA3, static_cast<uint32_t>(a_inc3), REG_IB3,
                 static_cast<uint32_t>(b_inc3));
    }
    (void)d, (void)a_inc2, (void)b_inc2, (void)a_inc3, (void)b_inc3;
}

// An operand moved to another row: addresses move, scalars and the
// enumeration do not.
template <typename X>
inline X advance(X x, ptrdiff_t)
{
    return x;
}
template <typename T>
inline T *advance(T *p, ptrdiff_t bytes)
{
    return byte_offset(p, bytes);
}
inline kmr_enum_t *advance(kmr_enum_t *p, ptrdiff_t)
{
    return p;
}

// One instruction through family F, with or without operand B.
template <typename F, typename D, typename A, typename B>
inline void issue_one(vinstr_t instr, D *dest, A a, B b)
{
    if constexpr (is_none<B>::value) {
        F::func(instr, dest, a);
    } else {
        F::func(instr, dest, a, b);
    }
}

// The resolved operands of one instruction and their row/matrix strides.
template <typename A, typename B>
struct prepared {
    A a;
    B b;
    int a_inc2, b_inc2, a_inc3, b_inc3;
};

// An expression as a node: a vector is copied (VMOV), a scalar moved
// (VMOV), ENUM enumerated (VADD of 0 and ENUM); nodes stay as they are.
template <typename X>
inline auto as_node(const X &x)
{
    if constexpr (is_expr<X>::value) {
        return x;
    } else if constexpr (is_enum<X>::value) {
        return make_node<VADD>(kmr_word_t(0), x);
    } else {
        return make_node<VMOV>(normalize(x), none_t());
    }
}

// Bytes from the first to one past the last element of a vector-shaped span.
inline size_t span_bytes(const shape_t &s, int dim, size_t vlen, size_t elem)
{
    size_t bytes = vlen * elem;
    if (dim >= 2 && s.rows > 0)
        bytes += (s.rows - 1) * static_cast<size_t>(s.inc2 < 0 ? -s.inc2 : s.inc2);
    if (dim == 3 && s.mats > 0)
        bytes += (s.mats - 1) * static_cast<size_t>(s.inc3 < 0 ? -s.inc3 : s.inc3);
    return bytes;
}

// Whether an assignment's source is a sum (an accumulating expression).
template <typename X>
struct is_sum : std::false_type {};
template <typename L, typename R, vinstr_t i, typename B, int d>
struct is_sum<bin_op<L, R, i, B, d, IS_ACC>> : std::true_type {};

// Temporaries of an expression live at the allocation pointer while the
// expression is evaluated: the pointer moves over each one, so that they
// count as allocated space, and goes back when the evaluation ends.
struct scratch_region {
    kmr_void_t *const saved = kmr_tqm_ptr->sp;
    scratch_region() = default;
    scratch_region(const scratch_region &) = delete;
    scratch_region &operator=(const scratch_region &) = delete;
    ~scratch_region() { kmr_tqm_ptr->sp = saved; }
    char *start() const { return static_cast<char *>(saved); }
    // Moves the allocation pointer up to end (never down).
    static void cover(char *end)
    {
        if (end > static_cast<char *>(kmr_tqm_ptr->sp))
            kmr_tqm_ptr->sp = end;
    }
};

template <typename dest_t, int dim>
struct assignment {
    // The funnel (see the header comment).
    template <typename Src>
    static void assign(dest_t *dest, const shape_t &shape, const Src &src, size_t vlen, region_use use = FOLLOW_REGION)
    {
        const bool masked = use == FOLLOW_REGION && in_masked_region();
        // A sum writes one element per row and reads only its vectors; one
        // of a scalar or ENUM alone reads none, so under a mask it runs over
        // the mask (counting its positions) and reaches past nothing.
        const bool sum_without_vectors = is_sum<Src>::value && operand_length(src) == 0;
        if (masked && sum_without_vectors && get_the_kmrsim()->mask_length > 0)
            vlen = static_cast<size_t>(get_the_kmrsim()->mask_length);
        set_vl(vlen);
        const scratch_region region;
        char *scratch = region.start();
        if (masked) {
            if (!sum_without_vectors)
                check_mask_coverage(vlen);
            run<IS_MASK>(dest, shape, src, vlen, scratch);
        } else {
            run<NO_MASK>(dest, shape, src, vlen, scratch);
        }
    }

    // Evaluates the expression into the destination: operands, then one
    // instruction. scratch is the top of the allocated space for the
    // temporaries of sub-expressions; Signed the signedness the
    // expression computes in.
    template <mask_choice M, bool Signed, typename L, typename R, vinstr_t instr, typename B, int dim1, acc_choice acc>
    static void evaluate(dest_t *dest, const shape_t &shape, const bin_op<L, R, instr, B, dim1, acc> &src, size_t vlen,
                         char *&scratch)
    {
        const auto ops = prepare<M, Signed>(src, shape, vlen, scratch);
        issue<M, Signed, instr, acc>(dest, shape, ops);
    }

private:
    template <mask_choice M, typename Src>
    static void run(dest_t *dest, const shape_t &shape, const Src &src, size_t vlen, char *&scratch)
    {
        if constexpr (is_select<Src>::value) {
            run_select<M>(dest, shape, src, vlen, scratch);
        } else {
            const auto node = as_node(src);
            evaluate<M, computes_signed<typename std::decay<decltype(node)>::type, dest_t>::value>(dest, shape, node,
                                                                                                   vlen, scratch);
        }
    }

    template <typename X>
    struct is_select : std::false_type {};
    template <typename C, typename X, typename Y>
    struct is_select<select_op<C, X, Y>> : std::true_type {};

    // Resolves both operands (B first, then A), evaluating sub-expressions
    // into temporaries.
    template <mask_choice M, bool Signed, typename L, typename R, vinstr_t instr, typename B, int dim1, acc_choice acc>
    static auto prepare(const bin_op<L, R, instr, B, dim1, acc> &src, const shape_t &shape, size_t vlen, char *&scratch)
    {
        static_assert(dimensions_match<dim1, dim>::dim == dim,
                      "the expression has another dimensionality than the destination");
        using S = typename node_source<dest_t, L, B, Signed>::type;
        static_assert(width_agrees<L, S>::value && width_agrees<R, S>::value,
                      "both vector operands of an instruction must have the same element width");
        static_assert(!saturates<instr>::value || std::is_signed<dest_t>::value == Signed,
                      "a saturating operation clamps in its operands' signedness: its destination must have the same "
                      "signedness");
        static_assert(acc == NO_ACC || std::is_signed<dest_t>::value == Signed,
                      "a sum saturates in its operands' signedness: accumulate into a destination of the same "
                      "signedness");
        using res = resolve<S, M, dim>;
        const auto b = res::_resolve(src.rhs, scratch, shape.mats, shape.rows, vlen);
        const auto a = res::_resolve(src.lhs, scratch, shape.mats, shape.rows, vlen);
        return prepared<typename std::remove_const<decltype(a)>::type, typename std::remove_const<decltype(b)>::type>{
            a,
            b,
            res::row_stride(src.lhs, shape.rows, vlen),
            res::row_stride(src.rhs, shape.rows, vlen),
            res::mat_stride(src.lhs, shape.rows, vlen),
            res::mat_stride(src.rhs, shape.rows, vlen)};
    }

    // Issues the instruction. The destination is addressed with the
    // expression's signedness at its own width. Masked instructions are
    // one-dimensional: a 2D or 3D destination inside a masked region gets
    // one masked instruction per row, each under the same mask.
    template <mask_choice M, bool Signed, vinstr_t instr, acc_choice acc, typename A, typename B>
    static void issue(dest_t *dest, const shape_t &shape, const prepared<A, B> &ops)
    {
        using D = typename _int_of<sizeof(dest_t), Signed>::type;
        D *const d = reinterpret_cast<D *>(dest);
        if constexpr (M == IS_MASK && dim > 1) {
            const size_t rows = shape.rows, mats = dim == 3 ? shape.mats : 1;
            for (size_t m = 0; m < mats; ++m) {
                for (size_t r = 0; r < rows; ++r) {
                    const ptrdiff_t im = static_cast<ptrdiff_t>(m), ir = static_cast<ptrdiff_t>(r);
                    issue_one<kmr_func<IS_MASK, acc, 1>>(instr, byte_offset(d, im * shape.inc3 + ir * shape.inc2),
                                                         advance(ops.a, im * ops.a_inc3 + ir * ops.a_inc2),
                                                         advance(ops.b, im * ops.b_inc3 + ir * ops.b_inc2));
                }
            }
        } else {
            set_strides<dim>(shape, ops.a_inc2, ops.b_inc2, ops.a_inc3, ops.b_inc3);
            issue_one<kmr_func<M, acc, dim>>(instr, d, ops.a, ops.b);
        }
    }

    // dest = select(c, x, y): the condition's difference (and x, if it is an
    // expression or overlaps the destination) into temporaries, then y into
    // the destination (nothing when y is the destination itself), then the
    // conditional move of x where the condition holds.
    template <mask_choice M, typename C, typename X, typename Y>
    static void run_select(dest_t *dest, const shape_t &shape, const select_op<C, X, Y> &sel, size_t vlen,
                           char *&scratch)
    {
        if constexpr (is_vector<X>::value) {
            if (overlaps(sel.x, dest, shape, vlen)) {
                select_into<M>(dest, shape, sel.cond, vmov(sel.x), sel.y, vlen, scratch);
                return;
            }
        }
        select_into<M>(dest, shape, sel.cond, sel.x, sel.y, vlen, scratch);
    }

    template <mask_choice M, typename C, typename X, typename Y>
    static void select_into(dest_t *dest, const shape_t &shape, const C &cond, const X &x, const Y &y, size_t vlen,
                            char *&scratch)
    {
        const auto move = make_node<C::opcode>(x, cond.diff);
        constexpr bool Signed = computes_signed<typename std::decay<decltype(move)>::type, dest_t>::value;
        const auto ops = prepare<M, Signed>(move, shape, vlen, scratch);
        if (!is_destination(y, dest, shape)) {
            run<M>(dest, shape, y, vlen, scratch);
        }
        issue<M, Signed, C::opcode, NO_ACC>(dest, shape, ops);
    }

    template <typename Y>
    static bool is_destination(const Y &, const dest_t *, const shape_t &)
    {
        return false;
    }
    template <typename T, int d>
    static bool is_destination(const Vector<T, d> &y, const dest_t *dest, const shape_t &shape)
    {
        return sizeof(T) == sizeof(dest_t) && static_cast<const void *>(y.data) == static_cast<const void *>(dest) &&
               (d < 2 || y.increment2 == shape.inc2) && (d < 3 || y.increment3 == shape.inc3);
    }

    template <typename T, int d>
    static bool overlaps(const Vector<T, d> &x, const dest_t *dest, const shape_t &shape, size_t vlen)
    {
        const char *const x0 = reinterpret_cast<const char *>(x.data);
        const char *const d0 = reinterpret_cast<const char *>(dest);
        const shape_t xs = {x.rows, x.increment2, x.mats, x.increment3};
        const char *const x1 = x0 + span_bytes(xs, d, vlen, sizeof(T));
        const char *const d1 = d0 + span_bytes(shape, dim, vlen, sizeof(dest_t));
        return x0 < d1 && d0 < x1;
    }

    // A masked instruction covers the length of the current mask: the
    // destination (and the sources) must be at least that long, or the
    // instruction would reach past them.
    static void check_mask_coverage(size_t covered)
    {
        const int32_t mask_length = get_the_kmrsim()->mask_length;
        KMR_VEC_ASSERT(mask_length <= 0 || static_cast<size_t>(mask_length) <= covered);
    }

    template <typename D2, int d2>
    friend struct assignment;
};

template <typename S, mask_choice is_masked, int dim, typename Node>
S *make_temporary(const Node &node, size_t rows, size_t mats, size_t vlen, char *&scratch)
{
    const size_t rows_eff = dim >= 2 ? rows : 1;
    const size_t mats_eff = dim == 3 ? mats : 1;
    const size_t pitch2 = vlen * sizeof(S);
    const size_t pitch3 = rows_eff * pitch2;
    const short alignment = kmr_tqm_ptr->scratchpad_alignment_bytes;
    const size_t granule = alignment < 1 ? 1 : static_cast<size_t>(alignment);
    const size_t padded = (pitch3 * mats_eff + granule - 1) / granule * granule;

    char *const temporary = scratch;
    const char *const scratchpad_end = static_cast<const char *>(kmr_tqm_ptr->scratchpad_end);
    KMR_VEC_ASSERT(padded <= static_cast<size_t>(scratchpad_end - temporary));
    scratch = temporary + padded;
    scratch_region::cover(scratch);

    S *const tmp = reinterpret_cast<S *>(temporary);
    const shape_t tmp_shape = {rows, static_cast<int>(pitch2), mats, static_cast<int>(pitch3)};
    assignment<S, dim>::template evaluate<is_masked, std::is_signed<S>::value>(tmp, tmp_shape, node, vlen, scratch);
    return tmp;
}

}  // namespace _internal
}  // namespace KMR
