#include "station/PanelAttempt.h"

#include <cstdio>

namespace station {

std::string StepFailure::Text() const
{
    std::string text = StepName(step);
    if (page) {
        char hex[16];
        std::snprintf(hex, sizeof hex, " page %06X", static_cast<unsigned>(*page));
        text += hex;
    }
    return why.empty() ? text + " failed" : text + ": " + why;
}

std::string AttemptReport::FailReason() const
{
    if (failure) return failure->Text();
    return otherReason.empty() ? "code " + std::to_string(exitCode) : otherReason;
}

std::string AttemptReport::FailText() const
{
    return "FAIL: " + FailReason();
}

} // namespace station
