// Test helpers.
#include "testing/test_files.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "records/failure.h"

namespace testing_support {

namespace fs = std::filesystem;

TempDir::TempDir() {
  previous_ = fs::current_path().string();
  std::random_device seed;
  std::mt19937_64 random(seed());
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const fs::path candidate = base / ("flowseries_" + std::to_string(random() % 1000000000));
    if (fs::create_directory(candidate)) path_ = candidate.string();
  }
  if (path_.empty()) throw std::runtime_error("no temporary directory");
  fs::current_path(path_);
  // The name as the system spells it once made absolute (a short 8.3 name or a link resolved).
  path_ = fs::current_path().string();
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::current_path(previous_, ignored);
  if (ignored) std::abort();
  fs::remove_all(path_, ignored);
}

std::string TempDir::file(std::string_view name) const {
  return (fs::path(path_) / fs::path(std::string(name))).string();
}

void write_file(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string le32(std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[static_cast<std::size_t>(i)] = static_cast<char>(u >> (8 * i));
  return out;
}

std::string le64(double v) {
  std::uint64_t u;
  std::memcpy(&u, &v, 8);
  std::string out(8, '\0');
  for (int i = 0; i < 8; ++i) out[static_cast<std::size_t>(i)] = static_cast<char>(u >> (8 * i));
  return out;
}

std::string frame_with(std::string_view payload, std::int32_t lead, std::int32_t trail) {
  return le32(lead) + std::string(payload) + le32(trail);
}

std::string frame(std::string_view payload) {
  const auto length = static_cast<std::int32_t>(payload.size());
  return frame_with(payload, length, length);
}

records::Channel channel_over(std::string_view bytes, records::ChannelKind kind, int number,
                              const std::string& name) {
  write_file(name, bytes);
  return records::open_channel(number, name, kind, records::OpenMode::kMustExist);
}

records::Channel channel_over_fuzz_input(const std::uint8_t* data, std::size_t size,
                                         records::ChannelKind kind, int number) {
  static const std::string path =
      (fs::temp_directory_path() /
       ("flowseries_fuzz_input_" + std::to_string(std::random_device()())))
          .string();
  write_file(path, std::string_view(reinterpret_cast<const char*>(data), size));
  return records::open_channel(number, path, kind, records::OpenMode::kMustExist);
}

Pipe make_pipe() {
#ifdef _WIN32
  HANDLE ends[2];
  if (!CreatePipe(&ends[0], &ends[1], nullptr, 0)) throw std::runtime_error("CreatePipe failed");
  return {reinterpret_cast<platform::Handle>(ends[0]), reinterpret_cast<platform::Handle>(ends[1])};
#else
  int ends[2];
  if (::pipe(ends) != 0) throw std::runtime_error("pipe failed");
  return {ends[0], ends[1]};
#endif
}

void close_handle(platform::Handle handle) {
  platform::close_file(handle);
}

int failure_of(const std::function<void()>& call) {
  try {
    call();
  } catch (const records::Failure& failure) {
    return failure.number();
  }
  return 0;
}

}  // namespace testing_support
