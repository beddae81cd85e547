// A hand-over of recorded blocks from an audio callback to an ordinary thread: a ring of bytes
// and a ring of block records (byte count and clock stamp), both allocated when the ring is made.
//
// One writer (the audio callback) and one reader (the delivery thread). Push and Pop never lock,
// allocate or wait: the writer publishes a block with a release store of its counters, the reader
// frees it with a release store of its own. A block that does not fit is dropped and counted.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

class CBlockRing {
public:
    // Room for `bytes` bytes in at most `blocks` blocks.
    CBlockRing(std::size_t bytes, std::size_t blocks);
    CBlockRing(const CBlockRing&) = delete;
    CBlockRing& operator=(const CBlockRing&) = delete;

    // Writer: copies a block in; false (and the block is dropped) when there is no room.
    bool Push(const char* bytes, std::size_t count, int32_t stamp);
    // Reader: copies the oldest block out into out (which must hold the largest block pushed)
    // and returns its size, 0 when there is none.
    std::size_t Pop(char* out, std::size_t capacity, int32_t& stamp);
    // Forgets every block; only while the writer is stopped.
    void Clear();

    std::size_t Capacity() const { return m_bytes.size(); }
    int Dropped() const { return m_nDropped.load(std::memory_order_relaxed); }

private:
    struct Record {
        std::size_t nCount;
        int32_t nStamp;
    };
    std::vector<char> m_bytes;
    std::vector<Record> m_records;
    // Counters only grow: bytes and blocks written (writer) and read (reader).
    std::atomic<uint64_t> m_nBytesWritten{0}, m_nBlocksWritten{0};
    std::atomic<uint64_t> m_nBytesRead{0}, m_nBlocksRead{0};
    std::atomic<int> m_nDropped{0};
};

}  // namespace platform
