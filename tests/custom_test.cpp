// Custom instructions: registration, the argument record each lane group
// receives, what the function may change (results, flags, enables, the
// destination) and what the simulator then writes, refused registrations,
// accumulation, masks, and registrations across kmrsim_init.
#include <cstring>
#include <random>
#include <vector>

#include "sim_fixture.hpp"

using namespace simtest;

namespace {

class Custom : public SimTest {
protected:
    void TearDown() override
    {
        kmrsim_set_custom_instruction(0, 16, 0, nullptr);
        SimTest::TearDown();
    }
};
class CustomDeathTest : public Custom {};

int32_t *words(size_t off)
{
    return reinterpret_cast<int32_t *>(sp(off));
}

// Lanes the recording functions were registered with (they derive the lane
// group size from it and opsize, as a user function must).
int registered_lanes = 4;

struct record {
    uint16_t opcode_select;
    bool start, end;
    void *dest_in;
    bool is_signed;
    int opsize;
    bool valid_out_is_valid_in;
    std::vector<uint32_t> valid, a, a_flag, b, b_flag, out, out_flag;
};
std::vector<record> records;

std::vector<uint32_t> entries(const void *p, int opsize)
{
    const int G = registered_lanes * 4 >> opsize;
    std::vector<uint32_t> v(size_t(G), 0);
    for (int i = 0; i < G; ++i) {
        if (opsize == 0)
            v[size_t(i)] = static_cast<const uint8_t *>(p)[i];
        else if (opsize == 1)
            v[size_t(i)] = static_cast<const uint16_t *>(p)[i];
        else
            v[size_t(i)] = static_cast<const uint32_t *>(p)[i];
    }
    return v;
}

void recorder(kmrsim_custom_args *x)
{
    records.push_back({x->opcode_select, x->start != 0, x->end != 0, x->dest_addr_in, x->is_signed != 0, x->opsize,
                       x->valid_out == x->valid_in, entries(x->valid_in, x->opsize), entries(x->a, x->opsize),
                       entries(x->a_flag, x->opsize), entries(x->b, x->opsize), entries(x->b_flag, x->opsize),
                       entries(x->out, x->opsize), entries(x->out_flag, x->opsize)});
}

// Word functions (opsize 2) with 4 lanes: lane groups of 4.
constexpr int G = 4;
int32_t *arr(void *p)
{
    return static_cast<int32_t *>(p);
}

void leave_alone(kmrsim_custom_args *)
{}
void sevens_on_even(kmrsim_custom_args *x)
{
    for (int i = 0; i < G; ++i) {
        arr(x->out)[i] = 7;
        arr(x->out_flag)[i] = 0;
        if (i % 2 == 1)
            arr(x->valid_out)[i] = 0;
    }
}
void double_a_elsewhere(kmrsim_custom_args *x)
{
    for (int i = 0; i < G; ++i) {
        arr(x->out)[i] = 2 * arr(x->a)[i];
        arr(x->out_flag)[i] = 1;
    }
    x->dest_addr_out = static_cast<uint8_t *>(x->dest_addr_in) + 4096;
}
void redirect_past_end(kmrsim_custom_args *x)
{
    x->dest_addr_out = static_cast<uint8_t *>(state().tqm.scratchpad_end) - 8;
}
void redirect_before_start(kmrsim_custom_args *x)
{
    x->dest_addr_out = sp() - 4;
}
void enable_whole_group(kmrsim_custom_args *x)
{
    for (int i = 0; i < G; ++i) {
        arr(x->valid_out)[i] = 0x01010101;
        arr(x->out)[i] = 9;
    }
}
void wide_results(kmrsim_custom_args *x)
{
    for (int i = 0; i < G; ++i)
        arr(x->out)[i] = i == 3 ? -1 : 300 + i;
}
void copy_a(kmrsim_custom_args *x)
{
    for (int i = 0; i < G; ++i) {
        arr(x->out)[i] = arr(x->a)[i];
        arr(x->out_flag)[i] = arr(x->a_flag)[i];
    }
}
void sum_but_second(kmrsim_custom_args *x)
{
    for (int i = 0; i < G; ++i)
        arr(x->out)[i] = arr(x->a)[i] + arr(x->b)[i];
    arr(x->valid_out)[1] = 0;
}
void flag_five(kmrsim_custom_args *x)
{
    for (int i = 0; i < G; ++i) {
        arr(x->out)[i] = 0;
        arr(x->out_flag)[i] = 5;
    }
}

}  // namespace

