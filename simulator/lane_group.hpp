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
        for (int32_t offset = 0; offset < row.L; offset += G) {
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
        if (c.custom)
            steps::load_previous(mem, row_group_dest, n, out, out_flag);
        // A scalar is broadcast again for every group: a custom function may
        // have changed the array.
        if (row.a.values == 0)
            steps::broadcast(w.a, n, static_cast<S>(load<int32_t>(row.scalar)));
        // A custom function gets arrays of its own that it may change; a
        // built-in opcode reads its operands where they are.
        typename steps::operands o;
        steps::load_operands(o, mem, *c.info, row.a, row.b, first, n, {w.a, w.a_flag, w.b, w.b_flag, w.zero}, c.custom);
        steps::enable_from_mask(enable, n, c.masked ? sim().mask_memory + first : nullptr);
        std::fill(enable + n, enable + G, S(0));

        uintptr_t group_dest = row_group_dest;
        if (c.custom) {
            group_dest = call_custom(c, row_group_dest, start, end,
                                     group_arrays<S>{w.a, w.a_flag, w.b, w.b_flag, out, out_flag, enable});
            if (!c.acc)
                check_custom_writes<D, S>(group_dest, row_group_dest, G, valid, enable);
        } else {
            c.loop_some(n, o.a, o.a_flag, o.b, o.b_flag, out, out_flag, enable, c.frac);
        }

        if (c.acc) {
            accumulator += steps::sum_enabled(out, enable, size_t(G));
            return;
        }

        if constexpr (sizeof(D) < sizeof(S))
            steps::narrow(c.op, size_t(G), out, out);
        w.all_enabled[slot] = !c.custom && !c.masked && !c.info->conditional && valid == G;
        w.write_flags[slot] = group_dest == row_group_dest ? row.dest_flags : !mem.mask_holds(group_dest, 1);
        ex.rb.put(stage{out, out_flag, static_cast<D *>(ptr(group_dest)), enable});
        while (ex.rb.full() || (end && !ex.rb.empty())) {
            const int oldest = ex.rb.oldest_slot();
            const stage st = ex.rb.get();
            steps::store_enabled(mem, addr(st.dest), size_t(G), st.result, st.flag,
                                 w.all_enabled[oldest] ? nullptr : st.enable, w.write_flags[oldest]);
        }
    }
};

}  // namespace kmrsim
