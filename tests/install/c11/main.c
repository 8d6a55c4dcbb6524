/* A C11 program on the flat interface: allocate, set the vector length,
 * move data in by DMA, compute with the typed instruction calls, move the
 * result out and check it. It also includes the generated listing of every
 * entry point, which must be installed and compile cleanly. */
#include <stdio.h>

#include "kmr_api.h"
#include "kmr_entry_points.h"

int main(void)
{
    enum {
        N = 10
    };
    kmr_word_t in[N], out[N];
    kmr_word_t *a, *b, *c;
    int i;

    kmrsim_init(4, 64, 256, 6, 5, 4);
    a = (kmr_word_t *)kmr_sp_malloc_nodebug(N * sizeof(kmr_word_t));
    b = (kmr_word_t *)kmr_sp_malloc_nodebug(N * sizeof(kmr_word_t));
    c = (kmr_word_t *)kmr_sp_malloc_nodebug(N * sizeof(kmr_word_t));
    if (a == NULL || b == NULL || c == NULL)
        return 1;

    for (i = 0; i < N; ++i)
        in[i] = i * 3;
    kmr_set_vl(N);
    if (_KMR_GET1(REG_VL) != N)
        return 2;

    sim_dma_to_vector(a, in, sizeof in);
    kmr_SEWWS(VMOV, b, 2, (kmr_enum_t *)0);
    kmr_VVWWS(VADD, c, a, b);
    sim_dma_to_host(out, c, sizeof out);
    kmr_sync();

    for (i = 0; i < N; ++i) {
        if (out[i] != i * 3 + 2) {
            printf("element %d is %d\n", i, (int)out[i]);
            return 3;
        }
    }

    kmr_sp_push();
    if (kmr_sp_malloc_nodebug(1) == NULL)
        return 4;
    kmr_sp_pop();
    if (kmr_sp_getused() != 3 * 48)
        return 5;

    kmrsim_destroy();
    printf("consumer ok\n");
    return 0;
}
