// Vector library: the operator set, operand forms, element types and
// signedness, nested expressions with scratch temporaries, 2D/3D
// assignment, and accumulation through operator[](int).
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "Vector.hpp"

using namespace KMR;

namespace {

class VectorExpr : public ::testing::Test {
protected:
    void SetUp() override
    {
        kmrsim_init(4, 64, 256, 16, 15, 4);
        __old_vl__ = 0;
        vector_mask_obj::nested = 0;
    }
    void TearDown() override { vector_mask_obj::nested = 0; }
};

uint32_t count(vinstr_t op)
{
    return kmrsim_get_stats().instruction_count[op];
}

template <typename T>
std::vector<long long> elems(const T *p, size_t n)
{
    kmr_sync();
    return std::vector<long long>(p, p + n);
}
template <typename T, int d>
std::vector<long long> values(const Vector<T, d> &v)
{
    return elems(v.data, v.size);
}

// Every leaf expression is one instruction, except a difference whose right
// operand is a scalar: the scalar (and ENUM on the left) first go through
// temporaries, so that the instruction is a real subtraction.
TEST_F(VectorExpr, EveryOperatorIssuesOneInstructionWithTheRightOperandOrder)
{
    const int n = 8;
    Vector<int> a(n), b(n), c(n);
    a = 1 + ENUM;     // 1..8
    b = ENUM + (-3);  // -3..4
    struct Case {
        const char *text;
        vinstr_t op;
        std::function<void()> assign;
        std::function<long long(long long, long long, long long)> expect;  // (a, b, i)
        uint32_t total = 1;                                                // instructions issued
    };
    const std::vector<Case> cases = {
        {"a + b", VADD, [&] { c = a + b; }, [](long long x, long long y, long long) { return x + y; }},
        {"a - b", VSUB, [&] { c = a - b; }, [](long long x, long long y, long long) { return x - y; }},
        {"a * b", VMUL, [&] { c = a * b; }, [](long long x, long long y, long long) { return x * y; }},
        {"a & b", VAND, [&] { c = a & b; }, [](long long x, long long y, long long) { return x & y; }},
        {"a | b", VOR, [&] { c = a | b; }, [](long long x, long long y, long long) { return x | y; }},
        {"a ^ b", VXOR, [&] { c = a ^ b; }, [](long long x, long long y, long long) { return x ^ y; }},
        {"a * 3", VMUL, [&] { c = a * 3; }, [](long long x, long long, long long) { return x * 3; }},
        {"7 - a", VSUB, [&] { c = 7 - a; }, [](long long x, long long, long long) { return 7 - x; }},
        {"a - 7", VSUB, [&] { c = a - 7; }, [](long long x, long long, long long) { return x - 7; }, 2},
        {"-b", VSUB, [&] { c = -b; }, [](long long, long long y, long long) { return -y; }},
        {"a << 2", VSHL, [&] { c = a << 2; }, [](long long x, long long, long long) { return x << 2; }},
        {"b >> 1", VSHR, [&] { c = b >> 1; }, [](long long, long long y, long long) { return y >> 1; }},
        {"a << a", VSHL, [&] { c = a << a; }, [](long long x, long long, long long) { return x << x; }},
        {"a - ENUM", VSUB, [&] { c = a - ENUM; }, [](long long x, long long, long long i) { return x - i; }},
        {"ENUM * a", VMUL, [&] { c = ENUM * a; }, [](long long x, long long, long long i) { return i * x; }},
        {"5 - ENUM", VSUB, [&] { c = 5 - ENUM; }, [](long long, long long, long long i) { return 5 - i; }},
        {"ENUM - 5", VSUB, [&] { c = ENUM - 5; }, [](long long, long long, long long i) { return i - 5; }, 3},
        {"ENUM << 3", VSHL, [&] { c = ENUM << 3; }, [](long long, long long, long long i) { return i << 3; }},
        {"ENUM", VADD, [&] { c = ENUM; }, [](long long, long long, long long i) { return i; }},
        {"b (copy)", VMOV, [&] { c = b; }, [](long long, long long y, long long) { return y; }},
        {"c += a", VADD, [&] { c += a; }, [](long long x, long long, long long) { return x; }},
        {"~a", VXOR, [&] { c = ~a; }, [](long long x, long long, long long) { return ~x; }},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.text);
        c = 0;
        kmrsim_reset_stats();
        k.assign();
        EXPECT_EQ(count(k.op), 1u);
        uint32_t total = 0;
        for (uint32_t x : kmrsim_get_stats().instruction_count)
            total += x;
        EXPECT_EQ(total, k.total);
        const std::vector<long long> av = values(a), bv = values(b), cv = values(c);
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(cv[size_t(i)], k.expect(av[size_t(i)], bv[size_t(i)], i)) << "element " << i;
        EXPECT_EQ(c.cmv, VCMV_NZ);
    }
}

