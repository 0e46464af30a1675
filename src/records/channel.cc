// Opening, closing and the raw reads and writes of channels.
#include "records/channel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

#include "records/failure.h"

namespace records {
namespace {

constexpr std::size_t kMinInputCapacity = 1 << 16;
// Large files are read in chunks of this size: few system calls, and the bytes that move when
// the buffer is compacted are a small share of each chunk.
constexpr std::size_t kLargeInputCapacity = 2 << 20;
constexpr std::size_t kMaxSingleRead = 1 << 20;
// Reads ahead of a file whose long records are mostly skipped.
constexpr std::size_t kSparseChunk = 4096;

std::string_view trim(std::string_view name) {
  while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.remove_suffix(1);
  return name;
}

int open_failure_number(int error, OpenMode mode) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return mode == OpenMode::kMustExist ? kFileNotFound : kOpenFailure;
    case EACCES:
    case EPERM:
    case EROFS:
      return kPermissionDenied;
    case ENAMETOOLONG:
    case EINVAL:
    case EILSEQ:
      return kBadFileName;
    case ENXIO:
    case ENODEV:
      return kNoSuchDevice;
    default:
      return kOpenFailure;
  }
}

bool is_permission_refusal(int error) {
  return error == EACCES || error == EPERM || error == EROFS;
}

void grow_input(Channel& channel, std::size_t needed) {
  InputBuffer& in = channel.in;
  std::size_t held = in.end - in.begin;
  if (in.capacity >= needed && in.begin + needed <= in.capacity) return;
  if (in.capacity >= needed) {  // room enough once the held bytes move to the front
    std::memmove(in.data.get(), in.data.get() + in.begin, held);
    in.begin = 0;
    in.end = held;
    return;
  }
  std::size_t capacity = std::max({needed + needed / 2, in.capacity * 2, kMinInputCapacity});
  if (channel.regular_file && capacity < kLargeInputCapacity) capacity = kLargeInputCapacity;
  std::unique_ptr<std::byte[]> data(new (std::nothrow) std::byte[capacity]);
  if (!data) {
    capacity = needed;
    data.reset(new (std::nothrow) std::byte[capacity]);
  }
  if (!data) raise_failure(kNoBufferMemory, &channel);
  if (held > 0) std::memcpy(data.get(), in.data.get() + in.begin, held);
  in.data = std::move(data);
  in.capacity = capacity;
  in.begin = 0;
  in.end = held;
}

}  // namespace

void OutputBuffer::reserve(std::size_t needed) {
  // Lines start at 132 columns and grow by at least 512 bytes; large outputs double.
  const std::size_t capacity = std::max({needed, capacity_ + 512, capacity_ * 2, std::size_t{132}});
  std::unique_ptr<char[]> data(new char[capacity]);
  if (size_ > 0) std::memcpy(data.get(), data_.get(), size_);
  data_ = std::move(data);
  capacity_ = capacity;
}

Channel::~Channel() {
  if (owns_fd && fd >= 0) ::close(fd);
}

std::string resolve_name(std::string_view name) {
  std::string_view trimmed = trim(name);
  if (trimmed.empty()) return std::string();
  if (trimmed.front() == '/') return std::string(trimmed);
  char cwd[PATH_MAX];
  if (::getcwd(cwd, sizeof cwd) == nullptr) return std::string(trimmed);
  std::string path = cwd;
  if (path != "/") path += '/';
  path += trimmed;
  return path;
}

Channel open_channel(int number, std::string_view name, ChannelKind kind, OpenMode mode,
                     Direction direction) {
  Channel channel;
  channel.number = number;
  channel.kind = kind;
  channel.path = resolve_name(name);
  if (channel.path.empty()) raise_failure(kFileNotFound, &channel);
  if (channel.path.find('\0') != std::string::npos) raise_failure(kBadFileName, &channel);

  const int create = mode == OpenMode::kCreateIfMissing ? O_CREAT : 0;
  // A FIFO opened for both directions would hold a writer of its own and never see its end: an
  // input FIFO is only read, so that its writer closing is the end of the file, and an output
  // FIFO only written.
  struct stat named {};
  const bool fifo = ::stat(channel.path.c_str(), &named) == 0 && S_ISFIFO(named.st_mode);
  const int access = !fifo ? O_RDWR : direction == Direction::kInput ? O_RDONLY : O_WRONLY;
  int fd = ::open(channel.path.c_str(), access | O_CLOEXEC | create, 0666);
  int error = errno;
  if (fd < 0 && is_permission_refusal(error)) {
    // Reading is all that the inputs need; a series file refused here fails on its first write.
    fd = ::open(channel.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) error = errno == ENOENT && create ? EACCES : errno;
  }
  if (fd < 0) {
    const int failure = open_failure_number(error, mode);
    raise_failure(failure, &channel, failure == kOpenFailure ? error : 0);
  }
  channel.fd = fd;
  channel.owns_fd = true;
  channel.cut_at_first_write = true;
  struct stat info {};
  channel.regular_file = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (channel.regular_file) channel.framing.known_size = static_cast<std::uint64_t>(info.st_size);
  return channel;
}