TEST_F(Custom, RegistrationCoversAConsecutiveGroup)
{
    kmrsim_set_custom_instruction(2, 3, 4, recorder);
    const kmr_sim_t &s = state();
    const short lanes[6] = {s.tqm.vcustom1_lanes, s.tqm.vcustom2_lanes, s.tqm.vcustom3_lanes,
                            s.tqm.vcustom4_lanes, s.tqm.vcustom5_lanes, 0};
    EXPECT_EQ(lanes[0], 0);
    EXPECT_EQ(lanes[1], 4);
    EXPECT_EQ(lanes[2], 4);
    EXPECT_EQ(lanes[3], 4);
    EXPECT_EQ(lanes[4], 0);
    for (int k = 2; k <= 4; ++k) {
        EXPECT_EQ(s.custom_instructions[k].func, recorder);
        EXPECT_EQ(s.custom_instructions[k].first, 2);
        EXPECT_EQ(s.custom_instructions[k].count, 3);
    }
    EXPECT_EQ(s.custom_instructions[1].func, nullptr);
    EXPECT_EQ(s.custom_instructions[5].func, nullptr);

    set_vl(4);
    records.clear();
    for (vinstr_t op : {VCUSTOM2, VCUSTOM3, VCUSTOM4})
        kmrsim_1D_SEWWS(V_SEWWS, op, words(1024), 0, 0);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].opcode_select, 1);
    EXPECT_EQ(records[1].opcode_select, 2);
    EXPECT_EQ(records[2].opcode_select, 4);
    EXPECT_EQ(stats().instruction_count[VCUSTOM3], 1u);

    // A later registration overwrites the entries it covers.
    kmrsim_set_custom_instruction(3, 1, 2, recorder);
    EXPECT_EQ(s.custom_instructions[3].first, 3);
    EXPECT_EQ(s.tqm.vcustom3_lanes, 2);
    EXPECT_EQ(s.custom_instructions[4].first, 2);
    records.clear();
    kmrsim_1D_SEWWS(V_SEWWS, VCUSTOM3, words(1024), 0, 0);
    ASSERT_EQ(records.size(), 2u);  // 2 lanes: groups of two words
    EXPECT_EQ(records[0].opcode_select, 1);
}

// Every array holds one lane group of the computation type: lanes x 4 bytes.
TEST_F(Custom, ArgumentRecordDescribesTheLaneGroup)
{
    kmrsim_set_custom_instruction(0, 1, 4, recorder);
    uint8_t *d = sp(2048);

    set_vl(10);
    records.clear();
    kmrsim_1D_SEWBS(V_SEWBS, VCUSTOM0, d, -3, 0);
    ASSERT_EQ(records.size(), 1u);
    const record &r = records[0];
    EXPECT_EQ(r.opsize, 0);
    EXPECT_TRUE(r.is_signed);
    EXPECT_TRUE(r.start && r.end);
    EXPECT_TRUE(r.valid_out_is_valid_in);
    EXPECT_EQ(r.dest_in, d);
    ASSERT_EQ(r.valid.size(), 16u);
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(r.valid[i], i < 10 ? 0x01u : 0u) << i;
        if (i < 10) {
            EXPECT_EQ(r.a[i], 0xFDu) << i;  // the scalar at the computation width
            EXPECT_EQ(r.a_flag[i], 0u);
            EXPECT_EQ(r.b[i], i) << i;  // the enumeration
            EXPECT_EQ(r.b_flag[i], 0u);
        }
    }

    records.clear();
    kmrsim_1D_SEWBU(V_SEWBU, VCUSTOM0, d, 0, 0);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_FALSE(records[0].is_signed);

    set_vl(20);
    records.clear();
    kmrsim_1D_SEWHS(V_SEWHS, VCUSTOM0, d, 0, 0);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].opsize, 1);
    EXPECT_EQ(records[0].valid, std::vector<uint32_t>(8, 0x0101u));
    EXPECT_EQ(records[2].valid, (std::vector<uint32_t>{0x0101, 0x0101, 0x0101, 0x0101, 0, 0, 0, 0}));

    int32_t *a = words(4096), *b = words(8192);
    for (int i = 0; i < 20; ++i) {
        a[i] = 1000 + i;
        b[i] = -i;
        put_flag<int32_t>(a, size_t(i), i % 2);
        put_flag<int32_t>(b, size_t(i), 1 - i % 2);
        put<int32_t>(d, size_t(i), 50 + i);
        put_flag<int32_t>(d, size_t(i), i % 3 == 0);
    }
    records.clear();
    kmrsim_1D_VVWWS(V_VVWWS, VCUSTOM0, d, a, b);
    ASSERT_EQ(records.size(), 5u);
    for (size_t k = 0; k < 5; ++k) {
        const record &w = records[k];
        EXPECT_EQ(w.opsize, 2);
        EXPECT_EQ(w.start, k == 0);
        EXPECT_EQ(w.end, k == 4);
        EXPECT_EQ(w.dest_in, d + 16 * k);
        EXPECT_EQ(w.valid, std::vector<uint32_t>(4, 0x01010101u));
        for (size_t i = 0; i < 4; ++i) {
            const size_t idx = 4 * k + i;
            EXPECT_EQ(w.a[i], 1000 + idx);
            EXPECT_EQ(w.a_flag[i], idx % 2);
            EXPECT_EQ(int32_t(w.b[i]), -int32_t(idx));
            EXPECT_EQ(w.b_flag[i], 1 - idx % 2);
            EXPECT_EQ(w.out[i], 50 + idx);  // previous destination values and flags
            EXPECT_EQ(w.out_flag[i], idx % 3 == 0 ? 1u : 0u);
        }
    }
}

