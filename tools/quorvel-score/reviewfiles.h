// The review of a scored recording as files, for a teacher without the window: review.json with
// every line's result, its reference notes and the record of every judged buffer, and one
// picture per line ("<song>-<line>.png", both counted from 1) drawn as the review page draws it.
#pragma once

#include <functional>
#include <string>

#include "engine/headlesssession.h"
#include "engine/linereview.h"

namespace tools {

// Draws a line's picture into a PNG file; false with the reason in error.
using LinePlotter = std::function<bool(const engine::LineReview& review, int roleOffset,
                                       const std::string& path, std::string& error)>;

// Writes the review into folder (made when missing). role is 1 or 2, level the judging level's
// name. plotter may be empty: then only review.json is written. False with the problem in error.
bool WriteReview(const std::string& folder, int role, const std::string& level,
                 const engine::SessionResult& result, const LinePlotter& plotter,
                 std::string& error);

}  // namespace tools
