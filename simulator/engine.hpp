// The instruction engine: the strided traversal that cuts an instruction
// into rows, and the row engine that prepares each row's operands and runs
// it on one of the two execution paths: the lane-group executor with its
// write-back pipeline (lane_group.hpp), or whole-row computation for rows
// whose results provably cannot depend on the write-back timing
// (whole_row.hpp). Accumulating rows end with their sum (accumulate.hpp).
//
// One template, engine<D, S, Src>, serves every instruction: D is the
// destination element type, S the computation type and Src the element type
// of vector sources; all three share one signedness.
#pragma once

#include <algorithm>
#include <cstdint>

#include "accumulate.hpp"
#include "element_ops.hpp"
#include "engine_context.hpp"
#include "engine_steps.hpp"
#include "kmrsim.hpp"
#include "lane_group.hpp"
#include "memory.hpp"
#include "observers.hpp"
#include "overlap.hpp"
#include "short_row.hpp"
#include "whole_row.hpp"

namespace kmrsim {

// When false, every instruction goes through the lane-group pipeline; the
// tests use it to compare the whole-row path with the pipeline model.
extern bool whole_row_path_enabled;

template <typename D, typename S, typename Src>
struct engine {
    using steps = engine_steps<D, S, Src>;

    // The executor instance's storage and pipeline, made on first use and
    // kept for the life of the process.
    static executor<D, S> &self()
    {
        static executor<D, S> inst;
        return inst;
    }

    // Runs one instruction that the dispatch has admitted. A is the address
    // of source A or of the 32-bit scalar; B the address of source B (unused
    // for the enumeration).
    static void run(int dim, int form, vinstr_t op, void *dest, const void *A, const void *B, bool masked, bool acc)
    {
        if (dim == 1 && !masked && !acc && op < VCUSTOM0 &&
            short_row_path<D, S, Src>::try_run(form, op, addr(dest), addr(A), addr(B), self().ws))
            return;
        const kmr_sim_t &s = sim();
        // Every field is set below; value-initialising the whole record would
        // cost more than the rest of a short instruction's set-up.
        instr_ctx<S> c;
        c.func = nullptr;
        c.opcode_select = 0;
        c.loop_all = nullptr;
        c.loop_some = nullptr;
        c.frac = 0;
        c.op = op;
        c.form = form;
        c.masked = masked;
        c.acc = acc;
        c.custom = op >= VCUSTOM0;
        c.wide = false;
        c.G = lanes_for_instruction(op) * 4 / static_cast<int>(sizeof(S));
        c.mem = memory_view::current();
        c.info = &opcode_info(op);
        if (c.custom) {
            const kmrsim_custom_entry_t &e = s.custom_instructions[op - VCUSTOM0];
            c.func = e.func;
            const int shift = (op - VCUSTOM0) - e.first;
            c.opcode_select = (shift >= 0 && shift < KMRSIM_NUM_CUSTOM) ? uint16_t(1u << shift) : uint16_t(0);
        } else {
            const uint32_t L = masked ? static_cast<uint32_t>(s.mask_length) : s.regs[REG_VL];
            c.wide = use_wide(size_t(L) * sizeof(S));
            c.loop_all = select_op_loop<S, true>(op, c.wide);
            c.loop_some = select_op_loop<S, false>(op, c.wide);
            c.frac = frac_bits<S>();
        }
        kmrsim_strided_engine(dim, addr(dest), addr(A), addr(B), c);
    }

