// What the run asks of the operating system: files, the standard streams, error texts, console
// events and the walk of active calls. One implementation per system (POSIX, Windows) is chosen
// at build time, so the callers hold no system calls of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// An open file: a descriptor on POSIX, a HANDLE on Windows (whose invalid value is -1 as well).
using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

enum class StandardStream { kInput, kOutput, kError };
Handle standard_stream(StandardStream stream);

// From now on file names are UTF-8 text (the library's callers), not code page bytes (the
// program's console answers): on Windows they are opened with the wide-character calls.
void use_utf8_names();

// Readies the process for byte-exact console use: on Windows every standard stream in binary
// mode; on POSIX a closed reader of standard output or a file-size limit becomes a write failure
// instead of a signal, a standard descriptor closed at the start holds the null device (so that
// no file opened later becomes console output) while standard_stream still answers kNoHandle for
// it, and memory freed during the run is kept for reuse rather than handed back to the system.
// Every program of the project calls it first.
void prepare_process();

// Why the system refused an open, in the kinds that the run reports apart.
// kDevice: an input that is a terminal or a serial line (Windows: any character device), which
// would be waited on rather than read.
enum class OpenRefusal { kNone, kNotFound, kPermission, kBadName, kNoDevice, kDevice, kOther };

// What an open attempt gave: a handle, or why not and the system's error code.
struct Opened {
  Handle handle = kNoHandle;
  OpenRefusal refusal = OpenRefusal::kNone;
  int os_error = 0;  // the code behind `refusal`, kept for the report when it is kOther
  // Opened for reading only, since writing was refused with this code (0: opened both ways).
  int write_refusal = 0;
};

// Opens an absolute path for reading and writing, or for reading only when the system refuses
// writing; `create` makes a missing file. A FIFO is opened one way only (`for_input`), so that
// its writer closing is seen as its end; an input that is a terminal or serial device is refused.
Opened open_file(const std::string& path, bool create, bool for_input);

// The kind of refusal that `os_error` is: kNotFound only when the file must exist (a missing
// folder of a file to be made is kOther).
OpenRefusal open_refusal(int os_error, bool must_exist);

void close_file(Handle handle);

struct FileFacts {
  bool regular = false;
  std::uint64_t size = 0;
};
FileFacts file_facts(Handle handle);

// One transfer: `count` bytes moved (0 at the end of the input), or -1 with the system's code.
// Interrupted calls are retried inside.
struct Transfer {
  std::ptrdiff_t count = 0;
  int os_error = 0;
};
Transfer read_some(Handle handle, void* into, std::size_t size);
Transfer read_at(Handle handle, void* into, std::size_t size, std::uint64_t offset);
// As read_at, but only what the system already holds in memory: it stops (count 0, or fewer
// bytes) where reading would wait for the disk, at the end of the file, or on any refusal, and
// leaves the rest to an ordinary read. Where the system cannot tell, it is an ordinary read.
Transfer read_cached_at(Handle handle, void* into, std::size_t size, std::uint64_t offset);
Transfer write_some(Handle handle, const void* bytes, std::size_t size);
// Writes UTF-8 text to a console that shows Unicode (Windows: as UTF-16); elsewhere as bytes.
Transfer write_console_text(Handle handle, std::string_view utf8);

// The system's code for a full disk (a write that moved nothing is reported with it).
int disk_full_error();

// Cuts the file to `size` bytes; 0, or the system's error code.
int set_end_of_file(Handle handle, std::uint64_t size);

// The trimmed name made absolute against the current directory, as the system spells it.
std::string absolute_path(std::string_view name);

// The system's own description of its error code, without a line end.
std::string error_text(int os_error);

// True when the handle is an interactive console or terminal.
bool is_console(Handle handle);
// True when console output should carry the prompts as Unicode text rather than code page 932
// bytes: a UTF-8 terminal on POSIX, a console whose output code page is not 932 on Windows.
bool console_wants_unicode(Handle handle);

// The interrupt key, the break key, the closed console window, and a request to end the process
// (POSIX SIGTERM: kill, service managers and batch schedulers at their time limit).
enum class ConsoleEvent { kInterruptKey, kBreakKey, kWindowClosed, kTerminate };

// The event that a system's console signal stands for (a POSIX signal number, a Windows control
// type); false for the signals that are no such event.
bool console_event_of(int system_code, ConsoleEvent& event);

// Called for an event, with the main thread's code offset inside the program's own module at the
// moment of the event (0 when unknown). Must not allocate or take locks; ends the process, or
// returns when the run is already ending on its own (the event is then dropped).
using EventHandler = void (*)(ConsoleEvent event, std::uintptr_t code_offset);

// Routes the events to `handler`, except those the process was started ignoring.
void install_event_handler(EventHandler handler);

// Ends the process at once, with nothing flushed or run at exit.
[[noreturn]] void end_process(int status);

// Asks the system to back the whole pages of a zeroed block with large pages where it can (a
// page fault per 2 MiB rather than per 4 KiB), or never to. Only a hint: nothing changes for the
// caller, and where the system has no such thing it does nothing.
void prefer_large_pages(void* block, std::size_t bytes, bool large);

// Whether populate_pages does anything here.
bool can_populate_pages();
// Makes the pages of a zeroed block present and writable without changing a byte, so that a
// later first write takes no page fault. Safe while other threads write into the block.
void populate_pages(void* block, std::size_t bytes);

// Read-only views of a file mapped into memory: reading a few values out of long records costs
// no copy then. One view at a time in the process; while it lives, a file cut by another program
// does not end the process: the pages past the new end read as zeros and view_cut() tells.
struct FileView {
  const std::byte* data = nullptr;  // null: no view (refused, or none to be had here)
  std::size_t size = 0;
  std::uint64_t offset = 0;  // where in the file `data` starts
};
// Views start at multiples of this.
inline constexpr std::uint64_t kViewAlignment = 64 * 1024;
// Maps `size` bytes of the file from `offset` (a multiple of kViewAlignment). The caller keeps
// the view within the file's size; where the system refuses, the view is empty.
FileView map_view(Handle handle, std::uint64_t offset, std::size_t size);
void unmap_view(FileView& view);
// Tells the system that the view will be read through from front to back, so that its pages
// come from the disk in large reads ahead of the reader rather than a few at each fault.
void expect_sequential(const FileView& view);
// Whether the file behind the view was found shorter than the view since it was mapped.
bool view_cut();

// True where console events arrive on a thread of their own, so that a read ended by the same
// key press (a console read, or the pipe of a program that the key ended) can come first.
bool events_arrive_late();

// The program's own module name as its stack tables show it.
const char* program_module_name();

// Fills `frames` with the return addresses of the active calls, innermost first.
int capture_frames(void** frames, int capacity);

// Where a code address lies: the module's file name (no folders), the address's offset in it,
// and the mangled name of the routine when the module's symbols tell it (empty otherwise).
struct FrameFacts {
  std::string module;
  std::uintptr_t offset = 0;
  std::string symbol;
};
FrameFacts describe_frame(void* address);

}  // namespace platform
