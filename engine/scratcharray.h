// Scratch memory for one call of a signal-processing routine: on the stack up to Inline elements,
// on the heap beyond. Contents start uninitialised.
#pragma once

#include <cstddef>
#include <memory>

namespace engine {

template <typename T, std::size_t Inline>
class ScratchArray {
public:
    explicit ScratchArray(std::size_t size)
        : m_pHeap(size > Inline ? std::make_unique_for_overwrite<T[]>(size) : nullptr),
          m_pData(m_pHeap ? m_pHeap.get() : m_aInline) {}
    ScratchArray(const ScratchArray&) = delete;
    ScratchArray& operator=(const ScratchArray&) = delete;

    T* data() { return m_pData; }
    T& operator[](std::size_t i) { return m_pData[i]; }

private:
    T m_aInline[Inline];
    std::unique_ptr<T[]> m_pHeap;
    T* m_pData;
};

}  // namespace engine
