// Vector library: views (ranges, rows, reshapes, wrapped data), clones and
// aliases, DMA through the transfer queue, flag views, and masked regions.
#include <gtest/gtest.h>

#include <vector>

#include "Vector.hpp"

using namespace KMR;

namespace {

class VectorViews : public ::testing::Test {
protected:
    void SetUp() override
    {
        kmrsim_init(4, 64, 256, 16, 15, 4);
        __old_vl__ = 0;
        vector_mask_obj::nested = 0;
        kmrsim_reset_stats();
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

TEST_F(VectorViews, RangesRowsAndReshapesSelectTheRightElements)
{
    Vector<int> a(12);
    a = ENUM;
    Vector<int> part = a[RANGE(2, 5)];
    EXPECT_EQ(part.data, a.data + 2);
    EXPECT_EQ(part.size, 3u);
    part = -1;
    EXPECT_EQ(values(a), (std::vector<long long>{0, 1, -1, -1, -1, 5, 6, 7, 8, 9, 10, 11}));

    // a as 3 rows of 4: row 1 is elements 4..7; columns 1..2 of rows 1..2.
    a = ENUM;
    Vector<int, 2> m = a.to2D(4, 3, 4);
    m.get_row(1) = 9;
    m[RANGE(RANGE(1, 3), RANGE(1, 3))] = 0;
    EXPECT_EQ(values(a), (std::vector<long long>{0, 1, 2, 3, 9, 0, 0, 9, 8, 0, 0, 11}));

    // 2 matrices of 2 rows of 3: get_row counts the rows of all matrices.
    Vector<int, 3> t = a.to3D(3, 2, 3, 2, 6);
    t = 100 + ENUM;
    t.get_row(3)[RANGE(0, 1)] = 7;
    EXPECT_EQ(values(a), (std::vector<long long>{100, 101, 102, 100, 101, 102, 100, 101, 102, 7, 101, 102}));
    Vector<int> head = a.to1D(2);
    EXPECT_EQ(values(head), (std::vector<long long>{100, 101}));

    // A vector over existing data, strides in elements.
    Vector<int, 2> cols(a.data + 1, 1, 3, 4);
    cols = 5;
    EXPECT_EQ(values(a), (std::vector<long long>{100, 5, 102, 100, 101, 5, 100, 101, 102, 5, 101, 102}));

    EXPECT_DEATH(a[RANGE(3, 13)], "to");
    EXPECT_DEATH(m.get_row(3), "row_count");
    EXPECT_DEATH(a[12], "size");
}

TEST_F(VectorViews, ClonesCopyWithOneInstructionAndAliasesShareStorage)
{
    Vector<int> a(10);
    a = 1 + ENUM;
    a.cmv = VCMV_GTZ;
    char *const sp0 = static_cast<char *>(kmr_sp_get());
    kmrsim_reset_stats();
    {
        // The copy ignores a masked region: with no mask set up, a masked
        // VMOV would copy nothing.
        vector_mask_obj::nested = 1;
        Vector<int> clone(a, Vector<int>::CLONE);
        Vector<int> copy(a);
        vector_mask_obj::nested = 0;
        Vector<int> alias(a, Vector<int>::ALIAS);
        EXPECT_EQ(count(VMOV), 2u);
        EXPECT_EQ(reinterpret_cast<char *>(clone.data), sp0);
        EXPECT_EQ(reinterpret_cast<char *>(copy.data), sp0 + 48);
        EXPECT_EQ(alias.data, a.data);
        EXPECT_EQ(clone.cmv, VCMV_GTZ);
        EXPECT_EQ(values(clone), values(a));
        EXPECT_EQ(values(copy), values(a));
        clone = 0;
        alias = alias * 2;
        EXPECT_EQ(values(copy), (std::vector<long long>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
        EXPECT_EQ(values(a), (std::vector<long long>{2, 4, 6, 8, 10, 12, 14, 16, 18, 20}));
    }
    EXPECT_EQ(static_cast<char *>(kmr_sp_get()), sp0);
    EXPECT_EQ(kmr_tqm_ptr->spstack_top, 1);

    // A clone of a strided 2D view is dense and holds the same rows.
    Vector<int, 2> m(3, 2, 5);
    m = 10 + ENUM;
    Vector<int, 2> dense(m);
    EXPECT_EQ(dense.increment2, 12);
    EXPECT_EQ(elems(dense.data, 6), (std::vector<long long>{10, 11, 12, 10, 11, 12}));
}

TEST_F(VectorViews, DmaGoesThroughTheQueueRowByRow)
{
    Vector<int> a(6), b(6);
    int in[6] = {5, 6, 7, 8, 9, 10};
    int out[6] = {0};
    a.dma_read(in, 6);
    EXPECT_EQ(kmrsim_get_stats().dma_calls, 1u);
    EXPECT_EQ(kmrsim_get_stats().dma_bytes, 24u);
    b = a + 1;  // touches a: the transfer lands first
    b.dma_write(out, 4);
    kmr_sync();
    EXPECT_EQ(std::vector<int>(out, out + 6), (std::vector<int>{6, 7, 8, 9, 0, 0}));

    // 2 rows of 3, 4 elements apart: the host side is packed.
    Vector<int, 2> m(3, 2, 4);
    Vector<int> flat = m.to1D(8);
    flat = -1;
    m.dma_read(in, 3);
    kmr_sync();
    EXPECT_EQ(elems(m.data, 7), (std::vector<long long>{5, 6, 7, -1, 8, 9, 10}));
    int packed[6] = {0};
    m.dma_write(packed, 3);
    kmr_sync();
    EXPECT_EQ(std::vector<int>(packed, packed + 6), (std::vector<int>{5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(kmrsim_get_stats().dma_calls, 6u);
}

TEST_F(VectorViews, FlagViewsShowTheFlagsOfTheLastInstruction)
{
    Vector<unsigned> u(6), v(6);
    u = ENUM;
    v = u + 0xFFFFFFFEu;  // carries from element 2 on
    Vector<unsigned> carry = v.carry();
    EXPECT_EQ(carry.data, static_cast<unsigned *>(get_flg_addr(v.data)));
    EXPECT_EQ(values(carry), (std::vector<long long>{0, 0, 1, 1, 1, 1}));
    EXPECT_EQ(v.fs().cmv, VCMV_NZ);
    EXPECT_EQ(v.fc().cmv, VCMV_Z);

    Vector<int> a(4), b(4);
    a = 0x7FFFFFFE + ENUM;
    b = a + 1;  // overflows where a is the largest word
    EXPECT_EQ(values(b.overflow()), (std::vector<long long>{0, 1, 0, 0}));
    EXPECT_EQ(values(b.fs()), values(b.overflow()));
    EXPECT_EQ(kmr_tqm_ptr->spstack_top, 4);
}

TEST_F(VectorViews, MaskedRegionsNarrowAndRestoreTheMask)
{
    Vector<int> a(10), b(10), odd(10), high(10);
    odd = ENUM & 1;   // non-zero at odd positions
    high = ENUM - 5;  // > 0 from position 6 on
    a = 0;
    b = 0;
    char *const sp0 = static_cast<char *>(kmr_sp_get());
    KMR_WHERE(odd)
    {
        EXPECT_EQ(vector_mask_obj::nested, 1);
        a = 100 + ENUM;
        KMR_WHERE(high, VCMV_GTZ)
        {
            EXPECT_EQ(vector_mask_obj::nested, 2);
            b = 1;
        }
        b = b + 10;  // the odd positions again
    }
    EXPECT_EQ(vector_mask_obj::nested, 0);
    EXPECT_EQ(static_cast<char *>(kmr_sp_get()), sp0);
    EXPECT_EQ(kmr_tqm_ptr->spstack_top, 4);
    EXPECT_EQ(values(a), (std::vector<long long>{0, 101, 0, 103, 0, 105, 0, 107, 0, 109}));
    EXPECT_EQ(values(b), (std::vector<long long>{0, 10, 0, 10, 0, 10, 0, 11, 0, 11}));

    // The condition may also be a vector's own cmv.
    high.cmv = VCMV_LEZ;
    {
        vector_mask_obj region(high);
        a = -1;
    }
    EXPECT_EQ(values(a), (std::vector<long long>{-1, -1, -1, -1, -1, -1, 0, 107, 0, 109}));
}

TEST_F(VectorViews, AMaskedInstructionMayNotReachPastItsDestination)
{
    Vector<int> cond(10), small(4);
    cond = 1;
    KMR_WHERE(cond)
    {
        EXPECT_DEATH(small = 1, "mask_length");
    }
}

}  // namespace
