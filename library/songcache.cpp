#include "library/songcache.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include "library/searchfold.h"
#include "platform/filebytes.h"

namespace library {

namespace {

// The file: the magic line, the format's version, the payload's length and MD5, the payload.
constexpr char kMagic[] = "Quorvel song library cache\n";
// Version 5: each song's music as it was looked at, whether a text is a duet, titles of 8-bit
// texts that name no code page read in the detected one, and each song's cover, year, genre and
// language and its music's length.
constexpr uint32_t kVersion = 5;
constexpr std::size_t kMagicSize = sizeof kMagic - 1;
constexpr std::size_t kDigestSize = 16;
constexpr std::size_t kHeaderSize = kMagicSize + 4 + 8 + kDigestSize;

class Writer {
public:
    void U8(uint8_t value) { m_bytes.append(static_cast<char>(value)); }
    void U32(uint32_t value) {
        for (int i = 0; i < 4; ++i) U8(static_cast<uint8_t>(value >> (8 * i)));
    }
    void I64(int64_t value) {
        const auto bits = static_cast<uint64_t>(value);
        for (int i = 0; i < 8; ++i) U8(static_cast<uint8_t>(bits >> (8 * i)));
    }
    void Text(const std::string& text) {
        U32(static_cast<uint32_t>(text.size()));
        m_bytes.append(text.data(), static_cast<qsizetype>(text.size()));
    }
    const QByteArray& Bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// Reads what Writer wrote; every read checks that the bytes are there, and a count is never
// believed beyond what the remaining bytes can hold, so a damaged file fails instead of
// allocating.
class Reader {
public:
    Reader(const char* data, std::size_t size) : m_data(data), m_size(size) {}

    bool Ok() const { return m_bOk; }
    bool AtEnd() const { return m_pos == m_size; }
    uint8_t U8() {
        if (!Need(1)) return 0;
        return static_cast<uint8_t>(m_data[m_pos++]);
    }
    uint32_t U32() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(U8()) << (8 * i);
        return value;
    }
    int64_t I64() {
        uint64_t value = 0;
        for (int i = 0; i < 8; ++i) value |= static_cast<uint64_t>(U8()) << (8 * i);
        return static_cast<int64_t>(value);
    }
    bool Flag() {
        const uint8_t value = U8();
        if (value > 1) m_bOk = false;
        return value == 1;
    }
    std::string Text() {
        const uint32_t length = U32();
        if (!Need(length)) return {};
        std::string text(m_data + m_pos, length);
        m_pos += length;
        return text;
    }
    // A count of items each at least minBytes long.
    uint32_t Count(std::size_t minBytes) {
        const uint32_t count = U32();
        if (m_bOk && count > (m_size - m_pos) / minBytes) m_bOk = false;
        return m_bOk ? count : 0;
    }

private:
    bool Need(std::size_t count) {
        if (!m_bOk || count > m_size - m_pos) m_bOk = false;
        return m_bOk;
    }

