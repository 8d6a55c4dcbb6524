// Working storage of the executors, kept between instructions so that no
// instruction allocates once each kind has run.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace kmrsim {

// A growable byte buffer that keeps its storage between instructions.
struct byte_buffer {
    std::unique_ptr<uint8_t[]> data;
    size_t size = 0;

    uint8_t *reserve(size_t n)
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
// ring-buffer slot, and copies of source rows. Sized once for the largest
// lane group (256 lanes of 8-bit elements) and grown only if a larger group
// or row ever appears.
template <typename D, typename S>
struct workspace {
    static constexpr size_t min_capacity = 1024;
    static constexpr int slots = 5;

    size_t cap = 0;
    std::unique_ptr<S[]> block;
    std::unique_ptr<D[]> narrow_block;
    S *a = nullptr, *a_flag = nullptr, *b = nullptr, *b_flag = nullptr, *zero = nullptr;
    S *out[slots] = {}, *out_flag[slots] = {}, *enable[slots] = {};
    bool all_enabled[slots] = {};
    bool write_flags[slots] = {};
    D *narrowed = nullptr;
    byte_buffer copy_a, copy_a_flag, copy_b, copy_b_flag, copy_mask;

    // Must only be called while no stage is queued.
    void ensure(size_t n)
    {
        if (n <= cap)
            return;
        cap = std::max(n, min_capacity);
        block = std::make_unique<S[]>(cap * (5 + 3 * slots));
        narrow_block = std::make_unique<D[]>(cap);
        S *p = block.get();
        a = p;
        p += cap;
        a_flag = p;
        p += cap;
        b = p;
        p += cap;
        b_flag = p;
        p += cap;
        zero = p;
        p += cap;
        for (int i = 0; i < slots; ++i) {
            out[i] = p;
            p += cap;
            out_flag[i] = p;
            p += cap;
            enable[i] = p;
            p += cap;
        }
        narrowed = narrow_block.get();
    }
};

}  // namespace kmrsim
