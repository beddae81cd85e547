// The faces the windows ask for, mapped onto fonts a Linux desktop has: the Chinese faces "黑体",
// "宋体" and "System" onto WenQuanYi Zen Hei, the Kai faces ("楷体_GB2312", "楷体") onto AR PL
// UKai, "Arial" onto Liberation Sans.
#pragma once

#include <QFont>
#include <QString>

namespace display {

// Installs the substitutions (once; later calls do nothing).
void InstallFontSubstitutions();

// A font asked for the way the windows ask for one: a face, a cell height in pixels and, when
// not 0, an average character width, which the font is stretched to.
QFont MakeFont(const QString& face, int height, int averageWidth = 0, int weight = 400);

}  // namespace display
