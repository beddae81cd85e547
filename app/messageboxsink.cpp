#include "app/messageboxsink.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include <cstdio>

void CMessageBoxSink::ShowMessage(const std::string& text, platform::MessageIcon icon,
                                  const std::string& caption) {
    // A box belongs to the UI thread: from any other thread the message goes there as a queued
    // call, and this thread goes on at once.
    if (QThread::currentThread() != qApp->thread()) {
        QMetaObject::invokeMethod(
            qApp, [this, text, icon, caption] { ShowMessage(text, icon, caption); },
            Qt::QueuedConnection);
        return;
    }
    // Every message is in the trace output too, for whoever reads the log afterwards.
    Trace("message: " + text + "\n");
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

void CMessageBoxSink::Beep(platform::MessageIcon icon) {
    if (QThread::currentThread() != qApp->thread()) {
        QMetaObject::invokeMethod(
            qApp, [this, icon] { Beep(icon); }, Qt::QueuedConnection);
        return;
    }
    QApplication::beep();
}

void CMessageBoxSink::Trace(const std::string& line) { std::fputs(line.c_str(), stderr); }
