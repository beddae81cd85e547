#include "app/messageboxsink.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

void CMessageBoxSink::ShowMessage(const std::string& text, platform::MessageIcon icon,
                                  const std::string& caption) {
    QMessageBox::Icon shown = QMessageBox::NoIcon;
    switch (icon) {
        case platform::MessageIcon::Information:
            shown = QMessageBox::Information;
            break;
        case platform::MessageIcon::Exclamation:
            shown = QMessageBox::Warning;
            break;
        case platform::MessageIcon::Error:
            shown = QMessageBox::Critical;
            break;
        case platform::MessageIcon::None:
            break;
    }
    QMessageBox box(shown,
                    caption.empty() ? QStringLiteral("Quorvel") : QString::fromStdString(caption),
                    QString::fromStdString(text), QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

void CMessageBoxSink::Beep(platform::MessageIcon) { QApplication::beep(); }

void CMessageBoxSink::Trace(const std::string& line) { std::fputs(line.c_str(), stderr); }
