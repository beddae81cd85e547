#include "tools/quorvel-score/lineplotter.h"

#include <QGuiApplication>
#include <QImage>
#include <QString>

#include <memory>

#include "display/lineplot.h"

namespace tools {

bool PlotLineToPng(const engine::LineReview& review, int roleOffset, const std::string& path,
                   std::string& error) {
    static std::unique_ptr<QGuiApplication> application;
    if (!QGuiApplication::instance()) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "quorvel-score";
        static char* argv[] = {name, nullptr};
        application = std::make_unique<QGuiApplication>(argc, argv);
    }
    const QImage image = CLinePlot(review, roleOffset).Draw();
    if (!image.save(QString::fromStdString(path), "PNG")) {
        error = path + ": the picture cannot be written";
        return false;
    }
    return true;
}

}  // namespace tools
