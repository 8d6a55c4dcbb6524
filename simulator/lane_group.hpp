// The lane-group executor: a row is processed G elements at a time, and
// every lane group's results go through the write-back pipeline, so a lane
// group reads its sources before the results of the three lane groups
// ahead of it have landed. This is the exact model for any overlap of
// operands, and the only path custom instructions take.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "accumulate.hpp"
#include "custom_call.hpp"
#include "engine_context.hpp"
#include "engine_steps.hpp"

namespace kmrsim {

template <typename D, typename S, typename Src>
struct lane_group_path {
    using steps = engine_steps<D, S, Src>;
    using stage = stage_t<D, S>;

    // Every lane group of the row.
    static void run_row(executor<D, S> &ex, instr_ctx<S> &c, const row_ctx &row)
    {
        const int G = c.G;
        int32_t offset = 0;
        if (c.custom && c.plan.batch_custom)
            offset = run_custom_batches(ex, c, row);
        for (; offset < row.L; offset += G) {
            const int valid = std::min(G, row.L - offset);
            execute_lane_group(ex, c, row, G, valid, offset, offset == 0 && row.first_row,
                               row.last_row && int64_t(offset) + G >= row.L);
        }
    }

    // One lane group: valid elements from `offset` (the last group of a row
    // may have fewer than G); start and end mark the instruction's first and
    // last lane group.
    static void execute_lane_group(executor<D, S> &ex, instr_ctx<S> &c, const row_ctx &row, int G, int valid,
                                   int offset, bool start, bool end)
    {
        workspace<D, S> &w = ex.ws;
        const memory_view &mem = c.mem;
        const size_t n = size_t(valid);
        const size_t first = size_t(offset);
        const int slot = ex.rb.next_slot();
        S *const out = w.out[slot];
        S *const out_flag = w.out_flag[slot];
        S *const enable = w.enable[slot];

        const uintptr_t row_group_dest = row.dest + first * sizeof(D);
        // A custom function gets the destination's values for the whole lane
        // group: it may enable positions past the row's end, and an entry it
        // leaves alone writes back what it received (positions outside the
        // memories read as 0).
        if (c.custom)
            steps::load_previous(mem, row_group_dest, size_t(G), out, out_flag);
        // A scalar is broadcast again for every group: a custom function may
        // have changed the array.
        if (row.a.values == 0)
            steps::broadcast(w.a, n, static_cast<S>(load<int32_t>(row.scalar)));
        // A custom function gets arrays of its own that it may change; a
        // built-in opcode reads its operands where they are.
        typename steps::operands o;
        steps::load_operands(o, mem, *c.info, row.a, row.b, first, n, {w.a, w.a_flag, w.b, w.b_flag, w.zero}, c.custom);
        if (c.custom && n < size_t(G)) {
            // Operands past the row's end are 0, not what an earlier lane
            // group left in the arrays.
            for (S *arr : {w.a, w.a_flag, w.b, w.b_flag})
                std::fill(arr + n, arr + G, S(0));
        }
        steps::enable_from_mask(enable, n, c.masked ? sim().mask_memory + first : nullptr);
        std::fill(enable + n, enable + G, S(0));

        uintptr_t group_dest = row_group_dest;
        if (c.custom) {
            group_dest = call_custom(c.func, c.opcode_select, row_group_dest, start, end,
                                     group_arrays<S>{w.a, w.a_flag, w.b, w.b_flag, out, out_flag, enable});
            if (!c.acc && check_custom_writes<D, S>(group_dest, row_group_dest, G, valid, enable))
                stop_batches_if_read(c, group_dest, G);
        } else {
            c.loop_some(n, o.a, o.a_flag, o.b, o.b_flag, out, out_flag, enable, c.frac);
        }
        queue_results(ex, c, row, G, valid, slot, out, out_flag, enable, group_dest, row_group_dest, end);
    }

