// Hands each observation point to the tools that are on.
#include "observers.hpp"

#include "kmr_diag.h"
#include "profile.hpp"
#include "tools.hpp"

namespace kmrsim {

bool observers_active = false;

void update_observers()
{
    observers_active = trace_config.out != nullptr || check_config != 0 || call_sites_enabled();
}

void observe_issue(int esize, const void *dest, const void *A, const void *B)
{
    if (trace_config.on(KMRSIM_TRACE_INSTRUCTIONS))
        trace_issue(esize, dest, A, B);
    if (call_sites_enabled())
        profile_call_site(esize);
}

void observe_row(const row_access &r)
{
    if (check_config != 0)
        check_row(r);
}

void observe_dma_request(const dma_request_t &n, const void *caller)
{
    if (trace_config.on(KMRSIM_TRACE_DMA))
        trace_dma_request(n, caller);
    if (check_config != 0)
        check_dma_request(n, caller);
}

void observe_dma_copy(const dma_request_t &n, uint64_t bytes, dma_cause cause)
{
    if (trace_config.on(KMRSIM_TRACE_DMA))
        trace_dma_copy(n, bytes, cause);
    if (check_config != 0)
        check_dma_copy(n, bytes);
}

void observe_dma_drop(const dma_request_t &n)
{
    if (trace_config.on(KMRSIM_TRACE_DMA))
        trace_dma_drop(n);
}

void observe_register(const char *text, const void *caller)
{
    if (trace_config.on(KMRSIM_TRACE_REGISTERS))
        trace_register(text, caller);
}

void observe_mask(bool refine, vinstr_t condition, const void *src, int32_t length)
{
    if (trace_config.on(KMRSIM_TRACE_MASKS))
        trace_mask(refine, condition, src, length);
}

void observe_init()
{
    check_init();
}

}  // namespace kmrsim