    // Cuts the instruction into rows (matrices outer, rows inner) and hands
    // each to the row engine with the first/last-row flags.
    KMRSIM_ALWAYS_INLINE static void kmrsim_strided_engine(int dim, uintptr_t dest, uintptr_t A, uintptr_t B,
                                                           instr_ctx<S> &c)
    {
        const kmr_sim_t &s = sim();
        // Strides of the dimensions an instruction does not have cannot move
        // anything (their only row or matrix has index 0), so they are left 0.
        const int32_t M = dim == 3 ? static_cast<int32_t>(s.regs[REG_MATS]) : 1;
        const int32_t R = dim >= 2 ? static_cast<int32_t>(s.regs[REG_ROWS]) : 1;
        int32_t d3 = 0, a3 = 0, b3 = 0, d2 = 0, a2 = 0, b2 = 0;
        if (dim == 3) {
            d3 = sign_extend_stride(s.regs[REG_ID3], s.reg_mask[REG_ID3]);
            a3 = sign_extend_stride(s.regs[REG_IA3], s.reg_mask[REG_IA3]);
            b3 = sign_extend_stride(s.regs[REG_IB3], s.reg_mask[REG_IB3]);
        }
        if (dim >= 2) {
            d2 = sign_extend_stride(s.regs[REG_ID2], s.reg_mask[REG_ID2]);
            a2 = sign_extend_stride(s.regs[REG_IA2], s.reg_mask[REG_IA2]);
            b2 = sign_extend_stride(s.regs[REG_IB2], s.reg_mask[REG_IB2]);
        }
        if (!a_is_vector(c.form))
            a2 = a3 = 0;  // every row sees the same scalar
        if (!b_is_vector(c.form))
            b2 = b3 = 0;  // the enumeration has no address
        if (M <= 0 || R <= 0)
            return;

        self().ws.ensure(static_cast<size_t>(c.G));
        make_plan(c.plan, dest, A, B, d2, d3, a2, a3, b2, b3, R, M, c);
        plan_dma(dest, A, B, d2, d3, a2, a3, b2, b3, R, M, c);

        int32_t L = c.masked ? s.mask_length : static_cast<int32_t>(s.regs[REG_VL]);
        int32_t mats = M, rows = R;
        const bool many_rows = int64_t(M) * R > 1;
        if (many_rows)
            plan_ranges(dest, A, B, d2, d3, a2, a3, b2, b3, R, M, L, c);
        else
            c.dest_inside = c.a_inside = c.b_inside = false;  // the row checks itself
        const bool one_row = many_rows && runs_as_one_row(dest, A, B, d2, d3, a2, a3, b2, b3, R, M, L, c);
        if (one_row) {
            L = M * R * L;
            mats = rows = 1;
            if (!c.wide && use_wide(size_t(L) * sizeof(S))) {
                c.wide = true;
                c.loop_all = select_op_loop<S, true>(c.op, true);
                c.loop_some = select_op_loop<S, false>(c.op, true);
            }
        }
        if (many_rows && !one_row && rows_in_place(dest, d2, d3, L, c)) {
            in_place_rows(dest, A, B, d2, d3, a2, a3, b2, b3, R, M, L, c);
            current_issue.mat = M - 1;
            current_issue.row = R - 1;
            return;
        }
        for (int32_t m = 0; m < mats; ++m) {
            current_issue.mat = m;
            for (int32_t r = 0; r < rows; ++r) {
                current_issue.row = r;
                const uintptr_t rd = dest + row_offset(m, d3, r, d2);
                const uintptr_t ra = A + row_offset(m, a3, r, a2);
                const uintptr_t rb = B + row_offset(m, b3, r, b2);
                kmrsim_group_engine(rd, ra, rb, c, m == 0 && r == 0, m == mats - 1 && r == rows - 1, L);
            }
        }
        if (one_row) {
            current_issue.mat = M - 1;
            current_issue.row = R - 1;
        }
    }

    // Whether every row of a many-row instruction would take the same road
    // on the whole-row path, computed in place over every element, with
    // nothing to decide, check or complete per row: a built-in opcode that is
    // not conditional and not a VMOV, without mask or accumulation, of one
    // element type, B a vector read from the scratchpad, every operand's
    // rows in the scratchpad and apart from pending transfers, sources read
    // live, and every destination row and its flags aligned.
    static bool rows_in_place(uintptr_t dest, int32_t d2, int32_t d3, int32_t L, const instr_ctx<S> &c)
    {
        if constexpr (!std::is_same_v<D, S>) {
            return false;
        } else {
            if (!c.plan.direct || c.masked || c.acc || c.custom || observers_active || c.op == VMOV ||
                c.info->conditional || L <= 0)
                return false;
            if (c.dma_dest || c.dma_a || c.dma_b || !c.dest_inside || (a_is_vector(c.form) && !c.a_inside) ||
                !b_is_vector(c.form) || !c.info->b_range_checked || !c.b_inside)
                return false;
            if (c.plan.a != source_access::live || c.plan.b != source_access::live)
                return false;
            constexpr uint32_t align = alignof(S);
            return dest % align == 0 && uint32_t(d2) % align == 0 && uint32_t(d3) % align == 0 &&
                   c.mem.flag_of(dest) % align == 0;
        }
    }

