#include "engine/sessionrecord.h"

#include <algorithm>
#include <utility>

namespace engine {

void CSessionRecord::Clear() {
    m_songs.clear();
    m_nTakeSamples = 0;
}

void CSessionRecord::SongLoaded(const SongRef& ref, std::shared_ptr<const CSong> song) {
    SongRecord record;
    record.ref = ref;
    record.song = std::move(song);
    m_songs.push_back(std::move(record));
}

void CSessionRecord::LineBegun(const LineCarry& carry) {
    if (m_songs.empty() || carry.nLine < 0) return;
    std::vector<LineCarry>& carries = m_songs.back().carries;
    if (carries.size() <= static_cast<std::size_t>(carry.nLine))
        carries.resize(static_cast<std::size_t>(carry.nLine) + 1);
    carries[static_cast<std::size_t>(carry.nLine)] = carry;
}

void CSessionRecord::LineAudio(int line, const int16_t* samples, int count) {
    if (m_songs.empty() || line < 0 || count <= 0) return;
    const auto n = static_cast<std::size_t>(count);
    if (m_nTakeSamples + n > kMostTakeSamples) return;
    std::vector<std::vector<int16_t>>& takes = m_songs.back().takes;
    if (takes.size() <= static_cast<std::size_t>(line))
        takes.resize(static_cast<std::size_t>(line) + 1);
    std::vector<int16_t>& take = takes[static_cast<std::size_t>(line)];
    take.insert(take.end(), samples, samples + n);
    m_nTakeSamples += n;
}

void CSessionRecord::BufferJudged(const BufferReport& report) {
    if (!m_songs.empty()) m_songs.back().buffers.push_back(report);
}

void CSessionRecord::LineScored(const LineReport& report) {
    if (!m_songs.empty()) m_songs.back().lines.push_back(report);
}

std::vector<LineReview> CSessionRecord::Reviews(std::size_t song) const {
    if (song >= m_songs.size() || !m_songs[song].song) return {};
    const SongRecord& record = m_songs[song];
    return BuildLineReviews(*record.song, record.lines, record.buffers);
}

const std::vector<int16_t>& CSessionRecord::Take(std::size_t song, int line) const {
    static const std::vector<int16_t> kNone;
    if (song >= m_songs.size() || line < 0) return kNone;
    const std::vector<std::vector<int16_t>>& takes = m_songs[song].takes;
    return static_cast<std::size_t>(line) < takes.size() ? takes[static_cast<std::size_t>(line)]
                                                         : kNone;
}

const LineCarry* CSessionRecord::Carry(std::size_t song, int line) const {
    if (song >= m_songs.size() || line < 0) return nullptr;
    const std::vector<LineCarry>& carries = m_songs[song].carries;
    if (static_cast<std::size_t>(line) >= carries.size()) return nullptr;
    const LineCarry& carry = carries[static_cast<std::size_t>(line)];
    return carry.judge ? &carry : nullptr;
}

}  // namespace engine
