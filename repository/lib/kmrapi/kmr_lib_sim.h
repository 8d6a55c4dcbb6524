/* Runtime forwards that are specific to the simulator build. */
#ifndef KMR_LIB_SIM_H
#define KMR_LIB_SIM_H

#include "kmr_sim.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Instructions complete when issued, so a sync only has to finish the
 * queued DMA transfers. */
static inline void _kmr_sync(void)
{
    kmr_sim_sync();
}

#ifdef __cplusplus
}
#endif

#endif /* KMR_LIB_SIM_H */