    // The rows of rows_in_place: each computed in place, as run_row would.
    static void in_place_rows(uintptr_t dest, uintptr_t A, uintptr_t B, int32_t d2, int32_t d3, int32_t a2, int32_t a3,
                              int32_t b2, int32_t b3, int32_t R, int32_t M, int32_t L, const instr_ctx<S> &c)
    {
        using path = whole_row_path<D, S, Src>;
        workspace<D, S> &w = self().ws;
        if (direct_rows(dest, A, B, d2, d3, a2, a3, b2, b3, R, M, L, c))
            return;
        const size_t chunk = std::min(w.cap, c.plan.chunk_limit);
        row_ctx row{};
        row.L = L;
        row.dest_flags = true;
        row.scalar = a_is_vector(c.form) ? 0 : A;
        for (int32_t m = 0; m < M; ++m) {
            for (int32_t r = 0; r < R; ++r) {
                row.dest = dest + row_offset(m, d3, r, d2);
                if (a_is_vector(c.form))
                    row.a = steps::view_source(A + row_offset(m, a3, r, a2), true, c.mem);
                row.b = steps::view_source(B + row_offset(m, b3, r, b2), true, c.mem);
                if (c.wide)
                    isa_instances<&path::in_place>::wide(w, c, row, row.a, row.b, size_t(L), chunk);
                else
                    path::in_place(w, c, row, row.a, row.b, size_t(L), chunk);
            }
        }
    }

    // The rows of in_place_rows as one call of the element loop each, when
    // the loop needs no arrays: A a vector, no source flags read, sources
    // aligned. in_place would then read the sources where they lie too, and
    // its chunks make no difference (the loop reads an element's sources
    // just before it writes that element). Sources narrower than the
    // computation are converted by the loop (op_loop_widen), which needs
    // every source row apart from every destination row and its flags.
    // Returns false, doing nothing, when the rows do not qualify.
    static bool direct_rows(uintptr_t dest, uintptr_t A, uintptr_t B, int32_t d2, int32_t d3, int32_t a2, int32_t a3,
                            int32_t b2, int32_t b3, int32_t R, int32_t M, int32_t L, const instr_ctx<S> &c)
    {
        constexpr uint32_t align = alignof(Src);
        if (!a_is_vector(c.form) || c.info->reads_a_flag || c.info->reads_b_flag || A % align != 0 ||
            B % align != 0 || uint32_t(a2 | a3 | b2 | b3) % align != 0)
            return false;
        const S *zero = self().ws.zero;  // the flags the loop does not read
        auto each_row = [&](auto &&row) {
            for (int32_t m = 0; m < M; ++m)
                for (int32_t r = 0; r < R; ++r) {
                    const uintptr_t d = dest + row_offset(m, d3, r, d2);
                    row(static_cast<const Src *>(ptr(A + row_offset(m, a3, r, a2))),
                        static_cast<const Src *>(ptr(B + row_offset(m, b3, r, b2))), static_cast<S *>(ptr(d)),
                        static_cast<S *>(ptr(c.mem.flag_of(d))));
                }
        };
        if constexpr (std::is_same_v<Src, S>) {
            S *const en = self().ws.enable[0];
            each_row([&](const S *a, const S *b, S *d, S *f) { c.loop_all(size_t(L), a, zero, b, zero, d, f, en, c.frac); });
            return true;
        } else if constexpr (sizeof(Src) < sizeof(S)) {
            const op_loop_widen_fn<S, Src> loop = select_op_loop_widen<S, Src>(c.op, c.wide);
            span ds, as, bs;
            if (loop == nullptr || !operand_span(dest, d2, d3, R, M, int64_t(L) * int64_t(sizeof(S)), ds) ||
                !operand_span(A, a2, a3, R, M, int64_t(L) * int64_t(sizeof(Src)), as) ||
                !operand_span(B, b2, b3, R, M, int64_t(L) * int64_t(sizeof(Src)), bs))
                return false;
            const span fs{c.mem.flag_of(ds.lo), c.mem.flag_of(ds.hi)};
            if (spans_overlap(as, ds) || spans_overlap(bs, ds) || spans_overlap(as, fs) || spans_overlap(bs, fs))
                return false;
            each_row([&](const Src *a, const Src *b, S *d, S *f) { loop(size_t(L), a, zero, b, zero, d, f, c.frac); });
            return true;
        }
        return false;
    }

