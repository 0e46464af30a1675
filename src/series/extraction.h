// The step loop: reads the point lists, then every step block up to the end of the result file
// or the step limit, copying the listed values into the series tables, and writes the files.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "inputs/point_list.h"
#include "inputs/result_file.h"
#include "records/channel.h"
#include "series/tail_steps.h"

namespace series {

// Views of the work area. Each table is column-major: the point index varies fastest and one
// column holds one step (the V table has the component, va then vb, between them).
struct SeriesTables {
  inputs::Limits limits;  // after defaults; the strides of the tables
  std::span<double> time, h, p, q, v;
  std::span<std::int32_t> h_list, p_list, q_list, v_list;
};

// Reads the lists from `point_list` (positioned after its limits line) and closes it, reads the
// steps from `result` (positioned after its header), and writes the series files: in the current
// directory, as the program does, or in `folder`.
void extract_series(records::Channel& point_list, records::Channel& result,
                    const inputs::ResultHeader& header, SeriesTables& tables,
                    std::string_view folder = {});

// The step loop alone; returns the number of stored steps.
std::int32_t store_steps(records::Channel& result, const inputs::ResultHeader& header,
                         const inputs::PointCounts& counts, SeriesTables& tables,
                         const TailOptions& tail_options = {});

}  // namespace series