    const char* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
    bool m_bOk = true;
};

QByteArray Digest(const char* data, std::size_t size) {
    return QCryptographicHash::hash(QByteArrayView(data, static_cast<qsizetype>(size)),
                                    QCryptographicHash::Md5);
}

}  // namespace

void CSongCache::Set(std::vector<LibraryRoot> roots, std::vector<SongEntry> entries, Files files) {
    m_roots = std::move(roots);
    m_entries = std::move(entries);
    m_files = std::move(files);
}

const TextFileRecord* CSongCache::Find(const std::string& path, int64_t size,
                                       int64_t modifiedNs) const {
    const auto found = m_files.find(path);
    if (found == m_files.end() || found->second.nSize != size ||
        found->second.nModifiedNs != modifiedNs)
        return nullptr;
    return &found->second;
}

bool CSongCache::Load() {
    std::string bytes, problem;
    // Never blocking, a regular file only (a FIFO in its place is refused), at most the limit.
    if (!platform::ReadFileBytes(m_strPath, bytes, problem, kLargestFile)) {
        Set({}, {}, {});
        return false;
    }
    return Parse(bytes);
}

std::string CSongCache::Frame(std::string_view payload) {
    Writer header;
    header.U32(kVersion);
    header.I64(static_cast<int64_t>(payload.size()));
    std::string bytes(kMagic, kMagicSize);
    bytes.append(header.Bytes().constData(), static_cast<std::size_t>(header.Bytes().size()));
    const QByteArray digest = Digest(payload.data(), payload.size());
    bytes.append(digest.constData(), static_cast<std::size_t>(digest.size()));
    bytes.append(payload);
    return bytes;
}

bool CSongCache::Parse(std::string_view bytes) {
    Set({}, {}, {});
    m_music.clear();
    if (bytes.size() < kHeaderSize || bytes.substr(0, kMagicSize) != kMagic) return false;
    Reader header(bytes.data() + kMagicSize, kHeaderSize - kMagicSize);
    const uint32_t version = header.U32();
    const auto payloadSize = static_cast<uint64_t>(header.I64());
    if (version != kVersion || payloadSize != bytes.size() - kHeaderSize) return false;
    if (Digest(bytes.data() + kHeaderSize, payloadSize) !=
        QByteArrayView(bytes.data() + kHeaderSize - kDigestSize, kDigestSize))
        return false;

    Reader in(bytes.data() + kHeaderSize, payloadSize);
    std::vector<LibraryRoot> roots(in.Count(5));
    for (LibraryRoot& root : roots) {
        root.strPath = in.Text();
        const uint8_t kind = in.U8();
        if (kind > static_cast<uint8_t>(LibraryRoot::Kind::Collection)) return false;
        root.kind = static_cast<LibraryRoot::Kind>(kind);
    }
    std::vector<SongEntry> entries(in.Count(9 * 4 + 3 + 8));
    for (SongEntry& entry : entries) {
        entry.strName = in.Text();
        entry.strFolder = in.Text();
        entry.kind = in.Flag() ? SongEntry::Kind::UltraStar : SongEntry::Kind::Native;
        entry.bMedley = in.Flag();
        entry.strProblem = in.Text();
        entry.strTitle = in.Text();
        entry.strArtist = in.Text();
        entry.bDuet = in.Flag();
        entry.strCover = in.Text();
        entry.strYear = in.Text();
        entry.strGenre = in.Text();
        entry.strLanguage = in.Text();
        entry.nLengthMs = static_cast<int>(in.I64());
        if (!in.Ok()) return false;
    }
    Files files;
    const uint32_t count = in.Count(8 * 4 + 2 * 8 + 3);
    files.reserve(count);
    for (uint32_t i = 0; i < count && in.Ok(); ++i) {
        std::string path = in.Text();
        TextFileRecord record;
        record.nSize = in.I64();
        record.nModifiedNs = in.I64();
        record.bSong = in.Flag();
        record.bMedley = in.Flag();
        record.bDuet = in.Flag();
        record.strTitle = in.Text();
        record.strArtist = in.Text();
        record.strCover = in.Text();
        record.strYear = in.Text();
        record.strGenre = in.Text();
        record.strLanguage = in.Text();
        record.strProblem = in.Text();
        files.emplace(std::move(path), std::move(record));
    }
    Music music;
    const uint32_t songs = in.Count(4 * 4 + 5 * 8 + 1);
    music.reserve(songs);
    for (uint32_t i = 0; i < songs && in.Ok(); ++i) {
        std::string path = in.Text();
        MusicRecord record;
        record.strSongFile = in.Text();
        record.nSongSize = in.I64();
        record.nSongModifiedNs = in.I64();
        record.strMusic = in.Text();
        record.nMusicSize = in.I64();
        record.nMusicModifiedNs = in.I64();
        record.nLengthMs = static_cast<int>(in.I64());
        record.bExact = in.Flag();
        record.strProblem = in.Text();
        music.emplace(std::move(path), std::move(record));
    }
    if (!in.Ok() || !in.AtEnd()) return false;
    // The search keys are made again: the folding may differ between versions of the program.
    for (SongEntry& entry : entries) entry.searchKey = SearchKey(entry);
    Set(std::move(roots), std::move(entries), std::move(files));
    m_music = std::move(music);
    return true;
}

std::string CSongCache::Encode() const {
    Writer out;
    out.U32(static_cast<uint32_t>(m_roots.size()));
    for (const LibraryRoot& root : m_roots) {
        out.Text(root.strPath);
        out.U8(static_cast<uint8_t>(root.kind));
    }
    out.U32(static_cast<uint32_t>(m_entries.size()));
    for (const SongEntry& entry : m_entries) {
        out.Text(entry.strName);
        out.Text(entry.strFolder);
        out.U8(entry.kind == SongEntry::Kind::UltraStar ? 1 : 0);
        out.U8(entry.bMedley ? 1 : 0);
        out.Text(entry.strProblem);
        out.Text(entry.strTitle);
        out.Text(entry.strArtist);
        out.U8(entry.bDuet ? 1 : 0);
        out.Text(entry.strCover);
        out.Text(entry.strYear);
        out.Text(entry.strGenre);
        out.Text(entry.strLanguage);
        out.I64(entry.nLengthMs);
    }
    out.U32(static_cast<uint32_t>(m_files.size()));
    for (const auto& [path, record] : m_files) {
        out.Text(path);
        out.I64(record.nSize);
        out.I64(record.nModifiedNs);
        out.U8(record.bSong ? 1 : 0);
        out.U8(record.bMedley ? 1 : 0);
        out.U8(record.bDuet ? 1 : 0);
        out.Text(record.strTitle);
        out.Text(record.strArtist);
        out.Text(record.strCover);
        out.Text(record.strYear);
        out.Text(record.strGenre);
        out.Text(record.strLanguage);
        out.Text(record.strProblem);
    }
    out.U32(static_cast<uint32_t>(m_music.size()));
    for (const auto& [path, record] : m_music) {
        out.Text(path);
        out.Text(record.strSongFile);
        out.I64(record.nSongSize);
        out.I64(record.nSongModifiedNs);
        out.Text(record.strMusic);
        out.I64(record.nMusicSize);
        out.I64(record.nMusicModifiedNs);
        out.I64(record.nLengthMs);
        out.U8(record.bExact ? 1 : 0);
        out.Text(record.strProblem);
    }
    const QByteArray& payload = out.Bytes();
    return Frame(std::string_view(payload.constData(), static_cast<std::size_t>(payload.size())));
}

bool CSongCache::Save() const {
    const std::string bytes = Encode();
    const QString path = QString::fromStdString(m_strPath);
    if (m_strPath.empty() || !QDir().mkpath(QFileInfo(path).absolutePath())) return false;
    std::string problem;
    return platform::ReplaceFile(m_strPath, bytes, problem);
}

}  // namespace library