TEST_F(Custom, StartAndEndMarkTheInstructionsFirstAndLastCall)
{
    kmrsim_set_custom_instruction(9, 1, 4, recorder);
    set_vl(4);
    set_2d(3, 16, 16, 0);
    records.clear();
    kmrsim_2D_VEWWS(V_VEWWS, VCUSTOM9, words(1024), words(2048), 0);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_TRUE(records[0].start && !records[0].end);
    EXPECT_TRUE(!records[1].start && !records[1].end);
    EXPECT_TRUE(!records[2].start && records[2].end);
    EXPECT_EQ(records[1].dest_in, sp(1024 + 16));
}

TEST_F(Custom, ResultsTheFunctionLeavesAloneKeepTheDestination)
{
    kmrsim_set_custom_instruction(0, 1, 4, leave_alone);
    int32_t *d = words(1024);
    for (int i = 0; i < 10; ++i) {
        d[i] = 3 * i - 7;
        put_flag<int32_t>(d, size_t(i), i % 2);
    }
    set_vl(10);
    const image before = snapshot();
    kmrsim_1D_SEWWS(V_SEWWS, VCUSTOM0, d, 123, 0);
    EXPECT_TRUE(snapshot() == before) << first_difference(snapshot(), before);
}

TEST_F(Custom, ClearedEnablesSuppressTheWriteBack)
{
    kmrsim_set_custom_instruction(0, 1, 4, sevens_on_even);
    int32_t *d = words(1024);
    for (int i = 0; i < 8; ++i) {
        d[i] = -1;
        put_flag<int32_t>(d, size_t(i), 1);
    }
    set_vl(8);
    kmrsim_1D_SEWWS(V_SEWWS, VCUSTOM0, d, 0, 0);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(d[i], i % 2 ? -1 : 7) << i;
        EXPECT_EQ(flag<int32_t>(d, size_t(i)), i % 2 ? 1 : 0) << i;
    }
}

TEST_F(Custom, RedirectedLaneGroupsLandAtTheNewAddress)
{
    kmrsim_set_custom_instruction(0, 1, 4, double_a_elsewhere);
    int32_t *a = words(1024), *d = words(2048);
    for (int i = 0; i < 8; ++i)
        a[i] = i + 1;
    set_vl(8);
    image expected = snapshot();
    for (int i = 0; i < 8; ++i) {
        ref::store<int32_t>(expected.mem, 2048 + 4096 + 4 * i, 2 * (i + 1));
        ref::store<int32_t>(expected.flags, 2048 + 4096 + 4 * i, 1);
    }
    kmrsim_1D_VEWWS(V_VEWWS, VCUSTOM0, d, a, 0);
    EXPECT_TRUE(snapshot() == expected) << first_difference(snapshot(), expected);
}

// The write-back would leave the range the row engine checked: the new range
// is checked too, and the process aborts before anything lands outside.
TEST_F(CustomDeathTest, WritesOutsideTheScratchpadAbort)
{
    set_vl(4);
    kmrsim_set_custom_instruction(0, 1, 4, redirect_past_end);
    EXPECT_DEATH(kmrsim_1D_SEWWS(V_SEWWS, VCUSTOM0, words(1024), 0, 0), "sp_ptr<=sp_end");
    kmrsim_set_custom_instruction(0, 1, 4, redirect_before_start);
    EXPECT_DEATH(kmrsim_1D_SEWWS(V_SEWWS, VCUSTOM0, words(1024), 0, 0), "sp_ptr>=sp_base");

    // Two valid words at the very end; the function enables all four.
    set_vl(2);
    kmrsim_set_custom_instruction(0, 1, 4, enable_whole_group);
    uint8_t *end = static_cast<uint8_t *>(state().tqm.scratchpad_end);
    EXPECT_DEATH(kmrsim_1D_SEWWS(V_SEWWS, VCUSTOM0, end - 8, 0, 0), "sp_ptr<=sp_end");
}