    // Whether every row of an operand lies in the scratchpad: then no row's
    // range check can fail, and the rows skip it (and the destination has
    // flags in every row).
    static void plan_ranges(uintptr_t dest, uintptr_t A, uintptr_t B, int32_t d2, int32_t d3, int32_t a2, int32_t a3,
                            int32_t b2, int32_t b3, int32_t R, int32_t M, int32_t L, instr_ctx<S> &c)
    {
        auto inside = [&](uintptr_t base, int32_t s2, int32_t s3, int64_t row_bytes) {
            span sp;
            return L >= 0 && operand_span(base, s2, s3, R, M, row_bytes, sp) && sp.lo <= sp.hi &&
                   c.mem.holds(sp.lo, sp.hi - sp.lo);
        };
        c.dest_inside = inside(dest, d2, d3, c.acc ? int64_t(sizeof(D)) : int64_t(L) * int64_t(sizeof(D)));
        c.a_inside = a_is_vector(c.form) && inside(A, a2, a3, int64_t(L) * int64_t(sizeof(Src)));
        c.b_inside =
            b_is_vector(c.form) && c.info->b_range_checked && inside(B, b2, b3, int64_t(L) * int64_t(sizeof(Src)));
    }

    // Whether the rows of a two- or three-dimensional instruction that the
    // whole-row path computes may run as one row of M * R * L elements: every
    // operand's rows (and matrices) follow one another without a gap, so the
    // long row covers the same elements in the same order. Each source must
    // lie apart from the destination or be the destination itself, element
    // for element: then no element reads another element's result, whatever
    // the rows. (Relations in which a row reads finished results of earlier
    // rows hold only row by row.) All operands lie in the scratchpad
    // (plan_ranges), so no range check can fail part way. DMA completion
    // over the whole span before the first row leaves the same memory as
    // completion row by row: the transfers run in queue order either way,
    // every transfer that meets a row's operands is performed before that
    // row reads or writes them, and no other row writes where it lies. A completion routine of the
    // program's own sees the rows one by one, as do the tools, custom
    // functions, masks (each row reads the mask from its start), the
    // enumeration (it counts from 0 in every row) and accumulation (a sum per
    // row).
    static bool runs_as_one_row(uintptr_t dest, uintptr_t A, uintptr_t B, int32_t d2, int32_t d3, int32_t a2,
                                int32_t a3, int32_t b2, int32_t b3, int32_t R, int32_t M, int32_t L,
                                const instr_ctx<S> &c)
    {
        if (!c.plan.direct || c.masked || c.acc || c.custom || observers_active || L <= 0)
            return false;
        const kmr_sim_t &s = sim();
        if (s.dma_until_hook != nullptr && s.dma_until_hook != &_internal_do_dma_until)
            return false;
        const bool reads_a = a_is_vector(c.form);
        const bool reads_b = b_is_vector(c.form) && c.info->b_range_checked;
        if (!b_is_vector(c.form) && c.info->reads_b)
            return false;
        const int64_t n = int64_t(M) * R * L;
        const int64_t dest_bytes = n * int64_t(sizeof(D)), source_bytes = n * int64_t(sizeof(Src));
        auto dense = [&](int32_t s2, int32_t s3, size_t elem) {
            const int64_t row_bytes = int64_t(L) * int64_t(elem);
            return s2 == row_bytes && (M == 1 || s3 == row_bytes * R);
        };
        if (!dense(d2, d3, sizeof(D)) || !c.dest_inside)
            return false;
        const span ds{dest, dest + uintptr_t(dest_bytes)};
        auto source_ok = [&](uintptr_t base, int32_t s2, int32_t s3, bool inside) {
            return dense(s2, s3, sizeof(Src)) && inside &&
                   ((base == dest && sizeof(Src) == sizeof(D)) ||
                    !spans_overlap(ds, span{base, base + uintptr_t(source_bytes)}));
        };
        return (!reads_a || source_ok(A, a2, a3, c.a_inside)) && (!reads_b || source_ok(B, b2, b3, c.b_inside));
    }

