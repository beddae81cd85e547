// A block of sample bytes that either owns its memory or only points at memory owned elsewhere.
#pragma once

#include <cstdint>

class CBuffer {
public:
    // Allocates nSize bytes (not cleared). With bAutoDelete the buffer releases them when it is
    // destroyed; without, the memory belongs to whoever takes m_pData (allocated with new[]).
    // When the allocation fails, "Out of memory!" is shown and the buffer is empty (null, 0).
    // A size of 0 gives an empty buffer; a negative size is reported and gives one too.
    explicit CBuffer(int32_t nSize, bool bAutoDelete = true);
    // Wraps nSize bytes at pData, owned elsewhere and never released by the buffer. A null
    // pointer gives an empty buffer of size 0; a negative size is reported and gives one too.
    CBuffer(void* pData, int32_t nSize);
    virtual ~CBuffer();

    CBuffer(const CBuffer&) = delete;
    CBuffer& operator=(const CBuffer&) = delete;

    // Sets the m_nSize bytes in use to zero; nothing when there is no data.
    void Erase();

    uint8_t* m_pData;    // the sample bytes, or null
    int32_t m_nSize;     // bytes in use; a consumer may lower it to say how many it filled
    bool m_bAutoDelete;  // the buffer releases m_pData when destroyed
};
