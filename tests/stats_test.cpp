// Statistics record and its two reports. The record is filled directly so
// that every column, label width and separator of the reports is pinned
// down byte for byte, independent of the instruction engine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kmr_sim.h"
#include "kmrsim.hpp"

namespace {

class StatsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kmrsim_init(4, 64, 256, 6, 5, 4);
        kmrsim_reset_stats();
    }
    void TearDown() override { kmrsim_destroy(); }

    static std::string short_report()
    {
        testing::internal::CaptureStdout();
        kmrsim_print_stats();
        return testing::internal::GetCapturedStdout();
    }
    static std::string extended_report()
    {
        testing::internal::CaptureStdout();
        kmrsim_print_stats_extended();
        return testing::internal::GetCapturedStdout();
    }

    // A record touching opcodes on both sides of the two row-less opcodes
    // (VSUBFXP, VADDFXP), the wider VCUSTOM10+ labels, counts above
    // INT32_MAX and cycle totals that only fit in 64 bits.
    static void fill_sample_record()
    {
        kmrsim_stats_t &st = kmrsim::sim().stats;
        st.instruction_count[VMOV] = 3;
        st.instruction_count[VADD] = 7;
        st.instruction_count[VMUL] = 2;
        st.instruction_count[VSUBFXP] = 5;
        st.instruction_count[VSHL] = 1;
        st.instruction_count[VCMV_NZ] = 6;
        st.instruction_count[VADDFXP] = 4;
        st.instruction_count[VABSDIFF] = 4000000000u;
        st.instruction_count[VCUSTOM10] = 1;
        st.instruction_count[VCUSTOM15] = 9;

        const uint32_t vmov[9] = {30, 15, 8, 4, 2, 1, 1, 1, 1};
        const uint32_t vadd[9] = {70, 35, 18, 9, 5, 3, 2, 1, 1};
        const uint32_t vmul[9] = {10, 5, 3, 2, 1, 1, 1, 1, 1};
        const uint32_t vsubfxp[9] = {100, 50, 25, 13, 7, 4, 2, 1, 1};
        const uint32_t vaddfxp[9] = {1000, 500, 250, 125, 63, 32, 16, 8, 4};
        const uint32_t vcustom10[9] = {123456789, 0, 0, 0, 0, 0, 0, 0, 0};
        const uint32_t vcustom15[9] = {4294967295u, 4294967295u, 0, 0, 0, 0, 0, 0, 0};
        for (int k = 0; k < 9; ++k) {
            st.cycle_count[VMOV][k] = vmov[k];
            st.cycle_count[VADD][k] = vadd[k];
            st.cycle_count[VMUL][k] = vmul[k];
            st.cycle_count[VSUBFXP][k] = vsubfxp[k];
            st.cycle_count[VADDFXP][k] = vaddfxp[k];
            st.cycle_count[VCUSTOM10][k] = vcustom10[k];
            st.cycle_count[VCUSTOM15][k] = vcustom15[k];
        }

        st.set_vl_count = 2;
        st.set_2D_count = 1;
        st.set_3D_count = 3;
        // A 100-byte and a 64-byte request.
        st.dma_calls = 2;
        st.dma_bytes = 164;
        const uint32_t dma[9] = {164, 82, 41, 21, 11, 6, 3, 2, 2};
        for (int k = 0; k < 9; ++k)
            st.dma_cycles[k] = dma[k];
    }
};

const char kSampleInstructionBlock[] = R"(INSTRUCTION COUNT:
VMOV     =  3
VAND     =  0
VOR      =  0
VXOR     =  0
VADD     =  7
VSUB     =  0
VADDC    =  0
VSUBB    =  0
VMUL     =  2
VMULHI   =  0
VMULFXP  =  0
VSHL     =  1
VSHR     =  0
VROTL    =  0
VROTR    =  0
VCMV_LEZ =  0
VCMV_GTZ =  0
VCMV_LTZ =  0
VCMV_GEZ =  0
VCMV_Z   =  0
VCMV_NZ  =  6
VABSDIFF =  4000000000
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
VCUSTOM10 =  1
VCUSTOM11 =  0
VCUSTOM12 =  0
VCUSTOM13 =  0
VCUSTOM14 =  0
VCUSTOM15 =  9
TOTAL    =  4000000029

set_vl   =  2
set_2D   =  1
set_3D   =  3
)";