// Positions past the valid count that the function enables are written when
// they lie in the scratchpad.
TEST_F(Custom, EnabledPositionsPastTheRowAreWrittenInsideTheScratchpad)
{
    kmrsim_set_custom_instruction(0, 1, 4, enable_whole_group);
    int32_t *d = words(1024);
    for (int i = 0; i < 6; ++i)
        d[i] = -1;
    set_vl(2);
    kmrsim_1D_SEWWS(V_SEWWS, VCUSTOM0, d, 0, 0);
    EXPECT_EQ(d[0], 9);
    EXPECT_EQ(d[3], 9);
    EXPECT_EQ(d[4], -1);
}

// Positions past the row's end that the function enables receive the
// destination's current values and zero operands, whatever earlier
// instructions left in the executor's arrays: left alone, they write back
// what was there.
static void enable_rest_keep_out(kmrsim_custom_args *x)
{
    for (int i = 0; i < G; ++i) {
        arr(x->valid_out)[i] = 1;
        arr(x->out_flag)[i] = arr(x->a)[i] | arr(x->b)[i] | arr(x->a_flag)[i] | arr(x->b_flag)[i];
    }
}

TEST_F(Custom, PositionsPastTheRowSeeTheDestinationAndZeroOperands)
{
    kmrsim_set_custom_instruction(0, 1, 4, copy_a);
    kmrsim_set_custom_instruction(1, 1, 4, enable_rest_keep_out);
    int32_t *src = words(0), *d = words(1024);
    for (int i = 0; i < 8; ++i) {
        src[i] = 100 + i;
        put_flag<int32_t>(src, size_t(i), 1);
        d[i] = -7 - i;
    }
    set_vl(4);
    kmrsim_1D_VVWWS(V_VVWWS, VCUSTOM0, words(2048), src, src);  // fills the arrays of a whole group
    set_vl(1);
    kmrsim_1D_VVWWS(V_VVWWS, VCUSTOM1, d, src, src);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(d[i], -7 - i) << i;
    EXPECT_EQ(flag<int32_t>(d, 0), 100 | 1);  // the row's element: its operands are read
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(flag<int32_t>(d, size_t(i)), 0) << i;
}

// A lane group cut short by the row's end shows the function zero operands
// past the row, whatever earlier instructions left in the arrays.
TEST_F(Custom, PositionsPastTheRowReadZeroOperands)
{
    records.clear();
    registered_lanes = 4;
    kmrsim_set_custom_instruction(0, 1, 4, recorder);
    int32_t *a = words(2048), *b = words(3072);
    for (int i = 0; i < 8; ++i) {
        a[i] = 100 + i;
        b[i] = 200 + i;
        put_flag<int32_t>(a, size_t(i), 1);
    }
    set_vl(8);
    kmrsim::whole_row_path_enabled = false;  // lane group by lane group: fills every array
    kmrsim_1D_VVWWS(V_VVWWS, VCUSTOM0, words(1024), a, b);
    kmrsim::whole_row_path_enabled = true;
    records.clear();
    set_vl(6);
    kmrsim_1D_VVWWS(V_VVWWS, VCUSTOM0, words(1024), a, b);
    ASSERT_EQ(records.size(), 2u);
    const record &last = records[1];
    EXPECT_EQ(last.a, (std::vector<uint32_t>{104, 105, 0, 0}));
    EXPECT_EQ(last.a_flag, (std::vector<uint32_t>{1, 1, 0, 0}));
    EXPECT_EQ(last.b, (std::vector<uint32_t>{204, 205, 0, 0}));
    EXPECT_EQ(last.valid, (std::vector<uint32_t>{0x01010101, 0x01010101, 0, 0}));
}

TEST_F(Custom, NarrowDestinationKeepsTheLowBits)
{
    kmrsim_set_custom_instruction(0, 1, 4, wide_results);
    uint8_t *d = sp(1024);
    set_vl(4);
    kmrsim_1D_VEWBS(V_VEWBS, VCUSTOM0, d, words(2048), 0);
    EXPECT_EQ(d[0], 44);
    EXPECT_EQ(d[1], 45);
    EXPECT_EQ(d[2], 46);
    EXPECT_EQ(d[3], 0xFF);
}

// Custom results go through the same write-back pipeline as built-in ones.
TEST_F(Custom, ResultsLandThroughTheWriteBackPipeline)
{
    kmrsim_set_custom_instruction(0, 1, 4, copy_a);
    int32_t *v = words(4096);
    for (int i = 0; i < 64; ++i)
        v[i] = i;
    set_vl(40);
    kmrsim_1D_VEWWS(V_VEWWS, VCUSTOM0, v + 4 * G, v, 0);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(v[4 * G + i], i % (4 * G)) << i;
    for (int i = 0; i < 64; ++i)
        v[i] = i;
    kmrsim_1D_VEWWS(V_VEWWS, VCUSTOM0, v + 3 * G, v, 0);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(v[3 * G + i], i) << i;
}

