// Random programs for the fuzz targets: a byte reader that turns any input
// into a program, the tables of every entry point and typed call, and the
// program runner that decodes and issues valid steps over the public C
// interface (initialisation, registers, instructions of every family and
// mode, masks, custom instructions, DMA, syncs, statistics and the vector
// library). The valid-program target runs a program on both engine paths
// and compares; the invalid-program target runs a valid prefix before each
// invalid case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kmr_api.h"
#include "pipeline_model.hpp"

namespace kmrfuzz {

// Reads the input front to back; past its end every read yields 0, so every
// input, however short, decodes to a program.
class byte_reader {
public:
    byte_reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    uint8_t u8() { return pos_ < size_ ? data_[pos_++] : uint8_t(0); }
    uint16_t u16()
    {
        const uint32_t lo = u8();
        return static_cast<uint16_t>(lo | (uint32_t(u8()) << 8));
    }
    uint32_t u32()
    {
        const uint32_t lo = u16();
        return lo | (uint32_t(u16()) << 16);
    }
    // A value in [0, n); 0 when n is 0.
    uint32_t below(uint32_t n) { return n == 0 ? 0 : (n <= 256 ? u8() % n : n <= 65536 ? u16() % n : u32() % n); }
    bool exhausted() const { return pos_ >= size_; }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// The entry-point families in the order of KMR_CPROTO_FAMILY_LIST (1D, 2D,
// 3D, accumulating 1D/2D/3D, masked, masked accumulating).
struct family {
    int dims;
    bool acc;
    bool masked;
};
constexpr int num_families = 8;
const family &family_of(int index);

// Issues one instruction: opcode, destination, vector A or scalar, vector B
// (ignored where the form has no such operand).
using issue_fn = void (*)(vinstr_t op, void *dest, void *a, int32_t scalar, void *b);
// The entry point (kmrsim_2D_VVWWS) or the typed call (kmr_2D_VVWWS) of a
// family and a mode value.
issue_fn entry_call(int family_index, int mode);
issue_fn typed_call(int family_index, int mode);

// Element sizes of a mode: vector sources, destination, computation type.
struct mode_sizes {
    int src;
    int dst;
    int comp;
};
mode_sizes sizes_of(int mode);

// Runs the pipeline reference model on an image for an instruction of the
// given mode (VMOV, VADD, VADDC or VCMV_Z, the opcodes the model knows):
// rows of L elements in lane groups of G, scalar operand A where the form
// has one.
using reference_fn = void (*)(simtest::image &im, const std::vector<simtest::ref::row> &rows, int L, int G,
                              int32_t scalar, vinstr_t op);
reference_fn reference_call(int mode);
bool reference_knows(vinstr_t op);

// Per-instruction limits that keep an iteration fast.
constexpr int64_t max_elements_per_instruction = 8192;
constexpr int64_t max_elements_per_program = 1 << 17;
constexpr int max_steps = 64;
constexpr size_t host_buffer_bytes = 4096;

// What a run leaves behind, with every address made relative, so that the
// two runs of a program can be compared byte for byte.
struct outcome {
    std::vector<uint8_t> mem, flags, mask, host;
    std::vector<uint8_t> stats;  // the statistics record, as bytes
    std::vector<int64_t> trace;  // registers, mask state, queried values, pending DMA
    int steps = 0;
};

// First difference between two outcomes, or an empty string.
std::string first_difference(const outcome &x, const outcome &y);

// Decodes and runs valid programs. Every step keeps its operands inside the
// scratchpad (or the mask memory), so no step may end in an assertion or a
// refusal; a step that cannot be placed is skipped.
class program {
public:
    // check_reference: compare each instruction the pipeline reference model
    // covers with that model as it runs (aborting on a difference).
    program(const uint8_t *data, size_t size, bool check_reference);
    ~program();

    // Decodes a configuration and initialises the simulator with it, fills
    // the memories from the input's seed and forgets custom registrations.
    void init();
    // Decodes and runs one step; false when the input is exhausted or the
    // step limit reached.
    bool step();
    // Name of the last step's action, for reports.
    const char *last_action() const { return last_action_; }
    int steps_run() const { return steps_; }
    outcome snapshot() const;
    byte_reader &reader() { return r_; }

    // Geometry of the initialised simulator.
    uint8_t *sp_base() const;
    size_t sp_size() const;
    uint8_t *host() { return host_.data(); }

private:
    void set_length();
    void set_2d();
    void set_3d();
    void instruction();
    void mask_setup();
    void dma(bool to_vector);
    void custom_registration();
    void statistics();
    void host_write();
    void vector_library();
    uint32_t stride_value(uint32_t elem);

    byte_reader r_;
    bool check_reference_;
    std::vector<uint8_t> host_;
    std::vector<int64_t> trace_;
    int steps_ = 0;
    int64_t work_ = 0;
    int64_t last_dest_ = 0;  // scratchpad offset of the last instruction's destination
    int custom_lanes_[KMRSIM_NUM_CUSTOM] = {};
    bool custom_registered_[KMRSIM_NUM_CUSTOM] = {};
    const char *last_action_ = "init";
};

// Runs a whole program on one path (the whole-row path enabled or not),
// stopping after `step_limit` steps.
outcome run_program(const uint8_t *data, size_t size, bool whole_row, bool check_reference,
                    int step_limit = max_steps);

// The valid-program target: runs the program on both paths and with the
// reference model; aborts with a report on any difference.
int run_valid(const uint8_t *data, size_t size);

// The invalid-program target: valid prefixes, each followed by one invalid
// case run in a child process; aborts when a case ends in anything but its
// assertion or an "Error: " refusal that changed nothing.
int run_invalid(const uint8_t *data, size_t size);

}  // namespace kmrfuzz
