// What the singing engine needs from the screen. The main dialog implements it with its
// controls; the headless scorer and the tests implement it without any.
#pragma once

#include <string>

namespace engine {

class CEngineView {
public:
    virtual ~CEngineView() = default;

    // Shows text on the grade label (control 1040) in the grade font, redrawn at once; the label's
    // colour follows the word.
    virtual void SetGradeText(const std::string& text) = 0;
};

}  // namespace engine
