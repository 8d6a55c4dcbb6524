// Where the pending DMA transfers lie in the scratchpad, sorted by start, so
// that the question every instruction row asks for each operand, "does this
// range touch a pending transfer?", takes a binary search instead of a walk
// of the whole queue. The queue stays the one record of order and progress;
// the index only says where to look, and may claim a little more than is
// left (a partly performed transfer keeps its original start here until it
// moves or completes), never less.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "kmrsim.hpp"

namespace kmrsim {

class dma_index {
public:
    // A transfer was queued over [a0, a1). Transfers usually arrive in
    // increasing address order and are appended. One that starts below the
    // last entry begins a second ascending run, which is merged into the
    // first only when the index is next asked something: a program that
    // queues a batch of blocks below transfers still pending (a double
    // buffer below its output buffers) pays one merge instead of a shift of
    // the pending entries per block.
    void add(const dma_request_t *node, uintptr_t a0, uintptr_t a1)
    {
        longest_ = std::max(longest_, a1 - a0);
        const entry e{a0, a1, node};
        if (entries_.size() != first_ && a0 < entries_.back().a0) {
            if (second_run_ != 0)
                merge_runs();
            second_run_ = entries_.size();
        }
        entries_.push_back(e);
        // The merge buffer grows here, with the index, so that no merge
        // allocates while an instruction runs.
        if (merged_.capacity() < entries_.capacity())
            merged_.reserve(entries_.capacity());
    }

    // A transfer queued at a0 completed. Transfers usually complete in the
    // order they were queued, so the entry at the front of the index is
    // usually the one: it is dropped by moving the front. Any other entry is
    // marked dead where it is (it then touches nothing) instead of shifting
    // the entries after it; dead entries are swept out once there are 32 of
    // them and they make up a quarter of the entries (every range near them
    // scans them until then).
    void remove(const dma_request_t *node, uintptr_t a0)
    {
        if (!empty() && entries_[first_].node == node) {
            ++first_;
            if (first_ == entries_.size())
                clear_entries();
            else if (entries_[first_].node == nullptr || (second_run_ != 0 && second_run_ <= first_) || first_ >= 64)
                tidy_front();
            return;
        }
        remove_other(node, a0);
    }
    // The transfer queued at a0 was performed up to new_a0 and now covers
    // [new_a0, a1). It stays in place when that keeps the order by start
    // (the next entry starts at new_a0 or later).
    void advance(const dma_request_t *node, uintptr_t a0, uintptr_t new_a0, uintptr_t a1)
    {
        const auto it = find(node, a0);
        if (it != entries_.end() && (it + 1 == entries_.end() || (it + 1)->a0 >= new_a0)) {
            it->a0 = new_a0;
            it->a1 = a1;
            return;
        }
        remove(node, a0);
        add(node, new_a0, a1);
    }

    // Nothing is pending (the queue was emptied or dropped).
    void clear()
    {
        clear_entries();
        longest_ = 0;
    }

    // Whether [b0, b1) (b0 < b1) may touch a pending transfer [a0, a1): the
    // ranges share a byte (a0 < b1 and a1 > b0), or the transfer is empty
    // and lies inside the range or at its end (b0 < a0 == a1 <= b1), which
    // is how the completion treats an empty transfer. A range that merely
    // ends where a transfer begins, or begins where one ends, touches
    // nothing: buffers laid out back to back are common. (A dead entry's a1
    // is 0: it touches nothing.)
    bool may_touch(uintptr_t b0, uintptr_t b1)
    {
        if (second_run_ != 0) [[unlikely]]
            return merge_then_touch(b0, b1);  // a tail call: the usual path needs no stack frame
        const uintptr_t from = b0 > longest_ ? b0 - longest_ : 0;
        for (const entry *e = first_at_or_after(from), *end = entries_.data() + entries_.size();
             e != end && e->a0 <= b1; ++e)
            if (e->a1 > b0 && (e->a0 < b1 || e->a0 == e->a1))
                return true;
        return false;
    }

    bool empty() const { return entries_.size() == first_; }

private:
    struct entry {
        uintptr_t a0, a1;
        const dma_request_t *node;  // null: the entry is dead
    };
    static bool by_start(const entry &x, const entry &y) { return x.a0 < y.a0; }

    std::vector<entry>::iterator live_begin() { return entries_.begin() + std::ptrdiff_t(first_); }