const char kZeroInstructionBlock[] = R"(INSTRUCTION COUNT:
VMOV     =  0
VAND     =  0
VOR      =  0
VXOR     =  0
VADD     =  0
VSUB     =  0
VADDC    =  0
VSUBB    =  0
VMUL     =  0
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
VCUSTOM12 =  0
VCUSTOM13 =  0
VCUSTOM14 =  0
VCUSTOM15 =  0
TOTAL    =  0

set_vl   =  0
set_2D   =  0
set_3D   =  0
)";

const char kSampleCycleTable[] = R"(CYCLE COUNT:

Vector Lanes        1 |        2 |        4 |        8 |       16 |       32 |       64 |      128 |      256 |
            ----------+----------+----------+----------+----------+----------+----------+----------+----------+
VMOV     =         30 |       15 |        8 |        4 |        2 |        1 |        1 |        1 |        1 |
VAND     =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VOR      =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VXOR     =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VADD     =         70 |       35 |       18 |        9 |        5 |        3 |        2 |        1 |        1 |
VSUB     =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
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
VCUSTOM10 =   123456789 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM11 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM12 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM13 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM14 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM15 =   4294967295 | 4294967295 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
Total    =   4418425294 | 4294967900 |      304 |      153 |       78 |       41 |       22 |       12 |        8 |
)";

const char kZeroCycleTable[] = R"(CYCLE COUNT:

Vector Lanes        1 |        2 |        4 |        8 |       16 |       32 |       64 |      128 |      256 |
            ----------+----------+----------+----------+----------+----------+----------+----------+----------+
VMOV     =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VAND     =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VOR      =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VXOR     =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VADD     =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VSUB     =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VADDC    =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VSUBB    =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VMUL     =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
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
VCUSTOM12 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM13 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM14 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
VCUSTOM15 =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
Total    =          0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |        0 |
)";

const char kSampleDmaTable[] = R"(DMA CYCLES:
Bus width        1 |       2 |       4 |       8 |      16 |      32 |      64 |     128 |     256 |
          ---------+---------+---------+---------+---------+---------+---------+---------+---------+
               164 |      82 |      41 |      21 |      11 |       6 |       3 |       2 |       2 |
          ---------+---------+---------+---------+---------+---------+---------+---------+---------+
)";

const char kZeroDmaTable[] = R"(DMA CYCLES:
Bus width        1 |       2 |       4 |       8 |      16 |      32 |      64 |     128 |     256 |
          ---------+---------+---------+---------+---------+---------+---------+---------+---------+
                 0 |       0 |       0 |       0 |       0 |       0 |       0 |       0 |       0 |
          ---------+---------+---------+---------+---------+---------+---------+---------+---------+
)";

TEST_F(StatsTest, ShortReportOfSampleRecord)
{
    fill_sample_record();
    const std::string expected = std::string(kSampleInstructionBlock) + "DMA CALLS:\n"
                                                                        "2\n"
                                                                        "DMA BYTES:\n"
                                                                        "164\n";
    EXPECT_EQ(short_report(), expected);
}

TEST_F(StatsTest, ExtendedReportOfSampleRecord)
{
    fill_sample_record();
    const std::string expected = std::string(kSampleCycleTable) + "\n" + kSampleInstructionBlock + "\n" +
                                 kSampleDmaTable +
                                 "DMA CALLS:\n"
                                 "2\n"
                                 "DMA BYTES:\n"
                                 "164\n";
    EXPECT_EQ(extended_report(), expected);
}

TEST_F(StatsTest, ResetClearsEveryCounterButKeepsSwitches)
{
    fill_sample_record();
    kmrsim::sim().dma_type = 1;
    kmrsim_disable_warnings();

    kmrsim_reset_stats();

    EXPECT_EQ(short_report(), std::string(kZeroInstructionBlock) + "DMA CALLS:\n0\nDMA BYTES:\n0\n");
    EXPECT_EQ(extended_report(), std::string(kZeroCycleTable) + "\n" + kZeroInstructionBlock + "\n" + kZeroDmaTable +
                                     "DMA CALLS:\n0\nDMA BYTES:\n0\n");
    const kmrsim_stats_t zero{};
    const kmrsim_stats_t now = kmrsim_get_stats();
    EXPECT_EQ(std::memcmp(&now, &zero, sizeof zero), 0);
    EXPECT_EQ(kmrsim::sim().dma_type, 1u);
    EXPECT_EQ(kmrsim::sim().warnings_enabled, 0u);
    kmrsim::sim().dma_type = 0;
}

