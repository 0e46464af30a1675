// Writes a sample result file of any size: a header for N nodes and M links, then S step blocks,
// each record framed by its little-endian length before and after. The values follow simple
// formulas so that every series has visible shape and every digit position varies.
//
//   flowseries-gen --nodes N --links M --steps S [--dt SECONDS] [--title TEXT] OUTPUT
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "inputs/result_format.h"
#include "platform/platform.h"

namespace {

struct Options {
  std::int64_t nodes = 20;
  std::int64_t links = 10;
  std::int64_t steps = 10;
  double dt = 60.0;
  std::string title = "flowseries sample result";
  std::string output;
};

class RecordWriter {
 public:
  explicit RecordWriter(std::FILE* file) : file_(file) {}
  void i32(std::int32_t v) { put(&v, 4); }
  void f64(double v) { put(&v, 8); }
  void text(std::string_view t) { bytes_.insert(bytes_.end(), t.begin(), t.end()); }
  // Frames what was gathered as one record and writes it.
  void end() {
    const auto length = static_cast<std::int32_t>(bytes_.size());
    std::fwrite(&length, 4, 1, file_);
    std::fwrite(bytes_.data(), 1, bytes_.size(), file_);
    std::fwrite(&length, 4, 1, file_);
    bytes_.clear();
  }

 private:
  void put(const void* p, std::size_t n) {
    // The file is little-endian; so is every machine this tool is built for.
    const auto* b = static_cast<const char*>(p);
    bytes_.insert(bytes_.end(), b, b + n);
  }
  std::FILE* file_;
  std::vector<char> bytes_;
};

constexpr const char* kUsage =
    "usage: flowseries-gen --nodes N --links M --steps S [--dt SECONDS] [--title TEXT] OUTPUT\n";

[[noreturn]] void usage(const std::string& what) {
  std::fprintf(stderr, "flowseries-gen: %s (see flowseries-gen --help)\n", what.c_str());
  std::exit(2);
}

void help() {
  std::fputs(kUsage, stdout);
  std::fputs(
      "\n"
      "Writes a sample result file for flowseries: a header for N nodes and M links, then S step\n"
      "blocks of values that follow simple formulas, the time growing by SECONDS (default 60).\n"
      "\n"
      "  --nodes N       nodes (a whole number from 0)\n"
      "  --links M       links\n"
      "  --steps S       step blocks\n"
      "  --dt SECONDS    the time between steps (default 60)\n"
      "  --title TEXT    the title record (80 characters, blank-padded or cut)\n"
      "  -h, --help      this text\n"
      "  -V, --version   the program's version\n"
      "\n"
      "Exit status: 0 when the file was written, 1 when it could not be, 2 for a wrong command\n"
      "line. Manual: man flowseries-gen\n",
      stdout);
}

// A count: digits only, from 0 up; anything else is a wrong command line, never a 0.
std::int64_t whole_number(std::string_view option, std::string_view text) {
  std::int64_t v = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || v < 0)
    usage(std::string(option) + " takes a whole number from 0, not '" + std::string(text) + "'");
  return v;
}

double real_number(std::string_view option, std::string_view text) {
  double v = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
    usage(std::string(option) + " takes a number, not '" + std::string(text) + "'");
  return v;
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) usage(std::string(arg) + " needs a value");
      return argv[++i];
    };
    if (arg == "-h" || arg == "--help") {
      help();
      std::exit(0);
    } else if (arg == "-V" || arg == "--version") {
      std::puts("flowseries-gen " FLOWSERIES_VERSION);
      std::exit(0);
    } else if (arg == "--nodes")
      o.nodes = whole_number(arg, value());
    else if (arg == "--links")
      o.links = whole_number(arg, value());
    else if (arg == "--steps")
      o.steps = whole_number(arg, value());
    else if (arg == "--dt")
      o.dt = real_number(arg, value());
    else if (arg == "--title")
      o.title = value();
    else if (!arg.empty() && arg[0] != '-' && o.output.empty())
      o.output = arg;
    else
      usage("unexpected argument '" + std::string(arg) + "'");
  }
  if (o.output.empty()) usage("no output file named");
  if (o.nodes < 0 || o.links < 0 || o.steps < 0) usage("counts cannot be negative");
  // A record must fit its 32-bit length: the node steps and the link table are the longest.
  namespace format = inputs::format;
  if (o.nodes > static_cast<std::int64_t>(format::kLongestRecord / format::kNodeStepEntry) ||
      o.links > static_cast<std::int64_t>(format::kLongestRecord / format::kLinkTableEntry))
    usage("too many nodes or links for one record");
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  // Messages carry the same bytes on every system.
  platform::prepare_process();
  const Options o = parse(argc, argv);
  std::FILE* file = std::fopen(o.output.c_str(), "wb");
  if (file == nullptr) {
    std::perror(o.output.c_str());
    return 1;
  }
  static char buffer[1 << 20];
  std::setvbuf(file, buffer, _IOFBF, sizeof buffer);
  RecordWriter w(file);
  std::string title = o.title.substr(0, inputs::format::kTitleBytes);
  title.resize(inputs::format::kTitleBytes, ' ');
  w.text(title);
  w.end();
  w.i32(static_cast<std::int32_t>(o.nodes));
  w.end();
  for (std::int64_t i = 1; i <= o.nodes; ++i) {
    w.f64(0.5 * static_cast<double>(i));                 // a
    w.f64(100.0 + 0.25 * static_cast<double>(i % 400));  // base
  }
  w.end();
  w.i32(static_cast<std::int32_t>(o.links));
  w.end();
  for (std::int64_t j = 1; j <= o.links; ++j) {
    w.i32(static_cast<std::int32_t>(j));
    w.i32(static_cast<std::int32_t>(j % (o.nodes > 0 ? o.nodes : 1) + 1));
    w.i32(1);
    w.i32(0);
    w.i32(static_cast<std::int32_t>(j % 7));
    w.f64(0.01 * static_cast<double>(j));
    w.f64(1.5);
  }
  w.end();
  for (std::int64_t s = 0; s < o.steps; ++s) {
    const double t = o.dt * static_cast<double>(s);
    const double wave = std::sin(0.05 * static_cast<double>(s));
    w.i32(static_cast<std::int32_t>(s + 1));
    w.f64(t);
    w.end();
    for (std::int64_t i = 1; i <= o.nodes; ++i) {
      const double x = static_cast<double>(i);
      w.i32(static_cast<std::int32_t>(i));
      w.f64(2.0 + 0.01 * static_cast<double>(i % 1000) + wave * (1.0 + 0.001 * x));  // p
      w.f64((wave - 0.3) * 0.125 * static_cast<double>(i % 50 + 1) / 3.0);           // q
    }
    w.end();
    for (std::int64_t j = 1; j <= o.links; ++j) {
      const double x = static_cast<double>(j % 200 + 1);
      w.f64(0.8 * wave * x / 7.0 + 1e-3 * static_cast<double>(s % 11));   // va
      w.f64(-0.8 * wave * x / 7.0 - 2e-4 * static_cast<double>(j % 13));  // vb
    }
    w.end();
  }
  if (std::fclose(file) != 0) {
    std::perror(o.output.c_str());
    return 1;
  }
  return 0;
}
