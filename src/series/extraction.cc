// Extraction of the listed points' values, step by step.
#include "series/extraction.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "records/channel.h"
#include "series/page_filler.h"
#include "series/series_file.h"
#include "series/step_walk.h"
#include "series/tail_steps.h"

namespace series {
namespace {

std::size_t at(std::int32_t i) {
  return static_cast<std::size_t>(i);
}

void store_step(const inputs::StepBuffers& step, const inputs::ResultHeader& header,
                const inputs::PointCounts& counts, SeriesTables& t, std::int32_t s) {
  const inputs::Limits& l = t.limits;
  t.time[at(s)] = step.time;
  for (std::int32_t k = 0; k < counts.p; ++k)
    if (const std::int32_t v = t.p_list[at(k)]; v > 0)
      t.p[at(k) + at(l.p) * at(s)] = step.p[at(v - 1)];
  for (std::int32_t k = 0; k < counts.h; ++k)
    if (const std::int32_t v = t.h_list[at(k)]; v > 0)
      t.h[at(k) + at(l.h) * at(s)] = column_value(Quantity::kH, step, header, at(v - 1));
  for (std::int32_t k = 0; k < counts.q; ++k)
    if (const std::int32_t v = t.q_list[at(k)]; v > 0)
      t.q[at(k) + at(l.q) * at(s)] = step.q[at(v - 1)];
  for (std::int32_t k = 0; k < counts.v; ++k) {
    if (const std::int32_t v = t.v_list[at(k)]; v > 0) {
      t.v[at(k) + at(l.v) * (2 * at(s))] = step.va[at(v - 1)];
      t.v[at(k) + at(l.v) * (2 * at(s) + 1)] = step.vb[at(v - 1)];
    }
  }
}

std::span<const std::int32_t> first(std::span<const std::int32_t> list, std::int32_t count) {
  return list.first(count > 0 ? at(count) : 0);
}

// The tables whose pages the filler makes present ahead of the loop, with their doubles per step.
std::vector<PageFiller::Table> page_filler_tables(const SeriesTables& t) {
  const inputs::Limits& l = t.limits;
  return {{t.time, 1}, {t.p, at(l.p)}, {t.h, at(l.h)}, {t.q, at(l.q)}, {t.v, 2 * at(l.v)}};
}

}  // namespace

std::int32_t store_steps(records::Channel& result, const inputs::ResultHeader& header,
                         const inputs::PointCounts& counts, SeriesTables& tables,
                         const TailOptions& tail_options) {
  std::vector<std::int32_t> node_points;
  for (auto list : {first(tables.h_list, counts.h), first(tables.p_list, counts.p),
                    first(tables.q_list, counts.q)})
    node_points.insert(node_points.end(), list.begin(), list.end());
  inputs::StepBuffers step;
  inputs::prepare_step_buffers(step, header, node_points, first(tables.v_list, counts.v));

  PageFiller filler(tables.limits.steps, page_filler_tables(tables));
  const StepSink store = [&](const inputs::StepBuffers& decoded, std::int32_t s) {
    store_step(decoded, header, counts, tables, s);
  };
  WalkOptions options;
  options.range.end = tables.limits.steps;
  options.read_past_end = true;
  options.tail = tail_options;
  options.filler = &filler;
  return walk_steps(result, header, step, options, store, store).steps;
}

void extract_series(records::Channel& point_list, records::Channel& result,
                    const inputs::ResultHeader& header, SeriesTables& tables,
                    std::string_view folder) {
  const auto named = [folder](std::string_view name) {
    return folder.empty() ? std::string(name) : std::string(folder) + "/" + std::string(name);
  };
  const inputs::PointCounts counts = inputs::read_point_lists(
      point_list, {tables.h_list, tables.p_list, tables.q_list, tables.v_list},
      header.node_capacity(), header.link_capacity());
  records::close_channel(point_list);

  const std::int32_t stored = store_steps(result, header, counts, tables);
  const std::span<const double> times = std::span<const double>(tables.time).first(at(stored));
  const inputs::Limits& l = tables.limits;
  if (counts.h > 0)
    write_series_file(named("HTIME.CSV"), 10, first(tables.h_list, counts.h), times,
                      {tables.h, at(l.h), 1, 0});
  if (counts.p > 0)
    write_series_file(named("PTIME.CSV"), 11, first(tables.p_list, counts.p), times,
                      {tables.p, at(l.p), 1, 0});
  if (counts.q > 0)
    write_series_file(named("QTIME.csv"), 12, first(tables.q_list, counts.q), times,
                      {tables.q, at(l.q), 1, 0});
  if (counts.v > 0)
    write_series_file(named("VTIME.csv"), 12, first(tables.v_list, counts.v), times,
                      {tables.v, 2 * at(l.v), 2, at(l.v)});
}

}  // namespace series
