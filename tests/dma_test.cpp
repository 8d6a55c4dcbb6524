// DMA queue: request checks and counters, lazy completion by touched range
// (whole and partial), sync, the three modes and the queue printout.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <string>
#include <vector>

#include "kmr_api.h"
#include "kmrsim.hpp"

namespace kmrsim {
extern bool whole_row_path_enabled;  // false: every instruction takes the general engine's pipeline
}

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

class Dma : public testing::Test {
protected:
    void SetUp() override
    {
        kmrsim_init(4, 64, 256, 6, 5, 4);
        get_the_kmrsim()->stats = kmrsim_stats_t{};
        sp = static_cast<uint8_t *>(get_the_kmrsim()->tqm.scratchpad_addr);
        end = static_cast<uint8_t *>(get_the_kmrsim()->tqm.scratchpad_end);
        for (int i = 0; i < 256; ++i)
            host[i] = static_cast<uint8_t>(i + 1);
    }

    // The engines reach the completion rule through the hook.
    static void touch(void *p, size_t len) { get_the_kmrsim()->dma_until_hook(p, len); }

    static std::string queue_text()
    {
        testing::internal::CaptureStdout();
        print_dma_queue();
        return testing::internal::GetCapturedStdout();
    }

    static std::string node_line(const void *node, const void *next, const void *to, const void *from, int to_host,
                                 int size)
    {
        char buf[256];
        std::snprintf(buf, sizeof buf, "%p -> { next=%p\tto=%p\tfrom=%p\tto_host=%d\tsize=%d }\n", node, next, to, from,
                      to_host, size);
        return buf;
    }

    // Number of leading scratchpad bytes (from p) that hold the host pattern.
    int copied(const uint8_t *p, const uint8_t *src, int n)
    {
        int i = 0;
        while (i < n && p[i] == src[i])
            ++i;
        return i;
    }

    static dma_request_t *head() { return get_the_kmrsim()->dma_queue; }
    static const kmrsim_stats_t &stats() { return get_the_kmrsim()->stats; }

    uint8_t *sp = nullptr;
    uint8_t *end = nullptr;
    uint8_t host[256] = {};
};

using DmaDeathTest = Dma;

// In a dying child: exits 42 when nothing was queued or counted by the
// failed request, 43 otherwise.
void exit_if_untouched(int)
{
    const kmr_sim_t *s = get_the_kmrsim();
    std::_Exit(s->dma_queue == nullptr && s->stats.dma_calls == 0 ? 42 : 43);
}

}  // namespace

TEST_F(Dma, TouchingTheStartCompletesOnlyThatPart)
{
    sim_dma_to_vector(sp, host, 64);
    EXPECT_EQ(copied(sp, host, 64), 0);  // deferred: nothing copied yet
    touch(sp, 16);
    EXPECT_EQ(copied(sp, host, 64), 16);
    ASSERT_NE(head(), nullptr);
    EXPECT_EQ(queue_text(), std::string("\n") + node_line(head(), nullptr, sp + 16, host + 16, 0, 48));
    kmr_sync();
    EXPECT_EQ(copied(sp, host, 64), 64);
    EXPECT_EQ(head(), nullptr);
}

TEST_F(Dma, TouchingTheMiddleCompletesEverythingUpToItsEnd)
{
    sim_dma_to_vector(sp, host, 64);
    touch(sp + 32, 16);
    EXPECT_EQ(copied(sp, host, 64), 48);
    ASSERT_NE(head(), nullptr);
    EXPECT_EQ(head()->size, 16u);
    EXPECT_EQ(head()->to, sp + 48);
    EXPECT_EQ(head()->from, host + 48);
    // Touching it again (or the completed part) changes nothing.
    touch(sp + 32, 16);
    touch(sp, 48);
    EXPECT_EQ(head()->size, 16u);
}

TEST_F(Dma, RangesCoveringOrLeavingATransferCompleteIt)
{
    // Range starting before the transfer and ending past it.
    sim_dma_to_vector(sp + 64, host, 32);
    touch(sp + 48, 64);
    EXPECT_EQ(copied(sp + 64, host, 32), 32);
    EXPECT_EQ(head(), nullptr);
    // Range starting inside and running to its end.
    sim_dma_to_vector(sp + 128, host + 100, 32);
    touch(sp + 140, 20);
    EXPECT_EQ(copied(sp + 128, host + 100, 32), 32);
    EXPECT_EQ(head(), nullptr);
    // Range covering the beginning only.
    sim_dma_to_vector(sp + 256, host, 32);
    touch(sp + 250, 10);
    EXPECT_EQ(copied(sp + 256, host, 32), 4);
    EXPECT_EQ(head()->size, 28u);
}

