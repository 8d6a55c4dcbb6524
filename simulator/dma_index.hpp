// Where the pending DMA transfers lie in the scratchpad, so that the
// question every instruction row asks for each operand, "does this range
// touch a pending transfer?", takes a binary search or two instead of a
// walk of the whole queue. The queue stays the one record of order and
// progress; the index only says where to look, and may claim a little more
// than is left (a partly performed transfer may keep its original start
// here), never less.
//
// The entries are kept in runs, in the order the transfers were queued:
// a transfer that starts at or above the last one queued joins the last
// run, any other starts a new run, so each run is sorted by start. A
// program queues batches of transfers in address order (the rows of a tile,
// the blocks of a buffer), one run each, and completes them in the order
// it queued them: the transfer completed is then the front of the first
// run, and leaves the index by moving that front. Runs are merged into one
// only when there would be more than max_runs of them.
#pragma once

#include <algorithm>
#include <cstddef>
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
        if (runs_.empty() || a0 < entries_.back().a0) {
            if (runs_.size() == max_runs)
                merge_runs();
            runs_.push_back({entries_.size(), a1});
        } else {
            runs_.back().hi = std::max(runs_.back().hi, a1);
        }
        entries_.push_back({a0, a1, node});
    }

    // A transfer queued at a0 completed. Mostly it is the oldest one, the
    // front of the first run, which leaves by moving the front. Any other
    // entry is marked dead where it is (it then touches nothing) instead of
    // shifting the entries after it; dead entries are swept out once there
    // are 32 of them and they make up a quarter of the entries (every range
    // near them scans them until then).
    void remove(const dma_request_t *node, uintptr_t a0)
    {
        if (!empty() && entries_[first_].node == node) {
            ++first_;
            if (first_ == entries_.size())
                clear_entries();
            else if (entries_[first_].node == nullptr || (runs_.size() > 1 && runs_[1].begin <= first_) ||
                     first_ >= 64)
                tidy_front();
            return;
        }
        remove_other(node, a0);
    }

    // The transfer queued at a0 was performed up to new_a0, where the rest
    // of it now starts. Its entry moves its start up when that keeps its
    // run in order (the next entry of the run starts at new_a0 or later);
    // otherwise it keeps claiming its old start.
    void advance(const dma_request_t *node, uintptr_t a0, uintptr_t new_a0)
    {
        const size_t i = find(node, a0);
        if (i == npos)
            return;
        if (i + 1 == run_end(run_of(i)) || entries_[i + 1].a0 >= new_a0)
            entries_[i].a0 = new_a0;
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
    bool may_touch(uintptr_t b0, uintptr_t b1) const
    {
        const uintptr_t from = b0 > longest_ ? b0 - longest_ : 0;
        const entry *const data = entries_.data(), *const last = data + entries_.size();
        // The live entries begin at first_, in the first run.
        if (runs_.size() <= 1)
            return run_touches(data + first_, last, from, b0, b1);
        for (size_t r = 0, begin = first_; r < runs_.size(); ++r) {
            const entry *end = r + 1 < runs_.size() ? data + runs_[r + 1].begin : last;
            // A run that starts after the range, or ends before it, is
            // passed over whole.
            if (data + begin < end && data[begin].a0 <= b1 && runs_[r].hi > b0 &&
                run_touches(data + begin, end, from, b0, b1))
                return true;
            begin = size_t(end - data);
        }
        return false;
    }

    bool empty() const { return entries_.size() == first_; }

private:
    struct entry {
        uintptr_t a0, a1;
        const dma_request_t *node;  // null: the entry is dead
    };
    // A run begins at entry `begin` and ends where the next run begins (the
    // last at the end of the entries); hi is the highest end of its ranges.
    struct run {
        size_t begin;
        uintptr_t hi;
    };
    static constexpr size_t max_runs = 8;
    static constexpr size_t npos = SIZE_MAX;
    // The runs, at most max_runs, kept in place (a vector's size would be
    // worked out anew by every question).
    struct run_list {
        run items[max_runs];
        size_t count = 0;
        size_t size() const { return count; }
        bool empty() const { return count == 0; }
        run &operator[](size_t r) { return items[r]; }
        const run &operator[](size_t r) const { return items[r]; }
        run &back() { return items[count - 1]; }
        run *begin() { return items; }
        run *end() { return items + count; }
        void push_back(const run &r) { items[count++] = r; }
        void clear() { count = 0; }
        void resize(size_t n) { count = n; }
        void drop_front(size_t n)
        {
            std::copy(items + n, items + count, items);
            count -= n;
        }
    };
    static bool by_start(const entry &x, const entry &y) { return x.a0 < y.a0; }

    size_t run_end(size_t r) const { return r + 1 < runs_.size() ? runs_[r + 1].begin : entries_.size(); }
    size_t run_of(size_t i) const
    {
        size_t r = runs_.size() - 1;
        while (runs_[r].begin > i)
            --r;
        return r;
    }

    void clear_entries()
    {
        entries_.clear();
        runs_.clear();
        first_ = dead_ = 0;
    }

    // After the front moved: past dead entries, the runs it left behind
    // dropped, and the consumed front dropped once it is half of the
    // entries.
    [[gnu::noinline]] void tidy_front()
    {
        for (; first_ < entries_.size() && entries_[first_].node == nullptr; ++first_)
            --dead_;
        if (first_ == entries_.size()) {
            clear_entries();
            return;
        }
        size_t gone = 0;
        while (gone + 1 < runs_.size() && runs_[gone + 1].begin <= first_)
            ++gone;
        runs_.drop_front(gone);
        if (first_ >= 64 && first_ * 2 >= entries_.size()) {
            entries_.erase(entries_.begin(), entries_.begin() + std::ptrdiff_t(first_));
            for (run &r : runs_)
                r.begin = r.begin > first_ ? r.begin - first_ : 0;
            first_ = 0;
        }
    }

    // A transfer other than the front one completed.
    [[gnu::noinline]] void remove_other(const dma_request_t *node, uintptr_t a0)
    {
        const size_t i = find(node, a0);
        if (i == npos)
            return;
        entries_[i].node = nullptr;
        entries_[i].a1 = 0;
        ++dead_;
        if (dead_ >= 32 && dead_ * 4 >= entries_.size() - first_)
            sweep();
    }

    // Drops the dead entries and the consumed front, keeping the runs.
    void sweep()
    {
        size_t to = 0, kept = 0;
        for (size_t r = 0; r < runs_.size(); ++r) {
            const size_t begin = to;
            for (size_t i = std::max(runs_[r].begin, first_), end = run_end(r); i < end; ++i)
                if (entries_[i].node != nullptr)
                    entries_[to++] = entries_[i];
            if (to != begin)
                runs_[kept++] = {begin, runs_[r].hi};
        }
        entries_.resize(to);
        runs_.resize(kept);
        first_ = dead_ = 0;
    }

    // Sorts every entry into one run, when a new run would be one too many.
    [[gnu::noinline, gnu::cold]] void merge_runs()
    {
        if (dead_ != 0 || first_ != 0)
            sweep();
        if (entries_.empty()) {
            runs_.clear();
            return;
        }
        std::sort(entries_.begin(), entries_.end(), by_start);
        uintptr_t hi = 0;
        for (const run &r : runs_)
            hi = std::max(hi, r.hi);
        runs_.clear();
        runs_.push_back({0, hi});
    }

    // The index of the entry of a node queued at a0 (npos if there is none).
    size_t find(const dma_request_t *node, uintptr_t a0)
    {
        if (empty())
            return npos;
        if (entries_[first_].node == node)
            return first_;
        // A transfer performed piece by piece is asked for again and again,
        // and transfers queued one after another usually complete one after
        // another and lie side by side here: the entry found last, and the
        // one after it, are tried first. (Entries before first_ are gone and
        // may name nodes that were reused since; a live node has one entry.)
        for (size_t i = hint_; i < hint_ + 2; ++i)
            if (i >= first_ && i < entries_.size() && entries_[i].node == node)
                return hint_ = i;
        size_t found = npos;
        for (size_t r = 0; r < runs_.size() && found == npos; ++r) {
            const entry *begin = entries_.data() + std::max(runs_[r].begin, first_);
            const entry *end = entries_.data() + run_end(r);
            for (const entry *e = first_at_or_after(begin, end, a0); e != end && e->a0 == a0; ++e)
                if (e->node == node)
                    found = size_t(e - entries_.data());
        }
        // An entry that kept an older start than a0 (advance) is found by a
        // plain search.
        for (size_t i = first_; i < entries_.size() && found == npos; ++i)
            if (entries_[i].node == node)
                found = i;
        if (found != npos)
            hint_ = found;
        return found;
    }

    // may_touch within the entries [begin, end) of one run; from: the
    // lowest start a touched transfer may have.
    static bool run_touches(const entry *begin, const entry *end, uintptr_t from, uintptr_t b0, uintptr_t b1)
    {
        for (const entry *e = first_at_or_after(begin, end, from); e != end && e->a0 <= b1; ++e)
            if (e->a1 > b0 && (e->a0 < b1 || e->a0 == e->a1))
                return true;
        return false;
    }

    // The first entry of [base, end), sorted by start, whose start is
    // `from` or later. Completion mostly asks about the front of a run, or
    // about ranges past every transfer; otherwise a binary search whose
    // steps choose by a conditional move rather than a branch (they would
    // mispredict about every other step).
    static const entry *first_at_or_after(const entry *base, const entry *end, uintptr_t from)
    {
        size_t n = size_t(end - base);
        if (n == 0 || base->a0 >= from)
            return base;
        if (base[n - 1].a0 < from)
            return end;
        while (n > 1) {
            const size_t half = n / 2;
            base = base[half].a0 < from ? base + half : base;
            n -= half;
        }
        return base + (base->a0 < from ? 1 : 0);
    }

    // The runs, in the order they were queued, each sorted by a0; the
    // entries before first_ are gone, and the live ones start at first_.
    std::vector<entry> entries_;
    run_list runs_;
    size_t first_ = 0;
    size_t dead_ = 0;        // dead entries from first_ on
    size_t hint_ = 0;        // the entry find found last
    uintptr_t longest_ = 0;  // longest range added since the index was last cleared
};

}  // namespace kmrsim
