// The DMA engine: requests between host memory and the scratchpad are
// checked, counted and queued in order; they are performed when an
// instruction is about to touch the range they cover, when the program
// synchronises, or at once in immediate mode.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dma_index.hpp"
#include "memory.hpp"
#include "observers.hpp"

namespace {

enum : uint32_t {
    kDmaDeferred = 0,
    kDmaImmediate = 1
};

using kmrsim::addr;

// Copies the first `bytes` bytes of a request. Host and scratchpad buffers
// are the caller's; a host buffer that overlaps the scratchpad side must not
// make the copy undefined, hence memmove.
inline void copy_part(dma_request_t *n, uint64_t bytes, kmrsim::dma_cause cause)
{
    if (kmrsim::observers_active) [[unlikely]]
        kmrsim::observe_dma_copy(*n, bytes, cause);
    if (bytes != 0)
        std::memmove(n->to, n->from, static_cast<size_t>(bytes));
}

inline uintptr_t scratchpad_side(const dma_request_t *n)
{
    return addr(n->to_host ? n->from : n->to);
}

// The scratchpad ranges of the queued transfers, for a quick answer when an
// instruction's range touches none of them.
kmrsim::dma_index pending;

// The last request of the queue (null when the queue is empty), so that a
// request is appended without walking the queue.
dma_request_t *queue_tail = nullptr;

// Nodes of completed or dropped requests, linked through next, for the
// next requests: a program queues and completes transfers over and over, and
// reusing the nodes spares a call to the allocator for each.
dma_request_t *spare_nodes = nullptr;

// A node for a new request (null when memory runs out).
inline dma_request_t *take_node()
{
    dma_request_t *n = spare_nodes;
    if (n == nullptr)
        return static_cast<dma_request_t *>(std::malloc(sizeof(dma_request_t)));
    spare_nodes = n->next;
    return n;
}

inline void release_node(dma_request_t *n)
{
    n->next = spare_nodes;
    spare_nodes = n;
}

// Performs the head request completely and removes it.
inline void complete_head(kmr_sim_t &s, kmrsim::dma_cause cause)
{
    dma_request_t *n = s.dma_queue;
    copy_part(n, n->size, cause);
    pending.remove(n, scratchpad_side(n));
    s.dma_queue = n->next;
    if (n == queue_tail)
        queue_tail = nullptr;
    release_node(n);
}

// How a touched range [b0, b1) meets a request's scratchpad range [a0, a1).
enum Overlap {
    kCoversAll = 1,
    kCoversStart = 2,
    kFromInside = 3,
    kEndsInside = 4,
    kNone = 5
};

inline Overlap classify(uintptr_t a0, uintptr_t a1, uintptr_t b0, uintptr_t b1)
{
    if (b0 < a0 && b1 >= a1)
        return kCoversAll;
    if (b0 < a0 && a0 < b1 && b1 < a1)
        return kCoversStart;
    if (a0 <= b0 && b0 < a1 && b1 >= a1)
        return kFromInside;
    if (b0 >= a0 && b1 < a1)
        return kEndsInside;
    return kNone;
}

void add_dma_stats(kmrsim_stats_t &st, size_t num_bytes)
{
    const uint32_t n = static_cast<uint32_t>(num_bytes);
    st.dma_calls += 1;
    st.dma_bytes += n;
    // Cycles on a bus of 2^k bytes: ceil(n / 2^k), summed in 64 bits so that
    // n + 2^k - 1 cannot wrap.
    for (uint32_t k = 0; k < KMRSIM_NUM_CONFIGS; ++k)
        st.dma_cycles[k] += static_cast<uint32_t>((uint64_t(n) + ((uint64_t(1) << k) - 1)) >> k);
}

void complete_all(kmr_sim_t &s, kmrsim::dma_cause cause)
{
    while (s.dma_queue != nullptr)
        complete_head(s, cause);
}

// A scratchpad side outside the scratchpad: passes when it lies in the mask
// memory; otherwise stops the program, before anything is queued or counted,
// with the caller and the range check's report. Out of line: a request almost
// never gets here.
[[gnu::cold, gnu::noinline]] void check_outside_scratchpad(const void *sp_side, size_t num_bytes, bool to_host,
                                                           const void *caller)
{
    // The full length is checked, so a request of 4 GiB or more cannot slip
    // through as a short one.
    const int64_t len = num_bytes > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(num_bytes);
    if (kmrsim::range_passes(kmrsim::addr(sp_side), len))
        return;
    char side[256];
    kmrsim::describe_operand(side, sizeof side, "scratchpad side", kmrsim::addr(sp_side), len);
    char what[320];
    std::snprintf(what, sizeof what, "%s: %s is outside the scratchpad", to_host ? "sim_dma_to_host" : "sim_dma_to_vector",
                  side);
    kmrsim::print_call_context(false, what, caller);
    kmrsim::verify_sp_range(sp_side, len);  // stops the program with the range check's report
}

void request(void *to, const void *from, size_t num_bytes, bool to_host, const void *caller)
{
    kmr_sim_t &s = kmrsim::sim();
    if (s.dma_type != kDmaDeferred && s.dma_type != kDmaImmediate)
        return;

    // The scratchpad side must lie in the scratchpad (or the mask memory).
    const void *sp_side = to_host ? from : to;
    if (!kmrsim::memory_view::current().holds(kmrsim::addr(sp_side), num_bytes)) [[unlikely]]
        check_outside_scratchpad(sp_side, num_bytes, to_host, caller);

    dma_request_t *node = take_node();
    if (node == nullptr) {
        std::fprintf(stderr, "Error: out of memory queuing a DMA request of %zu bytes\n", num_bytes);
        std::exit(EXIT_FAILURE);
    }
    node->next = nullptr;
    node->to = static_cast<uint8_t *>(to);
    node->from = static_cast<uint8_t *>(const_cast<void *>(from));
    node->size = num_bytes;
    node->to_host = to_host ? 1 : 0;

    if (s.dma_queue == nullptr) {
        pending.clear();
        s.dma_queue = node;
    } else {
        dma_request_t *last = queue_tail;
        if (last == nullptr || last->next != nullptr) {
            last = s.dma_queue;
            while (last->next != nullptr)
                last = last->next;
        }
        last->next = node;
    }
    queue_tail = node;
    pending.add(node, scratchpad_side(node), scratchpad_side(node) + num_bytes);

    add_dma_stats(s.stats, num_bytes);
    if (kmrsim::observers_active) [[unlikely]]
        kmrsim::observe_dma_request(*node, caller);

    if (s.dma_type == kDmaImmediate)
        complete_all(s, kmrsim::dma_cause::immediate);
}

}  // namespace

