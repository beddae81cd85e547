// The program's pictures and strings, found by their resource ids as the windows ask for them:
// bitmaps (backgrounds, button faces), animated GIFs (as their file bytes, for the picture
// control's own parser), icons, the hand cursor and the string table. Whatever is missing comes
// back null or empty; drawing a null picture draws nothing.
#pragma once

#include <QByteArray>
#include <QCursor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace res {

inline constexpr int kSystemIconSize = 32;  // the icon size the controls draw

QPixmap LoadBitmap(int id);
QByteArray LoadGif(int id);
QIcon LoadIcon(int id);
// The icon at the system size (32 × 32), or a null pixmap.
QPixmap LoadIconPixmap(int id, int size = kSystemIconSize);
// The cursor with its hot spot; the arrow when the picture is missing.
QCursor LoadCursor(int id);
QString LoadString(int id);

}  // namespace res
