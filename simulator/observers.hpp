// The points where the optional tools (trace, checker, profiler) observe the
// simulation. Each is one test of a flag that is false unless a tool was
// switched on by an API call, so with every tool off an instruction pays one
// predictable branch.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kmrsim.hpp"

namespace kmrsim {

// True while at least one tool is on.
extern bool observers_active;

// Recomputes observers_active from the tools' switches.
void update_observers();

// An instruction has been counted and charged (current_issue describes it)
// and is about to run. esize is the element size it is charged by; A is the
// address of source A or of the scalar, B that of source B (null for the
// enumeration).
void observe_issue(int esize, const void *dest, const void *A, const void *B);

// What one row of an instruction reads and writes, after its pending DMA
// has completed and before it runs.
struct row_access {
    uintptr_t dest;
    int dest_size;  // bytes per destination element
    int32_t L;      // elements in the row
    uintptr_t a;
    uintptr_t b;
    int src_size;  // bytes per vector source element
    bool reads_a;
    bool reads_b;
    bool reads_b_flag;  // B's flag is an input that decides the result
    bool masked;        // elements with a zero mask byte are neither read nor written
    bool acc;           // the row writes one element, its sum
    bool dest_flags;    // the destination has flags (it is not the mask memory)
};
void observe_row(const row_access &r);

// DMA: a request was queued; `bytes` of a request are about to be copied
// (cause: what completes them); a request is dropped unperformed.
enum class dma_cause { instruction, sync, immediate };
void observe_dma_request(const dma_request_t &n, const void *caller);
void observe_dma_copy(const dma_request_t &n, uint64_t bytes, dma_cause cause);
void observe_dma_drop(const dma_request_t &n);

// A register setting ("vl=64", "rows=4 d2=256", ...), from the program's
// call at caller.
void observe_register(const char *text, const void *caller);

// A mask setup or refinement finished (current_issue names the call).
void observe_mask(bool refine, vinstr_t condition, const void *src, int32_t length);

// kmrsim_init has allocated fresh memories.
void observe_init();

}  // namespace kmrsim
