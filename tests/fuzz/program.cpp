// Decoding and running valid programs, and the valid-program target: every
// program runs once with the whole-row path and once through the lane-group
// pipeline only, and both runs must leave the same memories, statistics and
// queried values; the instructions the pipeline reference model covers are
// checked against it as they run.
#include "program.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "Vector.hpp"

// The engine's switch between its two paths (declared in engine.hpp).
namespace kmrsim {
extern bool whole_row_path_enabled;
}

namespace kmrfuzz {

namespace {

// Deterministic fill of the memories from the input's seed.
struct xorshift {
    uint32_t x;
    uint32_t next()
    {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    }
};

kmr_sim_t &state()
{
    return *get_the_kmrsim();
}

uintptr_t addr(const void *p)
{
    return reinterpret_cast<uintptr_t>(p);
}

// Whether [p, p + bytes) lies in the scratchpad.
bool in_scratchpad(uintptr_t p, size_t bytes)
{
    const kmr_tqm_t &t = state().tqm;
    const uintptr_t base = addr(t.scratchpad_addr), end = addr(t.scratchpad_end);
    return p >= base && p <= end && bytes <= end - p;
}

// ---------------------------------------------------------------------------
// Custom functions. Each is a pure function of its arguments, so both runs
// of a program see the same results; the lane-group size of the instruction
// being issued is set by the program before it issues one.
int custom_group = 0;

template <typename T>
void custom_body(kmrsim_custom_args *x, int kind)
{
    using U = std::make_unsigned_t<T>;
    const int G = custom_group;
    T *const a = static_cast<T *>(x->a);
    T *const af = static_cast<T *>(x->a_flag);
    T *const b = static_cast<T *>(x->b);
    T *const bf = static_cast<T *>(x->b_flag);
    T *const out = static_cast<T *>(x->out);
    T *const of = static_cast<T *>(x->out_flag);
    T *const en = static_cast<T *>(x->valid_in);
    const U sel = static_cast<U>(x->opcode_select);
    const size_t group_bytes = size_t(G) * sizeof(T);
    for (int i = 0; i < G; ++i) {
        switch (kind) {
        case 0:
            out[i] = static_cast<T>(U(a[i]) + U(b[i]) + sel);
            of[i] = static_cast<T>((af[i] ^ bf[i]) & 1);
            break;
        case 1:  // clears every other enable
            out[i] = static_cast<T>(U(a[i]) * 3u - U(b[i]));
            of[i] = static_cast<T>(x->start);
            if (i & 1)
                en[i] = 0;
            break;
        case 2:
            out[i] = static_cast<T>(a[i] ^ b[i]);
            of[i] = 0;
            break;
        case 3:  // reads the previous destination values
            out[i] = static_cast<T>(U(out[i]) + 1u);
            of[i] = bf[i];
            break;
        default: {  // changes its source arrays
            const T old = a[i];
            a[i] = 0;
            af[i] = 1;
            out[i] = static_cast<T>(U(b[i]) - U(old));
            of[i] = static_cast<T>(x->end);
            break;
        }
        }
    }
    const uintptr_t dest = addr(x->dest_addr_in);
    if (kind == 2 && in_scratchpad(dest, 0)) {
        // Redirects the lane group one group forward or back, when that stays
        // in the scratchpad.
        const uintptr_t to = (sel & 1) != 0 ? dest - group_bytes : dest + group_bytes;
        if (in_scratchpad(to, group_bytes))
            x->dest_addr_out = reinterpret_cast<void *>(to);
    }
    if (kind == 3 && in_scratchpad(dest, group_bytes)) {
        // Enables every position, past the row's end and under the mask.
        for (int i = 0; i < G; ++i)
            en[i] = 1;
    }
}

template <int Kind>
void custom_function(kmrsim_custom_args *x)
{
    switch (x->opsize * 2 + (x->is_signed != 0 ? 0 : 1)) {
    case 0: custom_body<int8_t>(x, Kind); break;
    case 1: custom_body<uint8_t>(x, Kind); break;
    case 2: custom_body<int16_t>(x, Kind); break;
    case 3: custom_body<uint16_t>(x, Kind); break;
    case 4: custom_body<int32_t>(x, Kind); break;
    default: custom_body<uint32_t>(x, Kind); break;
    }
}

constexpr kmrsim_custom_func_t custom_functions[] = {custom_function<0>, custom_function<1>, custom_function<2>,
                                                     custom_function<3>, custom_function<4>};
constexpr uint32_t num_custom_functions = sizeof custom_functions / sizeof custom_functions[0];

// ---------------------------------------------------------------------------
// Vector-library expressions over n-element vectors of T: temporaries,
// comparisons, masked regions, sums, 2D vectors and overlapping views.
template <typename T>
void vector_expressions(byte_reader &r)
{
    using namespace KMR;
    const int n = 1 + r.u8() % 48;
    const T x = static_cast<T>(r.u8());
    const unsigned kind = r.u8() % 7u;
    // Room for the vectors, a 2D one and the temporaries at the free end.
    if (kmr_sp_getfree() < int(8 * size_t(n) * sizeof(T) + 4096))
        return;
    const kmr_sim_t &s = state();
    Vector<T> a(n), b(n), c(n);
    a = x + ENUM;
    b = (a * x) ^ ENUM;
    switch (kind) {
    case 0: c = a + b; break;
    case 1: c = a * b - a; break;
    case 2: c = select(a < b, a, b); break;
    case 3:
        if (s.mask_memory != nullptr && n <= s.tqm.max_masked_vector_length) {
            KMR_WHERE(a > b)
            {
                c = a - b;
            }
        }
        break;
    case 4: c[0] = a; break;
    case 5: {
        Vector<T, 2> m(n, 2, n);
        m = ENUM + x;
        c = m.get_row(1) ^ a;
        break;
    }
    default:
        if (n >= 2)
            a[RANGE(1, n)] = a[RANGE(0, n - 1)] + b[RANGE(0, n - 1)];
        break;
    }
}

// A stride register value read back as the engine uses it: sign-extended
// from the width of the scratchpad size.
int64_t stride_of(uint32_t reg)
{
    const uint32_t size = uint32_t(state().tqm.scratchpad_size);
    const uint32_t v = _KMR_GET1(reg) & (size - 1);
    return (v & (size >> 1)) != 0 ? int64_t(v) - int64_t(size) : int64_t(v);
}

// One operand of an instruction: an offset into the scratchpad (or the mask
// memory), its row and matrix strides and its bytes per row.
struct placed {
    bool used;
    bool in_mask;
    int64_t off;
    int64_t s2, s3, len;
    // Lowest and one-past-highest byte offsets over every row.
    int64_t lo(int64_t R, int64_t M) const { return off + std::min<int64_t>(0, (R - 1) * s2) + std::min<int64_t>(0, (M - 1) * s3); }
    int64_t hi(int64_t R, int64_t M) const
    {
        return off + std::max<int64_t>(0, (R - 1) * s2) + std::max<int64_t>(0, (M - 1) * s3) + len;
    }
};

// KMRFUZZ_VERBOSE set in the environment: every step is described on
// standard error (for replaying a failing input).
bool verbose()
{
    static const bool on = std::getenv("KMRFUZZ_VERBOSE") != nullptr;
    return on;
}

}  // namespace

// ---------------------------------------------------------------------------

program::program(const uint8_t *data, size_t size, bool check_reference)
    : r_(data, size), check_reference_(check_reference), host_(host_buffer_bytes, 0)
{}

program::~program()
{
    kmrsim_destroy();
}

uint8_t *program::sp_base() const
{
    return static_cast<uint8_t *>(state().tqm.scratchpad_addr);
}

size_t program::sp_size() const
{
    return size_t(state().tqm.scratchpad_size);
}

void program::init()
{
    // 1 to 256 lanes, powers of two or any small count; 4 to 64 KB of
    // scratchpad; no mask memory or a depth of 1 to 64.
    const uint8_t lb = r_.u8();
    const int lanes = (lb & 0x80) != 0 ? 1 + (lb & 15) : 1 << (lb % 9);
    const int kb = 4 << (r_.u8() % 5);
    const uint8_t mb = r_.u8();
    const int depth = mb % 4 == 0 ? 0 : 1 + (mb >> 2) % 64;
    const unsigned fw = r_.u8(), fh = r_.u8(), fb = r_.u8();
    xorshift rng{r_.u32() | 1u};

    kmrsim_init(lanes, kb, depth, fw, fh, fb);
    // Registrations outlive initialisation: a program starts without any.
    kmrsim_set_custom_instruction(0, KMRSIM_NUM_CUSTOM, 0, nullptr);
    kmrsim_reset_stats();
    std::fill(std::begin(custom_lanes_), std::end(custom_lanes_), 0);
    std::fill(std::begin(custom_registered_), std::end(custom_registered_), false);

    kmr_sim_t &s = state();
    // Whether the mask status has been read survives initialisation (it
    // belongs to the last setup); each run of a program starts unread.
    s.mask_status_read = 0;
    uint8_t *const base = sp_base();
    for (size_t i = 0; i < sp_size(); ++i) {
        const uint32_t v = rng.next();
        base[i] = static_cast<uint8_t>(v);
        s.flag_memory[i] = (v >> 29) == 0 ? 1 : 0;
    }
    if (s.mask_memory != nullptr)
        for (size_t i = 0; i < 4 * size_t(s.tqm.max_masked_vector_length); ++i)
            s.mask_memory[i] = (rng.next() & 3) == 0 ? 0 : 1;
    for (uint8_t &h : host_)
        h = static_cast<uint8_t>(rng.next());
}

bool program::step()
{
    if (r_.exhausted() || steps_ >= max_steps)
        return false;
    ++steps_;
    const uint8_t action = r_.u8();
    switch (action % 32) {
    case 0:
    case 1: set_length(); break;
    case 2: set_2d(); break;
    case 3: set_3d(); break;
    case 16:
    case 17: mask_setup(); break;
    case 18:
    case 19: dma(true); break;
    case 20: dma(false); break;
    case 21:
        last_action_ = "sync";
        if (action & 0x20)
            kmr_sync();
        else
            kmr_sim_sync();
        break;
    case 22:
        last_action_ = "DMA mode";
        // Deferred, immediate, or an unknown mode that ignores requests.
        kmrsim_set_dma_type(r_.u8() % 3u);
        break;
    case 23:
    case 24: custom_registration(); break;
    case 25: statistics(); break;
    case 26: host_write(); break;
    case 27:
    case 28: vector_library(); break;
    case 29:
        if (action >= 0xE0) {
            // A second initialisation: fresh memories, queued DMA dropped,
            // custom registrations kept without lanes.
            last_action_ = "re-initialisation";
            const int lanes = 1 << (r_.u8() % 9);
            kmrsim_init(lanes, 4 << (r_.u8() % 5), r_.u8() % 3 * 8, 6, 5, 4);
            std::fill(std::begin(custom_lanes_), std::end(custom_lanes_), 0);
            break;
        }
        instruction();
        break;
    default: instruction(); break;
    }
    if (verbose())
        std::fprintf(stderr, "kmrfuzz: step %d: %s\n", steps_, last_action_);
    return true;
}

// A stride of elements of `elem` bytes: zero, within a few rows of the
// vector length (rows that overlap, touch or lie apart, forwards and
// backwards), any small byte distance, or anything; sometimes with bits
// above the register's width set, which the register drops.
uint32_t program::stride_value(uint32_t elem)
{
    const uint32_t size = uint32_t(sp_size());
    const int64_t L = std::min<int64_t>(_KMR_GET1(REG_VL), 2048);
    int64_t s = 0;
    switch (r_.u8() % 5) {
    case 0: s = 0; break;
    case 1: s = (int64_t(r_.below(uint32_t(4 * L + 1))) - 2 * L) * elem; break;
    case 2: s = int64_t(r_.u8()) - 128; break;
    case 3: s = L * elem * (1 + r_.u8() % 3) * ((r_.u8() & 1) != 0 ? -1 : 1); break;
    default: s = int64_t(r_.below(size)) - int64_t(size / 2); break;
    }
    uint32_t v = static_cast<uint32_t>(s) & (size - 1);
    if (r_.u8() & 1)
        v |= r_.u32() & ~(size - 1);
    return v;
}

void program::set_length()
{
    last_action_ = "vector length";
    const kmr_sim_t &s = state();
    const uint32_t size = uint32_t(sp_size());
    const uint32_t lanes = uint32_t(s.tqm.vector_lanes);
    uint32_t v = 0;
    switch (r_.u8() % 4) {
    case 0: v = r_.u8() % 40u; break;
    case 1: v = lanes * (r_.u8() % 16u) + r_.u8() % 3u - 1u; break;  // around whole lane groups
    case 2: v = r_.below(2049); break;
    default: v = uint32_t(s.tqm.max_masked_vector_length) + r_.u8() % 2u; break;
    }
    if (v > 1u << 20)
        v = 0;
    if (r_.u8() & 1)
        v += (1u + r_.u8() % 8u) * 2u * size;  // wraps back to v
    switch (r_.u8() % 3) {
    case 0: KMR_SET_VL(KMR_SEL_VL, v, v); break;
    case 1: kmr_set_vl(static_cast<int>(v)); break;
    default: KMR_SET(REG_VL, v); break;
    }
}

void program::set_2d()
{
    last_action_ = "2D registers";
    const uint32_t size = uint32_t(sp_size());
    uint32_t rows = 1 + r_.u8() % 8u;
    if (r_.u8() % 16 == 0)
        rows = 0;
    if (r_.u8() & 1)
        rows += (1u + r_.u8() % 4u) * 2u * size;
    const uint32_t elem = 1u << (r_.u8() % 3);
    const uint32_t d2 = stride_value(elem);
    uint32_t a2 = stride_value(elem), b2 = stride_value(elem);
    const uint8_t how = r_.u8();
    // In place: a source with the destination's stride.
    if (how & 2)
        a2 = d2;
    if (how & 4)
        b2 = d2;
    if (how & 1) {
        KMR_SET_VL(KMR_SEL_COUNT, rows, d2);
        KMR_SET_VL(KMR_SEL_STRIDES, a2, b2);
    } else {
        KMR_SET(REG_ROWS, rows);
        KMR_SET(REG_ID2, d2);
        KMR_SET(REG_IA2, a2);
        KMR_SET(REG_IB2, b2);
    }
}

void program::set_3d()
{
    last_action_ = "3D registers";
    uint32_t mats = 1 + r_.u8() % 4u;
    if (r_.u8() % 16 == 0)
        mats = 0;
    const uint32_t elem = 1u << (r_.u8() % 3);
    const uint32_t d3 = stride_value(elem);
    uint32_t a3 = stride_value(elem), b3 = stride_value(elem);
    const uint8_t how = r_.u8();
    if (how & 2)
        a3 = d3;
    if (how & 4)
        b3 = d3;
    if (how & 1) {
        KMR_SET_VL3D(KMR_SEL_COUNT, mats, d3);
        KMR_SET_VL3D(KMR_SEL_STRIDES, a3, b3);
    } else {
        KMR_SET(REG_MATS, mats);
        KMR_SET(REG_ID3, d3);
        KMR_SET(REG_IA3, a3);
        KMR_SET(REG_IB3, b3);
    }
}

void program::instruction()
{
    last_action_ = "instruction";
    kmr_sim_t &s = state();
    int fam = r_.u8() % num_families;
    const int mode = r_.u8() % KMRSIM_NUM_MODES;
    const uint8_t ob = r_.u8();
    const uint8_t how = r_.u8();
    vinstr_t op = static_cast<vinstr_t>(ob % VCUSTOM0);
    if (ob >= 208) {
        const int k = ob % KMRSIM_NUM_CUSTOM;
        if (custom_registered_[k] && custom_lanes_[k] > 0)
            op = static_cast<vinstr_t>(VCUSTOM0 + k);
    }
    if (family_of(fam).masked && s.mask_memory == nullptr)
        fam = family_of(fam).acc ? 3 : 0;  // the unmasked 1D family of the same kind
    const family f = family_of(fam);
    const bool custom = op >= VCUSTOM0;

    const mode_sizes z = sizes_of(mode);
    const int form = KMRSIM_MODE_FORM(mode);
    const bool a_vec = form == KMRSIM_FORM_VE || form == KMRSIM_FORM_VV;
    const bool b_vec = form == KMRSIM_FORM_SV || form == KMRSIM_FORM_VV;
    const int64_t L = f.masked ? int64_t(s.mask_length) : int64_t(s.regs[REG_VL]);
    const int64_t R = f.dims >= 2 ? int64_t(s.regs[REG_ROWS]) : 1;
    const int64_t M = f.dims == 3 ? int64_t(s.regs[REG_MATS]) : 1;
    const int64_t elements = L * R * M;
    if (elements > max_elements_per_instruction || work_ + elements > max_elements_per_program)
        return;
    work_ += elements + 1;
    const int lanes = custom ? custom_lanes_[op - VCUSTOM0] : s.tqm.vector_lanes;
    const int G = std::max(1, lanes * 4 / z.comp);

    const int64_t d2 = f.dims >= 2 ? stride_of(REG_ID2) : 0, d3 = f.dims == 3 ? stride_of(REG_ID3) : 0;
    const int64_t a2 = f.dims >= 2 ? stride_of(REG_IA2) : 0, a3 = f.dims == 3 ? stride_of(REG_IA3) : 0;
    const int64_t b2 = f.dims >= 2 ? stride_of(REG_IB2) : 0, b3 = f.dims == 3 ? stride_of(REG_IB3) : 0;

    // Operands around one anchor: B near A, the destination near A or B, at
    // a distance of whole elements within a few lane groups, of any few
    // bytes, of exactly a row, or anywhere.
    const int64_t size = int64_t(sp_size());
    const int64_t anchor = r_.below(uint32_t(size));
    auto delta = [&](int64_t e) -> int64_t {
        switch (r_.u8() % 5) {
        case 0: return 0;
        case 1: return (int64_t(r_.below(uint32_t(16 * G + 1))) - 8 * G) * e;
        case 2: return int64_t(r_.u8() % 129) - 64;
        case 3: return int64_t(r_.below(uint32_t(size))) - anchor;
        default: return (r_.u8() & 1) != 0 ? L * e : -L * e;
        }
    };
    placed dst{true, false, 0, d2, d3, f.acc ? z.dst : L * z.dst};
    placed a{a_vec, false, anchor, a2, a3, L * z.src};
    placed b{b_vec, false, anchor + delta(z.src), b2, b3, L * z.src};
    dst.off = ((how & 1) != 0 ? a.off : b.off) + delta(z.dst);

    // One-dimensional instructions may take an operand in the mask memory
    // (the range check admits [mask, mask + max masked length]).
    const int64_t mask_room = s.mask_memory != nullptr ? int64_t(s.tqm.max_masked_vector_length) : 0;
    if ((how & 6) == 6 && f.dims == 1 && mask_room > 0) {
        placed &p = (how & 8) != 0 || !a_vec ? dst : a;
        if (p.len <= mask_room) {
            p.in_mask = true;
            p.off = r_.below(uint32_t(mask_room - p.len + 1));
        }
    }

    // Shift the scratchpad operands together so that every row of each
    // lies in the scratchpad; skip the instruction when they cannot fit.
    const int64_t Rs = std::max<int64_t>(R, 1), Ms = std::max<int64_t>(M, 1);
    int64_t lo = INT64_MAX, hi = INT64_MIN;
    for (const placed *p : {&dst, &a, &b}) {
        if (!p->used || p->in_mask)
            continue;
        lo = std::min(lo, p->lo(Rs, Ms));
        hi = std::max(hi, p->hi(Rs, Ms));
    }
    if (lo == INT64_MAX)
        lo = hi = 0;  // every operand in the mask memory
    if (hi - lo > size)
        return;
    const int64_t shift = lo < 0 ? -lo : hi > size ? size - hi : 0;
    for (placed *p : {&dst, &a, &b})
        if (!p->in_mask)
            p->off += shift;

    uint8_t *const base = sp_base();
    auto where = [&](const placed &p) -> void * {
        return p.in_mask ? static_cast<void *>(s.mask_memory + p.off) : static_cast<void *>(base + p.off);
    };
    const int32_t scalar = (how & 16) != 0 ? static_cast<int32_t>(r_.u32()) : int32_t(r_.u8()) - 128;
    const issue_fn issue = (how & 32) != 0 ? typed_call(fam, mode) : entry_call(fam, mode);

    // The pipeline reference model covers unmasked, non-accumulating
    // instructions of its opcodes in the scratchpad, with no DMA pending
    // (which would land in the middle of the instruction).
    const bool modelled = check_reference_ && reference_knows(op) && !f.acc && !f.masked && !dst.in_mask &&
                          !a.in_mask && s.dma_queue == nullptr;
    simtest::image expected;
    if (modelled) {
        expected.mem.assign(base, base + size);
        expected.flags.assign(s.flag_memory, s.flag_memory + size);
        std::vector<simtest::ref::row> rows;
        for (int64_t m = 0; m < M; ++m)
            for (int64_t r = 0; r < R; ++r)
                rows.push_back({dst.off + m * d3 + r * d2, a_vec ? a.off + m * a3 + r * a2 : -1,
                                b_vec && op != VMOV ? b.off + m * b3 + r * b2 : -1});
        reference_call(mode)(expected, rows, int(L), G, scalar, op);
    }

    custom_group = G;
    if (!dst.in_mask)
        last_dest_ = dst.off;
    if (verbose())
        std::fprintf(stderr,
                     "kmrfuzz: step %d: %s family %d mode %d opcode %d L %lld R %lld M %lld dest %s%lld A %s%lld "
                     "B %lld strides d %lld/%lld a %lld/%lld b %lld/%lld lanes %d scalar %d\n",
                     steps_, (how & 32) != 0 ? "typed call" : "entry point", fam, mode, int(op), (long long)L,
                     (long long)R, (long long)M, dst.in_mask ? "mask+" : "", (long long)dst.off,
                     a.in_mask ? "mask+" : "", (long long)a.off, (long long)b.off, (long long)d2, (long long)d3,
                     (long long)a2, (long long)a3, (long long)b2, (long long)b3, lanes, scalar);
    issue(op, where(dst), where(a), scalar, where(b));

    if (modelled) {
        simtest::image got;
        got.mem.assign(base, base + size);
        got.flags.assign(s.flag_memory, s.flag_memory + size);
        if (!(got == expected)) {
            std::fprintf(stderr,
                         "kmrfuzz: %s differs from the pipeline reference model at step %d: mode %d family %d "
                         "opcode %d L %lld R %lld M %lld dest %lld A %lld B %lld strides d %lld/%lld a %lld/%lld "
                         "b %lld/%lld lanes %d: %s\n",
                         kmrsim::whole_row_path_enabled ? "whole-row run" : "pipelined run", steps_, mode, fam,
                         int(op), (long long)L, (long long)R, (long long)M, (long long)dst.off, (long long)a.off,
                         (long long)b.off, (long long)d2, (long long)d3, (long long)a2, (long long)a3,
                         (long long)b2, (long long)b3, lanes, simtest::first_difference(got, expected).c_str());
            std::abort();
        }
    }
}

void program::mask_setup()
{
    last_action_ = "mask setup";
    kmr_sim_t &s = state();
    const uint8_t w = r_.u8() % 3;
    const int sign = r_.u8() & 1;
    const int form = r_.u8() % 4;
    const vinstr_t op = static_cast<vinstr_t>(r_.u8() % VCUSTOM0);
    const uint8_t how = r_.u8();
    if (s.mask_memory == nullptr)
        return;
    const int64_t vl = s.regs[REG_VL];
    const int64_t mvl = s.tqm.max_masked_vector_length;
    if (vl > mvl)
        return;
    const bool refine = (how & 1) != 0;
    // A refinement reads the old mask's length of source elements, a fresh
    // setup the vector length.
    const int64_t n = std::max<int64_t>(vl, refine ? s.mask_length : 0) << w;
    work_ += n + 1;
    const auto mode = static_cast<kmrsim_vmode_t>(KMRSIM_MODE_VALUE(form, w, w, sign));
    void *src = nullptr;
    if ((how & 6) == 6 && n <= mvl)
        src = s.mask_memory + r_.below(uint32_t(mvl - n + 1));  // the mask as its own source
    else if (n <= int64_t(sp_size()))
        src = sp_base() + r_.below(uint32_t(int64_t(sp_size()) - n + 1));
    else
        return;
    if (refine)
        kmrsim_setup_mask_masked(mode, op, src);
    else
        kmrsim_setup_mask(mode, op, src);
    if (how & 8) {
        uint32_t status = 0;
        kmr_get_mask(&status);
        trace_.push_back(status);
    }
}

void program::dma(bool to_vector)
{
    last_action_ = to_vector ? "DMA to the scratchpad" : "DMA to the host";
    const size_t size = sp_size();
    const size_t n = std::min<size_t>(r_.below(1025), std::min(size, host_buffer_bytes));
    int64_t off = r_.below(uint32_t(size - n + 1));
    uint8_t *const host_side = host_.data() + r_.below(uint32_t(host_buffer_bytes - n + 1));
    const uint8_t how = r_.u8();
    // Anywhere, or around the last instruction's destination, so that the
    // next instructions touch the transfer at its start, end or middle.
    if (how % 8 == 1)
        off = std::clamp<int64_t>(last_dest_ + int64_t(r_.u16() % 512) - 256, 0, int64_t(size - n));
    uint8_t *const sp_side = sp_base() + off;
    // The host side stays in the host buffer: a "host" buffer in the
    // scratchpad is read or written when the transfer completes, which may
    // be in the middle of an instruction that writes there, and then shows
    // how far its write-back has got (which the two paths need not agree on).
    if (to_vector)
        sim_dma_to_vector(sp_side, host_side, n);
    else
        sim_dma_to_host(host_side, sp_side, n);
}

void program::custom_registration()
{
    last_action_ = "custom registration";
    const int first = r_.u8() % KMRSIM_NUM_CUSTOM;
    const int count = 1 + r_.u8() % (KMRSIM_NUM_CUSTOM - first);
    const uint8_t lb = r_.u8();
    const int lanes = lb % 4 == 0 ? state().tqm.vector_lanes : 1 + lb % 32;
    const kmrsim_custom_func_t fn = custom_functions[r_.u8() % num_custom_functions];
    kmrsim_set_custom_instruction(first, count, lanes, fn);
    for (int k = first; k < first + count; ++k) {
        custom_lanes_[k] = lanes;
        custom_registered_[k] = true;
    }
}

void program::statistics()
{
    last_action_ = "statistics";
    switch (r_.u8() % 6) {
    case 0: {
        const kmrsim_stats_t st = kmrsim_get_stats();
        uint64_t h = 1469598103934665603ull;
        const auto *p = reinterpret_cast<const uint8_t *>(&st);
        for (size_t i = 0; i < sizeof st; ++i)
            h = (h ^ p[i]) * 1099511628211ull;
        trace_.push_back(static_cast<int64_t>(h));
        break;
    }
    case 1: kmrsim_reset_stats(); break;
    case 2: kmrsim_disable_warnings(); break;
    case 3: kmrsim_enable_warnings(); break;
    case 4: {
        uint32_t status = 0;
        kmr_get_mask(&status);
        trace_.push_back(status);
        break;
    }
    default: trace_.push_back(kmr_sp_getused()); break;
    }
}

void program::host_write()
{
    last_action_ = "host write";
    const size_t n = r_.u8() % 64u;
    const size_t off = r_.below(uint32_t(sp_size() - n + 1));
    const bool flags = (r_.u8() & 1) != 0;
    uint8_t *const p = flags ? state().flag_memory + off : sp_base() + off;
    for (size_t i = 0; i < n; ++i)
        p[i] = flags ? r_.u8() & 1 : r_.u8();
}

void program::vector_library()
{
    last_action_ = "vector library";
    work_ += 512;
    if (work_ > max_elements_per_program)
        return;
    switch (r_.u8() % 4) {
    case 0: vector_expressions<int8_t>(r_); break;
    case 1: vector_expressions<uint8_t>(r_); break;
    case 2: vector_expressions<uint16_t>(r_); break;
    default: vector_expressions<int32_t>(r_); break;
    }
}

outcome program::snapshot() const
{
    const kmr_sim_t &s = state();
    outcome o;
    const uint8_t *const base = sp_base();
    const size_t size = sp_size();
    o.mem.assign(base, base + size);
    o.flags.assign(s.flag_memory, s.flag_memory + size);
    if (s.mask_memory != nullptr)
        o.mask.assign(s.mask_memory, s.mask_memory + 4 * size_t(s.tqm.max_masked_vector_length));
    o.host = host_;
    const auto *st = reinterpret_cast<const uint8_t *>(&s.stats);
    o.stats.assign(st, st + sizeof s.stats);
    o.trace = trace_;
    for (int reg = 0; reg <= REG_IB3; ++reg)
        o.trace.push_back(s.regs[reg]);
    o.trace.push_back(s.mask_length);
    o.trace.push_back(s.mask_status_read);
    o.trace.push_back(kmr_sp_getused());
    // The transfers still queued, with their addresses made relative.
    auto where = [&](const uint8_t *p) -> int64_t {
        if (in_scratchpad(addr(p), 0))
            return 1000000000 + int64_t(p - base);
        return 2000000000 + int64_t(addr(p) - addr(host_.data()));
    };
    for (const dma_request_t *n = s.dma_queue; n != nullptr; n = n->next) {
        o.trace.push_back(where(n->to));
        o.trace.push_back(where(n->from));
        o.trace.push_back(int64_t(n->size));
        o.trace.push_back(n->to_host);
    }
    o.steps = steps_;
    return o;
}

// ---------------------------------------------------------------------------

std::string first_difference(const outcome &x, const outcome &y)
{
    auto bytes = [](const char *what, const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) -> std::string {
        if (a.size() != b.size())
            return std::string(what) + " sizes " + std::to_string(a.size()) + " vs " + std::to_string(b.size());
        for (size_t i = 0; i < a.size(); ++i)
            if (a[i] != b[i])
                return std::string(what) + " byte " + std::to_string(i) + ": " + std::to_string(a[i]) + " vs " +
                       std::to_string(b[i]);
        return {};
    };
    std::string d = bytes("scratchpad", x.mem, y.mem);
    if (d.empty())
        d = bytes("flag memory", x.flags, y.flags);
    if (d.empty())
        d = bytes("mask memory", x.mask, y.mask);
    if (d.empty())
        d = bytes("host buffer", x.host, y.host);
    if (d.empty())
        d = bytes("statistics record", x.stats, y.stats);
    if (d.empty() && x.trace != y.trace) {
        size_t i = 0;
        while (i < x.trace.size() && i < y.trace.size() && x.trace[i] == y.trace[i])
            ++i;
        d = "registers, mask state, queried values or pending DMA: entry " + std::to_string(i);
    }
    return d;
}

outcome run_program(const uint8_t *data, size_t size, bool whole_row, bool check_reference, int step_limit)
{
    kmrsim::whole_row_path_enabled = whole_row;
    outcome o;
    {
        program p(data, size, check_reference);
        p.init();
        while (p.steps_run() < step_limit && p.step()) {
        }
        o = p.snapshot();
    }
    kmrsim::whole_row_path_enabled = true;
    return o;
}

int run_valid(const uint8_t *data, size_t size)
{
    const outcome whole = run_program(data, size, true, true);
    const outcome piped = run_program(data, size, false, true);
    const std::string d = first_difference(whole, piped);
    if (d.empty())
        return 0;
    // Find the first step after which the two paths differ, for the report.
    int step = 1;
    while (step < whole.steps &&
           first_difference(run_program(data, size, true, false, step), run_program(data, size, false, false, step))
               .empty())
        ++step;
    const char *action = "?";
    {
        program p(data, size, false);
        p.init();
        while (p.steps_run() < step && p.step()) {
        }
        action = p.last_action();
    }
    std::fprintf(stderr,
                 "kmrfuzz: the whole-row path and the pipeline differ after step %d of %d (%s): whole-row vs "
                 "pipelined %s\n",
                 step, whole.steps, action, d.c_str());
    std::abort();
}

}  // namespace kmrfuzz
