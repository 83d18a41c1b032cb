#pragma once
// /metrics in Prometheus's text format: the attempts by station, fixture and outcome,
// and the cycle time as a histogram. No serial ever becomes a label.
#include <string>

#include "records/server/PgConnection.h"

namespace line {

bool MetricsText(CPgConnection& conn, std::string& text, std::string& error);
// A label's value with \, " and line breaks escaped.
std::string LabelValue(const std::string& text);

} // namespace line
