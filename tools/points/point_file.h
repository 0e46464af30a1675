// flowseries-points: checking a point-list file with flowseries' own reading code, and writing
// one that reads exactly as intended.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace points {

struct CheckResult {
  int status = 0;      // 0 when flowseries accepts the file, else the failure it ends with
  std::string output;  // what the program takes from the file, and the warnings
  std::string report;  // the failure's report line, as flowseries writes it ("" when accepted)
  int warnings = 0;
  // What was read, for callers that compare: limits after defaults, and the four lists.
  std::int32_t limits[5] = {0, 0, 0, 0, 0};
  std::vector<std::int32_t> lists[4];
};

// Reads the point-list file `path` as flowseries reads it. With `result_path`, the result file's
// header is read as well, so that point numbers above its N or M are pointed out.
CheckResult check_point_list(const std::string& path,
                             const std::optional<std::string>& result_path);

struct MakeOptions {
  std::optional<std::int32_t> steps;
  // The result file the list is for: the step limit becomes its complete steps (unless `steps`
  // says otherwise), and points it cannot hold are refused.
  std::optional<std::string> result;
  std::vector<std::int32_t> lists[4];               // H, P, Q, V
  std::optional<std::vector<std::int32_t>> limits;  // S, H, P, Q, V as given
  bool crlf = false;
};

// The text of a point-list file for the options; nullopt with `error` set when no correct file
// holds them (a number too wide for its columns, a list longer than the limit given for it, a
// point the result file does not hold). `note` says which step limit was written when neither
// `steps` nor `result` chose it.
std::optional<std::string> make_point_list(const MakeOptions& options, std::string* error,
                                           std::string* note = nullptr);

}  // namespace points
