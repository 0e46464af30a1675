// Helpers shared by the unit tests and fuzz targets: temporary directories, framed records built
// in memory, channels over byte strings, and checks of the failure a call ends with.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "records/channel.h"

namespace testing_support {

// A fresh directory that is the current directory while the object lives.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // A name in the directory, joined as the system joins names.
  std::string file(std::string_view name) const;

 private:
  std::string path_;
  std::string previous_;
};

void write_file(const std::string& path, std::string_view bytes);
std::string read_file(const std::string& path);

std::string le32(std::int32_t v);
std::string le64(double v);
// One record: length, payload, length (or the given markers).
std::string frame(std::string_view payload);
std::string frame_with(std::string_view payload, std::int32_t lead, std::int32_t trail);

// Writes `bytes` to `name` in the current directory and opens it as the given channel.
records::Channel channel_over(std::string_view bytes, records::ChannelKind kind,
                              int number = records::kResultChannel,
                              const std::string& name = "input.bin");

// Writes a fuzz input to this process's own scratch file and opens it as the given channel.
records::Channel channel_over_fuzz_input(const std::uint8_t* data, std::size_t size,
                                         records::ChannelKind kind, int number);

// Both ends of an anonymous pipe; `close_handle` closes one.
struct Pipe {
  platform::Handle read_end;
  platform::Handle write_end;
};
Pipe make_pipe();
void close_handle(platform::Handle handle);

// Runs `call` and returns the failure number it ended with, or 0 when it returned.
int failure_of(const std::function<void()>& call);

}  // namespace testing_support
