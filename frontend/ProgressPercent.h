#pragma once
// The progress dialog's percent label, as every front end shows it.
#include <cstdint>
#include <string>

// The label for nPos on a bar from nLower to nUpper: "37%", or empty below the range. False when
// the range is empty, and the label keeps what it shows.
bool FormatProgressPercent(int32_t nLower, int32_t nUpper, int32_t nPos, std::string& strText);