extern "C" void sim_dma_to_vector(void *to, const void *from, size_t num_bytes)
{
    request(to, from, num_bytes, false, __builtin_return_address(0));
}

extern "C" void sim_dma_to_host(void *to, const void *from, size_t num_bytes)
{
    request(to, from, num_bytes, true, __builtin_return_address(0));
}

extern "C" void kmr_sim_sync(void)
{
    complete_all(kmrsim::sim(), kmrsim::dma_cause::sync);
}

void _internal_do_dma_until(void *sp_ptr, size_t len)
{
    kmr_sim_t &s = kmrsim::sim();
    if (s.dma_queue == nullptr || len == 0)
        return;

    const uintptr_t b0 = addr(sp_ptr);
    const uintptr_t b1 = len > UINTPTR_MAX - b0 ? UINTPTR_MAX : b0 + len;
    // Performs the first pending request, in queue order, that the range
    // touches (found, touched as cls), after everything queued before it.
    auto perform = [&](dma_request_t *found, Overlap cls) {
        while (s.dma_queue != found)
            complete_head(s, kmrsim::dma_cause::instruction);
        if (cls == kCoversAll || cls == kFromInside) {
            complete_head(s, kmrsim::dma_cause::instruction);
        } else {
            // The range ends inside the transfer: perform it from its start
            // up to the end of the range and keep the rest queued.
            const uintptr_t a0 = scratchpad_side(found);
            const uint64_t sz = b1 - a0;
            copy_part(found, sz, kmrsim::dma_cause::instruction);
            found->to += sz;
            found->from += sz;
            found->size -= sz;
            pending.advance(found, a0, a0 + sz);
        }
    };
    // Programs mostly touch transfers in the order they requested them:
    // while the head of the queue is touched, it is the first touched one,
    // and no search is needed.
    for (dma_request_t *head = s.dma_queue; head != nullptr; head = s.dma_queue) {
        const uintptr_t a0 = scratchpad_side(head);
        const Overlap cls = classify(a0, a0 + head->size, b0, b1);
        if (cls == kNone)
            break;
        perform(head, cls);
    }
    // The index answers exactly whether a pending transfer is touched, so
    // the queue is walked only when one is, and not once more to find that
    // none is left.
    while (pending.may_touch(b0, b1)) {
        dma_request_t *found = nullptr;
        Overlap cls = kNone;
        for (dma_request_t *n = s.dma_queue; n != nullptr; n = n->next) {
            const uintptr_t a0 = scratchpad_side(n);
            cls = classify(a0, a0 + n->size, b0, b1);
            if (cls != kNone) {
                found = n;
                break;
            }
        }
        if (found == nullptr)
            return;
        perform(found, cls);
    }
}

bool kmrsim::dma_may_touch(uintptr_t a, uintptr_t len)
{
    const kmr_sim_t &s = kmrsim::sim();
    if (s.dma_queue == nullptr || len == 0)
        return false;
    return pending.may_touch(a, len > UINTPTR_MAX - a ? UINTPTR_MAX : a + len);
}

void kmrsim::drop_dma_queue()
{
    kmr_sim_t &s = kmrsim::sim();
    while (s.dma_queue != nullptr) {
        dma_request_t *n = s.dma_queue;
        if (kmrsim::observers_active) [[unlikely]]
            kmrsim::observe_dma_drop(*n);
        s.dma_queue = n->next;
        std::free(n);
    }
    // The spare nodes go back to the allocator too (a new simulator state
    // starts without any).
    while (spare_nodes != nullptr) {
        dma_request_t *n = spare_nodes;
        spare_nodes = n->next;
        std::free(n);
    }
    queue_tail = nullptr;
    pending.clear();
}

extern "C" void kmrsim_set_dma_type(uint32_t dma_type)
{
    kmrsim::sim().dma_type = dma_type;
}

extern "C" void print_dma_queue(void)
{
    const kmr_sim_t &s = kmrsim::sim();
    std::printf("\n");
    if (s.dma_queue == nullptr) {
        std::printf("empty\n");
        return;
    }
    for (const dma_request_t *n = s.dma_queue; n != nullptr; n = n->next) {
        std::printf("%p -> { next=%p\tto=%p\tfrom=%p\tto_host=%d\tsize=%d }\n", static_cast<const void *>(n),
                    static_cast<const void *>(n->next), static_cast<const void *>(n->to),
                    static_cast<const void *>(n->from), static_cast<int>(n->to_host),
                    static_cast<int>(static_cast<int32_t>(n->size)));
    }
}

extern "C" void *get_flg_addr(void *p)
{
    const kmr_sim_t &s = kmrsim::sim();
    // Integer arithmetic: the two blocks are separate allocations.
    return reinterpret_cast<void *>(addr(p) + (addr(s.flag_memory) - addr(s.tqm.scratchpad_addr)));
}