TEST_F(Dma, EarlierTransfersCompleteFirstAndOthersStayQueued)
{
    sim_dma_to_vector(sp, host, 32);
    sim_dma_to_vector(sp + 64, host + 32, 32);
    sim_dma_to_vector(sp + 1024, host + 64, 32);
    touch(sp + 64, 32);
    EXPECT_EQ(copied(sp, host, 32), 32);
    EXPECT_EQ(copied(sp + 64, host + 32, 32), 32);
    EXPECT_EQ(copied(sp + 1024, host + 64, 32), 0);
    ASSERT_NE(head(), nullptr);
    EXPECT_EQ(head()->to, sp + 1024);
    EXPECT_EQ(head()->next, nullptr);
}

TEST_F(Dma, UntouchedQueueIsLeftAlone)
{
    sim_dma_to_vector(sp + 64, host, 64);
    dma_request_t *before = head();
    touch(sp, 64);        // ends exactly where the transfer starts
    touch(sp + 128, 64);  // starts exactly where it ends
    touch(sp + 64, 0);    // empty range
    EXPECT_EQ(head(), before);
    EXPECT_EQ(head()->size, 64u);
    EXPECT_EQ(copied(sp + 64, host, 64), 0);
}

// A 2D instruction completes what its rows touch, not what lies between
// them, nor what lies just before or after its operands (buffers back to
// back); the whole instruction's span is first looked at once.
TEST_F(Dma, TwoDimensionalRowsCompleteOnlyWhatTheyTouch)
{
    uint8_t big[1024];
    for (int i = 0; i < 1024; ++i)
        big[i] = static_cast<uint8_t>(i * 5 + 1);
    // Source rows of 16 bytes at a pitch of 64 from sp + 256: four rows.
    sim_dma_to_vector(sp + 256, big, 16);             // row 0
    sim_dma_to_vector(sp + 256 + 16, big + 16, 48);   // between rows 0 and 1
    sim_dma_to_vector(sp + 256 + 192, big + 64, 16);  // row 3
    sim_dma_to_vector(sp + 256 + 208, big + 80, 16);  // just past row 3
    sim_dma_to_vector(sp + 240, big + 96, 16);        // just before row 0
    KMR_SET_VL(1, 16, 16);
    KMR_SET_VL(3, 4, 64);
    KMR_SET_VL(4, 64, 64);
    kmrsim_2D_VVBBS(V_VVBBS, VMOV, sp + 2048, sp + 256, nullptr);
    // Row 0's transfer is the queue's head and completes; row 3's transfer
    // completes with the one between the rows queued before it.
    EXPECT_EQ(copied(sp + 256, big, 16), 16);
    EXPECT_EQ(copied(sp + 272, big + 16, 48), 48);
    EXPECT_EQ(copied(sp + 448, big + 64, 16), 16);
    EXPECT_EQ(copied(sp + 2048 + 192, big + 64, 16), 16);
    // The two transfers beside the operands stay queued, in order.
    ASSERT_NE(head(), nullptr);
    EXPECT_EQ(head()->to, sp + 464);
    ASSERT_NE(head()->next, nullptr);
    EXPECT_EQ(head()->next->to, sp + 240);
    EXPECT_EQ(head()->next->next, nullptr);
    // New requests join the end of the queue after completions.
    sim_dma_to_vector(sp + 512, big + 200, 8);
    ASSERT_NE(head()->next->next, nullptr);
    EXPECT_EQ(head()->next->next->to, sp + 512);
    kmr_sync();
    sim_dma_to_vector(sp + 600, big + 300, 8);
    sim_dma_to_vector(sp + 700, big + 400, 8);
    ASSERT_NE(head(), nullptr);
    EXPECT_EQ(head()->to, sp + 600);
    ASSERT_NE(head()->next, nullptr);
    EXPECT_EQ(head()->next->to, sp + 700);
    kmr_sync();
    EXPECT_EQ(copied(sp + 700, big + 400, 8), 8);
}