// Flags are stored as the function leaves them; a nonzero one reads as 1.
TEST_F(Custom, ResultFlagsAreStoredAsGiven)
{
    kmrsim_set_custom_instruction(0, 1, 4, flag_five);
    int32_t *d = words(1024), *e = words(2048);
    set_vl(4);
    kmrsim_1D_SEWWS(V_SEWWS, VCUSTOM0, d, 0, 0);
    EXPECT_EQ(flag<int32_t>(d, 2), 5);
    kmrsim_1D_SVWWS(V_SVWWS, VADDC, e, 10, d);
    EXPECT_EQ(e[2], 11);
}

TEST_F(Custom, RegistrationOutsideTheSixteenOpcodesIsRefused)
{
    kmrsim_set_custom_instruction(0, 1, 4, leave_alone);
    const kmr_sim_t before = state();
    for (auto [first, count] : {std::pair{-1, 2}, std::pair{15, 2}, std::pair{14, 3}, std::pair{16, 1}}) {
        const std::string err = stderr_of([&] { kmrsim_set_custom_instruction(first, count, 8, recorder); });
        EXPECT_EQ(err.rfind("Error: ", 0), 0u) << first << "+" << count << ": " << err;
    }
    EXPECT_EQ(std::memcmp(before.custom_instructions, state().custom_instructions, sizeof before.custom_instructions),
              0);
    EXPECT_EQ(std::memcmp(&before.tqm, &state().tqm, sizeof before.tqm), 0);
}

TEST_F(Custom, AccumulatingCustomInstructionSumsTheEnabledResults)
{
    kmrsim_set_custom_instruction(0, 1, 4, sum_but_second);
    int32_t *b = words(1024), *d = words(2048);
    for (int i = 0; i < 8; ++i)
        b[i] = 10 * i;
    set_vl(8);
    kmrsim_acc_1D_SVWWS(V_SVWWS, VCUSTOM0, d, 1, b);
    // Elements 1 and 5 (position 1 of each group) are switched off.
    EXPECT_EQ(d[0], (0 + 20 + 30 + 40 + 60 + 70) + 6);
    EXPECT_EQ(d[1], 0);

    set_vl(4);
    set_2d(2, 4, 0, 16);
    kmrsim_acc_2D_SVWWS(V_SVWWS, VCUSTOM0, d, 1, b);
    EXPECT_EQ(d[0], 0 + 20 + 30 + 3);
    EXPECT_EQ(d[1], 40 + 60 + 70 + 3);
}

TEST_F(Custom, EnablesCarryTheMask)
{
    kmrsim_set_custom_instruction(0, 1, 4, recorder);
    int32_t *src = words(1024);
    for (int i = 0; i < 8; ++i)
        src[i] = i % 3 == 0;
    set_vl(8);
    kmrsim_setup_mask(V_VVWWS, VCMV_NZ, src);
    records.clear();
    kmrsim_masked_1D_SEWWS(V_SEWWS, VCUSTOM0, words(2048), 0, 0);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].valid, (std::vector<uint32_t>{0x01010101, 0, 0, 0x01010101}));
    EXPECT_EQ(records[1].valid, (std::vector<uint32_t>{0, 0, 0x01010101, 0}));
}

// kmrsim_init keeps registrations but clears the lane counts: the opcode is
// refused until it is registered again.
TEST_F(Custom, RegistrationSurvivesInitialisationWithoutLanes)
{
    kmrsim_set_custom_instruction(6, 1, 4, recorder);
    reinit();
    EXPECT_EQ(state().custom_instructions[6].func, recorder);
    EXPECT_EQ(state().tqm.vcustom6_lanes, 0);
    set_vl(4);
    records.clear();
    const image before = snapshot();
    const std::string err = stderr_of([] { kmrsim_1D_SEWWS(V_SEWWS, VCUSTOM6, words(1024), 0, 0); });
    EXPECT_EQ(err.rfind("Error: ", 0), 0u) << err;
    EXPECT_TRUE(records.empty());
    EXPECT_TRUE(snapshot() == before);

    kmrsim_set_custom_instruction(6, 1, 4, recorder);
    kmrsim_1D_SEWWS(V_SEWWS, VCUSTOM6, words(1024), 0, 0);
    EXPECT_EQ(records.size(), 1u);
}

TEST_F(Custom, NullFunctionUnregisters)
{
    kmrsim_set_custom_instruction(7, 1, 4, recorder);
    kmrsim_set_custom_instruction(7, 1, 4, nullptr);
    set_vl(4);
    records.clear();
    const std::string err =
        stderr_of([] { kmrsim_1D_VVWWS(V_VVWWS, VCUSTOM7, words(1024), words(2048), words(3072)); });
    // The message, then the line that names the refused instruction.
    EXPECT_EQ(err.substr(0, err.find('\n') + 1), "Error: NO VCUSTOM7 registered\n");
    EXPECT_EQ(err.find("Error: refused: VCUSTOM7 (kmrsim_1D_VVWWS), VL 4;"), err.find('\n') + 1) << err;
    EXPECT_TRUE(records.empty());
    EXPECT_EQ(stats().instruction_count[VCUSTOM7], 1u);
    EXPECT_EQ(stats().cycle_count[VCUSTOM7][0], 4u);
}

