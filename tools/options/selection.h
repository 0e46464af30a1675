// What the whole-network helpers (flowseries-stats, flowseries-diff) take from their command
// lines to choose the values they read: kinds, points and steps, in one spelling.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "series/step_walk.h"

namespace options {

// The kinds by their names, in the order of series::Quantity.
inline constexpr const char* kKindNames[] = {"H", "P", "Q", "va", "vb"};

// A whole number of digits (and a sign) only.
bool parse_whole(std::string_view text, std::int64_t& value);

// Point numbers from 1, as "1-500,700": ascending ranges and single numbers, appended.
bool parse_points(std::string_view text, std::vector<std::int32_t>& points);

// Some of H,P,Q,va,vb: sets exactly those. The name that is none of them, when one is not.
std::optional<std::string> parse_kinds(std::string_view text, bool (&kinds)[5]);

// FIRST:LAST, 1-based and inclusive, either side open: the 0-based range of steps.
bool parse_steps(std::string_view text, series::StepRange& range);

}  // namespace options
