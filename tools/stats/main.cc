// flowseries-stats: the statistics of every node and link of result files, and what a file holds,
// each file read once with the program's own step walk.
//
//   flowseries-stats [options] RESULT...
//   flowseries-stats --info [--json] RESULT...

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "driver/work_area.h"
#include "inputs/point_list.h"
#include "inputs/result_file.h"
#include "options/json_text.h"
#include "options/selection.h"
#include "platform/platform.h"
#include "records/channel.h"
#include "records/failure.h"
#include "series/statistics.h"

namespace {

using series::Quantity;

constexpr const char* kUsage =
    "usage: flowseries-stats [options] RESULT...\n"
    "       flowseries-stats --info [--json] RESULT...\n"
    "\n"
    "Reads each result file once and writes, per file, quantity and point, one CSV line:\n"
    "  file,status,kind,point,steps,nan,min,time_of_min,max,time_of_max,mean\n"
    "kind H (base + p), P, Q per node, va, vb per link; status complete, cut (the figures are\n"
    "those of the complete steps before the cut) or failed NN (the failure flowseries would end\n"
    "with; figures empty). min and max leave NaN out; the times are those of the first step\n"
    "holding the value; numbers in their shortest form that reads back the same.\n"
    "\n"
    "  --points FILE   the lists of a point-list file (H, P, Q for nodes, V for links)\n"
    "  --nodes LIST    node numbers, as 1-500,700 (default: every node)\n"
    "  --links LIST    link numbers (default: every link)\n"
    "  --kind KINDS    some of H,P,Q,va,vb (default: all)\n"
    "  --steps F:L     steps F to L only (1-based, inclusive; F: or :L open-ended)\n"
    "  --member PATTERN  what the file column says of each file: {path} as given (the\n"
    "                  default), {name}, {stem} (without extension), {dir} (its folder's name),\n"
    "                  {index} (from 1), and any other text\n"
    "  -o FILE         write to FILE instead of standard output\n"
    "  -j N            files read at the same time (default: the cores)\n"
    "  --info          what each file holds instead: title, N, M, steps, times, whether cut\n"
    "  --json          with --info: one JSON object per file, one per line\n"
    "  -h, --help      this text\n"
    "  -V, --version   the program's version\n"
    "\n"
    "Exit status 0 when every file was read complete, 1 when one was cut or could not be read\n"
    "(each named on standard error with flowseries' report line), 2 for a wrong command line.\n"
    "Manual: man flowseries-stats\n";

int wrong_usage(const std::string& what) {
  std::cerr << "flowseries-stats: " << what << " (see flowseries-stats --help)\n";
  return 2;
}

struct Options {
  std::vector<std::string> files;
  std::optional<std::string> points_file, output;
  std::optional<std::vector<std::int32_t>> nodes, links;
  bool kinds[5] = {true, true, true, true, true};
  series::StepRange range;
  unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
  bool info = false, json = false;
  std::string member = "{path}";  // what the file column says of each file
};

// The member's name of the file at `index` (0-based) for the pattern: {path} as given, {name}
// without folders, {stem} without its extension too, {dir} the folder's own name, {index} from 1.
std::string member_of(const std::string& pattern, const std::string& path, std::size_t index) {
  const std::size_t slash = path.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  if (const std::size_t up = folder.find_last_of("/\\"); up != std::string::npos)
    folder = folder.substr(up + 1);
  std::string out;
  for (std::size_t i = 0; i < pattern.size();) {
    bool replaced = false;
    for (const auto& [key, value] : {std::pair<std::string_view, std::string>{"{path}", path},
                                     {"{name}", name},
                                     {"{stem}", stem},
                                     {"{dir}", folder},
                                     {"{index}", std::to_string(index + 1)}})
      if (pattern.compare(i, key.size(), key) == 0) {
        out += value;
        i += key.size();
        replaced = true;
        break;
      }
    if (!replaced) out += pattern[i++];
  }
  return out;
}

using options::kKindNames;

std::string text_of(double v) {
  return series::shortest_text(v);
}

using options::json_number;
using options::json_string;

// The lines of one file, and its line for standard error when it is not complete.
struct FileOutcome {
  std::string lines;
  std::string report;
  bool complete = true;
};

std::string report_of(const std::string& file, const records::Failure& failure) {
  return file + ": " + records::report_line(failure);
}

FileOutcome file_info(const std::string& file, const Options& o) {
  FileOutcome out;
  try {
    records::Channel result =
        records::open_channel(records::kResultChannel, file, records::ChannelKind::kBinary,
                              records::OpenMode::kMustExist);
    result.check_trailing_lengths = true;
    const inputs::ResultHeader header = inputs::read_result_header(result);
    const series::FileInfo info = series::read_info(result, header);
    const std::string title(header.title.data(), header.title.size());
    out.complete = info.cut.empty();
    if (!out.complete) out.report = "flowseries-stats: " + file + ": cut " + info.cut;
    std::ostringstream s;
    if (o.json) {
      s << "{\"file\": " << json_string(file) << ", \"title\": " << json_string(title)
        << ", \"nodes\": " << header.node_count << ", \"links\": " << header.link_count
        << ", \"steps\": " << info.steps << ", \"complete\": " << (out.complete ? "true" : "false")
        << ", \"cut\": " << (out.complete ? "null" : json_string(info.cut))
        << ", \"first_time\": " << json_number(info.first_time)
        << ", \"last_time\": " << json_number(info.last_time)
        << ", \"min_time_step\": " << json_number(info.min_time_step)
        << ", \"max_time_step\": " << json_number(info.max_time_step)
        << ", \"times_not_increasing\": " << info.times_not_increasing
        << ", \"continued_steps\": " << info.continued_steps
        << ", \"trailing_mismatches\": " << info.trailing_mismatches << "}\n";
    } else {
      s << file << "\n  title: " << title << "\n  nodes: " << header.node_count
        << "\n  links: " << header.link_count << "\n  steps: " << info.steps
        << (out.complete ? " (complete)" : " (cut " + info.cut + ")")
        << "\n  first time: " << text_of(info.first_time)
        << "\n  last time: " << text_of(info.last_time)
        << "\n  time step: " << text_of(info.min_time_step) << " to " << text_of(info.max_time_step)
        << "\n  steps whose time does not increase: " << info.times_not_increasing
        << "\n  steps with records in pieces: " << info.continued_steps
        << "\n  records whose trailing length differs from the leading one: "
        << info.trailing_mismatches
        << (info.trailing_mismatches > 0
                ? " (the first at byte " + std::to_string(info.first_trailing_mismatch) +
                      "; flowseries never compares them)"
                : std::string())
        << "\n";
    }
    out.lines = s.str();
  } catch (const records::Failure& failure) {
    out.complete = false;
    out.report = report_of(file, failure);
    if (o.json)
      out.lines = "{\"file\": " + json_string(file) +
                  ", \"failed\": " + std::to_string(failure.number()) + "}\n";
  }
  return out;
}

// The points of each kind: the point-list file's lists, the --nodes/--links lists, or all.
void choose_points(const Options& o, const inputs::ResultHeader& header,
                   std::vector<std::int32_t> (&points)[5]) {
  std::vector<std::int32_t> all_nodes, all_links;
  for (std::int32_t i = 1; i <= header.nodes(); ++i) all_nodes.push_back(i);
  for (std::int32_t i = 1; i <= header.links(); ++i) all_links.push_back(i);
  const std::vector<std::int32_t>& nodes = o.nodes ? *o.nodes : all_nodes;
  const std::vector<std::int32_t>& links = o.links ? *o.links : all_links;
  for (int k = 0; k < 5; ++k) points[k] = k < 3 ? nodes : links;
  if (!o.points_file) return;
  records::Channel list =
      records::open_channel(records::kPointListChannel, *o.points_file, records::ChannelKind::kText,
                            records::OpenMode::kMustExist);
  inputs::Limits limits = inputs::read_limits_line(list);
  driver::WorkArea area = driver::size_work_area(limits, list);
  const series::SeriesTables& t = area.tables;
  const inputs::PointCounts counts =
      inputs::read_point_lists(list, {t.h_list, t.p_list, t.q_list, t.v_list},
                               header.node_capacity(), header.link_capacity());
  const auto first = [](std::span<const std::int32_t> l, std::int32_t n) {
    return std::vector<std::int32_t>(l.begin(), l.begin() + std::max(n, 0));
  };
  points[0] = first(t.h_list, counts.h);
  points[1] = first(t.p_list, counts.p);
  points[2] = first(t.q_list, counts.q);
  points[3] = points[4] = first(t.v_list, counts.v);
}

FileOutcome file_statistics(const std::string& file, const std::string& member, const Options& o) {
  FileOutcome out;
  const auto line = [&](const std::string& status, int kind, std::int32_t point,
                        const series::PointStatistics* f) {
    out.lines += member + "," + status + "," + kKindNames[kind] + "," + std::to_string(point) + ",";
    out.lines += std::to_string(f->steps) + "," + std::to_string(f->nan) + ",";
    if (f->any)
      out.lines += text_of(f->min) + "," + text_of(f->time_of_min) + "," + text_of(f->max) + "," +
                   text_of(f->time_of_max) + "," + text_of(f->mean) + "\n";
    else
      out.lines += ",,,,\n";
  };
  std::vector<series::StatisticsPass> passes;
  std::vector<int> kinds;
  std::string status = "complete";
  try {
    records::Channel result =
        records::open_channel(records::kResultChannel, file, records::ChannelKind::kBinary,
                              records::OpenMode::kMustExist);
    const inputs::ResultHeader header = inputs::read_result_header(result);
    std::vector<std::int32_t> points[5];
    choose_points(o, header, points);
    for (int k = 0; k < 5; ++k) {
      const std::int32_t capacity = k < 3 ? header.node_capacity() : header.link_capacity();
      for (const std::int32_t p : points[k])
        if (p > capacity) records::raise_channel_failure(records::kPointOutsideTables, result);
      if (o.kinds[k] && !points[k].empty()) {
        passes.emplace_back(static_cast<Quantity>(k), points[k]);
        kinds.push_back(k);
      }
    }
    series::WalkEnd end;
    try {
      series::gather_statistics(result, header, o.range, passes, end);
      if (end.head_cut) {
        status = "cut";
        out.report = "flowseries-stats: " + file + ": cut inside the step head after step " +
                     std::to_string(end.steps) +
                     " (flowseries ends normally with the steps before it)";
      }
    } catch (const records::Failure& failure) {
      if (!series::is_cut(failure)) throw;
      status = "cut";
      out.report = report_of(file, failure);
    }
  } catch (const records::Failure& failure) {
    out.complete = false;
    out.report = report_of(file, failure);
    // One line for the file: no kind or point.
    const std::string head = member + ",failed " + std::to_string(failure.number()) + ",";
    out.lines = head + ",,,,,,,,\n";
    return out;
  } catch (const std::bad_alloc&) {
    out.complete = false;
    out.report = "flowseries-stats: " + file + ": insufficient virtual memory";
    out.lines = member + ",failed 41,,,,,,,,,\n";
    return out;
  }
  out.complete = status == "complete";
  for (std::size_t i = 0; i < passes.size(); ++i) {
    const std::vector<series::PointStatistics> figures = passes[i].figures();
    for (std::size_t c = 0; c < figures.size(); ++c)
      line(status, kinds[i], passes[i].points()[c], &figures[c]);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  platform::prepare_process();
  Options o;
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const auto value = [&](std::string& into) {
      if (i + 1 >= args.size()) return false;
      into = args[++i];
      return true;
    };
    std::string v;
    if (a == "-h" || a == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (a == "-V" || a == "--version") {
      std::cout << "flowseries-stats " FLOWSERIES_VERSION "\n";
      return 0;
    } else if (a == "--info") {
      o.info = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--points") {
      if (!value(v)) return wrong_usage("--points needs a file");
      o.points_file = v;
    } else if (a == "--nodes" || a == "--links") {
      std::vector<std::int32_t> list;
      if (!value(v) || !options::parse_points(v, list))
        return wrong_usage(a + " needs a list of numbers from 1, as 1-500,700");
      (a == "--nodes" ? o.nodes : o.links) = list;
    } else if (a == "--kind") {
      if (!value(v)) return wrong_usage("--kind needs some of H,P,Q,va,vb");
      if (const auto unknown = options::parse_kinds(v, o.kinds))
        return wrong_usage("unknown kind \"" + *unknown + "\" (H, P, Q, va, vb)");
    } else if (a == "--steps") {
      if (!value(v) || !options::parse_steps(v, o.range))
        return wrong_usage("--steps needs FIRST:LAST, 1-based, FIRST <= LAST");
    } else if (a == "--member") {
      if (!value(v) || v.empty())
        return wrong_usage("--member needs a pattern, as {stem} or run{index}");
      o.member = v;
    } else if (a == "-o") {
      if (!value(v)) return wrong_usage("-o needs a file");
      o.output = v;
    } else if (a == "-j") {
      std::int64_t jobs = 0;
      if (!value(v) || !options::parse_whole(v, jobs) || jobs < 1 || jobs > 1024)
        return wrong_usage("-j needs a number of files from 1 to 1024");
      o.jobs = static_cast<unsigned>(jobs);
    } else if (a.size() > 1 && a[0] == '-') {
      return wrong_usage("unknown option '" + a + "'");
    } else {
      o.files.push_back(a);
    }
  }
  if (o.files.empty()) return wrong_usage("no result file");
  if (o.json && !o.info) return wrong_usage("--json goes with --info");

  std::ofstream file_out;
  if (o.output) {
    file_out.open(*o.output, std::ios::binary | std::ios::trunc);
    if (!file_out) {
      std::cerr << "flowseries-stats: " << *o.output << ": cannot be written\n";
      return 2;
    }
  }
  std::ostream& out = o.output ? file_out : std::cout;
  if (!o.info) out << "file,status,kind,point,steps,nan,min,time_of_min,max,time_of_max,mean\n";

  // Files are read by up to -j threads; their lines go out in the order of the command line.
  std::vector<FileOutcome> outcomes(o.files.size());
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < o.files.size();)
      outcomes[i] = o.info ? file_info(o.files[i], o)
                           : file_statistics(o.files[i], member_of(o.member, o.files[i], i), o);
  };
  std::vector<std::thread> workers;
  const unsigned threads = std::min<std::size_t>(o.jobs, o.files.size());
  for (unsigned t = 1; t < threads; ++t) workers.emplace_back(work);
  work();
  for (std::thread& w : workers) w.join();
  bool all_complete = true;
  for (const FileOutcome& f : outcomes) {
    out << f.lines;
    if (!f.complete) {
      all_complete = false;
      std::cerr << f.report << "\n";
    }
  }
  out.flush();
  if (!out) {
    std::cerr << "flowseries-stats: the output could not be written\n";
    return 1;
  }
  return all_complete ? 0 : 1;
}
