#include "engine/judge.h"

#include "engine/easyjudge.h"
#include "engine/strictjudge.h"

namespace engine {

std::unique_ptr<CJudge> MakeJudge(JudgingLevel level) {
    switch (level) {
        case JudgingLevel::Standard:
            return std::make_unique<CStrictJudge>(kStandardLimits);
        case JudgingLevel::Strict:
            return std::make_unique<CStrictJudge>(kStrictLimits);
        case JudgingLevel::Easy:
            break;
    }
    return std::make_unique<CEasyJudge>();
}

}  // namespace engine
