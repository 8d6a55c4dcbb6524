/* Small inline helpers of the host API. */
#ifndef KMR_MACROS_H
#define KMR_MACROS_H

#include "kmr_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Makes POINTER the processor descriptor in use. */
static inline void KMR_SET_THIS_TQM(kmr_tqm_t *POINTER)
{
    kmr_tqm_ptr = POINTER;
}

#ifdef __cplusplus
}
#endif

#endif /* KMR_MACROS_H */
