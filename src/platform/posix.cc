// The system layer on POSIX: descriptors, errno, signals and the dynamic linker's symbols.
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <langinfo.h>
#include <signal.h>
#include <sys/mman.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <sys/stat.h>
#include <sys/uio.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstring>
#include <initializer_list>

#include "platform/platform.h"

namespace platform {
namespace {

int as_fd(Handle handle) {
  return static_cast<int>(handle);
}

bool is_permission_refusal(int error) {
  return error == EACCES || error == EPERM || error == EROFS;
}

Transfer transfer(ssize_t count) {
  if (count < 0) return {-1, errno};
  return {static_cast<std::ptrdiff_t>(count), 0};
}

std::uintptr_t module_base = 0;
EventHandler event_handler = nullptr;

void on_signal(int signal, siginfo_t*, void* context) {
  std::uintptr_t pc = 0;
#if defined(__x86_64__)
  pc = static_cast<std::uintptr_t>(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
  pc = static_cast<std::uintptr_t>(static_cast<ucontext_t*>(context)->uc_mcontext.pc);
#else
  (void)context;
#endif
  ConsoleEvent event = ConsoleEvent::kInterruptKey;
  console_event_of(signal, event);
  event_handler(event, pc - module_base);
}

}  // namespace

bool console_event_of(int system_code, ConsoleEvent& event) {
  switch (system_code) {
    case SIGINT:
      event = ConsoleEvent::kInterruptKey;
      return true;
    case SIGQUIT:
      event = ConsoleEvent::kBreakKey;
      return true;
    case SIGHUP:
      event = ConsoleEvent::kWindowClosed;
      return true;
    case SIGTERM:
      event = ConsoleEvent::kTerminate;
      return true;
    default:
      return false;
  }
}

void use_utf8_names() {
  // Names are bytes here: UTF-8 names open as they are.
}

// The standard streams that were closed when the process started: their descriptors hold the
// null device, and the run sees them as closed, as before.
std::atomic<unsigned> closed_at_start{0};

Handle standard_stream(StandardStream stream) {
  const int fd = stream == StandardStream::kInput ? 0 : stream == StandardStream::kOutput ? 1 : 2;
  return (closed_at_start.load(std::memory_order_relaxed) & (1u << fd)) != 0 ? kNoHandle : fd;
}

void prepare_process() {
  // A descriptor 0, 1 or 2 left free would be the next file opened, and console output (a report,
  // an interrupt's) would then be written into the user's file. Each closed one holds the null
  // device instead; writes to it still fail as writes to a closed stream do.
  unsigned closed = 0;
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0) ::_exit(126);  // nothing would keep the user's files off the streams
    if (null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
    closed |= 1u << fd;
  }
  closed_at_start.store(closed, std::memory_order_relaxed);
  // A file-size limit makes the write fail, reported with the file's name, instead of killing
  // the process in the middle of a file.
  ::signal(SIGXFSZ, SIG_IGN);
  // A closed standard output must surface as a write failure, not kill the process silently.
  ::signal(SIGPIPE, SIG_IGN);
#ifdef __GLIBC__
  // The heap grows, and is cut back, by 16 MiB at a time: memory new to the process costs a
  // page fault per 4 KiB (several microseconds each on some virtual machines), and a run frees
  // blocks of a few MiB (the header's tables as they grow, each series file's text) that the
  // next ones can take again instead of asking the system anew. Large blocks (the work area of
  // long runs) still come from the system as zeroed pages and go back to it.
  mallopt(M_TOP_PAD, 16 << 20);
#endif
}

OpenRefusal open_refusal(int os_error, bool must_exist) {
  switch (os_error) {
    case ENOENT:
    case ENOTDIR:
      return must_exist ? OpenRefusal::kNotFound : OpenRefusal::kOther;
    case EACCES:
    case EPERM:
    case EROFS:
      return OpenRefusal::kPermission;
    case ENAMETOOLONG:
    case EINVAL:
    case EILSEQ:
      return OpenRefusal::kBadName;
    case ENXIO:
    case ENODEV:
      return OpenRefusal::kNoDevice;
    default:
      return OpenRefusal::kOther;
  }
}

Opened open_file(const std::string& path, bool create, bool for_input) {
  const int create_flag = create ? O_CREAT : 0;
  // A FIFO opened for both directions would hold a writer of its own and never see its end.
  struct stat named {};
  const bool exists = ::stat(path.c_str(), &named) == 0;
  const bool fifo = exists && S_ISFIFO(named.st_mode);
  // A device is opened without waiting (a serial line waits for its carrier) and without becoming
  // the process's terminal; an input that turns out to be a terminal is refused below.
  const bool device = exists && S_ISCHR(named.st_mode);
  const int access = !fifo ? O_RDWR : for_input ? O_RDONLY : O_WRONLY;
  int fd = ::open(path.c_str(),
                  access | O_CLOEXEC | create_flag | (device ? O_NONBLOCK | O_NOCTTY : 0), 0666);
  int error = fd < 0 ? errno : 0;
  if (fd < 0 && is_permission_refusal(error)) {
    // Reading is all that the inputs need; a series file refused here fails on its first write.
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) error = errno == ENOENT && create ? EACCES : errno;
  }
  if (fd >= 0 && device) {
    // A terminal or serial line as an input would wait for a typist or a line that sends no
    // file: refused at once. Other devices (/dev/null) are read as they are.
    if (for_input && ::isatty(fd) != 0) {
      ::close(fd);
      return {kNoHandle, OpenRefusal::kDevice, 0};
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  }
  if (fd >= 0) {
    // Inputs are read front to back: a file coming from the disk arrives in larger read-ahead.
    if (for_input) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return {fd, OpenRefusal::kNone, 0, fd >= 0 && error != 0 && access == O_RDWR ? error : 0};
  }
  return {kNoHandle, open_refusal(error, !create), error};
}

void close_file(Handle handle) {
  if (handle >= 0) ::close(as_fd(handle));
}

FileFacts file_facts(Handle handle) {
  struct stat info {};
  if (::fstat(as_fd(handle), &info) != 0 || !S_ISREG(info.st_mode)) return {};
  return {true, static_cast<std::uint64_t>(info.st_size)};
}

Transfer read_some(Handle handle, void* into, std::size_t size) {
  while (true) {
    const ssize_t got = ::read(as_fd(handle), into, size);
    if (got < 0 && errno == EINTR) continue;
    return transfer(got);
  }
}

Transfer read_at(Handle handle, void* into, std::size_t size, std::uint64_t offset) {
  while (true) {
    const ssize_t got = ::pread(as_fd(handle), into, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    return transfer(got);
  }
}

Transfer read_cached_at(Handle handle, void* into, std::size_t size, std::uint64_t offset) {
#ifdef RWF_NOWAIT
  iovec part{into, size};
  while (true) {
    const ssize_t got = ::preadv2(as_fd(handle), &part, 1, static_cast<off_t>(offset), RWF_NOWAIT);
    if (got < 0 && errno == EINTR) continue;
    return {got < 0 ? 0 : got, 0};
  }
#else
  return read_at(handle, into, size, offset);
#endif
}

Transfer write_some(Handle handle, const void* bytes, std::size_t size) {
  while (true) {
    const ssize_t done = ::write(as_fd(handle), bytes, size);
    if (done < 0 && errno == EINTR) continue;
    return transfer(done);
  }
}

Transfer write_console_text(Handle handle, std::string_view utf8) {
  return write_some(handle, utf8.data(), utf8.size());
}

int disk_full_error() {
  return ENOSPC;
}

int set_end_of_file(Handle handle, std::uint64_t size) {
  return ::ftruncate(as_fd(handle), static_cast<off_t>(size)) == 0 ? 0 : errno;
}

std::string absolute_path(std::string_view name) {
  if (name.empty() || name.front() == '/') return std::string(name);
  char cwd[PATH_MAX];
  if (::getcwd(cwd, sizeof cwd) == nullptr) return std::string(name);
  std::string path = cwd;
  if (path != "/") path += '/';
  path += name;
  return path;
}

std::string error_text(int os_error) {
  return std::strerror(os_error);
}

bool is_console(Handle handle) {
  return ::isatty(as_fd(handle)) != 0;
}

bool console_wants_unicode(Handle handle) {
  if (!is_console(handle)) return false;
  const char* previous = std::setlocale(LC_CTYPE, nullptr);
  const std::string saved = previous != nullptr ? previous : "C";
  const bool utf8 = std::setlocale(LC_CTYPE, "") != nullptr &&
                    std::string_view(::nl_langinfo(CODESET)) == "UTF-8";
  std::setlocale(LC_CTYPE, saved.c_str());  // nothing else depends on the locale
  return utf8;
}

void install_event_handler(EventHandler handler) {
  event_handler = handler;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&install_event_handler), &info) != 0)
    module_base = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  struct sigaction action {};
  action.sa_sigaction = on_signal;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) sigaddset(&action.sa_mask, signal);
  for (int signal : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) {
    // A signal ignored when the run starts (nohup, a background job of a script) was ignored on
    // purpose: the run stays protected from it.
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

void end_process(int status) {
  ::_exit(status);
}

void prefer_large_pages(void* block, std::size_t bytes, bool large) {
#if defined(MADV_HUGEPAGE) && defined(MADV_NOHUGEPAGE)
  // The whole pages inside the block (a large calloc block is a mapping of its own).
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t misalign = reinterpret_cast<std::uintptr_t>(block) % page;
  const std::size_t skip = misalign == 0 ? 0 : page - misalign;
  if (bytes <= skip) return;
  const std::size_t length = (bytes - skip) / page * page;
  if (length > 0)
    madvise(static_cast<char*>(block) + skip, length, large ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
#else
  (void)block;
  (void)bytes;
  (void)large;
#endif
}

#if defined(__linux__) && !defined(MADV_POPULATE_WRITE)
#define MADV_POPULATE_WRITE 23  // Linux 5.14; older kernels refuse it and nothing happens
#endif

bool can_populate_pages() {
#ifdef MADV_POPULATE_WRITE
  return true;
#else
  return false;
#endif
}

namespace {

// Reads a byte of each page of the block from this thread. Where the hypervisor keeps page tables
// of its own and fills them only when a page is first used from the program's side (whether or
// not the system has made the page present; bench/README.md has the figures), this moves that
// cost off the thread that will write there. The bytes may be written by another thread at
// the same moment; their values are not used, so the load is made by the processor alone, out of
// sight of the language's rules on shared memory.
void touch_pages(const char* first, const char* end, std::size_t page) {
  for (const char* p = first; p < end; p += page) {
#if defined(__x86_64__)
    unsigned value;
    asm volatile("movzbl %1, %0" : "=r"(value) : "m"(*p));
#else
    (void)*static_cast<const volatile char*>(p);
#endif
  }
}

}  // namespace

void populate_pages(void* block, std::size_t bytes) {
#ifdef MADV_POPULATE_WRITE
  // From the start of the block's first page: madvise wants a page-aligned address.
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t misalign = reinterpret_cast<std::uintptr_t>(block) % page;
  if (bytes == 0) return;
  char* const first = static_cast<char*>(block) - misalign;
  if (madvise(first, bytes + misalign, MADV_POPULATE_WRITE) == 0)
    touch_pages(first, first + bytes + misalign, page);
#else
  (void)block;
  (void)bytes;
#endif
}

namespace {

// The mapped view's address range, for the bus-error handler: an access to a page of a mapped
// file past its end (another program cut the file) raises SIGBUS.
std::atomic<std::uintptr_t> view_begin{0};
std::atomic<std::uintptr_t> view_end{0};
std::atomic<bool> view_found_cut{false};
std::atomic<bool> view_taken{false};
std::uintptr_t view_page_bytes = 4096;
struct sigaction bus_action_before {};

void on_bus_error(int signal, siginfo_t* info, void*) {
  const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
  if (info->si_code > 0 && at >= view_begin.load() && at < view_end.load()) {
    // A page of zeros in place of the one that is gone; the access is made again on return.
    void* page = static_cast<char*>(info->si_addr) - at % view_page_bytes;
    if (mmap(page, view_page_bytes, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
        MAP_FAILED) {
      view_found_cut.store(true);
      return;
    }
  }
  // Not the view's: as if this handler had never been there (a fault recurs on return, a signal
  // sent by another process is sent again, or stays ignored if it was).
  if (info->si_code <= 0 && bus_action_before.sa_handler == SIG_IGN) return;
  sigaction(SIGBUS, &bus_action_before, nullptr);
  if (info->si_code <= 0) raise(signal);
}

// False when the handler could not be put in place: then no view is made, since a file cut
// under it would end the process.
bool watch_bus_errors() {
  static const bool installed = [] {
    view_page_bytes = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = on_bus_error;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGBUS, &action, &bus_action_before) == 0;
  }();
  return installed;
}

}  // namespace

FileView map_view(Handle handle, std::uint64_t offset, std::size_t size) {
  if (size == 0 || offset % kViewAlignment != 0 || !watch_bus_errors()) return {};
  // One view in the process: taken by one atomic exchange, so that two threads reading two files
  // cannot both map (the fault handler knows one range only).
  if (view_taken.exchange(true, std::memory_order_acquire)) return {};
  void* base =
      mmap(nullptr, size, PROT_READ, MAP_SHARED, as_fd(handle), static_cast<off_t>(offset));
  if (base == MAP_FAILED) {
    view_taken.store(false, std::memory_order_release);
    return {};
  }
  const auto begin = reinterpret_cast<std::uintptr_t>(base);
  view_found_cut.store(false);
  view_begin.store(begin);
  view_end.store(begin + size);
  return {static_cast<const std::byte*>(base), size, offset};
}

void unmap_view(FileView& view) {
  if (view.data == nullptr) return;
  view_end.store(0);
  view_begin.store(0);
  munmap(const_cast<std::byte*>(view.data), view.size);
  view = {};
  view_taken.store(false, std::memory_order_release);
}

void expect_sequential(const FileView& view) {
  if (view.data != nullptr) madvise(const_cast<std::byte*>(view.data), view.size, MADV_SEQUENTIAL);
}

bool view_cut() {
  return view_found_cut.load();
}

bool events_arrive_late() {
  return false;
}

const char* program_module_name() {
  return "flowseries";
}

int capture_frames(void** frames, int capacity) {
  return backtrace(frames, capacity);
}

FrameFacts describe_frame(void* address) {
  FrameFacts facts;
  facts.offset = reinterpret_cast<std::uintptr_t>(address);
  Dl_info info{};
  if (dladdr(address, &info) == 0) return facts;
  if (info.dli_fname != nullptr && *info.dli_fname != '\0') {
    const char* slash = std::strrchr(info.dli_fname, '/');
    facts.module = slash ? slash + 1 : info.dli_fname;
  }
  if (info.dli_fbase != nullptr) facts.offset -= reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  if (info.dli_sname != nullptr) facts.symbol = info.dli_sname;
  return facts;
}

}  // namespace platform
