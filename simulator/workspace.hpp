// Working storage of the executors, kept between instructions so that no
// instruction allocates once each kind has run.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "pipeline.hpp"

namespace kmrsim {

// A growable byte buffer that keeps its storage between instructions.
struct byte_buffer {
    std::unique_ptr<uint8_t[]> data;
    size_t size = 0;

    // Storage for at least n bytes. Earlier contents are not kept: the
    // caller fills what it uses.
    uint8_t *scratch(size_t n)
    {
        if (n > size) {
            size = std::max(n, size * 2);
            data = std::make_unique<uint8_t[]>(size);
        }
        return data.get();
    }
};

// Working storage of one executor instance: the operand arrays of a lane
// group (or of a chunk of a row), one result/flag/enable array triple per
// pipeline slot, and copies of source rows. Sized once for the largest
// lane group (256 lanes of 8-bit elements) and grown only if a larger group
// or row ever appears.
template <typename D, typename S>
struct workspace {
    static constexpr size_t min_capacity = 1024;
    static constexpr size_t slots = size_t(write_back_pipeline<D, S>::slots);

    size_t cap = 0;
    std::unique_ptr<S[]> block;
    std::unique_ptr<D[]> narrow_block;
    S *a = nullptr, *a_flag = nullptr, *b = nullptr, *b_flag = nullptr;
    S *zero = nullptr;  // all zeros: the flags of scalars and the enumeration
    S *out[slots] = {}, *out_flag[slots] = {}, *enable[slots] = {};
    bool all_enabled[slots] = {};  // the slot's stage writes every element
    bool write_flags[slots] = {};  // the slot's stage writes flags
    D *narrowed = nullptr;         // results narrowed to the destination type
    byte_buffer copy_a, copy_a_flag, copy_b, copy_b_flag, copy_mask;

    // Batches of lane groups for custom functions (lane_group_path): the
    // operand arrays of one batch, and four sets of result, flag and enable
    // arrays used in turn, so that the stages still queued (the last three
    // lane groups, from at most three batches) keep their arrays while the
    // next batch is loaded.
    static constexpr size_t batch_sets = 4;
    S *batch_a = nullptr, *batch_a_flag = nullptr, *batch_b = nullptr, *batch_b_flag = nullptr;
    S *batch_out[batch_sets] = {}, *batch_out_flag[batch_sets] = {}, *batch_enable[batch_sets] = {};
    size_t next_batch = 0;

    // The arrays lie one after another in one block, each followed by 128
    // bytes of padding: with the smallest capacity, word arrays would
    // otherwise begin exactly 4 KB apart, and a load from one array right
    // after a store to another at the same offset would share the store's
    // low 12 address bits, which makes the host processor hold the load back.
    static constexpr size_t arrays = 5 + 3 * slots + 4 + 3 * batch_sets;
    static constexpr size_t stagger = 128 / sizeof(S);

    // Must only be called while no stage is queued.
    void ensure(size_t n)
    {
        if (n <= cap)
            return;
        cap = std::max(n, min_capacity);
        block = std::make_unique<S[]>((cap + stagger) * arrays);
        narrow_block = std::make_unique<D[]>(cap);
        narrowed = narrow_block.get();
        S *p = block.get();
        auto take = [&] {
            S *q = p;
            p += cap + stagger;
            return q;
        };
        a = take();
        a_flag = take();
        b = take();
        b_flag = take();
        zero = take();
        for (size_t i = 0; i < slots; ++i) {
            out[i] = take();
            out_flag[i] = take();
            enable[i] = take();
        }
        batch_a = take();
        batch_a_flag = take();
        batch_b = take();
        batch_b_flag = take();
        for (size_t i = 0; i < batch_sets; ++i) {
            batch_out[i] = take();
            batch_out_flag[i] = take();
            batch_enable[i] = take();
        }
    }
};

}  // namespace kmrsim
