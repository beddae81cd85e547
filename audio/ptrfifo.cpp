#include "audio/ptrfifo.h"

CPtrFIFO::~CPtrFIFO() {
    std::lock_guard lock(m_mutex);
    m_list.clear();
}

void CPtrFIFO::Put(void* p) {
    {
        std::lock_guard lock(m_mutex);
        m_list.push_back(p);
    }
    m_cvPut.notify_one();
}

void* CPtrFIFO::Get() {
    std::unique_lock lock(m_mutex);
    m_cvPut.wait(lock, [this] { return !m_list.empty(); });
    void* p = m_list.front();
    m_list.pop_front();
    return p;
}
