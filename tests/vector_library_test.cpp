// Vector library: scratchpad stack discipline, the instructions that
// assignments issue, the vector-length cache, the masked path, printing,
// the failure modes of construction, and the example program's output.
#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Vector.hpp"

using namespace KMR;

namespace {

class VectorLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        kmrsim_init(4, 64, 256, 16, 15, 4);
        vector_mask_obj::nested = 0;
        kmrsim_reset_stats();
    }
    void TearDown() override { vector_mask_obj::nested = 0; }
};

char *sp_now()
{
    return static_cast<char *>(kmr_sp_get());
}
int depth()
{
    return kmr_tqm_ptr->spstack_top;
}
uint32_t count(vinstr_t op)
{
    return kmrsim_get_stats().instruction_count[op];
}
uint32_t total_count()
{
    const kmrsim_stats_t s = kmrsim_get_stats();
    uint32_t n = 0;
    for (uint32_t c : s.instruction_count)
        n += c;
    return n;
}
uint32_t set_vl_count()
{
    return kmrsim_get_stats().set_vl_count;
}

template <typename T, int d>
std::vector<long long> values(const Vector<T, d> &v)
{
    kmr_sync();
    return std::vector<long long>(v.data, v.data + v.size);
}

std::string fields(const std::vector<int> &xs)
{
    std::string s;
    char buf[32];
    for (int x : xs) {
        snprintf(buf, sizeof buf, "%8d,", x);
        s += buf;
    }
    return s + "\b \b\n";
}

TEST_F(VectorLibrary, VectorsReleaseTheirBlocksInReverseOrder)
{
    char *const sp0 = sp_now();
    const int top0 = depth();
    {
        Vector<int> a(10), b(10), c(10);
        EXPECT_EQ(reinterpret_cast<char *>(a.data), sp0);
        EXPECT_EQ(reinterpret_cast<char *>(b.data), sp0 + 48);  // 40 bytes, granule 16
        EXPECT_EQ(reinterpret_cast<char *>(c.data), sp0 + 96);
        EXPECT_EQ(sp_now(), sp0 + 144);
        EXPECT_EQ(depth(), top0 + 3);
        EXPECT_EQ(a.cmv, VCMV_NZ);
        EXPECT_EQ(a.rows, 0u);
        EXPECT_EQ(a.mats, 0u);
        {
            // Views own nothing: they leave the stack alone.
            Vector<int> wrap(a.data, 10);
            Vector<int> alias(a, Vector<int>::ALIAS);
            Vector<int> part = a[RANGE(2, 5)];
            Vector<int> flags = a.fs();
            Vector<int> none;
            EXPECT_EQ(none.data, nullptr);
            EXPECT_EQ(sp_now(), sp0 + 144);
            EXPECT_EQ(depth(), top0 + 3);
        }
        EXPECT_EQ(sp_now(), sp0 + 144);
        EXPECT_EQ(depth(), top0 + 3);
    }
    EXPECT_EQ(sp_now(), sp0);
    EXPECT_EQ(depth(), top0);
    EXPECT_EQ(kmr_sp_getused(), 0);
}

TEST_F(VectorLibrary, HeapObjectsAndEmptyVectorsFollowTheStack)
{
    char *const sp0 = sp_now();
    Vector<int> *p = new Vector<int>(10);
    Vector<int> *q = new Vector<int>(0);  // owns no bytes
    EXPECT_EQ(reinterpret_cast<char *>(q->data), sp0 + 48);
    EXPECT_EQ(sp_now(), sp0 + 48);
    EXPECT_EQ(depth(), 2);
    delete q;
    delete p;
    EXPECT_EQ(sp_now(), sp0);
    EXPECT_EQ(depth(), 0);
}

TEST_F(VectorLibrary, TheThreeStatementsIssueThreeInstructionsAndOneLength)
{
    Vector<int> a(10), b(10), c(10);
    a.cmv = VCMV_Z;
    b.cmv = VCMV_LTZ;
    c.cmv = VCMV_GEZ;

    a = 1 + ENUM;
    EXPECT_EQ(set_vl_count(), 1u);
    EXPECT_EQ(_KMR_GET1(REG_VL), 10u);
    EXPECT_EQ(__old_vl__, 10u);
    EXPECT_EQ(count(VADD), 1u);
    EXPECT_EQ(values(a), (std::vector<long long>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));

    b = 4;
    EXPECT_EQ(set_vl_count(), 1u);
    EXPECT_EQ(count(VMOV), 1u);
    EXPECT_EQ(values(b), std::vector<long long>(10, 4));

    c = a * b;
    EXPECT_EQ(set_vl_count(), 1u);
    EXPECT_EQ(count(VMUL), 1u);
    EXPECT_EQ(total_count(), 3u);
    EXPECT_EQ(values(c), (std::vector<long long>{4, 8, 12, 16, 20, 24, 28, 32, 36, 40}));

    EXPECT_EQ(a.cmv, VCMV_NZ);
    EXPECT_EQ(b.cmv, VCMV_NZ);
    EXPECT_EQ(c.cmv, VCMV_NZ);
    // The statistics charge the instructions as word instructions over 10 elements.
    EXPECT_EQ(kmrsim_get_stats().cycle_count[VMUL][0], 10u);
}