Channel adopt_descriptor(int number, std::string path, int fd, ChannelKind kind) {
  Channel channel;
  channel.number = number;
  channel.path = std::move(path);
  channel.fd = fd;
  channel.kind = kind;
  struct stat info {};
  channel.regular_file = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  return channel;
}

void close_channel(Channel& channel) {
  if (!channel.out.empty()) flush_output(channel);
  if (channel.owns_fd && channel.fd >= 0) ::close(channel.fd);
  channel.fd = -1;
  channel.owns_fd = false;
}

void fill_to(Channel& channel, std::uint64_t target) {
  InputBuffer& in = channel.in;
  if (in.end_offset >= target) return;
  if (channel.regular_file) {
    struct stat info {};
    if (::fstat(channel.fd, &info) == 0) {
      const auto size = static_cast<std::uint64_t>(info.st_size);
      channel.framing.known_size = size;
      target = std::min(target, std::max(size, in.end_offset));
      if (in.end_offset >= target) return;
    }
  }
  const std::uint64_t needed = target - in.begin_offset();
  if (needed > SIZE_MAX / 2) raise_failure(kNoBufferMemory, &channel);
  grow_input(channel, static_cast<std::size_t>(needed));
  while (in.end_offset < target) {
    std::size_t ask = in.capacity - in.end;
    if (channel.sparse)
      ask =
          std::min<std::size_t>(ask, std::max<std::uint64_t>(target - in.end_offset, kSparseChunk));
    // Regular files are read at explicit offsets, so that skipped records are never read.
    ssize_t got = channel.regular_file ? ::pread(channel.fd, in.data.get() + in.end, ask,
                                                 static_cast<off_t>(in.end_offset))
                                       : ::read(channel.fd, in.data.get() + in.end, ask);
    if (got < 0) {
      if (errno == EINTR) continue;
      raise_failure(kReadError, &channel, errno);
    }
    if (got == 0) {
      in.at_end = true;
      return;
    }
    in.end += static_cast<std::size_t>(got);
    in.end_offset += static_cast<std::uint64_t>(got);
  }
}

bool read_once(Channel& channel, std::size_t limit) {
  // A pipe holds at most this much at a time; a damaged length must not size the buffer.
  limit = std::min(limit, kMaxSingleRead);
  InputBuffer& in = channel.in;
  grow_input(channel, in.end - in.begin + limit);
  while (true) {
    const ssize_t got =
        ::read(channel.fd, in.data.get() + in.end, std::min(limit, in.capacity - in.end));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) raise_failure(kReadError, &channel, errno);
    in.end += static_cast<std::size_t>(got);
    in.end_offset += static_cast<std::uint64_t>(got);
    return got > 0;
  }
}

void skip_to(Channel& channel, std::uint64_t offset) {
  InputBuffer& in = channel.in;
  if (offset >= in.end_offset) {
    in.begin = in.end = 0;
    in.end_offset = offset;
  } else if (offset > in.begin_offset()) {
    in.begin = in.end - static_cast<std::size_t>(in.end_offset - offset);
  }
}

bool read_at(Channel& channel, std::uint64_t offset, std::byte* out, std::size_t n) {
  while (n > 0) {
    const ssize_t got = ::pread(channel.fd, out, n, static_cast<off_t>(offset));
    if (got < 0) {
      if (errno == EINTR) continue;
      raise_failure(kReadError, &channel, errno);
    }
    if (got == 0) return false;
    out += got;
    n -= static_cast<std::size_t>(got);
    offset += static_cast<std::uint64_t>(got);
  }
  return true;
}

void write_all(Channel& channel, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t done = ::write(channel.fd, bytes.data(), bytes.size());
    if (done < 0) {
      if (errno == EINTR) continue;
      raise_failure(kWriteError, &channel, errno);
    }
    if (done == 0) raise_failure(kWriteError, &channel, ENOSPC);
    bytes.remove_prefix(static_cast<std::size_t>(done));
    channel.written += static_cast<std::uint64_t>(done);
  }
}

void flush_output(Channel& channel) {
  if (channel.out.empty()) return;
  write_all(channel, channel.out.view());
  channel.out.clear();
  if (!channel.cut_done && channel.cut_at_first_write && channel.regular_file) {
    // An existing longer file must end up holding only what this run wrote.
    if (::ftruncate(channel.fd, static_cast<off_t>(channel.written)) != 0)
      raise_failure(kWriteError, &channel, errno);
  }
  channel.cut_done = true;
}

}  // namespace records
