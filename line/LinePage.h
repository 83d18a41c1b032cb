#pragma once
// The page's first fill, made by the server: the tiles, alarms, yields and tables exactly
// as the page's script makes them from the same answers, so that the browser's first frame
// shows the line without waiting for the script and its reads. Every text from the records
// goes in escaped.
#include <optional>
#include <string>
#include <string_view>

#include "line/LineTable.h"

namespace line {

// Today's answers, as the page asks for them first; one missing leaves the page empty
// for its script to fill (and to say why it cannot).
struct CFirstAnswers
{
    std::optional<CLineTable> fixtures, alarms, yields, cycleTimes, pareto;
};

// The page (index.html), its containers filled and its <main> marked data-filled when every
// answer is there; as it is otherwise.
std::string FillPage(std::string_view page, const CFirstAnswers& answers);

} // namespace line
