// The history on a thread of its own, so that no window waits for the disk: jobs run there in the
// order they were posted, on a store opened there. What a job finds goes back to whoever asked
// through their own means (the window posts it to its thread).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "history/historystore.h"

namespace history {

class CHistoryService {
public:
    // Opens the store at path on the service's thread; opened(ok, notice) is called there once it
    // is known (notice: what the user should be told, when anything).
    CHistoryService(std::string path, std::function<void(bool, const std::string&)> opened);
    // Runs what was posted, then closes the store and joins the thread.
    ~CHistoryService();
    CHistoryService(const CHistoryService&) = delete;
    CHistoryService& operator=(const CHistoryService&) = delete;

    // Runs the job on the service's thread, after those posted before it. A store that could not
    // be opened is passed all the same (it answers nothing and keeps nothing).
    void Post(std::function<void(CHistoryStore&)> job);
    // Waits until every job posted before it has run.
    void Flush();

private:
    void Run(const std::string& path, const std::function<void(bool, const std::string&)>& opened);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void(CHistoryStore&)>> m_jobs;
    bool m_bBusy = false;
    bool m_bStop = false;
    std::thread m_thread;
};

}  // namespace history
