// The switches and entry points of the trace and the checker, as the
// observation points call them.
#pragma once

#include <cstdint>
#include <cstdio>

#include "observers.hpp"

namespace kmrsim {

// The trace: its stream and the event kinds it records (KMRSIM_TRACE_*).
struct trace_switch {
    FILE *out = nullptr;
    unsigned what = 0;
    bool on(unsigned kind) const { return out != nullptr && (what & kind) != 0; }
};
extern trace_switch trace_config;

void trace_issue(int esize, const void *dest, const void *A, const void *B);
void trace_dma_request(const dma_request_t &n, const void *caller);
void trace_dma_copy(const dma_request_t &n, uint64_t bytes, dma_cause cause);
void trace_dma_drop(const dma_request_t &n);
void trace_register(const char *text, const void *caller);
void trace_mask(bool refine, vinstr_t condition, const void *src, int32_t length);

// The checker: the checks that are on (KMRSIM_CHECK_*).
extern unsigned check_config;

void check_row(const row_access &r);
void check_dma_request(const dma_request_t &n, const void *caller);
void check_dma_copy(const dma_request_t &n, uint64_t bytes);
void check_init();

}  // namespace kmrsim
