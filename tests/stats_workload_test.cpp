// A fixed workload issued through the instruction entry points and the DMA
// requests, followed by both reports. The expected texts were worked out by
// hand from the accounting rules: per lane configuration 2^k (k = 0..8) an
// instruction adds ceil(VL / e) cycles with e = 2^k * 4 / esize, times the
// rows (2D) and also the matrices (3D); a DMA request of n bytes adds
// ceil(n / 2^k) to bus width 2^k.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kmr_sim.h"

namespace {

//  Instruction                              VL   esize  factor  cycles per 1..256 lanes
//  1D SEWWS VADD  a = 1 + i                 10   4      1       10 5 3 2 1 1 1 1 1
//  1D SVWWS VMOV  b = 4                     10   4      1       10 5 3 2 1 1 1 1 1
//  1D VVWWS VMUL  c = a * b                 10   4      1       10 5 3 2 1 1 1 1 1
//  1D VVWWS VADD  c = c + a                 10   4      1       10 5 3 2 1 1 1 1 1
//  1D VVWWS VCUSTOM12 (unregistered)        10   4      1       10 5 3 2 1 1 1 1 1
//  1D VVWWS VADDFXP                          7   4      1        7 4 2 1 1 1 1 1 1
//  1D SEWBS VXOR                           100   1      1       25 13 7 4 2 1 1 1 1
//  1D SEWHS VOR                            100   2      1       50 25 13 7 4 2 1 1 1
//  2D VVWWS VSUB  (3 rows)                  10   4      3       30 15 9 6 3 3 3 3 3
//  3D SVWWS VAND  (3 rows, 2 matrices)      10   4      6       60 30 18 12 6 6 6 6 6
//
//  DMA requests of 40, 100 and 1 bytes:  141 71 36 19 11 7 4 3 3
void run_workload()
{
    kmrsim_init(4, 64, 256, 6, 5, 4);
    kmrsim_reset_stats();

    auto *sp = static_cast<uint8_t *>(get_the_kmrsim()->tqm.scratchpad_addr);
    int32_t *a = reinterpret_cast<int32_t *>(sp + 0);
    int32_t *b = reinterpret_cast<int32_t *>(sp + 64);
    int32_t *c = reinterpret_cast<int32_t *>(sp + 128);
    int32_t *e = reinterpret_cast<int32_t *>(sp + 192);
    uint8_t *bytes = sp + 256;
    uint8_t *halves = sp + 512;
    uint8_t *m2_src = sp + 1024;
    uint8_t *m2_dst = sp + 1280;
    uint8_t *m3_src = sp + 2048;
    uint8_t *m3_dst = sp + 2560;
    uint8_t *dma_area = sp + 4096;

    KMR_SET_VL(1, 10, 10);
    kmrsim_1D_SEWWS(V_SEWWS, VADD, a, 1, 0);
    kmrsim_1D_SVWWS(V_SVWWS, VMOV, b, 4, a);
    kmrsim_1D_VVWWS(V_VVWWS, VMUL, c, a, b);
    kmrsim_1D_VVWWS(V_VVWWS, VADD, c, c, a);
    kmrsim_1D_VVWWS(V_VVWWS, VCUSTOM12, e, a, b);

    KMR_SET_VL(1, 7, 7);
    kmrsim_1D_VVWWS(V_VVWWS, VADDFXP, e, a, b);

    KMR_SET_VL(1, 100, 100);
    kmrsim_1D_SEWBS(V_SEWBS, VXOR, bytes, 300, 0);
    kmrsim_1D_SEWHS(V_SEWHS, VOR, halves, 3, 0);

    KMR_SET_VL(1, 10, 10);
    KMR_SET_VL(3, 3, 40);
    KMR_SET_VL(4, 40, 40);
    kmrsim_2D_VVWWS(V_VVWWS, VSUB, m2_dst, m2_src, m2_src);
    KMR_SET_VL3D(3, 2, 120);
    KMR_SET_VL3D(4, 120, 120);
    kmrsim_3D_SVWWS(V_SVWWS, VAND, m3_dst, 0xFF, m3_src);

    std::vector<uint8_t> host(100, 0x11);
    sim_dma_to_vector(dma_area, host.data(), 40);
    sim_dma_to_host(host.data(), c, 100);
    sim_dma_to_vector(dma_area + 64, host.data(), 1);
    kmr_sim_sync();
}

const char kInstructionBlock[] = R"(INSTRUCTION COUNT:
VMOV     =  1
VAND     =  1
VOR      =  1
VXOR     =  1
VADD     =  2
VSUB     =  1
VADDC    =  0
VSUBB    =  0
VMUL     =  1
VMULHI   =  0
VMULFXP  =  0
VSHL     =  0
VSHR     =  0
VROTL    =  0
VROTR    =  0
VCMV_LEZ =  0
VCMV_GTZ =  0
VCMV_LTZ =  0
VCMV_GEZ =  0
VCMV_Z   =  0
VCMV_NZ  =  0
VABSDIFF =  0
VCUSTOM0 =  0
VCUSTOM1 =  0
VCUSTOM2 =  0
VCUSTOM3 =  0
VCUSTOM4 =  0
VCUSTOM5 =  0
VCUSTOM6 =  0
VCUSTOM7 =  0
VCUSTOM8 =  0
VCUSTOM9 =  0
VCUSTOM10 =  0
VCUSTOM11 =  0
VCUSTOM12 =  1
VCUSTOM13 =  0
VCUSTOM14 =  0
VCUSTOM15 =  0
TOTAL    =  9

set_vl   =  4
set_2D   =  1
set_3D   =  1
)";

