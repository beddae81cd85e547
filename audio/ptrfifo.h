// A first-in first-out queue of untyped pointers whose reader waits until an entry is there.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

// Meant for one thread that puts and another that gets; every operation is guarded, so any
// number of threads may use it at once. The queue never owns what its entries point at.
class CPtrFIFO {
public:
    CPtrFIFO() = default;
    // Drops every entry (the pointed-to objects are not released). No thread may still be
    // waiting in Get.
    ~CPtrFIFO();
    CPtrFIFO(const CPtrFIFO&) = delete;
    CPtrFIFO& operator=(const CPtrFIFO&) = delete;

    // Appends the pointer (null included) at the tail and wakes a waiting Get.
    void Put(void* p);
    // Waits without time limit until there is an entry, then removes and returns the head entry.
    void* Get();

private:
    std::mutex m_mutex;
    std::condition_variable m_cvPut;  // signalled by Put
    std::deque<void*> m_list;
};