TEST_F(Dma, TransfersToHostWaitForTheInstructionOrSync)
{
    std::memcpy(sp, host, 64);
    uint8_t out[64] = {};
    sim_dma_to_host(out, sp, 64);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(head()->to_host, 1);
    // An instruction about to overwrite the source first lets the transfer read it.
    touch(sp + 8, 8);
    EXPECT_EQ(copied(out, host, 64), 16);
    std::memset(sp, 0, 16);
    kmr_sync();
    EXPECT_EQ(copied(out, host, 64), 64);
}

TEST_F(Dma, SyncPerformsTransfersInRequestOrder)
{
    uint8_t a[16], b[16];
    std::memset(a, 1, sizeof a);
    std::memset(b, 2, sizeof b);
    sim_dma_to_vector(sp, a, 16);
    sim_dma_to_vector(sp, b, 16);
    kmr_sim_sync();
    EXPECT_EQ(sp[0], 2);
    EXPECT_EQ(sp[15], 2);
    EXPECT_EQ(head(), nullptr);
}

TEST_F(Dma, RequestsAreCountedWithBusCycleEstimates)
{
    sim_dma_to_vector(sp, host, 100);
    const uint32_t expected[9] = {100, 50, 25, 13, 7, 4, 2, 1, 1};
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(stats().dma_cycles[k], expected[k]) << k;
    EXPECT_EQ(stats().dma_calls, 1u);
    EXPECT_EQ(stats().dma_bytes, 100u);
    sim_dma_to_host(host, sp, 256);
    EXPECT_EQ(stats().dma_calls, 2u);
    EXPECT_EQ(stats().dma_bytes, 356u);
    EXPECT_EQ(stats().dma_cycles[8], 2u);
}

TEST_F(Dma, ZeroByteRequestIsCountedQueuedAndCompletes)
{
    sim_dma_to_vector(sp, host, 0);
    EXPECT_EQ(stats().dma_calls, 1u);
    EXPECT_EQ(stats().dma_bytes, 0u);
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(stats().dma_cycles[k], 0u);
    ASSERT_NE(head(), nullptr);
    EXPECT_EQ(head()->size, 0u);
    kmr_sync();
    EXPECT_EQ(head(), nullptr);
    EXPECT_EQ(sp[0], 0);
}

TEST_F(Dma, ImmediateModeCompletesEverythingAtOnce)
{
    sim_dma_to_vector(sp + 256, host, 32);  // queued while still deferred
    kmrsim_set_dma_type(1);
    ASSERT_NE(head(), nullptr);  // switching the mode performs nothing
    EXPECT_EQ(head()->to, sp + 256);
    sim_dma_to_vector(sp, host + 32, 32);
    EXPECT_EQ(queue_text(), "\nempty\n");
    EXPECT_EQ(copied(sp, host + 32, 32), 32);
    EXPECT_EQ(copied(sp + 256, host, 32), 32);
    EXPECT_EQ(stats().dma_calls, 2u);
    EXPECT_EQ(stats().dma_bytes, 64u);
}

TEST_F(Dma, OtherModesIgnoreRequestsEntirely)
{
    kmrsim_set_dma_type(2);
    sim_dma_to_vector(sp, host, 64);
    sim_dma_to_host(host, end + 4096, 64);  // not even checked
    EXPECT_EQ(head(), nullptr);
    EXPECT_EQ(stats().dma_calls, 0u);
    EXPECT_EQ(stats().dma_bytes, 0u);
    EXPECT_EQ(stats().dma_cycles[0], 0u);
    EXPECT_EQ(sp[0], 0);
}

TEST_F(Dma, PrintsTheQueueNodeByNode)
{
    EXPECT_EQ(queue_text(), "\nempty\n");
    sim_dma_to_vector(sp, host, 64);
    sim_dma_to_host(host + 128, sp + 4096, 20);
    dma_request_t *first = head();
    dma_request_t *second = first->next;
    EXPECT_EQ(queue_text(), std::string("\n") + node_line(first, second, sp, host, 0, 64) +
                                node_line(second, nullptr, host + 128, sp + 4096, 1, 20));
}

