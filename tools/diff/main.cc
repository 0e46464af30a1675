// flowseries-diff: compares two result files, or two series files, of flowseries.
//
//   flowseries-diff [options] A B

#include <charconv>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "diff/result_diff.h"
#include "options/json_text.h"
#include "options/selection.h"
#include "platform/platform.h"
#include "records/failure.h"
#include "series/statistics.h"

namespace {

constexpr const char* kUsage =
    "usage: flowseries-diff [options] A B\n"
    "\n"
    "Compares two result files of the simulation, or two series files of flowseries\n"
    "(HTIME.CSV ... VTIME.csv): the structure first (title, N, M, the node and link tables, the\n"
    "number of steps and every step's time; nothing is cut to the shorter run), then every value\n"
    "of every step (p, q of each node, va, vb of each link; every field of a series file). Both\n"
    "files are read at once, a step of each at a time.\n"
    "\n"
    "  --rtol R        relative tolerance (default 0)\n"
    "  --atol A        absolute tolerance (default 0): a equals b when\n"
    "                  |a - b| <= A + R * |b|; NaN equals NaN\n"
    "  --kind KINDS    some of H,P,Q,va,vb (default P,Q,va,vb: the values a file stores)\n"
    "  --nodes LIST    node numbers, as 1-500,700 (default: every node)\n"
    "  --links LIST    link numbers (default: every link)\n"
    "  --steps F:L     steps F to L only (1-based, inclusive; F: or :L open-ended)\n"
    "  --top K         the K largest differences (default 10)\n"
    "  --json          one JSON object: equal, structure, compared, counts, worst\n"
    "  -h, --help      this text\n"
    "  -V, --version   the program's version\n"
    "\n"
    "Exit status 0 when the files agree, 1 when they differ, 2 for a wrong command line, and for "
    "a\n"
    "result file that cannot be read the failure flowseries would end with, its report line on\n"
    "standard error (a series file: 29 when it is not there, 39 when it is not whole).\n"
    "Manual: man flowseries-diff\n";

using options::kKindNames;

int wrong_usage(const std::string& what) {
  std::cerr << "flowseries-diff: " << what << " (see flowseries-diff --help)\n";
  return 2;
}

bool parse_real(std::string_view text, double& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size() &&
         std::isfinite(value) && value >= 0;
}

std::string number(double v) {
  return series::shortest_text(v);
}

using options::json_number;
using options::json_string;

std::string json_difference(const diff::Difference& d) {
  return "{\"kind\": \"" + std::string(kKindNames[d.kind]) +
         "\", \"point\": " + std::to_string(d.point) + ", \"step\": " + std::to_string(d.step) +
         ", \"time\": " + json_number(d.time) + ", \"a\": " + json_number(d.a) +
         ", \"b\": " + json_number(d.b) + ", \"abs\": " + json_number(d.abs) +
         ", \"rel\": " + json_number(d.rel) + "}";
}

std::string where(const diff::Difference& d) {
  return std::string(kKindNames[d.kind]) + (d.kind < 3 ? " of node " : " of link ") +
         std::to_string(d.point) + " at step " + std::to_string(d.step) + " (time " +
         number(d.time) + "): " + number(d.a) + " and " + number(d.b);
}

void report(const diff::Outcome& r, bool json, std::ostream& out) {
  std::int64_t differ = 0;
  for (const std::int64_t n : r.counts) differ += n;
  if (json) {
    out << "{\"equal\": " << (r.equal() ? "true" : "false") << ", \"structure\": [";
    for (std::size_t i = 0; i < r.structure.size(); ++i)
      out << (i ? ", " : "") << json_string(r.structure[i]);
    out << "], \"compared\": " << r.compared << ", \"counts\": {";
    for (int k = 0; k < 5; ++k)
      out << (k ? ", " : "") << "\"" << kKindNames[k] << "\": " << r.counts[k];
    out << "}, \"worst\": [";
    for (std::size_t i = 0; i < r.worst.size(); ++i)
      out << (i ? ", " : "") << json_difference(r.worst[i]);
    out << "]}\n";
    return;
  }
  if (r.equal()) {
    out << "equal: the structure and all " << r.compared << " values compared agree\n";
    return;
  }
  for (const std::string& s : r.structure) out << "structure: " << s << "\n";
  out << differ << " of " << r.compared << " values differ";
  std::string sep = " (";
  for (int k = 0; k < 5; ++k)
    if (r.counts[k] > 0) {
      out << sep << kKindNames[k] << " " << r.counts[k];
      sep = ", ";
    }
  out << (sep == " (" ? "" : ")") << "\n";
  if (r.first) out << "first: " << where(*r.first) << "\n";
  if (r.largest_abs)
    out << "largest absolute difference: " << number(r.largest_abs->abs) << ", "
        << where(*r.largest_abs) << "\n";
  if (r.largest_rel)
    out << "largest relative difference: " << number(r.largest_rel->rel) << ", "
        << where(*r.largest_rel) << "\n";
  if (!r.worst.empty()) out << "largest differences:\n";
  for (const diff::Difference& d : r.worst)
    out << "  " << number(d.abs) << "  " << where(d) << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  platform::prepare_process();
  diff::Options o;
  bool json = false, kinds_given = false;
  std::vector<std::string> files;
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string v;
    const auto value = [&] {
      if (i + 1 >= args.size()) return false;
      v = args[++i];
      return true;
    };
    if (a == "-h" || a == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (a == "-V" || a == "--version") {
      std::cout << "flowseries-diff " FLOWSERIES_VERSION "\n";
      return 0;
    } else if (a == "--json") {
      json = true;
    } else if (a == "--rtol" || a == "--atol") {
      double t = 0;
      if (!value() || !parse_real(v, t)) return wrong_usage(a + " needs a number from 0");
      (a == "--rtol" ? o.rtol : o.atol) = t;
    } else if (a == "--top") {
      std::int64_t k = 0;
      if (!value() || !options::parse_whole(v, k) || k < 0 || k > 1000000)
        return wrong_usage("--top needs a number from 0");
      o.top = static_cast<std::size_t>(k);
    } else if (a == "--nodes" || a == "--links") {
      std::vector<std::int32_t> list;
      if (!value() || !options::parse_points(v, list))
        return wrong_usage(a + " needs a list of numbers from 1, as 1-500,700");
      (a == "--nodes" ? o.nodes : o.links) = list;
    } else if (a == "--kind") {
      if (!value()) return wrong_usage("--kind needs some of H,P,Q,va,vb");
      kinds_given = true;
      if (const auto unknown = options::parse_kinds(v, o.kinds))
        return wrong_usage("unknown kind '" + *unknown + "' (H, P, Q, va, vb)");
    } else if (a == "--steps") {
      if (!value() || !options::parse_steps(v, o.range))
        return wrong_usage("--steps needs FIRST:LAST, 1-based, FIRST <= LAST");
    } else if (a.size() > 1 && a[0] == '-') {
      return wrong_usage("unknown option '" + a + "'");
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 2) return wrong_usage("give two files, A and B");
  try {
    const bool series_files =
        diff::looks_like_series_file(files[0]) && diff::looks_like_series_file(files[1]);
    // A series file holds one kind, and all of its fields are compared unless --kind says.
    if (series_files && !kinds_given) std::fill(std::begin(o.kinds), std::end(o.kinds), true);
    const diff::Outcome r = series_files ? diff::compare_series(files[0], files[1], o)
                                         : diff::compare_results(files[0], files[1], o);
    std::ostringstream text;
    report(r, json, text);
    std::cout << text.str() << std::flush;
    return r.equal() ? 0 : 1;
  } catch (const records::Failure& failure) {
    std::cerr << records::report_line(failure) << "\n";
    return failure.number();
  } catch (const diff::SeriesFailure& failure) {
    std::cerr << "flowseries-diff: " << failure.what() << "\n";
    return failure.number;
  } catch (const std::bad_alloc&) {
    std::cerr << "flowseries-diff: insufficient virtual memory\n";
    return 41;
  }
}
