// The judging level the user chose on the song list, kept in the user's Qt settings file
// (organisation and application "Quorvel") beside the microphone settings, by its name ("easy",
// "standard", "strict"). Anything else read back is Easy.
#pragma once

#include "engine/judginglevel.h"

class CJudgingSettings {
public:
    engine::JudgingLevel level = engine::JudgingLevel::Easy;

    static CJudgingSettings Load();
    // Writes the settings; false when the file cannot be written.
    bool Save() const;
};
