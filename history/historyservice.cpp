#include "history/historyservice.h"

#include <utility>

namespace history {

CHistoryService::CHistoryService(std::string path,
                                 std::function<void(bool, const std::string&)> opened)
    : m_thread([this, path = std::move(path), opened = std::move(opened)] { Run(path, opened); }) {}

CHistoryService::~CHistoryService() {
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void CHistoryService::Post(std::function<void(CHistoryStore&)> job) {
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_all();
}

void CHistoryService::Flush() {
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_jobs.empty() && !m_bBusy; });
}

void CHistoryService::Run(const std::string& path,
                          const std::function<void(bool, const std::string&)>& opened) {
    CHistoryStore store;
    std::string notice;
    const bool ok = store.Open(path, notice);
    if (opened) opened(ok, notice);
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_bStop || !m_jobs.empty(); });
        if (m_jobs.empty()) break;  // stopping, with nothing left to do
        std::function<void(CHistoryStore&)> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_bBusy = true;
        lock.unlock();
        job(store);
        lock.lock();
        m_bBusy = false;
        if (m_jobs.empty()) m_idle.notify_all();
    }
    m_idle.notify_all();
    lock.unlock();
    // A last try at what still waits for the file.
    std::string error;
    store.Keep({}, error);
}

}  // namespace history