TEST_F(StatsTest, FixedPointOpcodesCountOnlyInCycleTotal)
{
    kmrsim_stats_t &st = kmrsim::sim().stats;
    st.instruction_count[VADDFXP] = 5;
    st.instruction_count[VSUBFXP] = 2;
    for (int k = 0; k < 9; ++k) {
        st.cycle_count[VADDFXP][k] = 10;
        st.cycle_count[VSUBFXP][k] = 1;
    }
    const std::string text = extended_report();
    EXPECT_NE(text.find("\nTOTAL    =  0\n"), std::string::npos);
    EXPECT_NE(text.find("\nTotal    =         11 |       11 |       11 |       11 |       11 |"
                        "       11 |       11 |       11 |       11 |\n"),
              std::string::npos);
    EXPECT_EQ(text.find("VADDFXP"), std::string::npos);
    EXPECT_EQ(text.find("VSUBFXP"), std::string::npos);
    // The counters themselves are kept.
    EXPECT_EQ(kmrsim_get_stats().instruction_count[VADDFXP], 5u);
}

TEST_F(StatsTest, InstructionTotalWrapsAt32Bits)
{
    kmrsim_stats_t &st = kmrsim::sim().stats;
    st.instruction_count[VMOV] = 4294967295u;
    st.instruction_count[VCUSTOM15] = 3;
    EXPECT_NE(short_report().find("\nTOTAL    =  2\n"), std::string::npos);
}

TEST_F(StatsTest, GetStatsReturnsIndependentCopy)
{
    fill_sample_record();
    const kmrsim_stats_t first = kmrsim_get_stats();
    const kmrsim_stats_t second = kmrsim_get_stats();
    EXPECT_EQ(std::memcmp(&first, &second, sizeof first), 0);
    EXPECT_EQ(first.instruction_count[VABSDIFF], 4000000000u);
    EXPECT_EQ(first.dma_cycles[3], 21u);

    kmrsim::sim().stats.instruction_count[VMOV] += 1;
    kmrsim::sim().stats.dma_calls += 1;
    EXPECT_EQ(first.instruction_count[VMOV], 3u);
    EXPECT_EQ(first.dma_calls, 2u);
    EXPECT_EQ(std::memcmp(&first, &second, sizeof first), 0);
}

TEST_F(StatsTest, PrintingLeavesRecordUnchanged)
{
    fill_sample_record();
    const kmrsim_stats_t before = kmrsim_get_stats();
    (void)short_report();
    (void)extended_report();
    const kmrsim_stats_t after = kmrsim_get_stats();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}

TEST_F(StatsTest, WarningsSwitchSetsField)
{
    EXPECT_EQ(kmrsim::sim().warnings_enabled, 1u);  // kmrsim_init turns warnings on
    kmrsim_disable_warnings();
    EXPECT_EQ(kmrsim::sim().warnings_enabled, 0u);
    kmrsim_disable_warnings();
    EXPECT_EQ(kmrsim::sim().warnings_enabled, 0u);
    kmrsim_enable_warnings();
    EXPECT_EQ(kmrsim::sim().warnings_enabled, 1u);
}

TEST_F(StatsTest, StatisticsSurviveReinitialisation)
{
    fill_sample_record();
    kmrsim_destroy();
    kmrsim_init(4, 64, 256, 6, 5, 4);
    EXPECT_EQ(kmrsim_get_stats().instruction_count[VADD], 7u);
    EXPECT_EQ(kmrsim_get_stats().dma_bytes, 164u);
}

TEST_F(StatsTest, HundredByteDmaRequestAfterReset)
{
    std::vector<uint8_t> host(100, 0x5a);
    void *sp = kmrsim::sim().tqm.scratchpad_addr;
    sim_dma_to_vector(sp, host.data(), host.size());
    kmr_sim_sync();

    const std::string text = extended_report();
    const std::string dma_tail = "          ---------+---------+---------+---------+---------+---------+---------+"
                                 "---------+---------+\n"
                                 "               100 |      50 |      25 |      13 |       7 |       4 |       2 |"
                                 "       1 |       1 |\n"
                                 "          ---------+---------+---------+---------+---------+---------+---------+"
                                 "---------+---------+\n"
                                 "DMA CALLS:\n1\nDMA BYTES:\n100\n";
    ASSERT_GE(text.size(), dma_tail.size());
    EXPECT_EQ(text.substr(text.size() - dma_tail.size()), dma_tail);
    const std::string short_text = short_report();
    EXPECT_EQ(short_text.substr(short_text.size() - 28), "DMA CALLS:\n1\nDMA BYTES:\n100\n");
}

}  // namespace