    // m * s3 + r * s2, each product wrapping as a signed 32-bit number.
    static uintptr_t row_offset(int32_t m, int32_t s3, int32_t r, int32_t s2)
    {
        const int32_t p3 = static_cast<int32_t>(static_cast<uint32_t>(m) * static_cast<uint32_t>(s3));
        const int32_t p2 = static_cast<int32_t>(static_cast<uint32_t>(r) * static_cast<uint32_t>(s2));
        return static_cast<uintptr_t>(static_cast<intptr_t>(p3)) + static_cast<uintptr_t>(static_cast<intptr_t>(p2));
    }

    // Decides whether rows may be computed whole. Custom functions always see
    // real lane groups. Accumulating rows write nothing until their end, so
    // they never feed back. Otherwise every source that the opcode reads (and
    // the mask) must be unable to see a result of the same instruction at a
    // position the pipeline would not show it: disjoint from the destination
    // over all rows, or, in a one-row instruction, in one of the relations of
    // classify_source that has a whole-row equivalent, or, in a
    // two-dimensional instruction, in a relation of classify_rows.
    //
    // The plan is written where it is kept (c.plan): a record returned by
    // value would be copied with wide loads right after the narrow stores
    // that filled it, which stalls the store-to-load forwarding of every
    // instruction.
    [[gnu::noinline]] static void make_plan(row_plan &plan, uintptr_t dest, uintptr_t A, uintptr_t B, int32_t d2,
                                            int32_t d3, int32_t a2, int32_t a3, int32_t b2, int32_t b3, int32_t R,
                                            int32_t M, const instr_ctx<S> &c)
    {
        plan = row_plan{};
        if (!whole_row_path_enabled)
            return;
        if (c.custom) {
            plan_custom_batches(plan, dest, A, B, d2, d3, a2, a3, b2, b3, R, M, c);
            return;
        }
        plan.direct = true;
        if (c.acc)
            return;
        const kmr_sim_t &s = sim();
        const int64_t L = c.masked ? s.mask_length : static_cast<int32_t>(s.regs[REG_VL]);
        const bool reads_a = a_is_vector(c.form);
        const bool reads_b = b_is_vector(c.form) && c.info->b_range_checked;
        const uintptr_t mask = addr(s.mask_memory);

        if (R == 1 && M == 1) {
            auto classify = [&](uintptr_t src, size_t size) {
                return classify_source(src, size, dest, sizeof(D), L, c.G, plan.chunk_limit);
            };
            if (reads_a)
                plan.a = classify(A, sizeof(Src));
            if (reads_b)
                plan.b = classify(B, sizeof(Src));
            if (c.masked)
                plan.mask = classify(mask, 1);
            plan.direct = plan.a != source_access::pipeline && plan.b != source_access::pipeline &&
                          plan.mask != source_access::pipeline;
            return;
        }

        span ds;
        if (!operand_span(dest, d2, d3, R, M, L * int64_t(sizeof(D)), ds)) {
            plan = row_plan{};
            return;
        }
        // Destination rows that do not overlap one another: then a source that
        // is the destination itself, row for row and element for element, only
        // ever reads an element before that same element is written.
        const int64_t dest_row_bytes = L * int64_t(sizeof(D));
        const int64_t step2 = d2 < 0 ? -int64_t(d2) : int64_t(d2);
        const int64_t step3 = d3 < 0 ? -int64_t(d3) : int64_t(d3);
        const bool rows_apart =
            (R == 1 || step2 >= dest_row_bytes) && (M == 1 || step3 >= step2 * (R - 1) + dest_row_bytes);
        auto independent = [&](uintptr_t base, int32_t s2, int32_t s3, size_t elem) {
            if (rows_apart && base == dest && s2 == d2 && s3 == d3 && elem == sizeof(D))
                return true;
            span os;
            return operand_span(base, s2, s3, R, M, L * int64_t(elem), os) && !spans_overlap(ds, os);
        };
        // A source that meets the destination in a two-dimensional
        // instruction may still have a row-by-row equivalent (classify_rows).
        auto access = [&](uintptr_t base, int32_t s2, int32_t s3, size_t elem) {
            if (independent(base, s2, s3, elem))
                return source_access::live;
            if (M != 1 || !rows_apart)
                return source_access::pipeline;
            return classify_rows(base, s2, elem, dest, d2, sizeof(D), L, R, c.G, plan.chunk_limit);
        };
        if (reads_a)
            plan.a = access(A, a2, a3, sizeof(Src));
        if (reads_b)
            plan.b = access(B, b2, b3, sizeof(Src));
        if (plan.a == source_access::pipeline || plan.b == source_access::pipeline ||
            (c.masked && !independent(mask, 0, 0, 1))) {
            plan = row_plan{};
            return;
        }
    }

