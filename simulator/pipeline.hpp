// The write-back pipeline of the vector unit: a queue of four result stages.
// A lane group's results are queued as a stage and written to the
// scratchpad only when the queue is full (three lane groups later, after
// the next groups have read their sources) or when the instruction ends.
#pragma once

#include "kmrsim.hpp"

namespace kmrsim {

// Stages the write-back pipeline holds: a lane group's results land after
// the following pipeline_depth - 1 lane groups have read their sources.
inline constexpr int pipeline_depth = 4;

// One pipeline stage: the lane group's narrowed results and their flags
// (arrays of the computation type S), the destination of the group's
// element 0 (type D), and the enable array (nonzero: write the element).
template <typename D, typename S>
struct stage_t {
    S *result;
    S *flag;
    D *dest;
    S *enable;
};

// A fixed-capacity FIFO of stages: Capacity + 1 slots, head is the next
// slot to write and tail the next to read, both advancing modulo the slot
// count. Slot indices are stable while a stage is queued, so the executor
// can own one set of arrays per slot and never allocate per lane group.
template <typename Stage, int Capacity>
class ring_buffer {
public:
    static constexpr int slots = Capacity + 1;

    bool empty() const { return head == tail; }
    bool full() const { return advance(head) == tail; }
    int size() const { return head >= tail ? head - tail : head + slots - tail; }

    void put(const Stage &stage)
    {
        KMRSIM_ASSERT(!full(), "!full()", __PRETTY_FUNCTION__);
        buffer[head] = stage;
        head = advance(head);
    }

    Stage get()
    {
        KMRSIM_ASSERT(!empty(), "!empty()", __PRETTY_FUNCTION__);
        Stage stage = buffer[tail];
        tail = advance(tail);
        return stage;
    }

    // Slot that the next put() fills, and slot that the next get() empties.
    int next_slot() const { return head; }
    int oldest_slot() const { return tail; }

private:
    // (i + 1) mod slots, without a division.
    static int32_t advance(int32_t i) { return i + 1 == slots ? 0 : i + 1; }

    int32_t head = 0;
    int32_t tail = 0;
    Stage buffer[static_cast<unsigned>(slots)] = {};
};

// The pipeline of an executor with destination type D and computation type S.
template <typename D, typename S>
using write_back_pipeline = ring_buffer<stage_t<D, S>, pipeline_depth>;

}  // namespace kmrsim