TEST_F(Dma, RequestRangesMayEndAtTheScratchpadEndOrUseMaskMemory)
{
    sim_dma_to_vector(end - 64, host, 64);
    sim_dma_to_vector(get_the_kmrsim()->mask_memory, host, 64);
    kmr_sync();
    EXPECT_EQ(copied(end - 64, host, 64), 64);
    EXPECT_EQ(stats().dma_calls, 2u);
}

TEST_F(Dma, FlagAddressShadowsTheScratchpad)
{
    EXPECT_EQ(get_flg_addr(sp + 100), get_the_kmrsim()->flag_memory + 100);
    EXPECT_EQ(get_flg_addr(end), get_the_kmrsim()->flag_memory + 65536);
}

TEST_F(DmaDeathTest, OutOfRangeRequestsStopBeforeAnythingIsQueued)
{
    const auto refuse = [](auto request) {
        std::signal(SIGABRT, exit_if_untouched);
        request();
    };
    EXPECT_EXIT(refuse([&] { sim_dma_to_vector(end - 16, host, 17); }), testing::ExitedWithCode(42),
                "Assertion `sp_ptr<=sp_end' failed");
    EXPECT_EXIT(refuse([&] { sim_dma_to_host(host, sp - 1, 16); }), testing::ExitedWithCode(42),
                "Assertion `sp_ptr>=sp_base' failed");
    // The immediate mode checks too.
    EXPECT_EXIT(refuse([&] {
                    kmrsim_set_dma_type(1);
                    sim_dma_to_vector(end, host, 1);
                }),
                testing::ExitedWithCode(42), "sp_ptr<=sp_end");
}

TEST_F(DmaDeathTest, RequestsOf4GiBOrMoreAreRefused)
{
    // Their low 32 bits would look like a short (or empty) request.
    EXPECT_DEATH(sim_dma_to_vector(sp, host, size_t{1} << 32), "sp_ptr<=sp_end");
    EXPECT_DEATH(sim_dma_to_vector(sp, host, (size_t{1} << 32) + 16), "sp_ptr<=sp_end");
    EXPECT_DEATH(sim_dma_to_host(host, sp, SIZE_MAX), "sp_ptr<=sp_end");
    EXPECT_DEATH(sim_dma_to_host(host, sp, size_t{1} << 31), "sp_ptr<=sp_end");
}

TEST_F(DmaDeathTest, UnallocatableQueueNodeStopsWithDiagnostic)
{
    if (kSanitized)
        GTEST_SKIP() << "address-space limits break the sanitizer runtime";
    EXPECT_EXIT(
        {
            // Cap the address space at what is mapped now, then use up the heap.
            struct rlimit rl;
            FILE *f = std::fopen("/proc/self/statm", "r");
            unsigned long pages = 0;
            if (f == nullptr || std::fscanf(f, "%lu", &pages) != 1)
                std::_Exit(3);
            std::fclose(f);
            rl.rlim_cur = rl.rlim_max = pages * 4096ul + (1ul << 20);
            setrlimit(RLIMIT_AS, &rl);
            // Large blocks first, then every small size class, so that no
            // cached free chunk of any size is left over.
            // (The volatile sink keeps the compiler from eliding the calls.)
            void *volatile sink = nullptr;
            const auto grab = [&sink](size_t n) {
                sink = std::malloc(n);
                return sink != nullptr;
            };
            for (size_t n = 1 << 16; n >= 8; n /= 2)
                while (grab(n)) {
                }
            for (size_t n = 8; n <= 4096; n += 8)
                while (grab(n)) {
                }
            sim_dma_to_vector(sp, host, 16);
            std::_Exit(4);  // the request must not be dropped silently
        },
        testing::ExitedWithCode(EXIT_FAILURE), "^Error: ");
}

