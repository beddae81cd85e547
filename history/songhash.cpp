#include "history/songhash.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <cstring>

namespace history {

std::string SongHash(const engine::CSong& song) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    auto add = [&hash](const void* data, std::size_t bytes) {
        hash.addData(QByteArrayView(static_cast<const char*>(data), static_cast<qsizetype>(bytes)));
    };
    const int points = song.Points();
    add(&points, sizeof points);
    for (int p = 0; p < points; ++p) {
        const float start = song.Start(p), end = song.End(p);
        add(&start, sizeof start);
        add(&end, sizeof end);
    }
    add(song.Records(), song.RecordCells() * sizeof(int32_t));
    return hash.result().toHex().toStdString();
}

}  // namespace history