TEST_F(VectorExpr, TheDestinationDecidesWidthAndSignedness)
{
    Vector<int> a(4);
    Vector<unsigned> u(4);
    Vector<short> s(4);
    Vector<unsigned char> ub(4);
    a = 0 - ENUM;  // 0, -1, -2, -3
    u = 0 - ENUM;  // 0, 0xFFFFFFFF, ...
    Vector<int> sa(4);
    sa = a >> 28;  // arithmetic
    Vector<unsigned> su(4);
    su = u >> 28;  // logical
    EXPECT_EQ(values(sa), (std::vector<long long>{0, -1, -1, -1}));
    EXPECT_EQ(values(su), (std::vector<long long>{0, 15, 15, 15}));

    kmrsim_reset_stats();
    s = a * 1000;  // word sources, half-word destination
    EXPECT_EQ(values(s), (std::vector<long long>{0, -1000, -2000, -3000}));
    ub = 300 + ENUM;  // byte destination: low 8 bits
    EXPECT_EQ(values(ub), (std::vector<long long>{44, 45, 46, 47}));
    s = a;  // narrowing copy
    EXPECT_EQ(values(s), (std::vector<long long>{0, -1, -2, -3}));
    EXPECT_EQ(count(VMUL), 1u);
    EXPECT_EQ(count(VADD), 1u);
    EXPECT_EQ(count(VMOV), 1u);
}

TEST_F(VectorExpr, NestedExpressionsUseScratchTemporariesAndReleaseThem)
{
    Vector<int> a(10), b(10), c(10);
    a = 1 + ENUM;
    b = 2;
    char *const sp0 = static_cast<char *>(kmr_sp_get());
    kmrsim_reset_stats();

    c = a * b + 1;
    EXPECT_EQ(count(VMUL), 1u);
    EXPECT_EQ(count(VADD), 1u);
    std::vector<long long> want;
    for (int i = 1; i <= 10; ++i)
        want.push_back(2 * i + 1);
    EXPECT_EQ(values(c), want);

    // Two temporaries side by side, and a sub-expression without vectors.
    c = (a * b) - (a + 3);
    want.clear();
    for (int i = 1; i <= 10; ++i)
        want.push_back(2 * i - (i + 3));
    EXPECT_EQ(values(c), want);
    c = a * (1 + ENUM) + ((a << 1) - ENUM);
    want.clear();
    for (int i = 1; i <= 10; ++i)
        want.push_back(i * i + (2 * i - (i - 1)));
    EXPECT_EQ(values(c), want);

    EXPECT_EQ(static_cast<char *>(kmr_sp_get()), sp0);
    EXPECT_EQ(kmr_tqm_ptr->spstack_top, 3);
}

TEST_F(VectorExpr, ATemporaryThatDoesNotFitFailsClearly)
{
    Vector<int> a(10), c(10);
    Vector<int> filler((65536 - 96 - 16) / 4);  // 16 bytes stay free
    EXPECT_EQ(kmr_sp_getfree(), 16);
    a = 1;
    c = a + 1;  // no temporary needed
    EXPECT_DEATH(c = a * a + 1, "padded <=");
}

TEST_F(VectorExpr, TwoAndThreeDimensionalAssignmentsSetCountsAndStrides)
{
    // 3 rows of 4 elements, 6 elements apart; the padding stays untouched.
    Vector<int, 2> m(4, 3, 6);
    Vector<int, 2> n(4, 3, 4);
    Vector<int> flat = m.to1D(18);
    flat = -1;
    kmrsim_reset_stats();

    m = 10 + ENUM;
    EXPECT_EQ(kmrsim_get_stats().set_2D_count, 1u);
    EXPECT_EQ(_KMR_GET1(REG_ROWS), 3u);
    EXPECT_EQ(_KMR_GET1(REG_ID2), 24u);
    EXPECT_EQ(elems(m.data, 16),
              (std::vector<long long>{10, 11, 12, 13, -1, -1, 10, 11, 12, 13, -1, -1, 10, 11, 12, 13}));

    n = m * 2 + m;  // a temporary with its own dense strides
    EXPECT_EQ(count(VMUL), 1u);
    EXPECT_EQ(elems(n.data, 12), (std::vector<long long>{30, 33, 36, 39, 30, 33, 36, 39, 30, 33, 36, 39}));
    n.get_row(1) = 0;
    m = n;
    EXPECT_EQ(elems(m.data, 16), (std::vector<long long>{30, 33, 36, 39, -1, -1, 0, 0, 0, 0, -1, -1, 30, 33, 36, 39}));

    // 2 matrices of 2 rows of 2, dense; each row enumerates from 0.
    Vector<int, 3> t(2, 2, 2, 2, 4), u(2, 2, 2, 2, 4);
    kmrsim_reset_stats();
    t = ENUM;
    u = t + t * 10;
    // The temporary of t * 10 and u have t's dense layout: the registers
    // already hold it, so only the first assignment sets them.
    EXPECT_EQ(kmrsim_get_stats().set_3D_count, 1u);
    EXPECT_EQ(_KMR_GET1(REG_MATS), 2u);
    EXPECT_EQ(_KMR_GET1(REG_ID3), 16u);
    EXPECT_EQ(elems(u.data, 8), (std::vector<long long>{0, 11, 0, 11, 0, 11, 0, 11}));
}

TEST_F(VectorExpr, AssigningToAnElementStoresTheSum)
{
    Vector<int> a(10), b(10), c(4);
    a = 1 + ENUM;
    b = 4;
    c = -1;
    kmrsim_reset_stats();
    c[0] = a * b;     // accumulating VMUL over a's 10 elements
    c[1] = a;         // accumulating VMOV: the sum of a
    c[2] = 1 + ENUM;  // no vector: c's own length (4)
    c[3] = 7;         // a plain store
    EXPECT_EQ(count(VMUL), 1u);
    EXPECT_EQ(count(VMOV), 1u);
    EXPECT_EQ(count(VADD), 1u);
    EXPECT_EQ(values(c), (std::vector<long long>{220, 55, 10, 7}));
    const int first = c[0];
    EXPECT_EQ(first, 220);
    EXPECT_EQ(c.fs().data[0], 0);
}

}  // namespace
