// Hostile and clumsy files for the readers' tests: FIFOs, links to endless devices, sparse files
// that claim to be huge, and a guard that turns a reader that would hang into a failure.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testing_support {

inline bool MakeFifo(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    return ::mkfifo(path.c_str(), 0600) == 0;
}

inline bool LinkTo(const std::filesystem::path& path, const std::string& target) {
    std::error_code error;
    std::filesystem::remove(path, error);
    std::filesystem::create_symlink(target, path, error);
    return !error;
}

// Makes the file `bytes` long; the part past what it holds reads as zeros and takes no disk.
inline bool MakeSparse(const std::filesystem::path& path, int64_t bytes) {
    return ::truncate(path.c_str(), static_cast<off_t>(bytes)) == 0;
}

// Runs work on a thread of its own and waits for it with a generous deadline. When it does not
// finish, each FIFO in fifos is opened for writing once, which frees a reader blocked in opening
// or reading it, so the thread can end; the result is then false all the same.
inline bool FinishesWithin(const std::function<void()>& work,
                           const std::vector<std::filesystem::path>& fifos,
                           std::chrono::seconds limit = std::chrono::seconds(120)) {
    auto done = std::async(std::launch::async, work);
    if (done.wait_for(limit) == std::future_status::ready) {
        done.get();
        return true;
    }
    for (int round = 0;
         done.wait_for(std::chrono::seconds(1)) != std::future_status::ready && round < 60; ++round)
        for (const auto& fifo : fifos) {
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
        }
    done.wait();
    return false;
}

// For work that must stay on the calling thread (a widget's): while the object lives, a thread of
// its own waits out a generous deadline and then, should the work still be running, opens each
// FIFO for writing again and again, which frees a reader blocked on it. Fired() tells whether the
// deadline passed, which is a failure.
class FifoWatchdog {
public:
    explicit FifoWatchdog(std::vector<std::filesystem::path> fifos,
                          std::chrono::seconds limit = std::chrono::seconds(120))
        : m_fifos(std::move(fifos)), m_thread([this, limit] { Watch(limit); }) {}
    ~FifoWatchdog() {
        {
            std::lock_guard lock(m_mutex);
            m_bDone = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    FifoWatchdog(const FifoWatchdog&) = delete;
    FifoWatchdog& operator=(const FifoWatchdog&) = delete;

    bool Fired() const { return m_bFired; }

private:
    void Watch(std::chrono::seconds limit) {
        std::unique_lock lock(m_mutex);
        if (m_wake.wait_for(lock, limit, [this] { return m_bDone; })) return;
        m_bFired = true;
        while (!m_wake.wait_for(lock, std::chrono::milliseconds(100), [this] { return m_bDone; }))
            for (const auto& fifo : m_fifos) {
                const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) ::close(fd);
            }
    }

    std::vector<std::filesystem::path> m_fifos;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_bDone = false;
    std::atomic<bool> m_bFired{false};
    std::thread m_thread;
};

// The resident memory of this process now, in KiB.
inline long ResidentKiB() {
    long pages = 0, resident = 0;
    if (std::FILE* file = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(file, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(file);
    }
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// Runs work in a child process and returns how far its resident memory rose above this
// process's at the fork, in KiB (the child's peak as the kernel counted it), or -1 when the child
// did not end normally. The child's exit status is work's result.
inline long PeakGrowthKiB(const std::function<int()>& work, int* status = nullptr) {
    std::fflush(nullptr);
    const long before = ResidentKiB();
    const pid_t child = ::fork();
    if (child == 0) ::_exit(work());
    if (child < 0) return -1;
    int wstatus = 0;
    struct rusage usage {};
    if (::wait4(child, &wstatus, 0, &usage) != child || !WIFEXITED(wstatus)) return -1;
    if (status) *status = WEXITSTATUS(wstatus);
    return usage.ru_maxrss - before;
}

}  // namespace testing_support