namespace {

// A small deterministic generator of test data: next(n) is in [0, n).
struct lcg {
    uint32_t seed;
    uint32_t operator()(uint32_t n)
    {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    }
};

// The completion rule written as plainly as possible: a list of pending
// (scratchpad offset, host offset, size) transfers, walked from the front.
struct model_transfer {
    size_t at;
    size_t from;
    size_t size;
};

void model_touch(std::vector<model_transfer> &q, std::vector<uint8_t> &mem, const std::vector<uint8_t> &host, size_t b0,
                 size_t b1)
{
    for (;;) {
        size_t k = 0;
        for (; k < q.size(); ++k) {
            const size_t a0 = q[k].at, a1 = a0 + q[k].size;
            const bool overlaps = (b0 < a0 && b1 >= a1) || (b0 < a0 && a0 < b1 && b1 < a1) ||
                                  (a0 <= b0 && b0 < a1 && b1 >= a1) || (b0 >= a0 && b1 < a1);
            if (overlaps)
                break;
        }
        if (k == q.size())
            return;
        for (size_t j = 0; j < k; ++j)
            std::memcpy(&mem[q[j].at], &host[q[j].from], q[j].size);
        q.erase(q.begin(), q.begin() + long(k));
        model_transfer &t = q.front();
        const size_t sz = b1 >= t.at + t.size ? t.size : b1 - t.at;
        std::memcpy(&mem[t.at], &host[t.from], sz);
        if (sz == t.size) {
            q.erase(q.begin());
        } else {
            t.at += sz;
            t.from += sz;
            t.size -= sz;
        }
    }
}

// The simulator's queue beside the plain walk: requests go to both, touches
// to both, and `same` compares the scratchpad with the model's.
struct walked_queue {
    uint8_t *sp;
    std::vector<uint8_t> host = std::vector<uint8_t>(1 << 15);
    std::vector<uint8_t> model;
    std::vector<model_transfer> q;

    walked_queue(uint8_t *scratchpad, size_t bytes, uint8_t mul, uint8_t add) : sp(scratchpad), model(bytes, 0)
    {
        for (size_t i = 0; i < host.size(); ++i)
            host[i] = static_cast<uint8_t>(i * mul + add);
        std::memset(sp, 0, bytes);
    }
    void request(size_t at, size_t from, size_t size)
    {
        sim_dma_to_vector(sp + at, host.data() + from, size);
        q.push_back({at, from, size});
    }
    void touch(size_t b0, size_t b1)
    {
        get_the_kmrsim()->dma_until_hook(sp + b0, b1 - b0);
        model_touch(q, model, host, b0, b1);
    }
    void sync()
    {
        kmr_sim_sync();
        for (const model_transfer &t : q)
            std::memcpy(&model[t.at], &host[t.from], t.size);
        q.clear();
    }
    bool same() const { return std::memcmp(sp, model.data(), model.size()) == 0; }
};

// The order in which `count` blocks are queued: shape 0-2 increasing, 3
// decreasing, 4 shuffled.
std::vector<size_t> block_order(size_t count, uint32_t shape, lcg &next)
{
    std::vector<size_t> order(count);
    for (size_t k = 0; k < count; ++k)
        order[k] = k;
    if (shape == 3)
        std::reverse(order.begin(), order.end());
    for (size_t k = 0; shape == 4 && k + 1 < count; ++k)
        std::swap(order[k], order[k + next(uint32_t(count - k))]);
    return order;
}

}  // namespace

// Many transfers queued, touched by random ranges: exactly what the plain
// walk of the whole queue performs, however the simulator finds them.
TEST_F(Dma, RandomTransfersAndTouchesMatchAPlainWalkOfTheQueue)
{
    walked_queue w(sp, 4096, 7, 3);
    lcg next{12345};
    for (int step = 0; step < 4000; ++step) {
        if (next(3) != 0) {
            const size_t at = next(4000), size = next(97), from = next(30000);
            if (at + size <= 4096)
                w.request(at, from, size);
        } else {
            const size_t b0 = next(4096), len = 1 + next(300);
            w.touch(b0, std::min<size_t>(4096, b0 + len));
            ASSERT_TRUE(w.same()) << "step " << step;
        }
    }
    w.sync();
    EXPECT_TRUE(w.same());
}

