// Vector library shapes: sums into 1D, 2D and 3D destinations (one sum per
// row, in element 0 of the destination's row), and 2D/3D assignments and
// sums inside masked regions (one masked instruction per row, each under
// the same mask), compared with the flat entry points.
#include "vector_lib_fixture.hpp"

using namespace KMR;
using namespace vlt;
using V = std::vector<long long>;

namespace {

class VectorShapes : public LibTest {
protected:
    // Registers that no assignment below leaves as they are, so that the
    // library sets every register it needs (and the flat form sets the same).
    static void scramble_registers()
    {
        KMR_SET_VL(KMR_SEL_VL, 1, 1);
        KMR_SET_VL(KMR_SEL_COUNT, 1, 1);
        KMR_SET_VL(KMR_SEL_STRIDES, 1, 1);
        KMR_SET_VL3D(KMR_SEL_COUNT, 1, 1);
        KMR_SET_VL3D(KMR_SEL_STRIDES, 1, 1);
    }
};

TEST_F(VectorShapes, SumsGoToElementZeroOfEveryDestinationRow)
{
    Vector<int> a(10), b(10), d(4);
    a = 1 + ENUM;
    b = 2;
    d = -1;
    d = sum(a * b);
    EXPECT_EQ(values(d), (V{110, -1, -1, -1}));
    d = sum(a);
    EXPECT_EQ(values(d), (V{55, -1, -1, -1}));
    d = sum(ENUM);  // no vector: the destination's length (4)
    EXPECT_EQ(values(d)[0], 6);
    d[1] = sum(a - 1);  // the same as d[1] = a - 1
    EXPECT_EQ(values(d)[1], 45);

    scramble_registers();
    expect_same([&] { d = sum(a * b); },
                [&] {
                    kmr_set_vl(10);
                    kmr_acc_1D_VVWWS(VMUL, d.data, a.data, b.data);
                });

    // 3 rows of 5, 8 apart; one sum per row into a column (3 rows of 1).
    Vector<int, 2> m(5, 3, 8), w(5, 3, 8), sums(1, 3, 1);
    m = 1 + ENUM;
    w = 10;
    sums = sum(m * w);
    EXPECT_EQ(values(sums, 3), (V{150, 150, 150}));
    scramble_registers();
    expect_same([&] { sums = sum(m * w); },
                [&] {
                    kmr_set_vl(5);
                    KMR_SET_VL(KMR_SEL_COUNT, 3, 4);
                    KMR_SET_VL(KMR_SEL_STRIDES, 32, 32);
                    kmr_acc_2D_VVWWS(VMUL, sums.data, m.data, w.data);
                });

    // 2 matrices of 2 rows of 3; the sums land in a 2 x 2 block.
    Vector<int16_t, 3> t(3, 2, 3, 2, 6), s(1, 2, 1, 2, 2);
    t = ENUM;
    s = sum(t);
    EXPECT_EQ(values(s, 4), (V{3, 3, 3, 3}));
    scramble_registers();
    expect_same([&] { s = sum(t + 1); },
                [&] {
                    // One accumulating VADD of 1 and t: a leaf expression needs no temporary.
                    kmr_set_vl(3);
                    KMR_SET_VL(KMR_SEL_COUNT, 2, 2);
                    KMR_SET_VL(KMR_SEL_STRIDES, 0, 6);
                    KMR_SET_VL3D(KMR_SEL_COUNT, 2, 4);
                    KMR_SET_VL3D(KMR_SEL_STRIDES, 0, 12);
                    kmr_acc_3D_SVHHS(VADD, s.data, 1, t.data);
                });
}

TEST_F(VectorShapes, MaskedRegionsRunTwoAndThreeDimensionalAssignmentsRowByRow)
{
    Vector<int> cond(6);
    cond = ENUM & 1;  // odd positions
    Vector<int, 2> m(6, 3, 8), sums(1, 3, 1);
    m = 10;
    sums = -1;
    KMR_WHERE(cond)
    {
        m = m + ENUM;
        sums = sum(m);
    }
    EXPECT_EQ(values(m, 22), (V{10, 11, 10, 13, 10, 15, 0, 0, 10, 11, 10, 13, 10, 15, 0, 0, 10, 11, 10, 13, 10, 15}));
    EXPECT_EQ(values(sums, 3), (V{39, 39, 39}));

    // The same instructions through the flat interface, row by row.
    kmrsim_setup_mask(V_VVWWS, VCMV_NZ, cond.data);
    expect_same(
        [&] {
            vector_mask_obj::nested = 1;
            m = m * 2 + ENUM;
            sums = sum(m);
            vector_mask_obj::nested = 0;
        },
        [&] {
            int *const tmp = static_cast<int *>(kmr_sp_get());
            for (int r = 0; r < 3; ++r)
                kmr_masked_1D_SVWWS(VMUL, tmp + 6 * r, 2, m.data + 8 * r);
            for (int r = 0; r < 3; ++r)
                kmr_masked_1D_VEWWS(VADD, m.data + 8 * r, tmp + 6 * r, nullptr);
            for (int r = 0; r < 3; ++r)
                kmr_masked_acc_1D_VVWWS(VMOV, sums.data + r, m.data + 8 * r, nullptr);
        });

    // Three dimensions: every row of every matrix under the same mask.
    Vector<uint8_t, 3> t(6, 2, 6, 2, 12);
    t = 0;
    KMR_WHERE(cond, VCMV_Z)
    {
        t = 7;
    }
    EXPECT_EQ(values(t, 24), (V{7, 0, 7, 0, 7, 0, 7, 0, 7, 0, 7, 0, 7, 0, 7, 0, 7, 0, 7, 0, 7, 0, 7, 0}));

    // Counting the enabled positions: a sum of a scalar writes one element
    // and reads no vector, so its destination may be shorter than the mask.
    Vector<int> count(1);
    KMR_WHERE(cond)
    {
        count[0] = sum(1);
    }
    EXPECT_EQ(values(count), (V{3}));

    // Rows shorter than the mask would be reached past their end.
    Vector<int, 2> narrow(4, 2, 4);
    KMR_WHERE(cond)
    {
        EXPECT_DEATH(narrow = 1, "mask_length");
    }
}

}  // namespace
