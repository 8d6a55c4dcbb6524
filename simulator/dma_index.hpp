// Where the pending DMA transfers lie in the scratchpad, sorted by start, so
// that the question every instruction row asks for each operand, "does this
// range touch a pending transfer?", takes a binary search instead of a walk
// of the whole queue. The queue stays the one record of order and progress;
// the index only says where to look, and may claim a little more than is
// left (a partly performed transfer keeps its original start here until it
// moves or completes), never less.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "kmrsim.hpp"

namespace kmrsim {

class dma_index {
public:
    // A transfer was queued over [a0, a1).
    void add(const dma_request_t *node, uintptr_t a0, uintptr_t a1)
    {
        longest_ = std::max(longest_, a1 - a0);
        const entry e{a0, a1, node};
        entries_.insert(std::upper_bound(entries_.begin(), entries_.end(), e, by_start), e);
    }

    // A transfer queued at a0 completed.
    void remove(const dma_request_t *node, uintptr_t a0)
    {
        auto it = std::lower_bound(entries_.begin(), entries_.end(), entry{a0, a0, nullptr}, by_start);
        while (it != entries_.end() && it->node != node)
            ++it;
        if (it != entries_.end())
            entries_.erase(it);
    }

    // Nothing is pending (the queue was emptied or dropped).
    void clear()
    {
        entries_.clear();
        longest_ = 0;
    }

    // Whether [b0, b1) (b0 < b1) may touch a pending transfer [a0, a1): the
    // ranges share a byte (a0 < b1 and a1 > b0), or the transfer is empty
    // and lies inside the range or at its end (b0 < a0 == a1 <= b1), which
    // is how the completion treats an empty transfer. A range that merely
    // ends where a transfer begins, or begins where one ends, touches
    // nothing: buffers laid out back to back are common.
    bool may_touch(uintptr_t b0, uintptr_t b1) const
    {
        const uintptr_t from = b0 > longest_ ? b0 - longest_ : 0;
        for (auto it = std::lower_bound(entries_.begin(), entries_.end(), entry{from, from, nullptr}, by_start);
             it != entries_.end() && it->a0 <= b1; ++it)
            if (it->a1 > b0 && (it->a0 < b1 || it->a0 == it->a1))
                return true;
        return false;
    }

    bool empty() const { return entries_.empty(); }

private:
    struct entry {
        uintptr_t a0, a1;
        const dma_request_t *node;
    };
    static bool by_start(const entry &x, const entry &y) { return x.a0 < y.a0; }

    std::vector<entry> entries_;  // sorted by a0
    uintptr_t longest_ = 0;       // longest range added since the index was last cleared
};

}  // namespace kmrsim
