#include "platform/blockring.h"

#include <algorithm>
#include <cstring>

namespace platform {

CBlockRing::CBlockRing(std::size_t bytes, std::size_t blocks)
    : m_bytes(std::max<std::size_t>(bytes, 1)), m_records(std::max<std::size_t>(blocks, 1)) {}

bool CBlockRing::Push(const char* bytes, std::size_t count, int32_t stamp) {
    const uint64_t bytesWritten = m_nBytesWritten.load(std::memory_order_relaxed);
    const uint64_t blocksWritten = m_nBlocksWritten.load(std::memory_order_relaxed);
    const uint64_t bytesFree =
        m_bytes.size() - (bytesWritten - m_nBytesRead.load(std::memory_order_acquire));
    const uint64_t blocksFree =
        m_records.size() - (blocksWritten - m_nBlocksRead.load(std::memory_order_acquire));
    if (count > bytesFree || blocksFree == 0) {
        m_nDropped.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    const std::size_t at = static_cast<std::size_t>(bytesWritten % m_bytes.size());
    const std::size_t first = std::min(count, m_bytes.size() - at);
    std::memcpy(m_bytes.data() + at, bytes, first);
    std::memcpy(m_bytes.data(), bytes + first, count - first);
    m_records[static_cast<std::size_t>(blocksWritten % m_records.size())] = {count, stamp};
    m_nBytesWritten.store(bytesWritten + count, std::memory_order_release);
    m_nBlocksWritten.store(blocksWritten + 1, std::memory_order_release);
    return true;
}

std::size_t CBlockRing::Pop(char* out, std::size_t capacity, int32_t& stamp) {
    const uint64_t blocksRead = m_nBlocksRead.load(std::memory_order_relaxed);
    if (m_nBlocksWritten.load(std::memory_order_acquire) == blocksRead) return 0;
    const Record record = m_records[static_cast<std::size_t>(blocksRead % m_records.size())];
    const uint64_t bytesRead = m_nBytesRead.load(std::memory_order_relaxed);
    const std::size_t at = static_cast<std::size_t>(bytesRead % m_bytes.size());
    const std::size_t count = std::min(record.nCount, capacity);
    const std::size_t first = std::min(count, m_bytes.size() - at);
    std::memcpy(out, m_bytes.data() + at, first);
    std::memcpy(out + first, m_bytes.data(), count - first);
    stamp = record.nStamp;
    m_nBytesRead.store(bytesRead + record.nCount, std::memory_order_release);
    m_nBlocksRead.store(blocksRead + 1, std::memory_order_release);
    return count;
}

void CBlockRing::Clear() {
    m_nBytesRead.store(m_nBytesWritten.load(std::memory_order_acquire), std::memory_order_release);
    m_nBlocksRead.store(m_nBlocksWritten.load(std::memory_order_acquire),
                        std::memory_order_release);
}

}  // namespace platform
