// Initialisation and destruction of the simulator: configures the processor
// descriptor, allocates the scratchpad, flag memory and mask memory, resets
// the instruction registers and hands the descriptor to the host API.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kmr_api.h"
#include "kmrsim.hpp"
#include "observers.hpp"

namespace {

#define KMRSIM_STR2_(x) #x
#define KMRSIM_STR_(x) KMRSIM_STR2_(x)

// Where the memories lie on the host. The scratchpad begins on a page, so
// that operands aligned on the scratchpad are aligned for the host's vector
// loads and stores too (no access splits a cache line where the hardware's
// would not). Element loops store values, flags and mask entries side by
// side, and a store and a later load whose addresses agree in their low 12
// bits make the host processor wait as if they were the same address. So
// the flag memory begins half a page past a page boundary and the mask
// memory a quarter page past one: an element's flag and mask entry then
// never agree there with the values near it, which shifted and in-place
// operands read, nor with each other.
constexpr size_t kPage = 4096;
constexpr size_t kFlagSkew = kPage / 2;
constexpr size_t kMaskSkew = kPage / 4;

// Zero-filled block of `bytes` bytes at `skew` bytes past a page boundary
// (released by free_skewed). Running on without the memory would only move
// the fault to the first instruction, so a failed allocation stops the
// program with a diagnostic.
uint8_t *alloc_zeroed(uint64_t bytes, size_t skew, const char *what)
{
    // Exactly the bytes asked for past the skew (at least one), so that the
    // address sanitizer still sees an access past the end.
    const size_t n = (bytes == 0 ? 1 : static_cast<size_t>(bytes)) + skew;
    void *p = nullptr;
    if (bytes > SIZE_MAX - skew - 1 || posix_memalign(&p, kPage, n) != 0) {
        std::fprintf(stderr, "Error: kmrsim_init cannot allocate %llu bytes of %s\n",
                     static_cast<unsigned long long>(bytes), what);
        std::exit(EXIT_FAILURE);
    }
    std::memset(p, 0, n);
    return static_cast<uint8_t *>(p) + skew;
}

void free_skewed(uint8_t *p, size_t skew)
{
    if (p != nullptr)
        std::free(p - skew);
}

// Releases the three memories and the queued DMA requests that refer to
// them, and clears every field that points into them or describes them, so
// that nothing keeps treating released memory as valid.
void release_memories(kmr_sim_t &s)
{
    kmrsim::drop_dma_queue();
    free_skewed(s.flag_memory, kFlagSkew);
    std::free(s.tqm.scratchpad_addr);
    free_skewed(s.mask_memory, kMaskSkew);
    s.flag_memory = nullptr;
    s.tqm.sp = nullptr;
    s.tqm.scratchpad_addr = nullptr;
    s.tqm.scratchpad_end = nullptr;
    s.tqm.scratchpad_size = 0;
    s.mask_memory = nullptr;
    s.mask_length = 0;
    s.tqm.max_masked_vector_length = 0;
    s.tqm.mask_partitions = 0;
}

// Stops the program when a configuration cannot be simulated: carrying on
// would only move the failure to the first instruction, with a message that
// no longer names the cause.
void refuse(const char *format, long long value)
{
    std::fflush(stdout);
    std::fprintf(stderr, "Error: kmrsim_init: ");
    std::fprintf(stderr, format, value);
    std::fprintf(stderr, "; the simulator is not initialised\n");
    std::exit(EXIT_FAILURE);
}

constexpr bool power_of_two(uint64_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

// The smallest power of two not below v (v <= 2^31).
uint32_t ceil_power_of_two(uint32_t v)
{
    uint32_t p = 1;
    while (p < v)
        p <<= 1;
    return p;
}

}  // namespace

// On a state that was never initialised this releases nothing and leaves
// every field as it was (zero).
extern "C" void kmrsim_destroy(void)
{
    release_memories(kmrsim::sim());
}

extern "C" void kmrsim_init(int vector_lanes, int scratchpad_kb, int mask_depth, unsigned fxp_word_frac_bits,
                            unsigned fxp_half_frac_bits, unsigned fxp_byte_frac_bits)
{
    kmr_sim_t &s = kmrsim::sim();
    kmr_tqm_t &tqm = s.tqm;

    // Configurations the simulator cannot model are refused before anything
    // changes. Lane counts and sizes that are not powers of two are modelled
    // (lane groups of 4 x lanes bytes, allocations rounded up to multiples of
    // that, registers as wide as for the next power of two), with a warning,
    // since the processor is built with powers of two.
    if (vector_lanes < 1 || vector_lanes > KMRSIM_MAX_LANES)
        refuse("%lld vector lanes (1 to " KMRSIM_STR_(KMRSIM_MAX_LANES) " lanes are simulated)", vector_lanes);
    if (scratchpad_kb < 1 || scratchpad_kb > KMRSIM_MAX_SCRATCHPAD_KB)
        refuse("a scratchpad of %lld KB (1 to " KMRSIM_STR_(KMRSIM_MAX_SCRATCHPAD_KB) " KB are simulated)",
               scratchpad_kb);
    if (mask_depth < 0 || int64_t(mask_depth) * vector_lanes > INT32_MAX / 4)
        refuse("a mask depth of %lld (0, or a depth whose mask memory of lanes x depth words fits 2 GB)",
               mask_depth);
    if (!power_of_two(static_cast<uint64_t>(vector_lanes)))
        std::fprintf(stderr, "Warning: kmrsim_init: %d vector lanes is not a power of two\n", vector_lanes);
    if (!power_of_two(static_cast<uint64_t>(scratchpad_kb)))
        std::fprintf(stderr, "Warning: kmrsim_init: a scratchpad of %d KB is not a power of two\n", scratchpad_kb);

    const int size = scratchpad_kb * 1024;

    // The memories of an earlier initialisation go whether or not the new
    // configuration matches: fresh blocks replace them, and requests still
    // queued for the old scratchpad are dropped unperformed.
    kmrsim_destroy();

    for (int i = 0; i < KMRSIM_NUM_REGS; ++i) {
        s.regs[i] = 0;
        s.reg_mask[i] = 0xFFFFFFFFu;
    }

    tqm.core_freq = 100000000;
    tqm.dma_alignment_bytes = static_cast<short>(4 * vector_lanes);
    tqm.scratchpad_alignment_bytes = static_cast<short>(4 * vector_lanes);
    tqm.vector_lanes = static_cast<short>(vector_lanes);
    tqm.fxp_word_frac_bits = static_cast<char>(fxp_word_frac_bits & 0x1Fu);
    tqm.fxp_half_frac_bits = static_cast<char>(fxp_half_frac_bits & 0xFu);
    tqm.fxp_byte_frac_bits = static_cast<char>(fxp_byte_frac_bits & 0x7u);

    const uint64_t sp_bytes = static_cast<uint64_t>(static_cast<int64_t>(size));
    tqm.scratchpad_addr = alloc_zeroed(sp_bytes, 0, "scratchpad");
    s.flag_memory = alloc_zeroed(sp_bytes, kFlagSkew, "flag memory");
    tqm.scratchpad_size = size;
    tqm.scratchpad_end = static_cast<uint8_t *>(tqm.scratchpad_addr) + size;
    tqm.sp = tqm.scratchpad_addr;
    tqm.fixed_point_support = 1;

    if (mask_depth != 0) {
        const int64_t mask_bytes = static_cast<int64_t>(vector_lanes) * static_cast<int64_t>(mask_depth) * 4;
        s.mask_memory = alloc_zeroed(static_cast<uint64_t>(mask_bytes), kMaskSkew, "mask memory");
        s.mask_length = 0;
        tqm.max_masked_vector_length =
            static_cast<int>(static_cast<uint32_t>(mask_depth) * static_cast<uint32_t>(vector_lanes));
        tqm.mask_partitions = 1;
    } else {
        tqm.mask_partitions = 0;
    }

    tqm.init = 0;
    tqm.spstack_top = 0;
    tqm.spstack_max = 0;
    for (int k = 0; k < KMRSIM_NUM_CUSTOM; ++k)
        kmrsim::custom_lanes(tqm, k) = 0;

    // Counts (vector length, rows, matrices) wrap at twice the scratchpad
    // size, strides at the scratchpad size (for a size that is not a power
    // of two, at the next power of two); registers 9..31 do not wrap.
    const uint32_t usize = ceil_power_of_two(static_cast<uint32_t>(size));
    const uint32_t count_mask = 2u * usize - 1u;
    const uint32_t stride_mask = usize - 1u;
    s.reg_mask[REG_VL] = count_mask;
    s.reg_mask[REG_ROWS] = count_mask;
    s.reg_mask[REG_MATS] = count_mask;
    s.reg_mask[REG_ID2] = stride_mask;
    s.reg_mask[REG_IA2] = stride_mask;
    s.reg_mask[REG_IB2] = stride_mask;
    s.reg_mask[REG_ID3] = stride_mask;
    s.reg_mask[REG_IA3] = stride_mask;
    s.reg_mask[REG_IB3] = stride_mask;

    s.dma_type = 0;
    s.warnings_enabled = 1;
    s.dma_queue = nullptr;
    s.dma_until_hook = &_internal_do_dma_until;
    kmrsim::observe_init();

    _kmr_init(&tqm);
}
