#include "engine/histogrammodel.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "engine/pitchcompare.h"
#include "engine/songloader.h"
#include "platform/codepage.h"
#include "platform/filebytes.h"
#include "platform/messages.h"

namespace engine {
namespace {

constexpr const char* kNoSong = "请打开歌曲列表，选择要演唱的曲目";
constexpr const char* kEmptyFile = "文件为空!";

constexpr int kMarkerX = 50;               // the marker tip; a dot is there when the music plays it
constexpr int kFeedInset = 50;             // the dots enter this far left of the right edge
constexpr int kStepMs = kReferenceStepMs;  // one reference value, one step of the picture
constexpr int kStepPixels = 3;             // pixels the picture moves per step
constexpr int kMsPerPixel = kStepMs / kStepPixels;
constexpr int kDotRadius = 3;   // of the 6-px pen
constexpr int kLyricInset = 3;  // a unit starts at the left edge of its note's first dot

// A unit of the code page 936 lyric in UTF-8. The rule that picks units takes two bytes at a
// time, which may cut a character: the unit then shows what of it is whole.
std::string UnitUtf8(const std::string& bytes) {
    std::string utf8;
    if (platform::Cp936ToUtf8(bytes, utf8)) return utf8;
    if (bytes.size() > 1 && platform::Cp936ToUtf8(bytes.substr(1), utf8)) return utf8;
    if (bytes.size() > 1 && platform::Cp936ToUtf8(bytes.substr(0, bytes.size() - 1), utf8))
        return utf8;
    return {};
}

int Find(const std::string& text, char c, int from) {
    if (from < 0) from = 0;
    const std::size_t at = text.find(c, static_cast<std::size_t>(from));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

}  // namespace

CHistogramModel::CHistogramModel(int width, int height)
    : m_nWidth(width),
      m_nHeight(height),
      m_nLeadMs(int64_t{kMsPerPixel} * std::max(0, width - kFeedInset - kMarkerX)) {}

void CHistogramModel::SetSong(std::shared_ptr<const CSong> song) {
    m_song = std::move(song);
    m_lines.clear();
    if (m_song && m_song->Points() >= 2) {
        const int32_t* blocks = m_song->Records();
        const int points = m_song->Points();
        m_lines.reserve(static_cast<std::size_t>(points - 1));
        int offset = 0;
        for (int line = 0; line <= points - 2; ++line) {
            Line record;
            record.nOffset = offset;
            record.nCount = std::max(0, blocks[offset]);
            record.nStartMs = LineStartMs(m_song->Start(line));
            m_lines.push_back(record);
            offset += record.nCount + 1;
        }
    }
    Rewind();
    m_bFresh = true;
}

void CHistogramModel::Restart() {
    m_bNear = false;
    m_bHit = false;
    m_bFar = true;
    m_nMarkerY = 80;
    m_nCharPos = 0;
    m_bStripOn = false;
    Rewind();
    m_bFresh = true;
    m_nLastStep = 0;
}

void CHistogramModel::Rewind() {
    m_nLine = 0;
    m_nIndex = 0;
    m_nSongLyric = 0;
    // Lines without values have nothing to enter.
    while (m_nLine < static_cast<int>(m_lines.size()) && m_lines[m_nLine].nCount == 0) ++m_nLine;
}

void CHistogramModel::SetPitchMarker(int y, int nearFlag, int hitFlag, int farFlag) {
    m_nMarkerY = y;
    m_bNear = nearFlag != 0;
    m_bHit = hitFlag != 0;
    m_bFar = farFlag != 0;
}

int CHistogramModel::Value(const Line& line, int index) const {
    return m_song->Records()[line.nOffset + 1 + index];
}

bool CHistogramModel::LoadLyrics(const SongRef& song) {
    if (song.strName.empty()) {
        platform::ShowMessage(kNoSong, platform::MessageIcon::Information);
        return false;
    }
    const std::string path = song.strFolder + "/Lyric";

    m_nCharPos = 0;
    m_nWordSearch = 0;
    m_nSpaceFrom = -1;
    m_strLyric.clear();
    if (SongKindOf(song.strFolder) == SongKind::UltraStar) return true;

    std::string bytes, problem;
    if (!platform::ReadFileBytes(path, bytes, problem)) {
        platform::ShowMessage("歌词文件“" + path + "”" + problem + "。",
                              platform::MessageIcon::Exclamation);
        return false;
    }
    if (bytes.empty()) platform::ShowMessage(kEmptyFile, platform::MessageIcon::Exclamation);

    // The text ends at the first zero byte; neither encoding has a zero inside a character.
    bytes.resize(std::min(bytes.size(), bytes.find('\0')));
    std::string text;
    if (!platform::TextToCp936(bytes, text)) {
        platform::ShowMessage(
            "歌词文件“" + path + "”既不是 GBK（代码页 936）文本，也不是 UTF-8 文本。",
            platform::MessageIcon::Exclamation);
        return false;
    }
    // CR and LF are never the second byte of a double-byte character, so this keeps them whole.
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
    m_strLyric = std::move(text);
    return true;
}

int CHistogramModel::NextSpace() {
    if (m_nSpaceFrom != m_nWordSearch) {
        m_nSpaceFrom = m_nWordSearch;
        m_nSpace = Find(m_strLyric, ' ', m_nWordSearch);
    }
    return m_nSpace;
}

std::string CHistogramModel::NextLyricUnit(int r) {
    const int size = static_cast<int>(m_strLyric.size());
    if (r > 0 && m_nCharPos >= r) {
        // A word, between the space at r and the next one.
        const int r2 = Find(m_strLyric, ' ', r + 1);
        if (r2 < 0) {
            // No closing space: the rest of the text is the word, and the lyric is used up.
            m_nCharPos = m_nWordSearch = size;
            return m_strLyric.substr(static_cast<std::size_t>(r) + 1);
        }
        m_nCharPos = m_nWordSearch = r2 + 1;
        return m_strLyric.substr(static_cast<std::size_t>(r) + 1,
                                 static_cast<std::size_t>(r2 - r - 1));
    }
    // One double-byte character: the last two of the first m_nCharPos bytes, the whole text
    // standing in for a prefix longer than it.
    m_nCharPos += 2;
    const int end = std::min(m_nCharPos, size);
    const int begin = std::max(0, end - 2);
    return m_strLyric.substr(static_cast<std::size_t>(begin),
                             static_cast<std::size_t>(end - begin));
}

const HistogramFrame& CHistogramModel::Advance(int nowMs) {
    HistogramFrame& frame = m_frame;
    frame.nScroll = 0;
    frame.dots.clear();
    frame.lyrics.clear();

    const int64_t step = FloorDiv(nowMs, kStepMs);
    if (m_bFresh ? step >= 0 : step > m_nLastStep) {
        // A stall longer than the picture is wide, or a new start, leaves nothing to keep.
        const int64_t moved = m_bFresh ? m_nWidth : (step - m_nLastStep) * kStepPixels;
        frame.nScroll = static_cast<int>(std::clamp<int64_t>(moved, 0, std::max(0, m_nWidth)));
        m_bFresh = false;
        m_nLastStep = step;
        Enter(step);
    }

    // The marker's pen: far wins over hit, hit over near.
    frame.nMarkerY = m_nMarkerY;
    frame.pen = MarkerPen::Reference;
    if (m_bNear) frame.pen = MarkerPen::Near;
    if (m_bHit) frame.pen = MarkerPen::Hit;
    if (m_bFar) frame.pen = MarkerPen::Far;

    // The strip, from the second call after a restart on.
    frame.bStrip = m_bStripOn;
    m_bStripOn = true;
    return frame;
}

void CHistogramModel::Enter(int64_t step) {
    const int64_t stepMs = step * kStepMs;
    const int64_t dueMs = stepMs + m_nLeadMs;  // the last time the feed edge has reached
    const int lines = static_cast<int>(m_lines.size());
    while (m_nLine < lines) {
        const Line& line = m_lines[m_nLine];
        const int64_t timeMs = line.nStartMs + int64_t{kStepMs} * m_nIndex;
        if (timeMs > dueMs) break;

        const int value = Value(line, m_nIndex);
        const int64_t x = kMarkerX + FloorDiv(timeMs - stepMs, kMsPerPixel);
        if (x >= -kDotRadius && x < int64_t{m_nWidth} + kDotRadius) {
            m_frame.dots.push_back(HistogramDot{m_nLine, m_nIndex, value, static_cast<int>(x),
                                                DisplayY(value, m_nHeight)});
        }

        EnterLyrics(value, x);

        if (++m_nIndex >= line.nCount) {
            m_nIndex = 0;
            m_nSongLyric = 0;
            ++m_nLine;
            while (m_nLine < lines && m_lines[m_nLine].nCount == 0) ++m_nLine;
        }
    }
}

void CHistogramModel::EnterLyrics(int value, int64_t x) {
    if (m_song->Info().bOwnLyrics) {
        // The song's own units of this value: every one whose index has been reached.
        const auto& lyrics = m_song->Info().lyrics;
        if (static_cast<std::size_t>(m_nLine) >= lyrics.size()) return;
        const std::vector<SongLyric>& units = lyrics[static_cast<std::size_t>(m_nLine)];
        while (m_nSongLyric < units.size() && units[m_nSongLyric].nIndex <= m_nIndex)
            PushLyric(units[m_nSongLyric++].strText, x);
        return;
    }
    // A note starts: it takes the next lyric unit, shown when it can be seen.
    const Line& line = m_lines[static_cast<std::size_t>(m_nLine)];
    if (value != 0 && (m_nIndex == 0 || Value(line, m_nIndex - 1) == 0))
        PushLyric(UnitUtf8(NextLyricUnit(NextSpace())), x);
}

void CHistogramModel::PushLyric(std::string utf8, int64_t x) {
    const int64_t left = x - kLyricInset;
    if (!utf8.empty() && left > -int64_t{m_nWidth} && left < m_nWidth)
        m_frame.lyrics.push_back(HistogramLyric{std::move(utf8), m_nLine, m_nIndex,
                                                static_cast<int>(left), 3 * m_nHeight / 4});
}

}  // namespace engine