// An accumulating instruction checks only destination element 0, yet a
// custom function receives the previous values of every element of its lane
// group: those past the scratchpad read as 0 with flag 0, element by element.
TEST_F(Custom, AccumulatingDestinationAtTheEndReadsElementsPastItAsZero)
{
    records.clear();
    registered_lanes = 4;
    kmrsim_set_custom_instruction(0, 1, 4, recorder);
    int32_t *d = reinterpret_cast<int32_t *>(static_cast<uint8_t *>(state().tqm.scratchpad_end) - 4);
    *d = 77;
    put_flag<int32_t>(d, 0, 1);
    set_vl(8);
    kmrsim_acc_1D_SEWWS(V_SEWWS, VCUSTOM0, d, 1, 0);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].out, (std::vector<uint32_t>{77, 0, 0, 0}));
    EXPECT_EQ(records[0].out_flag, (std::vector<uint32_t>{1, 0, 0, 0}));
    EXPECT_EQ(records[1].out, (std::vector<uint32_t>{0, 0, 0, 0}));
    EXPECT_EQ(records[1].out_flag, (std::vector<uint32_t>{0, 0, 0, 0}));
    // The function left the previous values as results: their sum is 77.
    EXPECT_EQ(*d, 77);
    EXPECT_EQ(flag<int32_t>(d), 0);
}

// The same at the largest vector length a 128 KB scratchpad allows: every
// lane group but the first lies wholly past the scratchpad.
TEST_F(Custom, AccumulatingDestinationAtTheEndWithTheLongestVector)
{
    reinit(4, 128, 16);
    kmrsim_set_custom_instruction(0, 1, 4, leave_alone);
    int32_t *d = reinterpret_cast<int32_t *>(sp(131068));
    *d = -5;
    kmr_set_vl(262143);
    kmrsim_acc_1D_SEWWS(V_SEWWS, VCUSTOM0, d, 1, 0);
    EXPECT_EQ(*d, -5);
}

namespace {

// Functions of nothing but their arguments, for comparing batched lane
// groups with the per-group pipeline: they read every input (previous
// results included), clear some enables, and redirect or widen their writes.
int batch_lanes = 4;
template <typename T>
void mix_group(kmrsim_custom_args *x, int redirect_bytes, bool enable_all)
{
    const int g = batch_lanes * 4 / int(sizeof(T));
    T *a = static_cast<T *>(x->a), *af = static_cast<T *>(x->a_flag), *b = static_cast<T *>(x->b),
      *bf = static_cast<T *>(x->b_flag), *out = static_cast<T *>(x->out), *of = static_cast<T *>(x->out_flag),
      *en = static_cast<T *>(x->valid_out);
    for (int i = 0; i < g; ++i) {
        out[i] = static_cast<T>(uint32_t(a[i]) * 3u + uint32_t(b[i]) + uint32_t(out[i]) + (x->start ? 1u : 0u));
        of[i] = static_cast<T>((af[i] ^ bf[i]) & 1);
        if (enable_all)
            en[i] = static_cast<T>(-1);
        else if ((a[i] & 7) == 0)
            en[i] = 0;
    }
    if (redirect_bytes != 0 && (a[0] & 1) != 0)
        x->dest_addr_out = static_cast<uint8_t *>(x->dest_addr_in) + redirect_bytes;
}
void mix_words(kmrsim_custom_args *x)
{
    mix_group<int32_t>(x, 0, false);
}
void mix_bytes(kmrsim_custom_args *x)
{
    mix_group<uint8_t>(x, 0, false);
}
void mix_redirected(kmrsim_custom_args *x)
{
    mix_group<int32_t>(x, (x->a_flag != nullptr && (static_cast<int32_t *>(x->b)[0] & 2) != 0) ? 32 : -48, false);
}
void mix_past_the_row(kmrsim_custom_args *x)
{
    mix_group<int32_t>(x, 0, true);
}

}  // namespace

