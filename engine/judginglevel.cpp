#include "engine/judginglevel.h"

namespace engine {

const char* JudgingLevelName(JudgingLevel level) {
    switch (level) {
        case JudgingLevel::Standard:
            return "standard";
        case JudgingLevel::Strict:
            return "strict";
        case JudgingLevel::Easy:
            break;
    }
    return "easy";
}

const char* JudgingLevelCaption(JudgingLevel level) {
    switch (level) {
        case JudgingLevel::Standard:
            return "标准";
        case JudgingLevel::Strict:
            return "严格";
        case JudgingLevel::Easy:
            break;
    }
    return "轻松";
}

std::optional<JudgingLevel> ParseJudgingLevel(std::string_view name) {
    for (const JudgingLevel level : kJudgingLevels)
        if (name == JudgingLevelName(level)) return level;
    return std::nullopt;
}

}  // namespace engine
