// How strictly a performance is judged. Easy is the specified judging and the default; Standard
// and Strict track pitch with the precise tracker and judge with narrower limits (see CJudge).
#pragma once

#include <optional>
#include <string_view>

namespace engine {

enum class JudgingLevel { Easy, Standard, Strict };

inline constexpr JudgingLevel kJudgingLevels[] = {JudgingLevel::Easy, JudgingLevel::Standard,
                                                  JudgingLevel::Strict};

// "easy", "standard", "strict": the name in settings, in results and on the command line.
const char* JudgingLevelName(JudgingLevel level);
// "轻松", "标准", "严格": the caption the user sees.
const char* JudgingLevelCaption(JudgingLevel level);
// The level of a name (as JudgingLevelName writes it), or nothing for any other text.
std::optional<JudgingLevel> ParseJudgingLevel(std::string_view name);

}  // namespace engine