// Lane groups whose operands are loaded many at a time (whole-row path
// allowed) against the per-group pipeline: operands overlapping the
// destination or not, in place, rows apart or overlapping, masked and
// accumulating, with functions that redirect their writes or enable
// positions past the row.
TEST_F(Custom, BatchedLaneGroupsAgreeWithThePipeline)
{
    std::mt19937 rng(777);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const kmrsim_custom_func_t word_functions[] = {mix_words, mix_redirected, mix_past_the_row};
    for (int lanes : {1, 4}) {
        reinit(lanes, 16);
        batch_lanes = lanes;
        for (int n = 0; n < 300; ++n) {
            const int kind = pick(0, 3);  // 0-2 word functions, 3 bytes
            const bool bytes = kind == 3;
            kmrsim_set_custom_instruction(0, 1, lanes, bytes ? mix_bytes : word_functions[kind]);
            const int es = bytes ? 1 : 4;
            const int L = pick(1, 70), R = pick(1, 3);
            const size_t base = 8192;
            for (size_t i = base - 3000; i < base + 3000; ++i) {
                *sp(i) = static_cast<uint8_t>(rng());
                state().flag_memory[i] = static_cast<uint8_t>(pick(0, 5) == 0);
            }
            const size_t d = base + size_t(pick(-12, 12) * es);
            const int mode = pick(0, 2);  // sources far away, near, or the destination itself
            const size_t a = mode == 0 ? base - 2048 : mode == 1 ? base + size_t(pick(-12, 12) * es) : d;
            const size_t b = pick(0, 1) ? base + 1500 : base + size_t(pick(-12, 12) * es);
            const int32_t pitch = (pick(0, 3) == 0 ? pick(1, L) : L + pick(0, 4)) * es;
            set_2d(uint32_t(R), pitch, mode == 2 ? pitch : pick(1, 2) * pitch, pitch);
            const int shape = pick(0, 4);
            if (shape == 4) {
                int32_t *m = words(256);
                for (int i = 0; i < L; ++i)
                    m[i] = pick(0, 3) != 0;
                set_vl(uint32_t(L));
                kmrsim_setup_mask(V_VVWWS, VCMV_NZ, m);
            }
            set_vl(uint32_t(L));
            const two_runs r = run_both_paths([&] {
                if (bytes)
                    kmrsim_2D_VVBBU(V_VVBBU, VCUSTOM0, sp(d), sp(a), sp(b));
                else if (shape == 0)
                    kmrsim_2D_VVWWS(V_VVWWS, VCUSTOM0, sp(d), sp(a), sp(b));
                else if (shape == 1)
                    kmrsim_1D_SVWWS(V_SVWWS, VCUSTOM0, sp(d), 5, sp(b));
                else if (shape == 2)
                    kmrsim_acc_2D_VEWWS(V_VEWWS, VCUSTOM0, sp(d), sp(a), 0);
                else if (shape == 3)
                    kmrsim_1D_VVWWS(V_VVWWS, VCUSTOM0, sp(d), sp(a), sp(b));
                else
                    kmrsim_masked_1D_VVWWS(V_VVWWS, VCUSTOM0, sp(d), sp(a), sp(b));
            });
            ASSERT_TRUE(r.whole == r.pipelined)
                << "case " << n << " lanes " << lanes << " kind " << kind << " shape " << shape << " L " << L << " R "
                << R << " pitch " << pitch << " d " << int(d) - int(base) << " a " << int(a) - int(base) << " b "
                << int(b) - int(base) << ": " << first_difference(r.whole, r.pipelined);
        }
    }
}

namespace {

// For comparing long batched rows with the per-group pipeline: every call
// leaves a digest of its whole argument record in a log, and the function
// may look at the scratchpad itself just before its lane group's
// destination, where the lane groups three to four calls back land: that
// shows whether their results reach memory after the same call.
struct call_log {
    std::vector<uint64_t> digests;
    int lanes = 4;
    bool peek = false;          // read the 16 bytes before the destination
    int redirect_at = -1;       // call number that writes elsewhere
    ptrdiff_t redirect_by = 0;  // bytes from its own destination
} logged;

uint64_t mix(uint64_t h, uint64_t v)
{
    return (h ^ v) * 0x100000001b3ull;
}

template <typename T>
void logged_group(kmrsim_custom_args *x)
{
    const int g = logged.lanes * 4 / int(sizeof(T));
    T *a = static_cast<T *>(x->a), *af = static_cast<T *>(x->a_flag), *b = static_cast<T *>(x->b),
      *bf = static_cast<T *>(x->b_flag), *out = static_cast<T *>(x->out), *of = static_cast<T *>(x->out_flag),
      *en = static_cast<T *>(x->valid_out);
    uint64_t h = mix(mix(0xcbf29ce484222325ull, uint64_t(sp_offset(x->dest_addr_in))),
                     uint64_t(x->start) * 2 + uint64_t(x->end));
    for (int i = 0; i < g; ++i)
        for (T v : {a[i], af[i], b[i], bf[i], out[i], of[i], en[i]})
            h = mix(h, uint64_t(v));
    uint32_t seen = 0;
    const uint8_t *d = static_cast<const uint8_t *>(x->dest_addr_in);
    if (logged.peek && d >= sp(16)) {
        for (int i = 1; i <= 16; ++i)
            seen = seen * 31u + d[-i];
        h = mix(h, seen);
    }
    for (int i = 0; i < g; ++i) {
        out[i] = static_cast<T>(uint32_t(a[i]) * 5u + uint32_t(b[i]) + uint32_t(out[i]) + seen);
        of[i] = static_cast<T>((a[i] ^ b[i]) & 1);
        if ((uint32_t(a[i]) & 15u) == 3u)
            en[i] = 0;
    }
    if (int(logged.digests.size()) == logged.redirect_at)
        x->dest_addr_out = static_cast<uint8_t *>(x->dest_addr_in) + logged.redirect_by;
    logged.digests.push_back(h);
}
void logged_words(kmrsim_custom_args *x)
{
    logged_group<int32_t>(x);
}
void logged_bytes(kmrsim_custom_args *x)
{
    logged_group<uint8_t>(x);
}

}  // namespace

