/* The host API of the TQM: the scratchpad allocator with its save stack,
 * the descriptor handshake, and (through the headers it includes) the
 * runtime calls, the typed instruction calls and the simulator interface.
 * A program needs only this header. Compiles as C11 and as C++17. */
#ifndef KMR_API_H
#define KMR_API_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "kmr_cproto.h"
#include "kmr_diag.h"
#include "kmr_lib_common.h"
#include "kmr_lib_sim.h"
#include "kmr_macros.h"
#include "kmr_profile.h"
#include "kmr_sim.h"
#include "kmr_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The vector length the vector expression library last asked for (the
 * library reads the length register to decide whether to set it). */
extern size_t __old_vl__;

/* Adopts the descriptor: empties the save stack and publishes it. */
void _kmr_init(kmr_tqm_t *this_tqm);
/* Allocates num_bytes of scratchpad, rounded up to the allocation granule;
 * null when the scratchpad cannot hold it or num_bytes is 0. */
kmr_void_t *kmr_sp_malloc_nodebug(size_t num_bytes);
/* Releases every scratchpad allocation and empties the save stack. */
void kmr_sp_free_nodebug(void);
/* Ends the process with exit status err; line and fname are not used. */
void KMR_FATAL(int line, const char *fname, int err) __attribute__((noreturn));
int kmr_sp_getused(void);
int kmr_sp_getfree(void);
kmr_void_t *kmr_sp_get(void);

/* Saves the allocation pointer on the save stack. A push onto a full stack
 * stops the program rather than writing past the stack. */
static inline void kmr_sp_push(void)
{
    kmr_tqm_t *t = kmr_tqm_ptr;
    if (t->spstack_top < 0 || t->spstack_top >= KMR_SPSTACK_SIZE) {
        fprintf(stderr, "Error: scratchpad save stack overflow (%d entries)\n", KMR_SPSTACK_SIZE);
        KMR_FATAL(__LINE__, __FILE__, 1);
    }
    t->spstack[t->spstack_top] = t->sp;
    t->spstack_top += 1;
}

/* Restores the allocation pointer saved by the matching kmr_sp_push. A pop
 * from an empty stack stops the program. */
static inline void kmr_sp_pop(void)
{
    kmr_tqm_t *t = kmr_tqm_ptr;
    if (t->spstack_top <= 0 || t->spstack_top > KMR_SPSTACK_SIZE) {
        fprintf(stderr, "Error: scratchpad save stack underflow\n");
        KMR_FATAL(__LINE__, __FILE__, 1);
    }
    t->spstack_top -= 1;
    t->sp = t->spstack[t->spstack_top];
}

#ifdef __cplusplus
}
#endif

#endif /* KMR_API_H */
