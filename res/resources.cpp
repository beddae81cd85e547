#include "res/resources.h"

#include <QFile>
#include <QImage>
#include <QStringList>

// The compiled resources live in this static library; they are registered on first use.
static void InitResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    (void)done;
}

namespace res {
namespace {

QString Path(const char* kind, int id) {
    return QStringLiteral(":/res/%1/%2").arg(QLatin1String(kind)).arg(id);
}

QByteArray ReadAll(const QString& path) {
    InitResources();
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

QPixmap LoadBitmap(int id) {
    InitResources();
    return QPixmap(Path("bitmap", id));
}

QByteArray LoadGif(int id) { return ReadAll(Path("gif", id)); }

QIcon LoadIcon(int id) {
    InitResources();
    const QString path = Path("icon", id);
    return QFile::exists(path) ? QIcon(path) : QIcon();
}

QPixmap LoadIconPixmap(int id, int size) {
    const QIcon icon = LoadIcon(id);
    return icon.isNull() ? QPixmap() : icon.pixmap(size, size);
}

QCursor LoadCursor(int id) {
    InitResources();
    const QPixmap picture(Path("cursor", id));
    if (picture.isNull()) return QCursor(Qt::ArrowCursor);
    // The hot spot is stored beside the picture as "x y".
    const QStringList spot = QString::fromLatin1(ReadAll(Path("hotspot", id))).split(' ');
    const int x = spot.size() == 2 ? spot[0].toInt() : 0;
    const int y = spot.size() == 2 ? spot[1].trimmed().toInt() : 0;
    return QCursor(picture, x, y);
}

QString LoadString(int id) {
    // One "id<TAB>text" a line, UTF-8.
    const QStringList lines =
        QString::fromUtf8(ReadAll(QStringLiteral(":/res/strings"))).split('\n');
    const QString key = QString::number(id) + '\t';
    for (const QString& line : lines)
        if (line.startsWith(key)) return line.mid(key.size());
    return QString();
}

}  // namespace res
