#include "audio/buffer.h"

#include <cstring>
#include <new>

#include "audio/errorprint.h"

CBuffer::CBuffer(int32_t nSize, bool bAutoDelete)
    : m_pData(nullptr), m_nSize(0), m_bAutoDelete(bAutoDelete) {
    if (nSize < 0) {
        ErrorPrint("CBuffer: cannot allocate a negative size (%d bytes)", nSize);
        return;
    }
    if (nSize == 0) return;
    m_pData = new (std::nothrow) uint8_t[size_t(nSize)];
    if (!m_pData) {
        ErrorPrint("Out of memory!");
        return;
    }
    m_nSize = nSize;
}

CBuffer::CBuffer(void* pData, int32_t nSize) : m_pData(nullptr), m_nSize(0), m_bAutoDelete(false) {
    if (!pData) return;
    if (nSize < 0) {
        ErrorPrint("CBuffer: cannot wrap a negative size (%d bytes)", nSize);
        return;
    }
    m_pData = static_cast<uint8_t*>(pData);
    m_nSize = nSize;
}

CBuffer::~CBuffer() {
    if (m_bAutoDelete && m_pData) delete[] m_pData;
}

void CBuffer::Erase() {
    if (m_pData && m_nSize > 0) std::memset(m_pData, 0, size_t(m_nSize));
}
