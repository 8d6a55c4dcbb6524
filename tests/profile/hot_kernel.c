/* A kernel for the profile tests: a smoothing pass whose 2D instruction is
 * the hottest line by far, a lighter 1D correction, DMA in and out, in
 * regions. Writes the call-site profile to argv[1] and the statistics JSON
 * to argv[2]. The line marked HOTTEST is what the tests look for. */
#include <stdio.h>

#include "kmr_api.h"

enum { ROWS = 16, COLS = 64, PASSES = 8 };

static kmr_word_t image[ROWS * COLS];

static void smooth(kmr_word_t *img, kmr_word_t *tmp)
{
    kmr_set_vl(COLS - 1);
    KMR_SET_VL(KMR_SEL_COUNT, ROWS, COLS * 4);
    KMR_SET_VL(KMR_SEL_STRIDES, COLS * 4, COLS * 4);
    for (int pass = 0; pass < PASSES; ++pass) {
        kmr_2D_VVWWS(VADD, tmp, img, img + 1); /* HOTTEST */
        kmr_SVWWS(VSHR, img, 1, tmp); /* the first row only */
    }
    kmr_set_vl(COLS);
    kmr_SVWWS(VAND, img, 0xFFFF, img);
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "Error: usage: %s CALLGRIND_FILE JSON_FILE\n", argv[0]);
        return 2;
    }
    kmrsim_init(4, 64, 256, 6, 5, 4);
    kmrsim_profile_call_sites(1);
    for (int i = 0; i < ROWS * COLS; ++i)
        image[i] = (i * 37) % 1000;
    kmr_word_t *img = kmr_sp_malloc_nodebug(sizeof image);
    kmr_word_t *tmp = kmr_sp_malloc_nodebug(sizeof image);

    kmrsim_region_begin("filter");
    kmrsim_region_begin("load");
    sim_dma_to_vector(img, image, sizeof image);
    kmr_sync();
    kmrsim_region_end();
    kmrsim_region_begin("smooth");
    smooth(img, tmp);
    kmrsim_region_end();
    kmrsim_region_begin("store");
    sim_dma_to_host(image, img, sizeof image);
    kmr_sync();
    kmrsim_region_end();
    kmrsim_region_end();

    FILE *cg = fopen(argv[1], "w");
    FILE *js = fopen(argv[2], "w");
    if (cg == NULL || js == NULL) {
        fprintf(stderr, "Error: cannot open the output files\n");
        return 1;
    }
    const int failed = kmrsim_write_callgrind(cg) != 0 || kmrsim_write_stats_json(js) != 0;
    fclose(cg);
    fclose(js);
    kmrsim_print_regions(stdout);
    return failed;
}
