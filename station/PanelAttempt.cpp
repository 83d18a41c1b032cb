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

std::string AttemptReport::FailText() const
{
    if (failure) return "FAIL: " + failure->Text();
    return "FAIL: " + (otherReason.empty() ? std::string("code ") + std::to_string(exitCode) : otherReason);
}

} // namespace station
