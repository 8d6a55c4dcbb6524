// The invalid-program target: after a valid prefix (run in the fuzzer's
// process), one invalid call runs in a child process. It must end in its
// assertion (the child dies of SIGABRT with the assertion text on standard
// error) or in an "Error: " refusal that leaves the memories (and, where
// nothing may be counted, the whole simulator state) as they were. Any other
// end (another signal, a sanitizer report, a silent return, a changed
// memory) aborts the fuzzer's process, so that libFuzzer reports the input.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "program.hpp"

namespace kmrfuzz {

namespace {

kmr_sim_t &state()
{
    return *get_the_kmrsim();
}

uintptr_t addr(const void *p)
{
    return reinterpret_cast<uintptr_t>(p);
}

// How a case must end.
enum class ending {
    assertion,       // SIGABRT with "Assertion" and the text
    refusal,         // normal return with "Error: " and the text; memories unchanged
    refusal_silent,  // the same, and the whole simulator state unchanged
};

struct invalid_case {
    std::string what;
    ending expected;
    std::string text;                                  // part of the expected message
    std::function<void()> prepare = [] {};             // valid set-up in the child
    std::function<void()> call;                        // the invalid call
};

// Whether [p, p + len) lies wholly in the range the range check exempts
// (the mask memory, both ends included): such a range is valid.
bool in_mask_exemption(uintptr_t p, int64_t len)
{
    const kmr_sim_t &s = state();
    if (s.mask_memory == nullptr || len < 0)
        return false;
    const uintptr_t m = addr(s.mask_memory), top = m + uintptr_t(uint32_t(s.tqm.max_masked_vector_length));
    return p >= m && p <= top && uintptr_t(len) <= top - p;
}

// An address at which `len` bytes lie partly or wholly outside the
// scratchpad: `k` bytes before its start or `k` bytes past its end, on the
// side where the range cannot fall into the mask memory.
uint8_t *outside(uint8_t *base, size_t size, int64_t len, uint32_t k, bool before)
{
    const uintptr_t b = addr(base);
    uintptr_t p = before ? b - k : b + size - uintptr_t(std::max<int64_t>(len, 0)) + k;
    if (in_mask_exemption(p, len))
        p = before ? b + size - uintptr_t(std::max<int64_t>(len, 0)) + k : b - k;
    return reinterpret_cast<uint8_t *>(p);
}

// A custom function that sends its lane group out of the scratchpad.
uintptr_t redirect_target = 0;
void redirect_outside(kmrsim_custom_args *x)
{
    x->dest_addr_out = reinterpret_cast<void *>(redirect_target);
}
// A custom function that enables every position of its lane group.
int enable_group = 0;
void enable_all(kmrsim_custom_args *x)
{
    for (int i = 0; i < enable_group; ++i) {
        switch (x->opsize) {
        case 0: static_cast<uint8_t *>(x->valid_in)[i] = 1; break;
        case 1: static_cast<uint16_t *>(x->valid_in)[i] = 1; break;
        default: static_cast<uint32_t *>(x->valid_in)[i] = 1; break;
        }
    }
}

// Decodes one invalid case from the reader, for the simulator as the prefix
// left it.
invalid_case decode_case(program &p)
{
    byte_reader &r = p.reader();
    kmr_sim_t &s = state();
    uint8_t *const base = p.sp_base();
    const size_t size = p.sp_size();
    const uint8_t kind = r.u8();
    const int fam = r.u8() % 6;  // the unmasked families
    const int mode = r.u8() % KMRSIM_NUM_MODES;
    const bool typed = (r.u8() & 1) != 0;
    const issue_fn issue = typed ? typed_call(fam, mode) : entry_call(fam, mode);
    const family f = family_of(fam);
    const mode_sizes z = sizes_of(mode);
    const int form = KMRSIM_MODE_FORM(mode);
    const bool a_vec = form == KMRSIM_FORM_VE || form == KMRSIM_FORM_VV;
    const bool b_vec = form == KMRSIM_FORM_SV || form == KMRSIM_FORM_VV;
    const uint32_t k = 1 + r.below(4096);
    const bool before = (r.u8() & 1) != 0;
    const int32_t scalar = static_cast<int32_t>(r.u32());
    const uint32_t vl = r.below(300);
    invalid_case c;

    switch (kind % 10) {
    case 0: {
        // An operand row partly or wholly outside the scratchpad; every other
        // operand at the start, all strides 0 but the bad operand's.
        const vinstr_t op = static_cast<vinstr_t>(r.u8() % VCUSTOM0);
        const uint32_t rows = 1 + r.u8() % 3u, mats = 1 + r.u8() % 2u;
        const uint32_t stride = r.below(64);
        int which = r.u8() % 3;  // destination, A, B
        if ((which == 1 && !a_vec) || (which == 2 && (!b_vec || op == VMOV)))
            which = 0;
        const int64_t len = which == 0 ? (f.acc ? z.dst : int64_t(vl) * z.dst) : int64_t(vl) * z.src;
        const int64_t reach = (f.dims >= 2 ? int64_t(rows - 1) * stride : 0) + (f.dims == 3 ? int64_t(mats - 1) * stride : 0);
        uint8_t *const bad = outside(base, size, reach + len, k, before);
        c.what = "operand outside the scratchpad";
        c.expected = ending::assertion;
        c.text = "sp_ptr";
        c.prepare = [=] {
            KMR_SET_VL(KMR_SEL_VL, vl, vl);
            for (uint32_t reg = REG_ROWS; reg <= REG_IB3; ++reg)
                KMR_SET(reg, 0);
            KMR_SET(REG_ROWS, rows);
            KMR_SET(REG_MATS, mats);
            const uint32_t s2 = which == 0 ? REG_ID2 : which == 1 ? REG_IA2 : REG_IB2;
            KMR_SET(s2, stride);
            KMR_SET(s2 + 4, stride);  // the matrix stride of the same operand
        };
        c.call = [=] {
            issue(op, which == 0 ? bad : base, which == 1 ? bad : base, scalar, which == 2 ? bad : base);
        };
        break;
    }
    case 1: {
        const uint32_t reg = 32 + r.u32() % (UINT32_MAX - 32);
        const uint32_t sel = r.u8();
        c.expected = ending::assertion;
        switch (r.u8() % 5) {
        case 0:
            c.what = "write of a register past 31";
            c.text = "reg < 32";
            c.call = [=] { KMR_SET(reg, 1); };
            break;
        case 1:
            c.what = "read of a register past 31";
            c.text = "reg < 32";
            c.call = [=] { (void)_KMR_GET1(reg); };
            break;
        case 2:
            c.what = "unknown vector-length selector";
            c.text = "KMR_SET_VL";
            c.call = [=] { KMR_SET_VL(sel == 1 || sel == 3 || sel == 4 ? 2 : sel, 1, 1); };
            break;
        case 3:
            c.what = "unknown 3D selector";
            c.text = "KMR_SET_VL3D";
            c.call = [=] { KMR_SET_VL3D(sel == 3 || sel == 4 ? 5 : sel, 1, 1); };
            break;
        default:
            c.what = "two different vector lengths";
            c.text = "new_vl1 == new_vl2";
            c.call = [=] { KMR_SET_VL(KMR_SEL_VL, vl, vl + 1 + sel); };
            break;
        }
        break;
    }
    case 2: {
        // Refused before anything is counted; the operands are never looked at.
        const uint32_t raw = r.u32();
        const int32_t opcode = (raw & 1) != 0 ? int32_t(VCUSTOM15) + 1 + int32_t(raw % 1000u)
                                             : -1 - int32_t(raw >> 2);
        uint8_t *const junk = reinterpret_cast<uint8_t *>(uintptr_t(r.u32()) << 8);
        c.what = "opcode that is not an instruction";
        c.expected = ending::refusal_silent;
        c.text = "is not an instruction";
        c.call = [=] { issue(static_cast<vinstr_t>(opcode), junk, junk, scalar, junk); };
        break;
    }
    case 3: {
        const int kc = r.u8() % KMRSIM_NUM_CUSTOM;
        const bool no_lanes = (r.u8() & 1) != 0;
        c.what = no_lanes ? "custom opcode registered without lanes" : "unregistered custom opcode";
        c.expected = ending::refusal;
        c.text = no_lanes ? "lane count of 0" : "NO VCUSTOM";
        c.prepare = [=] {
            kmrsim_set_custom_instruction(kc, 1, 0, no_lanes ? enable_all : nullptr);
            KMR_SET_VL(KMR_SEL_VL, vl, vl);
        };
        c.call = [=] { issue(static_cast<vinstr_t>(VCUSTOM0 + kc), base, base, scalar, base); };
        break;
    }
    case 4: {
        const int lanes = s.tqm.vector_lanes;
        const bool setup = (r.u8() & 1) != 0;
        const bool acc = (r.u8() & 1) != 0;
        const vinstr_t op = static_cast<vinstr_t>(r.u8() % VCUSTOM0);
        c.what = setup ? "mask setup without mask memory" : "masked instruction without mask memory";
        c.expected = ending::refusal_silent;
        c.text = "without mask memory";
        c.prepare = [=] {
            kmrsim_init(lanes, int(size / 1024), 0, 6, 5, 4);
            KMR_SET_VL(KMR_SEL_VL, vl, vl);
        };
        c.call = [=] {
            uint8_t *const b = static_cast<uint8_t *>(state().tqm.scratchpad_addr);
            if (setup)
                kmrsim_setup_mask(static_cast<kmrsim_vmode_t>(mode), op, b);
            else
                (typed ? typed_call(acc ? 7 : 6, mode) : entry_call(acc ? 7 : 6, mode))(op, b, b, scalar, b);
        };
        break;
    }
    case 5: {
        const int lanes = s.tqm.vector_lanes;
        const vinstr_t op = static_cast<vinstr_t>(r.u8() % VCUSTOM0);
        const int sub = r.u8() % 3;
        const int w = r.u8() % 3;
        int bad_mode = mode;
        if (sub == 1 && KMRSIM_MODE_SRC_WIDTH(mode) == KMRSIM_MODE_DST_WIDTH(mode))
            bad_mode = KMRSIM_MODE_VALUE(form, w, (w + 1) % 3, KMRSIM_MODE_IS_UNSIGNED(mode));
        if (sub == 2)
            bad_mode = (r.u8() & 1) != 0 ? KMRSIM_NUM_MODES + int(r.u8()) : -1 - int(r.u8());
        c.what = sub == 0 ? "mask setup longer than the mask" : "mask setup with a converting or unknown mode";
        c.expected = ending::assertion;
        c.text = sub == 0 ? "current_vector_length <= max_masked_vector_length" : "MASKED SETUP";
        c.prepare = [=] {
            // A mask longer than the vector length register counts (it wraps
            // at twice the scratchpad size) cannot be exceeded: such a
            // simulator is set up again with a short mask.
            if (state().mask_memory == nullptr ||
                uint64_t(state().tqm.max_masked_vector_length) + 64 >= state().reg_mask[REG_VL])
                kmrsim_init(lanes, int(size / 1024), 4, 6, 5, 4);
            const uint32_t mvl = uint32_t(state().tqm.max_masked_vector_length);
            const uint32_t n = sub == 0 ? mvl + 1 + vl % 64 : std::min(vl, mvl);
            KMR_SET_VL(KMR_SEL_VL, n, n);
        };
        c.call = [=] {
            kmrsim_setup_mask(static_cast<kmrsim_vmode_t>(bad_mode), op, state().tqm.scratchpad_addr);
        };
        break;
    }
    case 6: {
        const int first = int(int8_t(r.u8()));
        const int count = 1 + r.u8() % 40;
        const bool bad = first < 0 || first + count - 1 >= KMRSIM_NUM_CUSTOM;
        const int g_first = bad ? first : -1 - first;
        c.what = "custom group outside VCUSTOM0..VCUSTOM15";
        c.expected = ending::refusal_silent;
        c.text = "lies outside VCUSTOM0..VCUSTOM15";
        c.call = [=] { kmrsim_set_custom_instruction(g_first, count, 4, enable_all); };
        break;
    }
    case 7: {
        const size_t n = 1 + r.below(2048);
        uint8_t *const bad = outside(base, size, int64_t(n), k, before);
        const bool to_vector = (r.u8() & 1) != 0;
        const uint32_t dma_mode = r.u8() & 1;  // deferred or immediate (another mode ignores requests)
        c.what = "DMA request outside the scratchpad";
        c.expected = ending::assertion;
        c.text = "sp_ptr";
        c.prepare = [=] { kmrsim_set_dma_type(dma_mode); };
        c.call = [=] {
            std::vector<uint8_t> h(n);
            if (to_vector)
                sim_dma_to_vector(bad, h.data(), n);
            else
                sim_dma_to_host(h.data(), bad, n);
        };
        break;
    }
    default: {
        // A custom instruction whose lane group lands outside the scratchpad:
        // redirected there, or enabled past a row that ends at its end.
        const int kc = r.u8() % KMRSIM_NUM_CUSTOM;
        const bool redirect = (kind % 10) == 8;
        const int lanes = 1 + r.u8() % 16;
        const int G = lanes * 4 / z.comp > 0 ? lanes * 4 / z.comp : 1;
        const uint32_t len = 1 + vl % uint32_t(G > 1 ? G - 1 : 1);  // a row shorter than its lane group
        const uint32_t n = G > 1 ? len : 1;
        c.what = redirect ? "custom lane group redirected outside the scratchpad"
                          : "custom lane group enabled past the scratchpad's end";
        c.expected = ending::assertion;
        c.text = "sp_ptr";
        // Only enabled positions are written: the row's n elements.
        uint8_t *const target = outside(base, size, int64_t(n) * z.dst, k, before);
        uint8_t *const dest = redirect ? base : base + size - size_t(n) * size_t(z.dst);
        // A one-element lane group has no position past its row: redirect.
        const bool use_redirect = redirect || G == 1;
        if (use_redirect)
            c.what = "custom lane group redirected outside the scratchpad";
        c.prepare = [=] {
            redirect_target = addr(target);
            enable_group = G;
            kmrsim_set_custom_instruction(kc, 1, lanes, use_redirect ? redirect_outside : enable_all);
            KMR_SET_VL(KMR_SEL_VL, n, n);
            for (uint32_t reg = REG_ROWS; reg <= REG_IB3; ++reg)
                KMR_SET(reg, reg == REG_ROWS || reg == REG_MATS ? 1 : 0);
        };
        const int ufam = f.acc ? fam - 3 : fam;  // accumulating rows write only their sum
        const issue_fn plain = typed ? typed_call(ufam, mode) : entry_call(ufam, mode);
        c.call = [=] { plain(static_cast<vinstr_t>(VCUSTOM0 + kc), use_redirect ? base : dest, base, scalar, base); };
        break;
    }
    }
    return c;
}

// The simulator memories, and the whole state record, for the refusal checks.
struct image {
    std::vector<uint8_t> mem, flags, mask, record;
    bool memories_equal(const image &o) const { return mem == o.mem && flags == o.flags && mask == o.mask; }
};

image take_image()
{
    const kmr_sim_t &s = state();
    image im;
    const auto *sp = static_cast<const uint8_t *>(s.tqm.scratchpad_addr);
    const size_t size = size_t(s.tqm.scratchpad_size);
    im.mem.assign(sp, sp + size);
    im.flags.assign(s.flag_memory, s.flag_memory + size);
    if (s.mask_memory != nullptr)
        im.mask.assign(s.mask_memory, s.mask_memory + 4 * size_t(s.tqm.max_masked_vector_length));
    const auto *rec = reinterpret_cast<const uint8_t *>(&s);
    im.record.assign(rec, rec + sizeof s);
    return im;
}

// Exit codes of the child beside 0.
constexpr int changed_memory = 3;
constexpr int changed_state = 4;

[[noreturn]] void run_child(const invalid_case &c, int err_fd)
{
    dup2(err_fd, STDERR_FILENO);
    close(err_fd);
    // The fuzzer's own handlers would turn the expected abort into a crash
    // report of the child.
    std::signal(SIGABRT, SIG_DFL);
    c.prepare();
    {
        // The memories' places, for the report of a failing case.
        const kmr_sim_t &s = state();
        std::fprintf(stderr, "kmrfuzz: scratchpad [%p, %p), mask memory %p (%d bytes exempt), redirect target %p\n",
                     s.tqm.scratchpad_addr, s.tqm.scratchpad_end, static_cast<void *>(s.mask_memory),
                     s.tqm.max_masked_vector_length, reinterpret_cast<void *>(redirect_target));
    }
    const image before = take_image();
    c.call();
    const image after = take_image();
    if (!before.memories_equal(after)) {
        std::fprintf(stderr, "kmrfuzz: the refused call changed the memories\n");
        _exit(changed_memory);
    }
    if (c.expected == ending::refusal_silent && before.record != after.record) {
        std::fprintf(stderr, "kmrfuzz: the refused call changed the simulator state\n");
        _exit(changed_state);
    }
    _exit(0);
}

void check_case(const invalid_case &c)
{
    int fds[2];
    if (pipe(fds) != 0) {
        std::perror("kmrfuzz: pipe");
        std::abort();
    }
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("kmrfuzz: fork");
        std::abort();
    }
    if (pid == 0) {
        close(fds[0]);
        run_child(c, fds[1]);
    }
    close(fds[1]);
    std::string err;
    char buf[4096];
    // The fuzzer's timer interrupts reads and waits (EINTR); stopping the
    // read early would kill the child with SIGPIPE.
    for (;;) {
        const ssize_t got = read(fds[0], buf, sizeof buf);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        err.append(buf, size_t(got));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            std::perror("kmrfuzz: waitpid");
            std::abort();
        }
    }

