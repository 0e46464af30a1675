// Test helpers.
#include "testing/test_files.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "records/failure.h"

namespace testing_support {

TempDir::TempDir() {
  char cwd[4096];
  if (::getcwd(cwd, sizeof cwd) != nullptr) previous_ = cwd;
  std::string pattern = (std::filesystem::temp_directory_path() / "flowseries_XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  if (::chdir(path_.c_str()) != 0) throw std::runtime_error("chdir failed");
}

TempDir::~TempDir() {
  if (!previous_.empty() && ::chdir(previous_.c_str()) != 0) std::abort();
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
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
  static const std::string path = "/tmp/flowseries_fuzz_input_" + std::to_string(::getpid());
  write_file(path, std::string_view(reinterpret_cast<const char*>(data), size));
  return records::open_channel(number, path, kind, records::OpenMode::kMustExist);
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