    // Shows a row to the tools that are on (kept out of line, so that the
    // row engine's code is the same as without tools).
    [[gnu::noinline, gnu::cold]] static void observe(uintptr_t dest, uintptr_t A, uintptr_t B, const instr_ctx<S> &c,
                                                     const row_ctx &row)
    {
        observe_row({dest, int(sizeof(D)), row.L, A, B, int(sizeof(Src)), a_is_vector(c.form),
                     b_is_vector(c.form) && c.info->reads_b, b_is_vector(c.form) && !c.custom && flag_decides(*c.info),
                     c.masked, c.acc, row.dest_flags});
    }

    // Custom functions are called once per lane group, in order, always; what
    // may change is when their operands are read. A batch of lane groups may
    // be loaded at once when nothing the instruction writes can meet what a
    // later lane group reads: accumulating rows write nothing before their
    // end (and batches never cross rows); otherwise the destination rows must
    // lie apart from one another (each lane group's previous results are its
    // own) and every source and the mask must miss the destination, or be
    // the destination itself, row for row. Lane groups that write elsewhere
    // are checked against `reads` as they run (lane_group_path).
    static void plan_custom_batches(row_plan &plan, uintptr_t dest, uintptr_t A, uintptr_t B, int32_t d2, int32_t d3,
                                    int32_t a2, int32_t a3, int32_t b2, int32_t b3, int32_t R, int32_t M,
                                    const instr_ctx<S> &c)
    {
        const kmr_sim_t &s = sim();
        const int64_t L = c.masked ? s.mask_length : static_cast<int32_t>(s.regs[REG_VL]);
        const int64_t dest_row_bytes = L * int64_t(sizeof(D));
        const int64_t source_row_bytes = L * int64_t(sizeof(Src));
        span ds, as, bs;
        const bool reads_a = a_is_vector(c.form), reads_b = b_is_vector(c.form);
        if (!operand_span(dest, d2, d3, R, M, dest_row_bytes, ds) ||
            (reads_a && !operand_span(A, a2, a3, R, M, source_row_bytes, as)) ||
            (reads_b && !operand_span(B, b2, b3, R, M, source_row_bytes, bs)))
            return;
        const uintptr_t mask = addr(s.mask_memory);
        const span ms{mask, mask + uintptr_t(std::max<int64_t>(L, 0))};
        plan.reads = ds;
        auto include = [&](const span &x) {
            plan.reads.lo = std::min(plan.reads.lo, x.lo);
            plan.reads.hi = std::max(plan.reads.hi, x.hi);
        };
        if (reads_a)
            include(as);
        if (reads_b)
            include(bs);
        if (c.masked)
            include(ms);
        if (c.acc) {
            plan.batch_custom = true;
            return;
        }
        const int64_t step2 = d2 < 0 ? -int64_t(d2) : int64_t(d2);
        const int64_t step3 = d3 < 0 ? -int64_t(d3) : int64_t(d3);
        const bool rows_apart =
            (R == 1 || step2 >= dest_row_bytes) && (M == 1 || step3 >= step2 * (R - 1) + dest_row_bytes);
        auto own_or_apart = [&](uintptr_t base, int32_t s2, int32_t s3, const span &os) {
            return (base == dest && s2 == d2 && s3 == d3 && sizeof(Src) == sizeof(D)) || !spans_overlap(ds, os);
        };
        plan.batch_custom = rows_apart && (!reads_a || own_or_apart(A, a2, a3, as)) &&
                            (!reads_b || own_or_apart(B, b2, b3, bs)) && (!c.masked || !spans_overlap(ds, ms));
    }