    const bool sanitizer = err.find("Sanitizer") != std::string::npos || err.find("runtime error") != std::string::npos;
    const bool has_text = err.find(c.text) != std::string::npos;
    bool ok = false;
    if (c.expected == ending::assertion)
        ok = WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT && err.find("Assertion") != std::string::npos &&
             has_text && !sanitizer;
    else
        ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && err.find("Error: ") != std::string::npos && has_text &&
             !sanitizer;
    if (ok)
        return;
    std::string how;
    if (WIFEXITED(status))
        how = "exited with status " + std::to_string(WEXITSTATUS(status));
    else if (WIFSIGNALED(status))
        how = std::string("died of signal ") + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
    else
        how = "ended with wait status " + std::to_string(status);
    std::fprintf(stderr, "kmrfuzz: invalid case '%s' should end in %s with '%s'; it %s. Its standard error:\n%s\n",
                 c.what.c_str(), c.expected == ending::assertion ? "an assertion" : "an \"Error: \" refusal",
                 c.text.c_str(), how.c_str(), err.c_str());
    std::abort();
}

}  // namespace

int run_invalid(const uint8_t *data, size_t size)
{
    program p(data, size, false);
    p.init();
    for (int n = 0; n < 3 && !p.reader().exhausted(); ++n) {
        const int prefix = p.reader().u8() % 8;
        for (int i = 0; i < prefix && p.step(); ++i) {
        }
        check_case(decode_case(p));
    }
    return 0;
}

}  // namespace kmrfuzz