// Rows longer than a batch of lane groups (the workspace holds 1024
// elements at least), so that queued results pass from one batch to the
// next: the memories and every call's argument record agree with the
// per-group pipeline, also for a function that reads the scratchpad just
// before its destination, for a narrowing destination, 2D rows whose
// pipeline carries over from row to row, masks, and lane groups written
// elsewhere (into a block that nothing reads, so batching goes on, or into
// the sources, so it stops) in the middle of a batch.
TEST_F(Custom, LongBatchedRowsAgreeWithThePipelineCallForCall)
{
    std::mt19937 rng(4242);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int lanes : {1, 4, 8}) {
        reinit(lanes, 128, 4096);
        logged.lanes = lanes;
        for (int n = 0; n < 40; ++n) {
            const int kind = pick(0, 3);  // 0, 1: words; 2: words narrowed to bytes; 3: bytes
            kmrsim_set_custom_instruction(0, 1, lanes, kind == 3 ? logged_bytes : logged_words);
            const int G = kind == 3 ? lanes * 4 : lanes;
            const int L = pick(0, 2) == 0 ? pick(1, 4) * 1024 + pick(-G, G) : pick(1000, 3000);
            const int R = kind == 1 ? 2 : 1;
            const size_t dest_size = kind >= 2 ? 1 : 4;
            const size_t d = 1024, a = 40000, b = 60000;
            for (size_t i = 0; i < 128 * 1024; ++i) {
                *sp(i) = static_cast<uint8_t>(rng());
                state().flag_memory[i] = static_cast<uint8_t>(pick(0, 3) == 0);
            }
            const int32_t pitch = int32_t(size_t(L) * dest_size) + pick(0, 2) * 4;
            set_2d(uint32_t(R), pitch, 0, 0);
            set_vl(uint32_t(L));
            logged.peek = pick(0, 1) == 1;
            logged.redirect_at = pick(0, 2) == 0 ? pick(0, L / G) : -1;
            // 100000: past every operand; else into source A.
            logged.redirect_by = pick(0, 1) == 0 ? ptrdiff_t(100000 - d) : ptrdiff_t(a) - ptrdiff_t(d);
            const bool masked = kind == 0 && L <= 2000 && pick(0, 1) == 1;
            if (masked) {
                int32_t *m = words(80000);
                for (int i = 0; i < L; ++i)
                    m[i] = pick(0, 3) != 0;
                kmrsim_setup_mask(V_VVWWS, VCMV_NZ, m);
            }
            std::vector<uint64_t> whole_log;
            const two_runs r = run_both_paths([&] {
                logged.digests.clear();
                if (masked)
                    kmrsim_masked_1D_VVWWS(V_VVWWS, VCUSTOM0, sp(d), sp(a), sp(b));
                else if (kind == 0)
                    kmrsim_1D_VVWWS(V_VVWWS, VCUSTOM0, sp(d), sp(a), sp(b));
                else if (kind == 1)
                    kmrsim_2D_VVWWS(V_VVWWS, VCUSTOM0, sp(d), sp(a), sp(b));
                else if (kind == 2)
                    kmrsim_1D_VVWBS(V_VVWBS, VCUSTOM0, sp(d), sp(a), sp(b));
                else
                    kmrsim_2D_VVBBU(V_VVBBU, VCUSTOM0, sp(d), sp(a), sp(b));
                if (whole_log.empty())
                    whole_log = logged.digests;
            });
            ASSERT_TRUE(r.whole == r.pipelined) << "case " << n << " lanes " << lanes << " kind " << kind << " L " << L
                                                << " R " << R << ": " << first_difference(r.whole, r.pipelined);
            ASSERT_EQ(whole_log, logged.digests) << "case " << n << " lanes " << lanes << " kind " << kind;
        }
    }
}