// Blocks queued in rounds, mostly in increasing address order as programs
// queue them (sometimes decreasing, or shuffled), then completed front to
// back by touches of part of each block, of whole blocks or of ranges
// across several, with more requests and syncs in between: exactly what the
// plain walk of the queue performs. This is the common shape of a program's
// DMA, and the one the index of pending transfers answers without a search.
TEST_F(Dma, BlocksQueuedInOrderAndCompletedFrontToBackMatchAPlainWalk)
{
    walked_queue w(sp, 8192, 13, 5);
    lcg next{777};
    for (int round = 0; round < 300; ++round) {
        const size_t count = 1 + next(70), size = 1 + next(100);
        const size_t base = next(uint32_t(8192 - count * size));
        for (size_t k : block_order(count, next(5), next))
            w.request(base + k * size, next(30000), size);
        for (size_t k = 0; k < count; ++k) {
            const uint32_t how = next(6);
            size_t b0 = base + k * size, len = 1 + next(uint32_t(size));  // part of the block
            if (how == 0)
                len = size;  // the whole block
            else if (how == 1)
                len = size * (1 + next(3));  // into the blocks after it
            else if (how == 2)
                b0 += next(uint32_t(size));  // from inside it
            w.touch(b0, std::min<size_t>(8192, b0 + len));
            ASSERT_TRUE(w.same()) << "round " << round << ": touch";
            if (next(8) == 0) {
                const size_t at = next(8000), n = next(120), from = next(30000);
                if (at + n <= 8192)
                    w.request(at, from, n);
            }
        }
        if (next(4) == 0) {
            w.sync();
            ASSERT_TRUE(w.same()) << "round " << round << ": sync";
        }
    }
    w.sync();
    EXPECT_TRUE(w.same());
}

// Blocks queued in a random order, so that queue order and address order
// disagree, then touched one at a time at random: completions come from
// anywhere in the index, often right after transfers whose nodes were just
// reused by new requests. After every touch, exactly what the plain walk of
// the queue performs.
TEST_F(Dma, BlocksCompletedOutOfAddressOrderMatchAPlainWalk)
{
    walked_queue w(sp, 8192, 29, 1);
    lcg next{4711};
    for (int round = 0; round < 400; ++round) {
        const size_t count = 2 + next(90), size = 1 + next(40);
        const std::vector<size_t> order = block_order(count, 4, next);
        const size_t base = next(uint32_t(8192 - count * size));
        for (size_t k : order)
            w.request(base + k * size, next(30000), size);
        for (int t = int(next(uint32_t(2 * count))); t > 0; --t) {
            const size_t b0 = base + next(uint32_t(count)) * size + next(uint32_t(size));
            w.touch(b0, std::min<size_t>(8192, b0 + 1 + next(uint32_t(size))));
            ASSERT_TRUE(w.same()) << "round " << round;
        }
    }
    w.sync();
    EXPECT_TRUE(w.same());
}

// A tiled program's queue: the rows of the next input tile (into one of two
// low buffers) are queued behind the rows of the last output tile (from one
// of two high buffers), so the queue holds batches at four places, each in
// address order; each tile's work touches its whole input buffer, then its
// output buffer, which completes everything queued before. Overlapping
// rows in a batch, now and then, and touches of part of a row. After every
// touch, exactly what the plain walk of the queue performs.
TEST_F(Dma, InterleavedBatchesOfRowsMatchAPlainWalk)
{
    walked_queue w(sp, 8192, 31, 7);
    lcg next{2024};
    const size_t in[2] = {0, 1536}, out[2] = {4096, 6144};
    auto queue_rows = [&](size_t buffer, size_t rows, size_t pitch) {
        for (size_t r = 0; r < rows; ++r) {
            const size_t overlap = next(10) == 0 ? next(uint32_t(pitch)) : 0;
            w.request(buffer + r * pitch - std::min(overlap, buffer + r * pitch), next(30000), pitch + 2);
        }
    };
    queue_rows(in[0], 1 + next(40), 34);
    for (int t = 0; t < 120; ++t) {
        queue_rows(in[(t + 1) % 2], 1 + next(40), 34);
        const size_t b0 = in[t % 2] + (next(4) == 0 ? next(200) : 0);
        w.touch(b0, b0 + (next(4) == 0 ? 1 + next(60) : 1400));
        ASSERT_TRUE(w.same()) << "tile " << t << ": input";
        w.touch(out[t % 2], out[t % 2] + 1400);
        ASSERT_TRUE(w.same()) << "tile " << t << ": output";
        queue_rows(out[t % 2], 1 + next(40), 32);
    }
    w.sync();
    EXPECT_TRUE(w.same());
}

