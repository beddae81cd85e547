#include "engine/histogrammodel.h"

#include <algorithm>
#include <cmath>

#include "engine/pitchcompare.h"
#include "engine/songfolder.h"
#include "platform/codepage.h"
#include "platform/filebytes.h"
#include "platform/messages.h"

namespace engine {
namespace {

constexpr const char* kNoSong = "请打开歌曲列表，选择要演唱的曲目";
constexpr const char* kEmptyFile = "文件为空!";

constexpr int kDotInset = 50;   // the dots enter this far left of the right edge
constexpr int kFeedInset = 30;  // base x of a lyric unit on a tick that drew a dot
constexpr int kScrollStep = 3;  // pixels the picture moves per tick
constexpr int kDefaultWordTicks = 25;

int Find(const std::string& text, char c, int from) {
    if (from < 0) from = 0;
    const std::size_t at = text.find(c, static_cast<std::size_t>(from));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

}  // namespace

CHistogramModel::CHistogramModel(int width, int height) : m_nWidth(width), m_nHeight(height) {}

void CHistogramModel::SetReferenceData(const int32_t* blocks, const float* starts,
                                       const float* ends, int points) {
    if (!blocks || !starts || !ends) {
        blocks = nullptr;
        starts = ends = nullptr;
        points = 0;
    }
    m_pBlocks = m_pBlock = blocks;
    m_nBlockLine = 0;
    m_pStarts = starts;
    m_pEnds = ends;
    m_nStartCount = points;
}

void CHistogramModel::Restart() {
    m_bNear = 0;
    m_bHit = 0;
    m_bFar = 1;
    m_nFeedLine = 0;
    m_fTime.store(0.0f, std::memory_order_relaxed);
    m_nFed = 0;
    m_nPrevNoteEnd = 0;
    m_nIndex = 1;
    m_nMarkerY = 80;
    m_nCharPos = 0;
    m_bStripOn = 0;
    m_nMarkerLine = 0;
    m_fLeadTicks = static_cast<float>(static_cast<float>(m_nWidth - kDotInset) / 3.0);
    m_fLeadSeconds = static_cast<float>(m_fLeadTicks * 15.5 * 0.001);
}

void CHistogramModel::SetPitchMarker(int y, int nearFlag, int hitFlag, int farFlag) {
    m_nMarkerY = y;
    m_bNear = nearFlag;
    m_bHit = hitFlag;
    m_bFar = farFlag;
}

bool CHistogramModel::HasLines() const { return m_nStartCount >= 2; }

int CHistogramModel::BlockCount() const { return HasLines() ? std::max(0, m_pBlock[0]) : 0; }

int CHistogramModel::BlockValue(int index) const {
    if (!HasLines() || index < 0 || index > BlockCount()) return 0;
    return m_pBlock[index];
}

int CHistogramModel::MarkerLineFrames() const {
    if (!HasLines()) return 0;
    if (m_pLineCounts) return m_pLineCounts[m_nMarkerLine];
    const int32_t* block = m_pBlocks;
    for (int line = 0; line < m_nMarkerLine; ++line) block += std::max(0, block[0]) + 1;
    return std::max(0, block[0]);
}

bool CHistogramModel::LoadLyrics(const std::string& song, bool medley) {
    if (song.empty()) {
        platform::ShowMessage(kNoSong, platform::MessageIcon::Information);
        return false;
    }
    const std::string path = SongFolderPath(m_strLibrary, medley, song) + "/Lyric";

    m_nCharPos = 0;
    m_nWordSearch = 0;
    m_strLyric.clear();

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

HistogramTick CHistogramModel::Tick() {
    HistogramTick tick;
    const int n = m_nStartCount;

    // The space that opens the next word.
    const int r = Find(m_strLyric, ' ', m_nWordSearch);

    // Feed the next reference value while the line's window is open.
    const int line = m_nFeedLine;
    const int count = BlockCount();
    int baseX = 0;
    if (HasLines() && line <= n - 2) {
        const float time = m_fTime.load(std::memory_order_relaxed);
        if (m_pStarts[line] - m_fLeadSeconds <= time && time <= m_pEnds[line]) {
            baseX = m_nWidth - kFeedInset;
            tick.bDot = true;
            tick.nDotValue = BlockValue(m_nIndex);
            tick.nDotX = m_nWidth - kDotInset;
            tick.nDotY = DisplayY(tick.nDotValue, m_nHeight);
            if (m_nIndex <= count) ++m_nIndex;
            ++m_nFed;
        }
    }

    // The feed moves to the next line before the block's final value.
    if (m_nIndex > count - 1 && line < n - 2) {
        if (m_nBlockLine < n - 2) {  // only a Restart without new data could get ahead of it
            m_pBlock += count + 1;
            ++m_nBlockLine;
        }
        m_nIndex = 1;
        m_nPrevNoteEnd = 0;
        ++m_nFeedLine;
    }

    // The marker moves to the next line once that line's frames have passed under it.
    if (static_cast<float>(m_nFed) - m_fLeadTicks - static_cast<float>(MarkerLineFrames()) >= 0) {
        m_nFed = static_cast<int>(m_fLeadTicks);
        if (m_nMarkerLine < n - 2) ++m_nMarkerLine;
    }

    // Only possible without lines: the marker stays on line 0.
    if (m_nFeedLine > n - 2) m_nMarkerLine = 0;

    // A lyric unit for a note whose last value is drawn next.
    if (m_nIndex > 0) {
        const int p = BlockValue(m_nIndex);
        const int q = BlockValue(m_nIndex + 1);
        if (p == 0) {
            ++m_nZeroRun;
        } else if (q == 0) {
            int k = m_nIndex - m_nPrevNoteEnd - m_nZeroRun;
            if (k <= 0) k = kDefaultWordTicks;
            m_nPrevNoteEnd = m_nIndex;
            tick.strLyric = NextLyricUnit(r);
            tick.bLyric = !tick.strLyric.empty();
            tick.nLyricX = baseX - kScrollStep * k - 10;
            tick.nLyricY = 3 * m_nHeight / 4;
            m_nZeroRun = 0;
        }
    }

    // The marker's pen: far wins over hit, hit over near.
    tick.nMarkerY = m_nMarkerY;
    if (m_bNear) tick.pen = MarkerPen::Near;
    if (m_bHit) tick.pen = MarkerPen::Hit;
    if (m_bFar) tick.pen = MarkerPen::Far;

    // The strip, from the second tick after a restart on.
    tick.bStrip = m_bStripOn != 0;
    m_bStripOn = 1;
    return tick;
}

}  // namespace engine
