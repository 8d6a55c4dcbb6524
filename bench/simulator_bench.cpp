// Simulation speed. Each case runs the simulator and, beside it in the same
// binary, a plain native loop that computes the same values and flags; the
// table at the end gives nanoseconds per element for both and their ratio.
// The DMA cases also time the copies the simulator must make for them,
// without its bookkeeping, in a last table.
#include <benchmark/benchmark.h>
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define KMRSIM_BENCH_CALLGRIND 1
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "filter3x3.h"
#include "filter3x3_ref.h"
#include "fir.h"
#include "fir_ref.h"
#include "kmr_api.h"
#include "matmul.h"
#include "matmul_ref.h"
#include "threshold.h"
#include "threshold_ref.h"

namespace {

// ---------------------------------------------------------------------------
// Cases: a simulator run and its native twin over the same number of
// elements.

struct bench_case {
    std::string name;
    int64_t elements;                // elements per iteration
    bool kernel = false;             // a worked kernel: report instructions per second
    std::function<void()> setup;     // puts the simulator in the case's state
    std::function<void()> simulate;  // one iteration on the simulator
    std::function<void()> native;    // the same work as a plain loop
    // Optional: only the memory copies the simulator cannot avoid for this
    // case (values and flags, in its order, through memmove), without any
    // bookkeeping. The time of the simulator over it is its own overhead.
    std::function<void()> floor = {};
};

std::vector<bench_case> &cases()
{
    static std::vector<bench_case> all;
    return all;
}

// Host-side arrays for the native loops.
struct host_arrays {
    std::vector<int32_t> a, b, out, flag;
    std::vector<int8_t> out8, flag8;
    std::vector<int16_t> out16, flag16;
    std::vector<uint8_t> mask;
    explicit host_arrays(size_t n)
        : a(n), b(n), out(n + 16), flag(n + 16), out8(n), flag8(n), out16(n), flag16(n), mask(n)
    {
        for (size_t i = 0; i < n; ++i) {
            a[i] = int32_t(i * 2654435761u);
            b[i] = int32_t(i * 40503u + 7);
            mask[i] = i % 2 == 0;
        }
    }
};

host_arrays &host()
{
    static host_arrays h(1 << 16);
    return h;
}

inline int32_t add_overflow_flag(int32_t a, int32_t b, int32_t r)
{
    return ((a ^ r) & (b ^ r)) < 0;
}

void native_vadd(size_t n)
{
    host_arrays &h = host();
    for (size_t i = 0; i < n; ++i) {
        const int32_t r = int32_t(uint32_t(h.a[i]) + uint32_t(h.b[i]));
        h.out[i] = r;
        h.flag[i] = add_overflow_flag(h.a[i], h.b[i], r);
    }
    benchmark::ClobberMemory();
}

void native_vmul_scalar(size_t n, int32_t s)
{
    host_arrays &h = host();
    for (size_t i = 0; i < n; ++i) {
        const int32_t r = int32_t(uint32_t(s) * uint32_t(h.b[i]));
        h.out[i] = r;
        h.flag[i] = ((r ^ s ^ h.b[i]) < 0);
    }
    benchmark::ClobberMemory();
}

template <typename D>
void native_vadd_narrow(size_t n, std::vector<D> &out, std::vector<D> &flag)
{
    host_arrays &h = host();
    for (size_t i = 0; i < n; ++i) {
        const int32_t r = int32_t(uint32_t(h.a[i]) + uint32_t(h.b[i]));
        out[i] = D(r);
        flag[i] = D(add_overflow_flag(h.a[i], h.b[i], r));
    }
    benchmark::ClobberMemory();
}

// Scratchpad vectors of the simulator cases.
struct sim_arrays {
    int32_t *a, *b, *c;
    int8_t *c8;
    int16_t *c16;
};

sim_arrays sim_setup(int lanes, uint32_t vl)
{
    kmrsim_init(lanes, 1024, 1024, 6, 5, 4);
    kmrsim_set_dma_type(0);
    const size_t n = 1 << 16;
    sim_arrays s;
    s.a = static_cast<int32_t *>(kmr_sp_malloc_nodebug(n * 4));
    s.b = static_cast<int32_t *>(kmr_sp_malloc_nodebug(n * 4));
    s.c = static_cast<int32_t *>(kmr_sp_malloc_nodebug(n * 4 + 4096));
    s.c8 = static_cast<int8_t *>(kmr_sp_malloc_nodebug(n));
    s.c16 = static_cast<int16_t *>(kmr_sp_malloc_nodebug(n * 2));
    for (size_t i = 0; i < n; ++i) {
        s.a[i] = host().a[i];
        s.b[i] = host().b[i];
    }
    kmr_set_vl(int(vl));
    return s;
}

sim_arrays arrays;  // of the case being run

void add(std::string name, int64_t elements, std::function<void()> setup, std::function<void()> simulate,
         std::function<void()> native, bool kernel = false)
{
    cases().push_back({std::move(name), elements, kernel, std::move(setup), std::move(simulate), std::move(native)});
}

// Instructions the simulator has counted since kmrsim_init.
int64_t instructions_counted()
{
    const kmrsim_stats_t st = kmrsim_get_stats();
    int64_t n = 0;
    for (uint32_t c : st.instruction_count)
        n += c;
    return n;
}

void custom_add(kmrsim_custom_args *args)
{
    // A word lane group: out = a + b with the add flags.
    const int32_t *a = static_cast<const int32_t *>(args->a);
    const int32_t *b = static_cast<const int32_t *>(args->b);
    int32_t *out = static_cast<int32_t *>(args->out);
    int32_t *flag = static_cast<int32_t *>(args->out_flag);
    for (int i = 0; i < 4; ++i) {
        out[i] = int32_t(uint32_t(a[i]) + uint32_t(b[i]));
        flag[i] = add_overflow_flag(a[i], b[i], out[i]);
    }
}

// The copies of the DMA cases, in the simulator's order, between the same
// host buffers and the same scratchpad and flag addresses as the simulated
// program (the case's setup must have run). By instructions: VMOV k first
// completes the rest of block k - 1, then the half of block k it reads,
// then moves that half's values and flags; the sync completes the rest of
// block 63.
void dma_floor(bool by_instructions, const uint8_t *in, uint8_t *out)
{
    uint8_t *const a = reinterpret_cast<uint8_t *>(arrays.a), *const c = reinterpret_cast<uint8_t *>(arrays.c);
    uint8_t *const fa = static_cast<uint8_t *>(get_flg_addr(a)), *const fc = static_cast<uint8_t *>(get_flg_addr(c));
    for (int k = 0; k < 64; ++k) {
        if (!by_instructions) {
            std::memmove(a + k * 1024, in + k * 1024, 1024);
            continue;
        }
        if (k > 0)
            std::memmove(a + k * 1024 - 512, in + k * 1024 - 512, 512);
        std::memmove(a + k * 1024, in + k * 1024, 512);
        std::memmove(c + k * 1024, a + k * 1024, 512);
        std::memmove(fc + k * 1024, fa + k * 1024, 512);
    }
    if (by_instructions)
        std::memmove(a + 65536 - 512, in + 65536 - 512, 512);
    for (int k = 0; k < 64; ++k)
        std::memmove(out + k * 1024, a + k * 1024, 1024);
    benchmark::ClobberMemory();
}

// The native twin of the DMA cases: the 64 KB in to a host array standing
// for the scratchpad, with the moves' values and word flags when the case
// has them (the first half of each 1 KB block to a second array), and the
// 64 KB out.
void native_dma(bool with_moves, const uint8_t *in, uint8_t *out)
{
    static std::vector<uint8_t> sp(65536), sp_flag(65536), moved(65536), moved_flag(65536);
    std::memcpy(sp.data(), in, 65536);
    if (with_moves) {
        for (int k = 0; k < 64; ++k) {
            std::memcpy(moved.data() + k * 1024, sp.data() + k * 1024, 512);
            std::memcpy(moved_flag.data() + k * 1024, sp_flag.data() + k * 1024, 512);
        }
    }
    std::memcpy(out, sp.data(), 65536);
    benchmark::ClobberMemory();
}

void define_cases()
{
    // 1, 2: word VADD VV over lanes and vector lengths.
    for (int lanes : {4, 64, 256}) {
        for (uint32_t vl : {64u, 1024u, 4096u}) {
            if (lanes != 4 && vl != 4096)
                continue;
            add(
                "VADD.VVWWS lanes=" + std::to_string(lanes) + " VL=" + std::to_string(vl), vl,
                [=] { arrays = sim_setup(lanes, vl); },
                [] { kmrsim_1D_VVWWS(V_VVWWS, VADD, arrays.c, arrays.a, arrays.b); }, [=] { native_vadd(vl); });
        }
    }
    // 3: other forms and widths.
    add(
        "VMUL.SVWWS VL=4096", 4096, [] { arrays = sim_setup(4, 4096); },
        [] { kmrsim_1D_SVWWS(V_SVWWS, VMUL, arrays.c, 3, arrays.b); }, [] { native_vmul_scalar(4096, 3); });
    add(
        "VADD.VEWWS VL=4096", 4096, [] { arrays = sim_setup(4, 4096); },
        [] { kmrsim_1D_VEWWS(V_VEWWS, VADD, arrays.c, arrays.a, 0); },
        [] {
            host_arrays &h = host();
            for (size_t i = 0; i < 4096; ++i) {
                const int32_t r = int32_t(uint32_t(h.a[i]) + uint32_t(i));
                h.out[i] = r;
                h.flag[i] = add_overflow_flag(h.a[i], int32_t(i), r);
            }
            benchmark::ClobberMemory();
        });
    add(
        "VADD.SEWWS VL=4096", 4096, [] { arrays = sim_setup(4, 4096); },
        [] { kmrsim_1D_SEWWS(V_SEWWS, VADD, arrays.c, 1, 0); },
        [] {
            host_arrays &h = host();
            for (size_t i = 0; i < 4096; ++i) {
                const int32_t r = int32_t(1u + uint32_t(i));
                h.out[i] = r;
                h.flag[i] = add_overflow_flag(1, int32_t(i), r);
            }
            benchmark::ClobberMemory();
        });
    add(
        "VADD.VVWBS VL=4096", 4096, [] { arrays = sim_setup(4, 4096); },
        [] { kmrsim_1D_VVWBS(V_VVWBS, VADD, arrays.c8, arrays.a, arrays.b); },
        [] { native_vadd_narrow(4096, host().out8, host().flag8); });
    add(
        "VADD.VVWHS VL=4096", 4096, [] { arrays = sim_setup(4, 4096); },
        [] { kmrsim_1D_VVWHS(V_VVWHS, VADD, arrays.c16, arrays.a, arrays.b); },
        [] { native_vadd_narrow(4096, host().out16, host().flag16); });

    // 4: overlapping VMOV (the pipeline decides the result: a clean shift).
    for (int shift : {1, 4}) {
        add(
            "VMOV dest=src+" + std::to_string(shift) + " VL=4096", 4096, [] { arrays = sim_setup(4, 4096); },
            [=] { kmrsim_1D_VVWWS(V_VVWWS, VMOV, arrays.c + shift, arrays.c, 0); },
            [=] {
                host_arrays &h = host();
                std::memmove(h.out.data() + shift, h.out.data(), 4096 * 4);
                std::memmove(h.flag.data() + shift, h.flag.data(), 4096 * 4);
                benchmark::ClobberMemory();
            });
    }

    // 5: 2D and 3D instructions.
    add(
        "VADD.2D 64x64", 64 * 64,
        [] {
            arrays = sim_setup(4, 64);
            KMR_SET_VL(3, 64, 256);
            KMR_SET_VL(4, 256, 256);
        },
        [] { kmrsim_2D_VVWWS(V_VVWWS, VADD, arrays.c, arrays.a, arrays.b); }, [] { native_vadd(64 * 64); });
    add(
        "VADD.3D 8x8x64", 8 * 8 * 64,
        [] {
            arrays = sim_setup(4, 64);
            KMR_SET_VL(3, 8, 256);
            KMR_SET_VL(4, 256, 256);
            KMR_SET_VL3D(3, 8, 2048);
            KMR_SET_VL3D(4, 2048, 2048);
        },
        [] { kmrsim_3D_VVWWS(V_VVWWS, VADD, arrays.c, arrays.a, arrays.b); }, [] { native_vadd(8 * 8 * 64); });

    // 5b: in-place 2D instructions whose source rows are other rows of the
    // destination (a vertical filter working in place, 64 rows of 64 words,
    // pitch 64 words): each row adds the next row (not yet rewritten) or the
    // previous one (already rewritten).
    for (int next : {1, -1}) {
        add(
            std::string("VADD.2D in place, B = ") + (next > 0 ? "next" : "previous") + " row 64x64", 64 * 64,
            [] {
                arrays = sim_setup(4, 64);
                KMR_SET_VL(3, 64, 256);
                KMR_SET_VL(4, 256, 256);
            },
            [=] {
                int32_t *x = arrays.c + 64;
                kmrsim_2D_VVWWS(V_VVWWS, VADD, x, x, x + next * 64);
            },
            [=] {
                host_arrays &h = host();
                int32_t *x = h.out.data() + 64;
                for (int r = 0; r < 64; ++r)
                    for (int k = 0; k < 64; ++k) {
                        const int32_t a = x[r * 64 + k], b = x[(r + next) * 64 + k];
                        const int32_t v = int32_t(uint32_t(a) + uint32_t(b));
                        x[r * 64 + k] = v;
                        h.flag[size_t(r * 64 + k)] = add_overflow_flag(a, b, v);
                    }
                benchmark::ClobberMemory();
            });
    }
    // 5c: short vectors of other kinds, per instruction.
    add(
        "VADD.SVWWS VL=64", 64, [] { arrays = sim_setup(4, 64); },
        [] { kmrsim_1D_SVWWS(V_SVWWS, VADD, arrays.c, 3, arrays.b); }, [] { native_vmul_scalar(64, 3); });
    add(
        "VADD.VVHHS VL=64", 64, [] { arrays = sim_setup(4, 64); },
        [] {
            kmrsim_1D_VVHHS(V_VVHHS, VADD, arrays.c16, reinterpret_cast<int16_t *>(arrays.a),
                            reinterpret_cast<int16_t *>(arrays.b));
        },
        [] { native_vadd_narrow(64, host().out16, host().flag16); });

    // 6: masks.
    add(
        "masked VADD.VVBBS half mask VL=1024", 1024,
        [] {
            arrays = sim_setup(4, 1024);
            int8_t *m = reinterpret_cast<int8_t *>(arrays.a);
            for (int i = 0; i < 1024; ++i)
                m[i] = int8_t(i % 2);
            kmrsim_setup_mask(V_VVBBS, VCMV_NZ, m);
        },
        [] {
            kmrsim_masked_1D_VVBBS(V_VVBBS, VADD, arrays.c8, reinterpret_cast<int8_t *>(arrays.b),
                                   reinterpret_cast<int8_t *>(arrays.b) + 1024);
        },
        [] {
            host_arrays &h = host();
            const int8_t *x = reinterpret_cast<const int8_t *>(h.b.data());
            for (size_t i = 0; i < 1024; ++i) {
                if (h.mask[i]) {
                    const int8_t r = int8_t(uint8_t(x[i]) + uint8_t(x[i + 1024]));
                    h.out8[i] = r;
                    h.flag8[i] = int8_t(((x[i] ^ r) & (x[i + 1024] ^ r)) < 0);
                }
            }
            benchmark::ClobberMemory();
        });
    add(
        "mask setup VCMV_NZ word VL=1024", 1024, [] { arrays = sim_setup(4, 1024); },
        [] { kmrsim_setup_mask(V_VVWWS, VCMV_NZ, arrays.b); },
        [] {
            host_arrays &h = host();
            for (size_t i = 0; i < 1024; ++i)
                h.mask[i] = h.b[i] != 0;
            benchmark::ClobberMemory();
        });

    // 7: accumulation.
    add(
        "acc VADD.VVWWS VL=4096", 4096, [] { arrays = sim_setup(4, 4096); },
        [] { kmrsim_acc_1D_VVWWS(V_VVWWS, VADD, arrays.c, arrays.a, arrays.b); },
        [] {
            host_arrays &h = host();
            int64_t sum = 0;
            for (size_t i = 0; i < 4096; ++i)
                sum += int32_t(uint32_t(h.a[i]) + uint32_t(h.b[i]));
            h.out[0] = int32_t(sum);
            benchmark::ClobberMemory();
        });

    // 8: a custom instruction.
    add(
        "VCUSTOM0 word add VL=4096", 4096,
        [] {
            arrays = sim_setup(4, 4096);
            kmrsim_set_custom_instruction(0, 1, 4, custom_add);
        },
        [] { kmrsim_1D_VVWWS(V_VVWWS, VCUSTOM0, arrays.c, arrays.a, arrays.b); }, [] { native_vadd(4096); });

    // 9: DMA, 64 KB in and out in 64 requests of 1 KB. The incoming
    // transfers are completed either by instructions that each read the
    // first half of a block (partial completion; the sync finishes the rest)
    // or by a sync.
    static std::vector<uint8_t> host_in(65536, 7), host_out(65536);
    for (bool by_instructions : {true, false}) {
        const std::string name =
            std::string("DMA 64KB in+out, completed by ") + (by_instructions ? "instructions" : "kmr_sync");
        add(
            name, 2 * 65536,
            [] { arrays = sim_setup(4, 128); },
            [=] {
                uint8_t *sp = reinterpret_cast<uint8_t *>(arrays.a);
                for (int k = 0; k < 64; ++k)
                    sim_dma_to_vector(sp + k * 1024, host_in.data() + k * 1024, 1024);
                if (by_instructions) {
                    for (int k = 0; k < 64; ++k)
                        kmrsim_1D_VVWWS(V_VVWWS, VMOV, arrays.c + k * 256, sp + k * 1024, 0);
                } else {
                    kmr_sync();
                }
                for (int k = 0; k < 64; ++k)
                    sim_dma_to_host(host_out.data() + k * 1024, sp + k * 1024, 1024);
                kmr_sync();
            },
            [=] { native_dma(by_instructions, host_in.data(), host_out.data()); });
        cases().back().floor = [=] { dma_floor(by_instructions, host_in.data(), host_out.data()); };
    }

    // 10: a 3x3 box filter over a 128x128 byte image with 2D instructions:
    // nine byte adds of 126 rows x 126 elements.
    add(
        "3x3 filter 128x128 bytes (9 2D instructions)", 126 * 126 * 9,
        [] {
            arrays = sim_setup(4, 126);
            KMR_SET_VL(3, 126, 128);
            KMR_SET_VL(4, 128, 128);
            uint8_t *img = reinterpret_cast<uint8_t *>(arrays.a);
            for (int i = 0; i < 128 * 128; ++i)
                img[i] = uint8_t(i * 31);
        },
        [] {
            int8_t *img = reinterpret_cast<int8_t *>(arrays.a);
            int8_t *out = arrays.c8;
            kmrsim_2D_VVBBS(V_VVBBS, VMOV, out, img, 0);
            for (int t = 1; t < 9; ++t)
                kmrsim_2D_VVBBS(V_VVBBS, VADD, out, out, img + (t / 3) * 128 + t % 3);
        },
        [] {
            host_arrays &h = host();
            const int8_t *img = reinterpret_cast<const int8_t *>(h.a.data());
            for (int r = 0; r < 126; ++r)
                for (int c = 0; c < 126; ++c) {
                    int8_t acc = img[r * 128 + c];
                    int8_t f = 0;
                    for (int t = 1; t < 9; ++t) {
                        const int8_t x = img[(r + t / 3) * 128 + c + t % 3];
                        const int8_t s = int8_t(uint8_t(acc) + uint8_t(x));
                        f = int8_t(((acc ^ s) & (x ^ s)) < 0);
                        acc = s;
                    }
                    h.out8[size_t(r * 126 + c)] = acc;
                    h.flag8[size_t(r * 126 + c)] = f;
                }
            benchmark::ClobberMemory();
        });
}

// ---------------------------------------------------------------------------
// The worked kernels (examples/kernels), with the DMA in and out, as the
// example programs run them; the native twin is the kernel's scalar
// reference. Elements are outputs.

struct kernel_data {
    std::vector<int16_t> signal, filtered, a, b, gated;
    std::vector<uint8_t> image, edges;
    std::vector<int32_t> product;
    threshold_counts counts{};
    kernel_data()
        : signal(5000), filtered(5000), a(64 * 64), b(64 * 64), gated(4096), image(640 * 480), edges(640 * 480),
          product(64 * 64)
    {
        fir_make_signal(signal.data(), 5000);
        filter3x3_make_image(image.data(), 640, 480);
        matmul_make_matrix(a.data(), 64, -1024, 1023, 0x1234567u);
        matmul_make_matrix(b.data(), 64, -1024, 1023, 0x89ABCDEu);
    }
};

kernel_data &kernels()
{
    static kernel_data k;
    return k;
}

void kernel_setup()
{
    kmrsim_init(4, 64, 256, 16, 15, 4);  // as the example programs
}

void define_kernel_cases()
{
    const threshold_params gate = {-24576, 24576, 512};
    for (const char *variant : {"flat", "vec"}) {
        const bool flat = variant[0] == 'f';
        const std::string suffix = std::string(" (") + variant + ")";
        add(
            "kernel FIR Q15 5000 samples 16 taps" + suffix, 5000, kernel_setup,
            [=] {
                kernel_data &k = kernels();
                (flat ? fir_flat : fir_vec)(k.signal.data(), k.filtered.data(), 5000, fir_taps, FIR_TAPS);
            },
            [] {
                kernel_data &k = kernels();
                fir_ref(k.signal.data(), k.filtered.data(), 5000, fir_taps, FIR_TAPS);
                benchmark::ClobberMemory();
            },
            true);
        add(
            "kernel Sobel 3x3 640x480 bytes" + suffix, 638 * 478, kernel_setup,
            [=] {
                kernel_data &k = kernels();
                (flat ? filter3x3_flat : filter3x3_vec)(k.image.data(), k.edges.data(), 640, 480);
            },
            [] {
                kernel_data &k = kernels();
                filter3x3_ref(k.image.data(), k.edges.data(), 640, 480);
                benchmark::ClobberMemory();
            },
            true);
        add(
            "kernel matmul 64x64 int16" + suffix, 64 * 64, kernel_setup,
            [=] {
                kernel_data &k = kernels();
                (flat ? matmul_flat : matmul_vec)(k.a.data(), k.b.data(), k.product.data(), 64);
            },
            [] {
                kernel_data &k = kernels();
                matmul_ref(k.a.data(), k.b.data(), k.product.data(), 64);
                benchmark::ClobberMemory();
            },
            true);
        add(
            "kernel threshold 4096 samples" + suffix, 4096, kernel_setup,
            [=] {
                kernel_data &k = kernels();
                (flat ? threshold_flat : threshold_vec)(k.signal.data(), k.gated.data(), 4096, gate, &k.counts);
            },
            [=] {
                kernel_data &k = kernels();
                threshold_ref(k.signal.data(), k.gated.data(), 4096, gate, &k.counts);
                benchmark::ClobberMemory();
            },
            true);
    }
}

// ---------------------------------------------------------------------------
// Runs every case twice (simulator, native) and prints the ratio table.

struct timing {
    double sim_ns = 0;
    double native_ns = 0;
    double floor_ns = 0;      // the case's unavoidable copies alone, when it has them
    double instructions = 0;  // simulated instructions per iteration (kernels)
};
std::map<std::string, timing> timings;
std::vector<std::string> order;

class ratio_reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0)
                continue;
            const std::string name = run.benchmark_name();
            const bool native = name.rfind("native/", 0) == 0;
            const std::string key = name.substr(name.find('/') + 1);
            const double ns = run.GetAdjustedRealTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            if (name.rfind("floor/", 0) == 0) {
                timings[key].floor_ns = ns;
                continue;
            }
            (native ? timings[key].native_ns : timings[key].sim_ns) = ns;
            const auto counted = run.counters.find("instr/iter");
            if (!native && counted != run.counters.end())
                timings[key].instructions = counted->second.value;
        }
    }
};

