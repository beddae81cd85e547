#include "engine/judginglevel.h"

#include <cstddef>

namespace engine {
namespace {

struct Names {
    const char* name;
    const char* caption;
};
// In the order of JudgingLevel.
constexpr Names kNames[] = {{"easy", "轻松"}, {"standard", "标准"}, {"strict", "严格"}};

const Names& NamesOf(JudgingLevel level) {
    const auto index = static_cast<std::size_t>(level);
    return index < std::size(kNames) ? kNames[index] : kNames[0];
}

}  // namespace

const char* JudgingLevelName(JudgingLevel level) { return NamesOf(level).name; }

const char* JudgingLevelCaption(JudgingLevel level) { return NamesOf(level).caption; }

std::optional<JudgingLevel> ParseJudgingLevel(std::string_view name) {
    for (const JudgingLevel level : kJudgingLevels)
        if (name == JudgingLevelName(level)) return level;
    return std::nullopt;
}

}  // namespace engine