const char kDmaTotals[] = R"(DMA CALLS:
3
DMA BYTES:
141
)";

const char kCycleTable[] = R"(CYCLE COUNT:

Vector Lanes        1 |        2 |        4 |        8 |       16 |       32 |       64 |      128 |      256 |
            ----------+----------+----------+----------+----------+----------+----------+----------+----------+
VMOV     =         10 |        5 |        3 |        2 |        1 |        1 |        1 |        1 |        1 |
VAND     =         60 |       30 |       18 |       12 |        6 |        6 |        6 |        6 |        6 |
VOR      =         50 |       25 |       13 |        7 |        4 |        2 |        1 |        1 |        1 |
VXOR     =         25 |       13 |        7 |        4 |        2 |        1 |        1 |        1 |        1 |
VADD     =         20 |       10 |        6 |        4 |        2 |        2 |        2 |        2 |        2 |
VSUB     =         30 |       15 |        9 |        6 |        3 |        3 |        3 |        3 |        3 |
VADDC    =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VSUBB    =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VMUL     =         10 |        5 |        3 |        2 |        1 |        1 |        1 |        1 |        1 |
VMULHI   =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VMULFXP  =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VSHL     =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VSHR     =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VROTL    =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VROTR    =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCMV_LEZ =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCMV_GTZ =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCMV_LTZ =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCMV_GEZ =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCMV_Z   =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCMV_NZ  =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VABSDIFF =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM0 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM1 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM2 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM3 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM4 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM5 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM6 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM7 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM8 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM9 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM10 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM11 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM12 =         10 |        5 |        3 |        2 |        1 |        1 |        1 |        1 |        1 |
VCUSTOM13 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM14 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM15 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
Total    =        222 |      112 |       64 |       40 |       21 |       18 |       17 |       17 |       17 |
)";

const char kDmaTable[] = R"(DMA CYCLES:
Bus width        1 |       2 |       4 |       8 |      16 |      32 |      64 |     128 |     256 |
          ---------+---------+---------+---------+---------+---------+---------+---------+---------+
               141 |      71 |      36 |      19 |      11 |       7 |       4 |       3 |       3 |
          ---------+---------+---------+---------+---------+---------+---------+---------+---------+
)";

TEST(StatsWorkloadTest, BothReportsAfterFixedWorkload)
{
    testing::internal::CaptureStderr();
    run_workload();
    const std::string diagnostics = testing::internal::GetCapturedStderr();
    EXPECT_EQ(diagnostics.substr(0, diagnostics.find('\n') + 1), "Error: NO VCUSTOM12 registered\n");

    // The workload really computed: c = (1 + i) * 4 + (1 + i).
    const auto *c =
        reinterpret_cast<const int32_t *>(static_cast<const uint8_t *>(get_the_kmrsim()->tqm.scratchpad_addr) + 128);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(c[i], 5 * (i + 1)) << "element " << i;

    testing::internal::CaptureStdout();
    kmrsim_print_stats();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(kInstructionBlock) + kDmaTotals);

    testing::internal::CaptureStdout();
    kmrsim_print_stats_extended();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              std::string(kCycleTable) + "\n" + kInstructionBlock + "\n" + kDmaTable + kDmaTotals);
    kmrsim_destroy();
}

}  // namespace
