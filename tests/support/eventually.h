// Waiting in a test for what another thread will make true.
#pragma once

#include <chrono>
#include <thread>

namespace testing_support {

// Polls the condition until it holds (true) or the time is up (false). The limit is generous:
// it only matters when the condition never comes.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::seconds limit = std::chrono::seconds(120)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace testing_support