    void clear_entries()
    {
        entries_.clear();
        first_ = second_run_ = dead_ = 0;
    }

    // After the front moved: past dead entries, and the consumed front
    // dropped once it is half of the vector.
    [[gnu::noinline]] void tidy_front()
    {
        for (; first_ < entries_.size() && entries_[first_].node == nullptr; ++first_)
            --dead_;
        if (first_ == entries_.size()) {
            clear_entries();
            return;
        }
        if (second_run_ != 0 && second_run_ <= first_)
            second_run_ = 0;  // what is left of the second run is in order
        if (first_ >= 64 && first_ * 2 >= entries_.size()) {
            entries_.erase(entries_.begin(), live_begin());
            if (second_run_ != 0)
                second_run_ -= first_;
            first_ = 0;
        }
    }

    // A transfer other than the front one completed.
    [[gnu::noinline]] void remove_other(const dma_request_t *node, uintptr_t a0)
    {
        const auto it = find(node, a0);
        if (it == entries_.end())
            return;
        if (it == live_begin()) {  // found after a merge of the runs
            ++first_;
            tidy_front();
            return;
        }
        it->node = nullptr;
        it->a1 = 0;
        ++dead_;
        if (dead_ >= 32 && dead_ * 4 >= entries_.size() - first_) {
            if (second_run_ != 0)
                merge_runs();
            entries_.erase(std::remove_if(live_begin(), entries_.end(), [](const entry &x) { return !x.node; }),
                           entries_.end());
            entries_.erase(entries_.begin(), live_begin());
            first_ = dead_ = 0;
        }
    }

    [[gnu::noinline, gnu::cold]] bool merge_then_touch(uintptr_t b0, uintptr_t b1)
    {
        merge_runs();
        return may_touch(b0, b1);
    }

    // Merges the second run into the first, through a buffer kept for the
    // next merge.
    [[gnu::noinline, gnu::cold]] void merge_runs()
    {
        merged_.resize(entries_.size() - first_);
        const auto split = entries_.begin() + std::ptrdiff_t(second_run_);
        std::merge(live_begin(), split, split, entries_.end(), merged_.begin(), by_start);
        std::copy(merged_.begin(), merged_.end(), live_begin());
        second_run_ = 0;
    }

    // The entry of a node queued at a0 (end() if there is none).
    std::vector<entry>::iterator find(const dma_request_t *node, uintptr_t a0)
    {
        if (empty())
            return entries_.end();
        if (live_begin()->node == node)
            return live_begin();
        // Transfers queued one after another usually complete one after
        // another, and lie side by side here: the entry after the one found
        // last is tried first. (Entries before first_ are gone and may name
        // nodes that were reused since; a live node has one entry.)
        if (hint_ >= first_ && hint_ < entries_.size() && entries_[hint_].node == node)
            return entries_.begin() + std::ptrdiff_t(hint_++);
        if (second_run_ != 0)
            merge_runs();
        auto it = entries_.begin() + (first_at_or_after(a0) - entries_.data());
        while (it != entries_.end() && it->node != node)
            ++it;
        hint_ = size_t(it - entries_.begin()) + 1;
        return it;
    }

    // The first entry whose start is `from` or later. Completion mostly asks
    // about the front of the queue, or about ranges past every transfer;
    // otherwise a binary search whose steps choose by a conditional move
    // rather than a branch (they would mispredict about every other step).
    const entry *first_at_or_after(uintptr_t from) const
    {
        const entry *base = entries_.data() + first_;
        size_t n = entries_.size() - first_;
        if (n == 0 || base->a0 >= from)
            return base;
        if (base[n - 1].a0 < from)
            return base + n;
        while (n > 1) {
            const size_t half = n / 2;
            base = base[half].a0 < from ? base + half : base;
            n -= half;
        }
        return base + (base->a0 < from ? 1 : 0);
    }

    // Sorted by a0 from index first_ on, or, when second_run_ is not 0, from
    // first_ to second_run_ and again from second_run_ to the end; the
    // entries before first_ are gone, and the live ones start at first_.
    std::vector<entry> entries_;
    std::vector<entry> merged_;  // the buffer of merge_runs
    size_t first_ = 0;
    size_t second_run_ = 0;
    size_t dead_ = 0;        // dead entries from first_ on
    size_t hint_ = 0;        // where find looks first
    uintptr_t longest_ = 0;  // longest range added since the index was last cleared
};

}  // namespace kmrsim
