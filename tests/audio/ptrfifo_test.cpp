#include "audio/ptrfifo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

void* Entry(uintptr_t n) { return reinterpret_cast<void*>(n); }

TEST(PtrFIFOTest, GetWaitsForPutAndKeepsTheOrder) {
    CPtrFIFO fifo;
    std::atomic<bool> bGot{false};
    void* aGot[3] = {};
    std::thread getter([&] {
        for (void*& p : aGot) p = fifo.Get();
        bGot = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(bGot.load());  // still waiting on the empty queue
    fifo.Put(Entry(3));
    fifo.Put(nullptr);
    fifo.Put(Entry(1));
    getter.join();
    EXPECT_EQ(aGot[0], Entry(3));
    EXPECT_EQ(aGot[1], nullptr);
    EXPECT_EQ(aGot[2], Entry(1));
}

// Putting threads and a getting thread at full speed: every entry arrives once, and the entries
// of each putter in the order put. An unguarded list loses or mangles entries here, or corrupts
// the heap (which the address sanitizer reports).
TEST(PtrFIFOTest, ConcurrentPutAndGetLoseNothing) {
    constexpr uintptr_t kPutters = 4, kCount = 100000;
    CPtrFIFO fifo;
    std::vector<std::thread> putters;
    for (uintptr_t putter = 0; putter < kPutters; ++putter)
        putters.emplace_back([&fifo, putter] {
            for (uintptr_t n = 1; n <= kCount; ++n) fifo.Put(Entry(putter * kCount * 2 + n));
        });
    uintptr_t aNext[kPutters] = {1, 1, 1, 1};
    uintptr_t nMismatches = 0;
    for (uintptr_t i = 0; i < kPutters * kCount; ++i) {
        const uintptr_t nEntry = reinterpret_cast<uintptr_t>(fifo.Get());
        const uintptr_t putter = nEntry / (kCount * 2);
        if (putter >= kPutters || nEntry % (kCount * 2) != aNext[putter]++) ++nMismatches;
    }
    for (std::thread& putter : putters) putter.join();
    EXPECT_EQ(nMismatches, 0u);
}

}  // namespace