TEST_F(VectorLibrary, AReinitialisationMakesTheNextAssignmentSetTheLengthAgain)
{
    {
        Vector<int> a(10);
        a = 1 + ENUM;
    }
    kmrsim_init(4, 64, 256, 16, 15, 4);  // the length register is 0 again
    kmrsim_reset_stats();
    Vector<int> a(10);
    a = 1 + ENUM;
    EXPECT_EQ(set_vl_count(), 1u);
    EXPECT_EQ(values(a), (std::vector<long long>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

TEST_F(VectorLibrary, TheVectorLengthIsSetOnlyWhenItChanges)
{
    Vector<int> a(10), b(10), s(5);
    a = 1;
    b = 2;
    a = a + b;
    EXPECT_EQ(set_vl_count(), 1u);
    s = 3;
    a = 4;
    s = 5;
    EXPECT_EQ(set_vl_count(), 4u);
    EXPECT_EQ(_KMR_GET1(REG_VL), 5u);

    // A length set behind the library's back is noticed: the register is
    // read, so the next assignment sets the length it needs again.
    s = 0;
    kmr_set_vl(3);
    s = 9;
    EXPECT_EQ(set_vl_count(), 6u);
    EXPECT_EQ(values(s), (std::vector<long long>{9, 9, 9, 9, 9}));
}

TEST_F(VectorLibrary, InsideAMaskedRegionAssignmentsUseTheMaskedInstructions)
{
    Vector<int> a(10), b(10), c(10), cond(10);
    cond = ENUM & 1;  // 0, 1, 0, 1, ...
    kmrsim_reset_stats();

    // No mask has been set up since initialisation: the mask covers no
    // element, so the masked twins are issued (and counted) but write nothing.
    vector_mask_obj::nested = 1;
    a = 1 + ENUM;
    b = 4;
    c = a * b;
    EXPECT_EQ(count(VADD), 1u);
    EXPECT_EQ(count(VMOV), 1u);
    EXPECT_EQ(count(VMUL), 1u);
    EXPECT_EQ(set_vl_count(), 0u);  // the length was already 10
    EXPECT_EQ(values(a), std::vector<long long>(10, 0));
    EXPECT_EQ(values(c), std::vector<long long>(10, 0));
    EXPECT_EQ(c.cmv, VCMV_NZ);

    // With the mask 1, 0, 1, 0, ... only the even elements are written.
    kmrsim_setup_mask(V_VVWWS, VCMV_Z, cond.data);
    a = 1 + ENUM;
    EXPECT_EQ(values(a), (std::vector<long long>{1, 0, 3, 0, 5, 0, 7, 0, 9, 0}));
    vector_mask_obj::nested = 0;
    a = 1 + ENUM;
    EXPECT_EQ(values(a), (std::vector<long long>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

TEST_F(VectorLibrary, PrintVecPrintsFieldsOfEightAndErasesTheLastComma)
{
    Vector<int> a(10), e(0);
    a = 1 + ENUM;
    testing::internal::CaptureStdout();
    a.printVec();
    e.printVec();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), fields({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}) + "\b \b\n");

    // Unsigned words print as unsigned; 2D vectors print one line per row.
    Vector<unsigned> u(2);
    u = -1;
    Vector<int, 2> m(3, 2, 4);
    m = ENUM;
    testing::internal::CaptureStdout();
    u.printVec();
    m.printVec();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "4294967295,4294967295,\b \b\n" + fields({0, 1, 2}) + fields({0, 1, 2}));
}

TEST_F(VectorLibrary, MoreThanSixtyFourLiveVectorsStopTheProgramClearly)
{
    {
        // 64 are fine and are all released again.
        std::vector<Vector<int> *> live;
        for (int i = 0; i < 64; ++i)
            live.push_back(new Vector<int>(1));
        EXPECT_EQ(depth(), 64);
        for (int i = 63; i >= 0; --i)
            delete live[static_cast<size_t>(i)];
        EXPECT_EQ(depth(), 0);
    }
    EXPECT_EXIT(
        {
            for (int i = 0; i < 65; ++i)
                new Vector<int>(1);
        },
        ::testing::ExitedWithCode(1), "^Error: ");
}

TEST_F(VectorLibrary, AnExhaustedScratchpadFailsTheConstructorAssertion)
{
    EXPECT_DEATH({ Vector<int> big(16385); }, "KMR::Vector<T, Dim>::Vector\\(int, int, int, int, int\\) "
                                              "\\[with T = int; int dim = 1\\]: Assertion `data!=NULL' failed");
    // Exactly the whole scratchpad is fine.
    Vector<int> whole(16384);
    EXPECT_EQ(kmr_sp_getfree(), 0);
}

// The example program: run the binary built beside this test and compare
// its standard output byte for byte.
TEST(ExampleVec, PrintsTheTenProducts)
{
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    std::string path(self, static_cast<size_t>(n));
    path = path.substr(0, path.rfind('/')) + "/../examples/software/simple/example_vec";
    if (access(path.c_str(), X_OK) != 0)
        GTEST_SKIP() << "example_vec not built: " << path;

    FILE *p = popen(path.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[256];
    size_t got;
    while ((got = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, got);
    EXPECT_EQ(pclose(p), 0);
    EXPECT_EQ(out, fields({4, 8, 12, 16, 20, 24, 28, 32, 36, 40}) + "\n");
    EXPECT_EQ(out.size(), 95u);
}

}  // namespace