    // A lane group wrote outside its own elements (redirected, or enabled
    // past the row): when that may meet what later lane groups read, their
    // operands must be read at their own time again.
    static void stop_batches_if_read(instr_ctx<S> &c, uintptr_t group_dest, int G)
    {
        const span written{group_dest, group_dest + size_t(G) * sizeof(D)};
        if (c.plan.batch_custom && spans_overlap(written, c.plan.reads))
            c.plan.batch_custom = false;
    }

    // Full lane groups of a custom instruction's row, from the row's start,
    // while batches are allowed (row_plan::batch_custom): the operands,
    // previous results and enables of up to a workspace's worth of lane
    // groups are loaded in long runs, then the function is called for each
    // lane group in order, exactly as on the per-group path, and its results
    // go through the same pipeline. Returns the offset of the first lane
    // group left to the per-group path (the last, partial one, or every one
    // after a lane group wrote where others read).
    //
    // Lane groups that the function leaves at their place are queued without
    // the pipeline's ring: the newest `held` stages of the pipeline are the
    // batch's lane groups just before the current one, whose arrays and
    // destinations follow from their position. When a lane group completes
    // the pipeline, the oldest stage is written back as before: one from the
    // ring while it has any (they are older), else the oldest held one. The
    // held stages go into the ring, in order, before any other lane group is
    // queued and when the batch ends, so every stage is written back after
    // the same call as on the per-group path.
    static int32_t run_custom_batches(executor<D, S> &ex, instr_ctx<S> &c, const row_ctx &row)
    {
        workspace<D, S> &w = ex.ws;
        const memory_view &mem = c.mem;
        const int G = c.G;
        const int32_t full_end = row.L - row.L % G;
        const size_t per_batch = w.cap - w.cap % size_t(G);
        int32_t offset = 0;
        while (offset < full_end && c.plan.batch_custom) {
            const size_t first = size_t(offset);
            const size_t n = std::min(per_batch, size_t(full_end - offset));
            const size_t set = w.next_batch;
            w.next_batch = (set + 1) % workspace<D, S>::batch_sets;
            S *const out = w.batch_out[set];
            S *const out_flag = w.batch_out_flag[set];
            S *const enable = w.batch_enable[set];
            const uintptr_t batch_dest = row.dest + first * sizeof(D);
            steps::load_previous(mem, batch_dest, n, out, out_flag);
            if (row.a.values == 0)
                steps::broadcast(w.batch_a, n, static_cast<S>(load<int32_t>(row.scalar)));
            typename steps::operands o;
            steps::load_operands(o, mem, *c.info, row.a, row.b, first, n,
                                 {w.batch_a, w.batch_a_flag, w.batch_b, w.batch_b_flag, w.zero}, true);
            steps::enable_from_mask(enable, n, c.masked ? sim().mask_memory + first : nullptr);

            // The instruction's last lane group, if it is in this batch,
            // goes through queue_results, which empties the pipeline.
            const bool has_end = row.last_row && full_end == row.L && first + n == size_t(full_end);
            const size_t ends_at = has_end ? n - size_t(G) : n;
            size_t held = 0;  // newest stages, not in the ring: lane groups g - held * G .. g - G
            auto hand_over_held = [&](size_t g) {
                for (size_t h = g - held * size_t(G); h < g; h += size_t(G)) {
                    const int slot = ex.rb.next_slot();
                    w.all_enabled[slot] = false;
                    w.write_flags[slot] = row.dest_flags;
                    ex.rb.put(
                        stage{out + h, out_flag + h, static_cast<D *>(ptr(batch_dest + h * sizeof(D))), enable + h});
                }
                held = 0;
            };
            // Everything the loop needs after a call is copied first: the
            // function may write any memory, so fields read through
            // references would be loaded again after every call.
            const size_t step = size_t(G);
            S *const a = w.batch_a, *const a_flag = w.batch_a_flag, *const b = w.batch_b,
                     *const b_flag = w.batch_b_flag;
            const bool acc = c.acc, dest_flags = row.dest_flags;
            const kmrsim_custom_func_t func = c.func;
            const uint16_t select = c.opcode_select;
            const memory_view m = mem;
            size_t in_ring = size_t(ex.rb.size());  // older stages, in the ring
            for (size_t g = 0; g < n; g += step) {
                const uintptr_t row_group_dest = batch_dest + g * sizeof(D);
                const bool start = g == 0 && first == 0 && row.first_row;
                const uintptr_t group_dest = call_custom(
                    func, select, row_group_dest, start, g == ends_at,
                    group_arrays<S>{a + g, a_flag + g, b + g, b_flag + g, out + g, out_flag + g, enable + g});
                offset += G;
                if (acc) {
                    accumulator += steps::sum_enabled(out + g, enable + g, step);
                    continue;
                }
                if (group_dest == row_group_dest && g != ends_at) {
                    // A full lane group left at its place writes only its own
                    // elements (of the checked row).
                    if constexpr (sizeof(D) < sizeof(S))
                        steps::narrow(c.op, step, out + g, out + g);
                    if (held + in_ring == pipeline_depth - 1) {
                        if (in_ring == 0) {
                            const size_t h = g - held * step;
                            steps::store_inside(m, batch_dest + h * sizeof(D), step, out + h, out_flag + h,
                                                enable + h, dest_flags);
                            --held;
                        } else {
                            write_back_oldest(ex, m, G);
                            --in_ring;
                        }
                    }
                    ++held;
                    continue;
                }
                hand_over_held(g);
                const bool elsewhere = group_dest != row_group_dest &&
                                       check_custom_writes<D, S>(group_dest, row_group_dest, G, G, enable + g);
                queue_results(ex, c, row, G, G, ex.rb.next_slot(), out + g, out_flag + g, enable + g, group_dest,
                              row_group_dest, g == ends_at);
                in_ring = size_t(ex.rb.size());
                if (elsewhere) {
                    stop_batches_if_read(c, group_dest, G);
                    if (!c.plan.batch_custom)
                        return offset;
                }
            }
            hand_over_held(n);
        }
        return offset;
    }

