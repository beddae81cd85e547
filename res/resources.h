// The program's pictures and strings, found by their resource ids (named below) as the windows ask
// for them: bitmaps (backgrounds, button faces), animated GIFs (as their file bytes, for the
// picture control's own parser), icons, the hand cursor and the string table. Whatever is missing
// comes back null or empty; drawing a null picture draws nothing.
#pragma once

#include <QByteArray>
#include <QCursor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace res {

// Backgrounds.
inline constexpr int kBitmapHome = 175;      // theatre stage: the home screen, the singing ground
inline constexpr int kBitmapSongList = 176;  // song-list screen: list, boxes and role panels
inline constexpr int kBitmapScore = 177;     // score picture: sunburst with a heart
inline constexpr int kBitmapCard = 228;      // stage with a light card: type choice, help, settings

// The home screen's button faces, normal and under the mouse.
inline constexpr int kBitmapStart = 218;          // "开始演唱" button face
inline constexpr int kBitmapStartHover = 219;     // the same, under the mouse
inline constexpr int kBitmapSettings = 221;       // "麦克风设置" button face
inline constexpr int kBitmapSettingsHover = 222;  // the same, under the mouse
inline constexpr int kBitmapHelp = 223;           // "帮助" button face
inline constexpr int kBitmapHelpHover = 224;      // the same, under the mouse
inline constexpr int kBitmapExit = 225;           // "退出" button face
inline constexpr int kBitmapExitHover = 226;      // the same, under the mouse

// Animated GIFs.
inline constexpr int kGifSingles = 237;    // microphone tile: choose single songs
inline constexpr int kGifMedleys = 238;    // records on a skewer: choose medleys
inline constexpr int kGifStageBoy = 245;   // stage with a boy singing (role 1)
inline constexpr int kGifStageGirl = 246;  // stage with a girl singing (role 2)

// Icons.
inline constexpr int kIconApp = 128;     // the application: microphone and note
inline constexpr int kIconTomato = 163;  // smiling tomato: the line progress bar
inline constexpr int kIconGirl = 206;    // little girl: the song-time progress bar
inline constexpr int kIconBack = 232;    // return arrow: home, back, close
inline constexpr int kIconClear = 241;   // red ×: clear a song-name box
inline constexpr int kIconPlay = 242;    // play triangle: confirm and start singing
inline constexpr int kIconStop = 250;    // stop mark: stop singing
inline constexpr int kIconFolder = 256;  // open folder: open the songs folder

// Cursor and string.
inline constexpr int kCursorHand = 239;   // pointing hand
inline constexpr int kStringAbout = 101;  // the about item of the window's menu

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
