#include "tools/quorvel-score/lineplotter.h"

#include <QGuiApplication>
#include <QImage>
#include <QString>

#include "display/lineplot.h"

namespace tools {

bool PlotLineToPng(const engine::LineReview& review, int roleOffset, const std::string& path,
                   std::string& error) {
    if (!QGuiApplication::instance()) {
        // Drawing text needs an application. It lives until the process ends: destroyed while
        // the process exits, it would outlive Qt's own globals.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "quorvel-score";
        static char* argv[] = {name, nullptr};
        static QGuiApplication* const application = new QGuiApplication(argc, argv);
        (void)application;
    }
    const QImage image = CLinePlot(review, roleOffset).Draw();
    if (!image.save(QString::fromStdString(path), "PNG")) {
        error = path + ": the picture cannot be written";
        return false;
    }
    return true;
}

}  // namespace tools