    // Decides per operand whether its rows need the DMA completion call. With
    // an empty queue none does; otherwise one look at the pending transfers
    // over the operand's span in all rows replaces a search per row. A custom
    // function runs the user's code between rows, so its instructions ask in
    // every row.
    static void plan_dma(uintptr_t dest, uintptr_t A, uintptr_t B, int32_t d2, int32_t d3, int32_t a2, int32_t a3,
                         int32_t b2, int32_t b3, int32_t R, int32_t M, instr_ctx<S> &c)
    {
        const kmr_sim_t &s = sim();
        c.dma_dest = c.dma_a = c.dma_b = true;
        if (s.dma_queue == nullptr && s.dma_until_hook == &_internal_do_dma_until) {
            c.dma_dest = c.dma_a = c.dma_b = false;
            return;
        }
        if (c.custom || s.dma_until_hook != &_internal_do_dma_until)
            return;
        const int64_t L = c.masked ? s.mask_length : static_cast<int32_t>(s.regs[REG_VL]);
        auto needed = [&](uintptr_t base, int32_t s2, int32_t s3, int64_t row_bytes) {
            span sp;
            return !operand_span(base, s2, s3, R, M, row_bytes, sp) || dma_needed(sp.lo, sp.hi);
        };
        c.dma_dest = needed(dest, d2, d3, c.acc ? int64_t(sizeof(D)) : L * int64_t(sizeof(D)));
        if (a_is_vector(c.form))
            c.dma_a = needed(A, a2, a3, L * int64_t(sizeof(Src)));
        if (b_is_vector(c.form) && c.info->b_range_checked)
            c.dma_b = needed(B, b2, b3, L * int64_t(sizeof(Src)));
    }

    // One row: DMA completion and range checks on every operand, then the
    // lane groups (or the whole row at once), then the accumulated sum.
    KMRSIM_ALWAYS_INLINE static void kmrsim_group_engine(uintptr_t dest, uintptr_t A, uintptr_t B, instr_ctx<S> &c,
                                                         bool first_row, bool last_row, int32_t L)
    {
        accumulator = 0;
        row_ctx row;
        row.dest = dest;
        row.scalar = a_is_vector(c.form) ? 0 : A;
        row.L = L;
        row.first_row = first_row;
        row.last_row = last_row;
        row.dest_flags = c.dest_inside || !c.mem.mask_holds(dest, 1);

        // An operand whose rows all lie in the scratchpad and meet no pending
        // transfer needs neither the completion call nor the range check.
        auto prepare = [&](uintptr_t p, int64_t len, operand_kind kind, bool dma, bool inside) {
            return (inside && !dma) || prepare_operand(c.mem, p, len, kind, dma);
        };
        const int64_t source_bytes = int64_t(row.L) * int64_t(sizeof(Src));
        prepare(dest, c.acc ? int64_t(sizeof(D)) : int64_t(row.L) * int64_t(sizeof(D)), operand_kind::dest,
                c.dma_dest, c.dest_inside);
        if (a_is_vector(c.form))
            row.a = steps::view_source(A, prepare(A, source_bytes, operand_kind::a, c.dma_a, c.a_inside), c.mem);
        if (b_is_vector(c.form) && c.info->b_range_checked)
            row.b = steps::view_source(B, prepare(B, source_bytes, operand_kind::b, c.dma_b, c.b_inside), c.mem);

        if (observers_active) [[unlikely]]
            observe(dest, A, B, c, row);

        executor<D, S> &ex = self();
        if (c.plan.direct)
            whole_row_path<D, S, Src>::run_row(ex, c, row);
        else
            lane_group_path<D, S, Src>::run_row(ex, c, row);
        if (c.acc)
            finish_accumulation<D>(c.mem, dest, row.dest_flags);
    }
};

}  // namespace kmrsim
