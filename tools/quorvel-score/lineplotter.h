// The line pictures of `sing --review`, drawn with the review page's CLinePlot into PNG files.
// Makes the Qt application the drawing needs (on the offscreen platform when no other is set)
// the first time it is called; call it on the main thread.
#pragma once

#include <string>

#include "engine/linereview.h"

namespace tools {

bool PlotLineToPng(const engine::LineReview& review, int roleOffset, const std::string& path,
                   std::string& error);

}  // namespace tools
