/* Runtime calls that every build of a TQM program uses. */
#ifndef KMR_LIB_COMMON_H
#define KMR_LIB_COMMON_H

#include "kmr_lib_sim.h"
#include "kmr_sim.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Waits until all outstanding work (queued DMA) has completed. */
static inline void kmr_sync(void)
{
    _kmr_sync();
}

/* Sets a one-dimensional vector length of LENGTH elements. */
static inline void kmr_set_vl(int LENGTH)
{
    KMR_SET_VL(KMR_SEL_VL, (uint32_t)LENGTH, (uint32_t)LENGTH);
}

#ifdef __cplusplus
}
#endif

#endif /* KMR_LIB_COMMON_H */
