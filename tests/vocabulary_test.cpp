// The shared vocabulary every part of the simulator reads: opcode names from
// the opcode list, the operand-mode encoding, and the per-opcode facts the
// engines and mask setup consult.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "element_ops.hpp"
#include "kmr_api.h"

namespace {

TEST(Vocabulary, EveryOpcodeHasItsEnumeratorsName)
{
#define CHECK_NAME(name, value) EXPECT_STREQ(kmrsim_opcode_name(value), #name);
    KMR_OPCODE_LIST(CHECK_NAME)
#undef CHECK_NAME
    // Aliases name the same opcode, which keeps its first name.
    EXPECT_STREQ(kmrsim_opcode_name(VMULLO), "VMUL");
    EXPECT_STREQ(kmrsim_opcode_name(VCMV_FS), "VCMV_LTZ");
    EXPECT_STREQ(kmrsim_opcode_name(VCMV_FC), "VCMV_GEZ");
    EXPECT_STREQ(kmrsim_opcode_name(VCUSTOM), "VCUSTOM0");
    EXPECT_EQ(kmrsim_opcode_name(-1), nullptr);
    EXPECT_EQ(kmrsim_opcode_name(MAX_INSTR_VAL + 1), nullptr);
    EXPECT_EQ(KMRSIM_NUM_OPCODES, 40);
    EXPECT_EQ(kmrsim::builtin_op_count, 24);
}

TEST(Vocabulary, ModeValuesEncodeAndDecodeTheirLetters)
{
    int expected = 0;
#define CHECK_MODE(f, sw, dw, sg)                                                                                 \
    {                                                                                                             \
        const int m = V_##f##sw##dw##sg;                                                                          \
        EXPECT_EQ(m, expected++);                                                                                 \
        EXPECT_EQ(KMRSIM_MODE_VALUE(KMRSIM_FORM_##f, KMRSIM_WIDTH_##sw, KMRSIM_WIDTH_##dw, KMRSIM_SIGN_##sg), m); \
        EXPECT_EQ(KMRSIM_MODE_FORM(m), KMRSIM_FORM_##f);                                                          \
        EXPECT_EQ(KMRSIM_MODE_SRC_WIDTH(m), KMRSIM_WIDTH_##sw);                                                   \
        EXPECT_EQ(KMRSIM_MODE_DST_WIDTH(m), KMRSIM_WIDTH_##dw);                                                   \
        EXPECT_EQ(KMRSIM_MODE_IS_UNSIGNED(m), KMRSIM_SIGN_##sg);                                                  \
        EXPECT_EQ(sizeof(KMRSIM_ELEM_##sw##sg), size_t(1) << KMRSIM_WIDTH_##sw);                                  \
        EXPECT_EQ(KMRSIM_ELEM_##dw##sg(-1) < 0, KMRSIM_SIGN_##sg == KMRSIM_SIGN_S);                               \
    }
    KMRSIM_MODE_LIST(CHECK_MODE)
#undef CHECK_MODE
    EXPECT_EQ(expected, KMRSIM_NUM_MODES);
    EXPECT_EQ(V_SEWWS, 64);
    EXPECT_EQ(V_SVWWS, 66);
    EXPECT_EQ(V_VVWWS, 70);
}

TEST(Vocabulary, EntryListNamesEveryEntryPointOnce)
{
    int unmasked = 0, masked = 0;
#define COUNT_ENTRY(name, dims, acc, is_masked, f, sw, dw, sg)                         \
    {                                                                                  \
        (is_masked ? masked : unmasked) += 1;                                          \
        EXPECT_EQ(std::strstr(#name, "masked") != nullptr, is_masked != 0) << #name;   \
        EXPECT_EQ(std::strstr(#name, "acc_") != nullptr, acc != 0) << #name;           \
        EXPECT_NE(std::strstr(#name, (std::to_string(dims) + "D_").c_str()), nullptr); \
    }
    KMRSIM_ENTRY_LIST(COUNT_ENTRY)
#undef COUNT_ENTRY
    EXPECT_EQ(unmasked, 432);
    EXPECT_EQ(masked, 144);
}

// Facts the engines rely on: VMOV reads no B (its B range is not checked),
// only the fixed-point opcodes saturate when narrowing, and each conditional
// move's inverse holds exactly where it fails.
TEST(Vocabulary, OpcodeFactsAgreeWithTheElementOperations)
{
    using kmrsim::opcode_info;
    for (int op = 0; op < KMRSIM_NUM_OPCODES; ++op) {
        const kmrsim::op_info &info = opcode_info(op);
        EXPECT_EQ(info.b_range_checked, op != VMOV) << kmrsim_opcode_name(op);
        EXPECT_EQ(info.saturates_on_narrowing, op == VMULFXP || op == VADDFXP || op == VSUBFXP)
            << kmrsim_opcode_name(op);
        EXPECT_EQ(info.conditional, (op >= VCMV_LEZ && op <= VCMV_NZ) || op >= VCUSTOM0) << kmrsim_opcode_name(op);
        EXPECT_EQ(info.inverse_condition >= 0, op >= VCMV_LEZ && op <= VCMV_NZ) << kmrsim_opcode_name(op);
    }
    for (int op = VCMV_LEZ; op <= VCMV_NZ; ++op) {
        const int inverse = opcode_info(op).inverse_condition;
        EXPECT_EQ(opcode_info(inverse).inverse_condition, op);
        for (int b = -128; b <= 127; ++b) {
            for (int8_t bf = 0; bf <= 1; ++bf) {
                int8_t out1 = 0, flag1 = 0, en1 = 1, out2 = 0, flag2 = 0, en2 = 1;
                run_func<int8_t>(static_cast<vinstr_t>(op), 1, 0, int8_t(b), bf, out1, flag1, en1);
                run_func<int8_t>(static_cast<vinstr_t>(inverse), 1, 0, int8_t(b), bf, out2, flag2, en2);
                EXPECT_NE(en1 != 0, en2 != 0) << kmrsim_opcode_name(op) << " b=" << b << " flag=" << int(bf);
            }
        }
    }
}

}  // namespace
