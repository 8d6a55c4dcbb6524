// What the trace and the checker cost: the same workloads with every tool
// off, with the full trace written to /dev/null, and with every check on.
// Run with --benchmark_filter=Tools to see the three side by side.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "filter3x3.h"
#include "filter3x3_ref.h"
#include "kmr_api.h"

namespace {

enum tool_mode : int { tools_off = 0, trace_on = 1, checker_on = 2 };

// Initialises the simulator with the tools of `mode` on (the checker must
// be on before initialisation); switches everything off afterwards.
struct tools_session {
    std::FILE *null_out = nullptr;
    explicit tools_session(int mode)
    {
        kmrsim_check(mode == checker_on ? KMRSIM_CHECK_ALL : 0u);
        kmrsim_init(4, 64, 256, 6, 5, 4);
        if (mode == trace_on) {
            null_out = std::fopen("/dev/null", "w");
            kmrsim_trace(null_out, KMRSIM_TRACE_ALL);
        }
    }
    ~tools_session()
    {
        kmrsim_trace(nullptr, 0);
        if (null_out != nullptr)
            std::fclose(null_out);
        kmrsim_check(0);
        kmrsim_check_summary();
    }
};

const char *mode_name(int mode)
{
    return mode == tools_off ? "off" : mode == trace_on ? "trace" : "checker";
}

// A word VADD of `vl` elements, over and over, on written inputs.
void BM_ToolsVadd(benchmark::State &state)
{
    const int mode = static_cast<int>(state.range(0));
    const int vl = static_cast<int>(state.range(1));
    tools_session session(mode);
    auto *a = static_cast<int32_t *>(kmr_sp_malloc_nodebug(size_t(vl) * 4));
    auto *b = static_cast<int32_t *>(kmr_sp_malloc_nodebug(size_t(vl) * 4));
    auto *d = static_cast<int32_t *>(kmr_sp_malloc_nodebug(size_t(vl) * 4));
    for (int i = 0; i < vl; ++i)
        a[i] = b[i] = i;
    kmr_set_vl(vl);
    for (auto _ : state) {
        kmr_VVWWS(VADD, d, a, b);
        benchmark::DoNotOptimize(d[0]);
    }
    state.SetLabel(mode_name(mode));
    state.SetItemsProcessed(state.iterations() * vl);
}
BENCHMARK(BM_ToolsVadd)->ArgsProduct({{tools_off, trace_on, checker_on}, {64, 4096}});

// The 3x3 filter kernel on a 640x480 image (DMA in and out included).
void BM_ToolsFilter3x3(benchmark::State &state)
{
    const int mode = static_cast<int>(state.range(0));
    std::vector<uint8_t> image(640 * 480), out(640 * 480);
    filter3x3_make_image(image.data(), 640, 480);
    tools_session session(mode);
    for (auto _ : state) {
        benchmark::DoNotOptimize(filter3x3_flat(image.data(), out.data(), 640, 480));
    }
    state.SetLabel(mode_name(mode));
    state.SetItemsProcessed(state.iterations() * 640 * 480);
}
BENCHMARK(BM_ToolsFilter3x3)->Arg(tools_off)->Arg(trace_on)->Arg(checker_on)->Unit(benchmark::kMillisecond);

}  // namespace