// The pattern of a double-buffered program: blocks in, instructions reading
// the first half of each block (which completes the rest of the block
// before it and half of its own), blocks out, sync; over and over, across
// kmrsim_init, with the queue's nodes reused from round to round. Every
// value arrives, the queue ends empty, and the counters count every
// request.
TEST_F(Dma, RepeatedRoundsCompletedByInstructionsDeliverEveryBlock)
{
    constexpr int blocks = 24, block = 256;
    std::vector<uint8_t> in(blocks * block), out(blocks * block);
    for (int init = 0; init < 3; ++init) {
        if (init != 0)
            SetUp();
        kmr_set_vl(block / 8);  // words: half a block
        for (int round = 0; round < 20; ++round) {
            for (size_t i = 0; i < in.size(); ++i)
                in[i] = static_cast<uint8_t>(i * 7 + size_t(round) * 3 + size_t(init));
            std::fill(out.begin(), out.end(), uint8_t(0));
            for (int k = 0; k < blocks; ++k)
                sim_dma_to_vector(sp + k * block, in.data() + k * block, block);
            for (int k = 0; k < blocks; ++k) {
                kmrsim_1D_VVWWS(V_VVWWS, VMOV, sp + 16384 + k * block / 2, sp + k * block, 0);
                ASSERT_EQ(std::memcmp(sp + 16384 + k * block / 2, in.data() + k * block, block / 2), 0)
                    << "init " << init << " round " << round << " block " << k;
            }
            for (int k = 0; k < blocks; ++k)
                sim_dma_to_host(out.data() + k * block, sp + k * block, block);
            kmr_sim_sync();
            ASSERT_EQ(head(), nullptr);
            ASSERT_EQ(in, out) << "init " << init << " round " << round;
        }
        EXPECT_EQ(stats().dma_calls, 20u * 2u * blocks);
        EXPECT_EQ(stats().dma_bytes, 20u * 2u * blocks * block);
    }
}

// Short one-row instructions over operands that pending transfers meet in
// part, in whole or not at all: the instruction completes exactly what the
// general engine completes (same data in the scratchpad and its flags, same
// transfers left in the queue) and computes the same result, and the sync
// then delivers the rest the same way.
TEST_F(Dma, ShortInstructionsCompleteWhatTheGeneralEngineCompletes)
{
    std::vector<uint8_t> from(8192);
    for (size_t i = 0; i < from.size(); ++i)
        from[i] = static_cast<uint8_t>(i * 29 + 11);
    lcg next{4242};
    struct image {
        std::vector<uint8_t> values, flags;
        size_t queued = 0;
        bool operator==(const image &) const = default;
    };
    auto capture = [&] {
        image im;
        im.values.assign(sp, sp + 8192);
        im.flags.assign(get_the_kmrsim()->flag_memory, get_the_kmrsim()->flag_memory + 8192);
        for (const dma_request_t *q = head(); q != nullptr; q = q->next)
            ++im.queued;
        return im;
    };
    for (int trial = 0; trial < 300; ++trial) {
        const int L = 1 + int(next(200));
        const size_t d = 4 * next(512), a = 4 * next(512), b = next(4) == 0 ? d : 4 * next(1024);
        const int op = int(next(4));
        const vinstr_t ops[] = {VADD, VSUB, VMOV, VXOR};
        const uint32_t trial_seed = next.seed;
        image after[2][2];
        for (int path = 0; path < 2; ++path) {
            SetUp();
            next.seed = trial_seed;
            for (size_t i = 0; i < 8192; ++i) {
                sp[i] = static_cast<uint8_t>(i * 7);
                get_the_kmrsim()->flag_memory[i] = static_cast<uint8_t>(i % 3 == 0);
            }
            const int transfers = 1 + int(next(6));
            for (int t = 0; t < transfers; ++t) {
                const size_t at = next(6000), size = 1 + next(700);
                sim_dma_to_vector(sp + at, from.data() + next(7000), std::min<size_t>(size, 8192 - at));
            }
            kmr_set_vl(L);
            kmrsim::whole_row_path_enabled = path == 0;
            if (next(2) == 0)
                kmrsim_1D_VVWWS(V_VVWWS, ops[op], sp + d, sp + a, sp + b);
            else
                kmrsim_1D_SVHHU(V_SVHHU, ops[op], sp + d, 77, sp + b);
            kmrsim::whole_row_path_enabled = true;
            after[path][0] = capture();
            kmr_sim_sync();
            after[path][1] = capture();
        }
        ASSERT_TRUE(after[0][0] == after[1][0]) << "trial " << trial << " after the instruction";
        ASSERT_TRUE(after[0][1] == after[1][1]) << "trial " << trial << " after the sync";
    }
}
