// Failure reports with context, the execution trace and the checker.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "Vector.hpp"
#include "kmr_api.h"

namespace {

int32_t *alloc_words(size_t n)
{
    return static_cast<int32_t *>(kmr_sp_malloc_nodebug(n * 4));
}

uint8_t *sp_base()
{
    return static_cast<uint8_t *>(get_the_kmrsim()->tqm.scratchpad_addr);
}

class Diagnostics : public testing::Test {
protected:
    void SetUp() override { kmrsim_init(4, 64, 16, 6, 5, 4); }
    void TearDown() override
    {
        kmrsim_trace(nullptr, 0);
        kmrsim_check(0);
        kmrsim_check_summary();
        kmrsim_destroy();
    }
};

using DiagnosticsDeathTest = Diagnostics;

// The context line, then the unchanged assertion report.
TEST_F(DiagnosticsDeathTest, OperandFailuresNameInstructionOperandShapeRowAndCaller)
{
    int32_t *v = alloc_words(64);
    KMR_SET_VL(KMR_SEL_VL, 64, 64);
    // Destination: the fourth row runs past the end.
    KMR_SET_VL(KMR_SEL_COUNT, 4, 30000);
    EXPECT_DEATH(kmrsim_2D_VVWWS(V_VVWWS, VADD, v, v, v),
                 "Error: destination at host address 0x[0-9a-f]+ \\(scratchpad\\+90000\\), 256 bytes is outside the "
                 "scratchpad: VADD \\(kmrsim_2D_VVWWS\\), VL 64, rows 4 \\(strides dest 30000 A 0 B 0\\), at row 3; "
                 "scratchpad \\[0x[0-9a-f]+, 0x[0-9a-f]+\\), 65536 bytes; called from .*diagnostics_test.cpp:[0-9]+\\) "
                 "\\[0x[0-9a-f]+\\]\n.*Assertion `sp_ptr<=sp_end' failed");
    // Source A, one element past the end, in a 1D instruction.
    int32_t *last = reinterpret_cast<int32_t *>(get_the_kmrsim()->tqm.scratchpad_end) - 63;
    EXPECT_DEATH(kmrsim_1D_VVWWS(V_VVWWS, VSUB, v, last, v),
                 "Error: operand A at scratchpad\\+0xff04, 256 bytes is outside the scratchpad: VSUB "
                 "\\(kmrsim_1D_VVWWS\\), VL 64; scratchpad .* called from .*diagnostics_test\\.cpp:[0-9]+\\).*\n.*"
                 "Assertion `sp_ptr<=sp_end' failed");
    // Source B below the scratchpad, in a masked accumulating instruction.
    EXPECT_DEATH(kmrsim_masked_acc_1D_VVWWS(V_VVWWS, VADD, v, v, v - 8),
                 "Error: operand B at host address 0x[0-9a-f]+ \\(scratchpad-32\\), 0 bytes is outside the "
                 "scratchpad: VADD \\(kmrsim_masked_acc_1D_VVWWS\\), VL 64, mask length 0;.*\n.*"
                 "Assertion `sp_ptr>=sp_base' failed");
    // A 3D instruction names matrix and row.
    KMR_SET_VL(KMR_SEL_VL, 2048, 2048);
    KMR_SET_VL(KMR_SEL_COUNT, 2, 256);
    KMR_SET_VL3D(KMR_SEL_COUNT, 3, 30000);
    EXPECT_DEATH(kmrsim_3D_SVWWS(V_SVWWS, VMUL, v, 3, v),
                 "Error: destination .* VMUL \\(kmrsim_3D_SVWWS\\), VL 2048, rows 2 \\(strides dest 256 A 0 B 0\\), "
                 "matrices 3 \\(strides dest 30000 A 0 B 0\\), at matrix 2 row 0;");
}

TEST_F(DiagnosticsDeathTest, RegisterAndMaskLengthFailuresShowTheNumbers)
{
    EXPECT_DEATH(KMR_SET(40, 1), "Error: KMR_SET: register 40 does not exist \\(registers 0 to 31\\); called from "
                                 ".*\n.*Assertion `reg < 32' failed");
    EXPECT_DEATH(_KMR_GET1(32), "Error: _KMR_GET1: register 32 does not exist");
    EXPECT_DEATH(KMR_SET_VL(KMR_SEL_VL, 3, 4), "Error: KMR_SET_VL: the two vector lengths differ \\(3 and 4\\); "
                                               "called from .*\n.*Assertion `new_vl1 == new_vl2' failed");
    EXPECT_DEATH(KMR_SET_VL3D(9, 1, 1), "Error: KMR_SET_VL3D: selector 9 is not a register selector");
    int32_t *v = alloc_words(128);
    KMR_SET_VL(KMR_SEL_VL, 65, 65);
    EXPECT_DEATH(kmrsim_setup_mask(V_VVWWS, VCMV_NZ, v),
                 "Error: kmrsim_setup_mask: the vector length 65 is longer than the mask memory \\(64 elements: "
                 "lanes x mask depth\\); called from .*\n.*current_vector_length <= max_masked_vector_length");
    EXPECT_DEATH(sim_dma_to_vector(sp_base() + 65536 - 4, v, 8),
                 "Error: sim_dma_to_vector: scratchpad side at scratchpad\\+0xfffc, 8 bytes is outside the "
                 "scratchpad; called from");
}

TEST_F(DiagnosticsDeathTest, VectorThatDoesNotFitSaysSoAtOnce)
{
    KMR::Vector<int32_t> fits(1000);
    EXPECT_DEATH(KMR::Vector<int32_t> too_big(20000),
                 "Error: a vector of 80000 bytes does not fit in the scratchpad \\(61536 bytes free of 65536\\)\n"
                 ".*Assertion `data!=NULL' failed");
}

TEST_F(DiagnosticsDeathTest, OutputPrintedBeforeAFailureIsNotLost)
{
    // Standard output going to a file is block-buffered; the abort must not
    // drop what the program printed.
    EXPECT_EXIT(
        {
            std::FILE *f = std::freopen("diagnostics_stdout.txt", "w", stdout);
            (void)f;
            std::printf("written before the failure\n");
            KMR_SET(99, 0);
        },
        testing::KilledBySignal(SIGABRT), "reg < 32");
    std::FILE *f = std::fopen("diagnostics_stdout.txt", "r");
    ASSERT_NE(f, nullptr);
    char line[64] = {};
    ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
    std::fclose(f);
    std::remove("diagnostics_stdout.txt");
    EXPECT_STREQ(line, "written before the failure\n");
}

TEST_F(Diagnostics, RefusedInstructionIsNamed)
{
    testing::internal::CaptureStderr();
    int32_t *v = alloc_words(4);
    KMR_SET_VL(KMR_SEL_VL, 4, 4);
    kmrsim_1D_VVWWS(V_VVWWS, VCUSTOM3, v, v, v);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Error: NO VCUSTOM3 registered\n"), std::string::npos) << err;
    EXPECT_TRUE(std::regex_search(err, std::regex("Error: refused: VCUSTOM3 \\(kmrsim_1D_VVWWS\\), VL 4; .*called "
                                                  "from .*diagnostics_test\\.cpp")))
        << err;
}

// Replaces what differs from run to run (host addresses) so that a trace
// can be compared byte for byte.
std::string stable(std::string text)
{
    return std::regex_replace(text, std::regex("host[:=]0x[0-9a-f]+"), "host:ADDR");
}

std::string read_file(std::FILE *f)
{
    std::fflush(f);
    std::rewind(f);
    std::string s;
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    return s;
}

TEST_F(Diagnostics, TraceOfAShortProgram)
{
    std::FILE *out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    int32_t *a = alloc_words(16);
    int32_t *b = alloc_words(16);
    static int32_t host[16];
    kmrsim_trace(out, KMRSIM_TRACE_ALL & ~KMRSIM_TRACE_CALLERS);
    KMR_SET_VL(KMR_SEL_VL, 16, 16);
    sim_dma_to_vector(a, host, sizeof host);
    kmrsim_1D_VVWWS(V_VVWWS, VADD, b, a, a);
    kmrsim_1D_SVWWS(V_SVWWS, VMUL, b, -3, b);
    kmrsim_1D_SEWWS(V_SEWWS, VADD, a, 5, 0);
    KMR_SET_VL(KMR_SEL_COUNT, 2, 32);
    KMR_SET_VL(KMR_SEL_STRIDES, 32, uint32_t(-32));
    KMR_SET_VL(KMR_SEL_VL, 8, 8);
    kmrsim_2D_VVWWS(V_VVWWS, VSUB, a, b, b + 8);
    kmrsim_setup_mask(V_VVWWS, VCMV_GTZ, a);
    kmrsim_masked_1D_VEWWS(V_VEWWS, VMOV, b, a, 0);
    sim_dma_to_host(host, b, 32);
    sim_dma_to_vector(a, host, 64);
    kmr_sim_sync();
    kmrsim_trace(nullptr, 0);
    EXPECT_EQ(stable(read_file(out)),
              "R 1 vl=16\n"
              "D 2 to_vector sp=+0x0 host:ADDR bytes=64\n"
              "I 3 VADD kmrsim_1D_VVWWS vl=16 dest=+0x40 a=+0x0 b=+0x0 cycles=4\n"
              "C 4 to_vector sp=+0x0 bytes=64 by I 3\n"
              "I 5 VMUL kmrsim_1D_SVWWS vl=16 dest=+0x40 a=#-3 b=+0x40 cycles=4\n"
              "I 6 VADD kmrsim_1D_SEWWS vl=16 dest=+0x0 a=#5 b=enum cycles=4\n"
              "R 7 rows=2 d2=32\n"
              "R 8 a2=32 b2=-32\n"
              "R 9 vl=8\n"
              "I 10 VSUB kmrsim_2D_VVWWS vl=8 rows=2 d2=32 a2=32 b2=-32 dest=+0x0 a=+0x40 b=+0x60 cycles=4\n"
              "I 11 VMOV kmrsim_setup_mask vl=8 dest=mask+0x0 a=#0 b=none cycles=2\n"
              "I 12 VCMV_GTZ kmrsim_setup_mask vl=8 dest=mask+0x0 a=#1 b=+0x0 cycles=2\n"
              "M 13 setup VCMV_GTZ src=+0x0 length=8\n"
              "I 14 VMOV kmrsim_masked_1D_VEWWS vl=8 mask=8 dest=+0x40 a=+0x0 b=enum cycles=2\n"
              "D 15 to_host sp=+0x40 host:ADDR bytes=32\n"
              "D 16 to_vector sp=+0x0 host:ADDR bytes=64\n"
              "C 17 to_host sp=+0x40 bytes=32 by sync\n"
              "C 18 to_vector sp=+0x0 bytes=64 by sync\n");
    std::fclose(out);
}

TEST_F(Diagnostics, TraceShowsPartialCompletionDropsAndCallers)
{
    std::FILE *out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    int32_t *a = alloc_words(32);
    static int32_t host[32];
    kmrsim_trace(out, KMRSIM_TRACE_DMA | KMRSIM_TRACE_INSTRUCTIONS | KMRSIM_TRACE_CALLERS);
    KMR_SET_VL(KMR_SEL_VL, 8, 8);
    sim_dma_to_vector(a, host, sizeof host);
    kmrsim_1D_VVWWS(V_VVWWS, VMOV, a, a, a);
    kmrsim_init(4, 64, 16, 6, 5, 4);  // drops the rest of the transfer
    kmrsim_trace(nullptr, 0);
    const std::string t = stable(read_file(out));
    std::fclose(out);
    EXPECT_TRUE(std::regex_search(
        t, std::regex("^D 1 to_vector sp=\\+0x0 host:ADDR bytes=128 at .*TraceShowsPartial.*diagnostics_test\\.cpp:"
                      "[0-9]+\\)\n")))
        << t;
    EXPECT_NE(t.find("\nC 3 to_vector sp=+0x0 bytes=32 partial by I 2\n"), std::string::npos) << t;
    EXPECT_NE(t.find("\nX 4 to_vector sp=+0x20 bytes=96 dropped\n"), std::string::npos) << t;
}

// Checker: each kind of finding once, reported with its context, repeats
// only counted.
class Checker : public Diagnostics {
protected:
    void SetUp() override
    {
        kmrsim_check(KMRSIM_CHECK_UNWRITTEN | KMRSIM_CHECK_UNALLOCATED | KMRSIM_CHECK_FLAGS);
        kmrsim_init(4, 64, 16, 6, 5, 4);
    }
    std::string run(void (*body)())
    {
        testing::internal::CaptureStderr();
        body();
        return testing::internal::GetCapturedStderr();
    }
};

TEST_F(Checker, ReadOfMemoryNeverWritten)
{
    const std::string err = run([] {
        int32_t *a = alloc_words(16);
        int32_t *b = alloc_words(16);
        for (int i = 0; i < 8; ++i)
            a[i] = 0;  // the program's own writes count, zeros too
        KMR_SET_VL(KMR_SEL_VL, 8, 8);
        kmrsim_1D_VVWWS(V_VVWWS, VADD, b, a, a);
        kmrsim_1D_VVWWS(V_VVWWS, VADD, a, b, b);  // b was written by the instruction
        KMR_SET_VL(KMR_SEL_VL, 16, 16);
        for (int k = 0; k < 3; ++k)
            kmrsim_1D_SVWWS(V_SVWWS, VADD, b, 1, a);  // a[8..15]: never written
    });
    EXPECT_TRUE(std::regex_search(
        err, std::regex("^Warning: operand B at scratchpad\\+0x20, 4 bytes \\(element 8 of the row\\) read but never "
                        "written: VADD \\(kmrsim_1D_SVWWS\\), VL 16; scratchpad .*called from .*diagnostics_test")))
        << err;
    EXPECT_EQ(kmrsim_check_findings(), 3u);
    testing::internal::CaptureStderr();
    kmrsim_check_summary();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Warning: kmrsim_check: 3 findings at 1 call site (2 repeats not shown)\n");
}

TEST_F(Checker, DmaAndMaskedReads)
{
    const std::string err = run([] {
        static int32_t host[16] = {1, 2, 3};
        int32_t *a = alloc_words(16);
        int32_t *b = alloc_words(16);
        KMR_SET_VL(KMR_SEL_VL, 16, 16);
        sim_dma_to_vector(a, host, sizeof host);
        sim_dma_to_host(host, a, sizeof host);  // the queued transfer brings a in first
        kmrsim_setup_mask(V_VVWWS, VCMV_NZ, a);  // elements 0..2 enabled
        kmrsim_masked_1D_VVWWS(V_VVWWS, VMOV, b, a, a);
        sim_dma_to_host(host, b, 3 * 4);  // the enabled elements only
        kmr_sim_sync();
    });
    EXPECT_EQ(err, "");
    EXPECT_EQ(kmrsim_check_findings(), 0u);
    const std::string err2 = run([] {
        static int32_t host[16];
        int32_t *b = alloc_words(32) + 16;
        sim_dma_to_host(host, b, 16);
    });
    EXPECT_TRUE(std::regex_search(err2, std::regex("^Warning: sim_dma_to_host: scratchpad side at scratchpad\\+0x[0-9a-f]+, "
                                                   "1 bytes \\(byte 0 of 16\\) read but never written; called from")))
        << err2;
}

TEST_F(Checker, OperandsBeyondTheAllocatedScratchpad)
{
    const std::string err = run([] {
        kmr_sp_push();
        int32_t *a = alloc_words(16);
        for (int i = 0; i < 16; ++i)
            a[i] = i;
        kmr_sp_pop();  // a is given back
        int32_t *b = alloc_words(8);
        KMR_SET_VL(KMR_SEL_VL, 16, 16);
        kmrsim_1D_SVWWS(V_SVWWS, VADD, b, 1, b);
    });
    EXPECT_TRUE(std::regex_search(err, std::regex("Warning: destination at scratchpad\\+0x0, 64 bytes reaches past the "
                                                  "allocated scratchpad \\(allocated: scratchpad\\+0x0 to \\+0x20\\): "
                                                  "VADD \\(kmrsim_1D_SVWWS\\)")))
        << err;
    // Operand B, the same range, is counted at the same call site.
    EXPECT_EQ(kmrsim_check_findings(), 2u);
}

TEST_F(Checker, FlagsNeverWrittenByAnInstruction)
{
    const std::string err = run([] {
        int32_t *a = alloc_words(8);
        int32_t *b = alloc_words(8);
        int32_t *c = alloc_words(8);
        for (int i = 0; i < 8; ++i)
            a[i] = b[i] = i;
        KMR_SET_VL(KMR_SEL_VL, 8, 8);
        kmrsim_1D_VVWWS(V_VVWWS, VADD, c, a, b);   // writes c's flags
        kmrsim_1D_VVWWS(V_VVWWS, VADDC, c, a, c);  // carry from c: fine
        kmrsim_1D_VVWWS(V_VVWWS, VAND, c, a, b);   // flags combined as data: not a finding
        kmrsim_1D_VVWWS(V_VVWWS, VADDC, c, a, b);  // carry from b: never written
    });
    EXPECT_TRUE(std::regex_search(err, std::regex("^Warning: flag of operand B at scratchpad\\+0x20, 4 bytes \\(element "
                                                  "0 of the row\\) read but never written: VADDC")))
        << err;
    EXPECT_EQ(kmrsim_check_findings(), 1u);
}

TEST_F(Checker, FillMakesUnwrittenReadsVisibleAndIsOnlyAtInit)
{
    testing::internal::CaptureStderr();
    kmrsim_check(KMRSIM_CHECK_UNALLOCATED);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // dropping checks needs no re-init
    testing::internal::CaptureStderr();
    kmrsim_check(KMRSIM_CHECK_FILL | KMRSIM_CHECK_UNWRITTEN);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Warning: kmrsim_check: the unwritten-memory, flag and fill "
                                                          "checks start at the next kmrsim_init"),
              std::string::npos);
    kmrsim_check(KMRSIM_CHECK_FILL);
    kmrsim_init(4, 64, 16, 6, 5, 4);
    int nonzero = 0;
    for (int i = 0; i < 256; ++i)
        nonzero += sp_base()[i] != 0;
    EXPECT_GT(nonzero, 200);
    nonzero = 0;
    for (int i = 0; i < 256; ++i)
        nonzero += get_the_kmrsim()->flag_memory[i] != 0;
    EXPECT_GT(nonzero, 200);  // the flags are filled too
    kmrsim_check(0);
    kmrsim_init(4, 64, 16, 6, 5, 4);
    EXPECT_EQ(sp_base()[0], 0);
}

}  // namespace
