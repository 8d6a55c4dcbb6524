/* The host API object: the descriptor handshake and the scratchpad bump
 * allocator. Everything lives in the descriptor that kmr_tqm_ptr names;
 * without one every call returns null or 0. */
#include <stdint.h>
#include <stdlib.h>

#include "kmr_api.h"

kmr_tqm_t *kmr_tqm_ptr = NULL;
size_t __old_vl__ = 0;

void _kmr_init(kmr_tqm_t *this_tqm)
{
    if (this_tqm == NULL) {
        KMR_SET_THIS_TQM(NULL);
        return;
    }
    this_tqm->spstack_max = KMR_SPSTACK_SIZE;
    this_tqm->spstack_top = 0;
    KMR_SET_THIS_TQM(this_tqm);
    this_tqm->init = 1;
    /* The adopting initialisation has just set the vector length register
       to 0: the vector library's record of the last length it asked for
       starts again too. */
    __old_vl__ = 0;
}

kmr_void_t *kmr_sp_malloc_nodebug(size_t num_bytes)
{
    kmr_tqm_t *t = kmr_tqm_ptr;
    if (t == NULL || num_bytes == 0)
        return NULL;

    const uintptr_t sp = (uintptr_t)t->sp;
    const uintptr_t end = (uintptr_t)t->scratchpad_end;
    if (sp > end)
        return NULL;
    const uint64_t free_bytes = (uint64_t)(end - sp);

    /* Sizes are compared, never wrapped pointers: a request larger than the
     * free space fails before padding could overflow. */
    if ((uint64_t)num_bytes > free_bytes)
        return NULL;

    /* Sizes are rounded up to a multiple of the granule (4 bytes per lane,
     * not always a power of two); a non-positive one means no rounding. */
    int64_t granule = t->scratchpad_alignment_bytes;
    if (granule < 1)
        granule = 1;
    const uint64_t a = (uint64_t)granule;
    const uint64_t padded = ((uint64_t)num_bytes + a - 1) / a * a;
    if (padded < num_bytes || padded > free_bytes)
        return NULL;

    kmr_void_t *old_sp = t->sp;
    t->sp = (uint8_t *)old_sp + padded;
    return old_sp;
}

void kmr_sp_free_nodebug(void)
{
    kmr_tqm_t *t = kmr_tqm_ptr;
    if (t == NULL)
        return;
    t->spstack_top = 0;
    t->sp = t->scratchpad_addr;
}

void KMR_FATAL(int line, const char *fname, int err)
{
    (void)line;
    (void)fname;
    exit(err);
}

int kmr_sp_getused(void)
{
    const kmr_tqm_t *t = kmr_tqm_ptr;
    if (t == NULL)
        return 0;
    return (int)(uint32_t)((uintptr_t)t->sp - (uintptr_t)t->scratchpad_addr);
}

int kmr_sp_getfree(void)
{
    const kmr_tqm_t *t = kmr_tqm_ptr;
    if (t == NULL)
        return 0;
    return (int)(uint32_t)((uintptr_t)t->scratchpad_end - (uintptr_t)t->sp);
}

kmr_void_t *kmr_sp_get(void)
{
    const kmr_tqm_t *t = kmr_tqm_ptr;
    if (t == NULL)
        return NULL;
    return t->sp;
}
