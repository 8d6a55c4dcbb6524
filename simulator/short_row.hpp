// The short-row path: the commonest instruction of real programs is one row
// of a few hundred elements or less, unmasked, not accumulating, of one
// element type, with its operands in the scratchpad. For such an
// instruction the general engine (strided traversal, row plan, row context,
// whole-row chunks) would complete the DMA its operands meet, decide on the
// whole-row path, take a single chunk and compute it straight into the
// destination; the decisions cost more than the elements. This path
// recognises the case with a few comparisons and takes the same steps
// directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "accumulate.hpp"
#include "engine_context.hpp"
#include "engine_steps.hpp"
#include "issue_record.hpp"
#include "kmrsim.hpp"
#include "memory.hpp"
#include "observers.hpp"
#include "whole_row.hpp"

namespace kmrsim {

extern bool whole_row_path_enabled;

template <typename D, typename S, typename Src>
struct short_row_path {
    using steps = engine_steps<D, S, Src>;

    // A source row of `bytes` at src that the whole-row path reads where it
    // lies, with no chunk limit: apart from the destination row, or at or
    // ahead of it by whole elements (each element is then read before the
    // element that overwrites it is computed).
    static bool read_where_it_lies(uintptr_t src, uintptr_t dest, size_t bytes)
    {
        if (src + bytes <= dest || dest + bytes <= src)
            return true;
        return src >= dest && (src - dest) % sizeof(S) == 0;
    }

    // Runs a one-row, unmasked, not accumulating built-in instruction when it
    // is of the kind described above, and returns true; returns false, having
    // changed nothing, for every other instruction, which then takes the
    // general engine. The result is the whole-row path's for the same
    // instruction (the general engine would take the same steps: the same
    // DMA completion calls, no range failure, sources read where they lie,
    // one chunk computed in place), and so the pipeline's.
    KMRSIM_ALWAYS_INLINE static bool try_run(int form, vinstr_t op, uintptr_t dest, uintptr_t A, uintptr_t B,
                                             workspace<D, S> &w)
    {
        if constexpr (!std::is_same_v<D, S> || !std::is_same_v<Src, S>) {
            return false;
        } else {
            const kmr_sim_t &s = sim();
            if (observers_active || !whole_row_path_enabled)
                return false;
            // Pending transfers are completed below as the general engine
            // completes them; a completion routine other than the built-in
            // one is left to the general engine.
            const bool dma_pending =
                s.dma_until_hook != nullptr && (s.dma_queue != nullptr || s.dma_until_hook != &_internal_do_dma_until);
            if (dma_pending && s.dma_until_hook != &_internal_do_dma_until)
                return false;
            const op_info &info = opcode_info(op);
            if (info.conditional)
                return false;
            const int32_t L = static_cast<int32_t>(s.regs[REG_VL]);
            if (L <= 0 || size_t(L) > w.cap)
                return false;
            const memory_view mem = memory_view::current();
            const size_t bytes = size_t(L) * sizeof(S);
            if (!mem.holds(dest, bytes) || dest % alignof(S) != 0 || mem.flag_of(dest) % alignof(S) != 0)
                return false;
            source_view a, b;
            if (a_is_vector(form)) {
                if (!mem.holds(A, bytes) || !read_where_it_lies(A, dest, bytes))
                    return false;
                a = steps::view_source(A, true, mem);
            }
            if (b_is_vector(form) && info.b_range_checked) {
                if (!mem.holds(B, bytes) || !read_where_it_lies(B, dest, bytes))
                    return false;
                b = steps::view_source(B, true, mem);
            }

            current_issue.mat = 0;
            current_issue.row = 0;
            if (dma_pending) {
                // The built-in routine, called for the destination, A and B in
                // the engine's order. It does nothing for a range that meets no
                // pending transfer, and completing one range only removes or
                // shortens transfers, so this completes what deciding first
                // which operands meet one, then completing those, completes.
                _internal_do_dma_until(ptr(dest), bytes);
                if (a.values != 0)
                    _internal_do_dma_until(ptr(A), bytes);
                if (b.values != 0)
                    _internal_do_dma_until(ptr(B), bytes);
            }
            accumulator = 0;
            const size_t n = size_t(L);
            if (op == VMOV && a.values != 0) {
                // Every element reads the source as it was: a move, as on the
                // whole-row path.
                whole_row_path<D, S, Src>::move(mem, dest, a, n, use_wide(n * sizeof(S)));
                return true;
            }
            S *const out = static_cast<S *>(ptr(dest));
            S *const out_flag = static_cast<S *>(ptr(mem.flag_of(dest)));
            // B as the enumeration is counted by the element loop itself, which
            // takes a scalar A from entry 0.
            const bool wide = use_wide(n * sizeof(S));
            const op_loop_enum_fn<S> loop_enum =
                b.values == 0 && info.reads_b ? select_op_loop_enum<S>(op, !a_is_vector(form), wide) : nullptr;
            if (!a_is_vector(form))
                steps::broadcast(w.a, loop_enum != nullptr ? 1 : n, static_cast<S>(load<int32_t>(A)));
            typename steps::operands o;
            steps::load_operands(o, mem, info, a, b, 0, n, {w.a, w.a_flag, w.b, w.b_flag, w.zero}, false,
                                 loop_enum == nullptr);
            if (loop_enum != nullptr)
                loop_enum(n, o.a, o.a_flag, S(0), out, out_flag, w.enable[0], frac_bits<S>());
            else
                select_op_loop<S, true>(op, wide)(n, o.a, o.a_flag, o.b, o.b_flag, out, out_flag, w.enable[0],
                                                  frac_bits<S>());
            return true;
        }
    }
};

}  // namespace kmrsim