// Under callgrind: `kmrsim_bench --callgrind sim|native|floor NAME [ITERATIONS]`
// runs the case NAME (after one untimed run) ITERATIONS times (default 100)
// with instrumentation on only around those runs, so the instruction count
// that callgrind reports, divided by ITERATIONS, is the cost of one
// iteration. Run it as valgrind --tool=callgrind --instr-atstart=no.
int count_under_callgrind(int argc, char **argv)
{
    const std::string mode = argc > 2 ? argv[2] : "";
    if (argc < 4 || (mode != "sim" && mode != "native" && mode != "floor")) {
        std::fprintf(stderr, "usage: %s --callgrind sim|native|floor NAME [ITERATIONS]\n", argv[0]);
        return 2;
    }
    const int iterations = argc > 4 ? std::atoi(argv[4]) : 100;
    for (bench_case &bc : cases()) {
        if (bc.name != argv[3])
            continue;
        const std::function<void()> &run = mode == "floor" ? bc.floor : mode == "native" ? bc.native : bc.simulate;
        if (!run) {
            std::fprintf(stderr, "case '%s' has no floor to run\n", argv[3]);
            return 2;
        }
        if (mode != "native")
            bc.setup();
        run();
#ifdef KMRSIM_BENCH_CALLGRIND
        CALLGRIND_START_INSTRUMENTATION;
#endif
        for (int i = 0; i < iterations; ++i)
            run();
#ifdef KMRSIM_BENCH_CALLGRIND
        CALLGRIND_STOP_INSTRUMENTATION;
#endif
        std::printf("%s/%s: %d iterations, %lld elements each\n", mode.c_str(), bc.name.c_str(),
                    iterations, static_cast<long long>(bc.elements));
        return 0;
    }
    std::fprintf(stderr, "no case named '%s'\n", argv[3]);
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    define_cases();
    define_kernel_cases();
    if (argc > 1 && std::string(argv[1]) == "--callgrind")
        return count_under_callgrind(argc, argv);
    for (bench_case &bc : cases()) {
        order.push_back(bc.name);
        benchmark::RegisterBenchmark(("sim/" + bc.name).c_str(), [&bc](benchmark::State &state) {
            bc.setup();
            bc.simulate();  // first run of each kind sets up the executor's storage
            const int64_t before = instructions_counted();
            for (auto _ : state)
                bc.simulate();
            state.SetItemsProcessed(state.iterations() * bc.elements);
            if (bc.kernel) {
                // Simulated instructions per second and output elements per
                // second, beside the time per iteration.
                const double per_iteration =
                    double(instructions_counted() - before) / double(std::max<int64_t>(state.iterations(), 1));
                state.counters["instr/s"] =
                    benchmark::Counter(per_iteration, benchmark::Counter::kIsIterationInvariantRate);
                state.counters["elem/s"] =
                    benchmark::Counter(double(bc.elements), benchmark::Counter::kIsIterationInvariantRate);
                state.counters["instr/iter"] = per_iteration;
            }
        })->Unit(benchmark::kNanosecond);
        benchmark::RegisterBenchmark(("native/" + bc.name).c_str(), [&bc](benchmark::State &state) {
            for (auto _ : state)
                bc.native();
            state.SetItemsProcessed(state.iterations() * bc.elements);
            if (bc.kernel)
                state.counters["elem/s"] =
                    benchmark::Counter(double(bc.elements), benchmark::Counter::kIsIterationInvariantRate);
        })->Unit(benchmark::kNanosecond);
        if (bc.floor)
            benchmark::RegisterBenchmark(("floor/" + bc.name).c_str(), [&bc](benchmark::State &state) {
                bc.setup();
                for (auto _ : state)
                    bc.floor();
                state.SetItemsProcessed(state.iterations() * bc.elements);
            })->Unit(benchmark::kNanosecond);
    }
    benchmark::Initialize(&argc, argv);
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n%-48s %14s %14s %14s %8s\n", "case", "sim ns/elem", "native ns/elem", "sim ns/iter", "ratio");
    for (const std::string &name : order) {
        const auto it = timings.find(name);
        if (it == timings.end() || it->second.sim_ns == 0 || it->second.native_ns == 0)
            continue;
        const bench_case *bc = nullptr;
        for (const bench_case &c : cases())
            if (c.name == name)
                bc = &c;
        const double n = double(bc->elements);
        std::printf("%-48s %14.3f %14.3f %14.1f %8.1f\n", name.c_str(), it->second.sim_ns / n, it->second.native_ns / n,
                    it->second.sim_ns, it->second.sim_ns / it->second.native_ns);
    }

    std::printf("\n%-48s %14s %14s %14s %8s\n", "kernel", "sim instr/s", "sim elem/s", "native elem/s", "ratio");
    for (const bench_case &bc : cases()) {
        const auto it = timings.find(bc.name);
        if (!bc.kernel || it == timings.end() || it->second.sim_ns == 0 || it->second.native_ns == 0)
            continue;
        const double n = double(bc.elements);
        std::printf("%-48s %14.3g %14.3g %14.3g %8.1f\n", bc.name.c_str(),
                    it->second.instructions * 1e9 / it->second.sim_ns, n * 1e9 / it->second.sim_ns,
                    n * 1e9 / it->second.native_ns, it->second.sim_ns / it->second.native_ns);
    }

    // Cases whose unavoidable copies alone are timed: how far the copies are
    // from the native loop, and how far the simulator is from the copies.
    std::printf("\n%-48s %14s %14s %14s %8s %8s\n", "copies", "sim ns/iter", "copies ns/iter", "native ns/iter",
                "c/native", "sim/c");
    for (const std::string &name : order) {
        const auto it = timings.find(name);
        if (it == timings.end() || it->second.floor_ns == 0 || it->second.sim_ns == 0 || it->second.native_ns == 0)
            continue;
        const timing &t = it->second;
        std::printf("%-48s %14.1f %14.1f %14.1f %8.1f %8.1f\n", name.c_str(), t.sim_ns, t.floor_ns, t.native_ns,
                    t.floor_ns / t.native_ns, t.sim_ns / t.floor_ns);
    }
    return 0;
}