    // After the element loop or the custom function: the lane group's sum
    // (accumulating), or its narrowed results queued as a pipeline stage,
    // writing back the stages that leave the pipeline.
    static void queue_results(executor<D, S> &ex, instr_ctx<S> &c, const row_ctx &row, int G, int valid, int slot,
                              S *out, S *out_flag, S *enable, uintptr_t group_dest, uintptr_t row_group_dest, bool end)
    {
        workspace<D, S> &w = ex.ws;
        const memory_view &mem = c.mem;
        if (c.acc) {
            accumulator += steps::sum_enabled(out, enable, size_t(G));
            return;
        }

        if constexpr (sizeof(D) < sizeof(S))
            steps::narrow(c.op, size_t(G), out, out);
        w.all_enabled[slot] = !c.custom && !c.masked && !c.info->conditional && valid == G;
        w.write_flags[slot] = group_dest == row_group_dest ? row.dest_flags : !mem.mask_holds(group_dest, 1);
        ex.rb.put(stage{out, out_flag, static_cast<D *>(ptr(group_dest)), enable});
        while (ex.rb.full() || (end && !ex.rb.empty()))
            write_back_oldest(ex, mem, G);
    }

    // Writes the oldest stage back and takes it out of the pipeline.
    KMRSIM_ALWAYS_INLINE static void write_back_oldest(executor<D, S> &ex, const memory_view &mem, int G)
    {
        const workspace<D, S> &w = ex.ws;
        const int oldest = ex.rb.oldest_slot();
        const stage st = ex.rb.get();
        steps::store_enabled(mem, addr(st.dest), size_t(G), st.result, st.flag,
                             w.all_enabled[oldest] ? nullptr : st.enable, w.write_flags[oldest]);
    }
};

}  // namespace kmrsim
