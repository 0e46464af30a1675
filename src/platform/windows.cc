// The system layer on Windows: file handles, GetLastError codes, the console control handler and
// the module export tables for the stack table's routine names.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {
namespace {

HANDLE as_native(Handle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

Handle from_native(HANDLE handle) {
  return handle == nullptr ? kNoHandle : reinterpret_cast<Handle>(handle);
}

Transfer failed() {
  return {-1, static_cast<int>(GetLastError())};
}

// One call moves at most this much: ReadFile and WriteFile take 32-bit counts.
constexpr std::size_t kMaxTransfer = 1U << 30;

DWORD clamp(std::size_t size) {
  return static_cast<DWORD>(std::min(size, kMaxTransfer));
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// "X:..." with a drive letter that names no drive: the device, not the path, is missing.
bool names_missing_drive(const std::string& path) {
  if (path.size() < 2 || path[1] != ':') return false;
  const char letter = path[0];
  if (!((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z'))) return false;
  const char root[] = {letter, ':', '\\', '\0'};
  return GetDriveTypeA(root) == DRIVE_NO_ROOT_DIR;
}

// Names are code page bytes (the program's console answers) unless the library asked for UTF-8;
// then they are opened with the wide-character calls.
std::atomic<bool> utf8_names{false};

std::wstring wide(const std::string& utf8) {
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0)
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string narrow(const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
  return out;
}

HANDLE create_file(const std::string& path, DWORD access, DWORD disposition, DWORD flags) {
  if (utf8_names.load(std::memory_order_relaxed))
    return CreateFileW(wide(path).c_str(), access, kShareAll, nullptr, disposition, flags, nullptr);
  return CreateFileA(path.c_str(), access, kShareAll, nullptr, disposition, flags, nullptr);
}

bool is_directory(const std::string& path) {
  const DWORD attributes = utf8_names.load(std::memory_order_relaxed)
                               ? GetFileAttributesW(wide(path).c_str())
                               : GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

EventHandler event_handler = nullptr;
HANDLE main_thread = nullptr;
std::uintptr_t module_base = 0;

BOOL WINAPI on_console_event(DWORD type) {
  ConsoleEvent event{};
  // Logoff and shutdown go to the system's own handling.
  if (!console_event_of(static_cast<int>(type), event)) return FALSE;
  // The event runs on a thread of its own: stop the main thread where it is, so that nothing
  // more of the run reaches the console after the report, and take its code address.
  std::uintptr_t pc = 0;
  bool suspended = false;
  if (main_thread != nullptr && SuspendThread(main_thread) != static_cast<DWORD>(-1)) {
    suspended = true;
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    if (GetThreadContext(main_thread, &context)) pc = static_cast<std::uintptr_t>(context.Rip);
  }
  event_handler(event, pc >= module_base ? pc - module_base : pc);
  // The run was already ending on its own: let it finish.
  if (suspended) ResumeThread(main_thread);
  return TRUE;
}

// The exported routine of `module` nearest below `offset`, from its export directory.
std::string nearest_export(const unsigned char* base, std::uintptr_t offset) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return {};
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return {};
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (directory.VirtualAddress == 0 || directory.Size == 0) return {};
  const auto* exports =
      reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
  const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  const auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
  const auto* functions = reinterpret_cast<const DWORD*>(base + exports->AddressOfFunctions);
  DWORD best = 0;
  const char* best_name = nullptr;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    if (ordinals[i] >= exports->NumberOfFunctions) continue;
    const DWORD rva = functions[ordinals[i]];
    // Forwarders point into the export directory itself and are not code.
    if (rva >= directory.VirtualAddress && rva < directory.VirtualAddress + directory.Size)
      continue;
    if (rva <= offset && rva >= best) {
      best = rva;
      best_name = reinterpret_cast<const char*>(base + names[i]);
    }
  }
  return best_name != nullptr ? best_name : std::string();
}

// The loaded image that holds `address` within its size; null for any other address.
HMODULE image_of(void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCSTR>(address), &module))
    return nullptr;
  const auto* base = reinterpret_cast<const unsigned char*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const auto offset =
      reinterpret_cast<std::uintptr_t>(address) - reinterpret_cast<std::uintptr_t>(base);
  return offset < nt->OptionalHeader.SizeOfImage ? module : nullptr;
}

}  // namespace

bool console_event_of(int system_code, ConsoleEvent& event) {
  switch (system_code) {
    case CTRL_C_EVENT:
      event = ConsoleEvent::kInterruptKey;
      return true;
    case CTRL_BREAK_EVENT:
      event = ConsoleEvent::kBreakKey;
      return true;
    case CTRL_CLOSE_EVENT:
      event = ConsoleEvent::kWindowClosed;
      return true;
    default:
      return false;
  }
}

void use_utf8_names() {
  utf8_names.store(true, std::memory_order_relaxed);
}

Handle standard_stream(StandardStream stream) {
  switch (stream) {
    case StandardStream::kInput:
      return from_native(GetStdHandle(STD_INPUT_HANDLE));
    case StandardStream::kOutput:
      return from_native(GetStdHandle(STD_OUTPUT_HANDLE));
    default:
      return from_native(GetStdHandle(STD_ERROR_HANDLE));
  }
}

void prepare_process() {
  // A standard handle that was closed at the start stays invalid: files opened later get other
  // handles, so nothing of the console reaches them.
  // Lines carry exactly the bytes written: no CR added before LF, none dropped on input.
  _setmode(0, _O_BINARY);
  _setmode(1, _O_BINARY);
  _setmode(2, _O_BINARY);
  // A drive without a medium is a failure report, not a dialog box waiting for a click.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

OpenRefusal open_refusal(int os_error, bool must_exist) {
  switch (os_error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    // A share that cannot be reached is as missing as a file that is not there.
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return must_exist ? OpenRefusal::kNotFound : OpenRefusal::kOther;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return OpenRefusal::kPermission;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return OpenRefusal::kBadName;
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_UNIT:
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
      return OpenRefusal::kNoDevice;
    default:
      return OpenRefusal::kOther;
  }
}

Opened open_file(const std::string& path, bool create, bool for_input) {
  // A pipe's end is seen through either access. Inputs are read front to back: the cache reads
  // further ahead for them.
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | (for_input ? FILE_FLAG_SEQUENTIAL_SCAN : 0);
  // The ANSI calls take names up to MAX_PATH; a longer one is refused as a name.
  if (path.size() >= MAX_PATH && !utf8_names.load(std::memory_order_relaxed))
    return {kNoHandle, OpenRefusal::kBadName, static_cast<int>(ERROR_FILENAME_EXCED_RANGE)};
  const DWORD disposition = create ? OPEN_ALWAYS : OPEN_EXISTING;
  HANDLE handle = create_file(path, GENERIC_READ | GENERIC_WRITE, disposition, flags);
  DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  if (handle == INVALID_HANDLE_VALUE && error == ERROR_ACCESS_DENIED) {
    // A directory refuses every access: it is no file to open, not a question of permission.
    if (is_directory(path)) return {kNoHandle, OpenRefusal::kOther, static_cast<int>(error)};
    // Reading is all that the inputs need; a series file refused here fails on its first write.
    handle = create_file(path, GENERIC_READ, OPEN_EXISTING, flags);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD again = GetLastError();
      error = again == ERROR_FILE_NOT_FOUND && create ? ERROR_ACCESS_DENIED : again;
    }
  }
  if (handle != INVALID_HANDLE_VALUE && for_input && GetFileType(handle) == FILE_TYPE_CHAR) {
    // A device as an input (AUX, COM1, CON, NUL): a serial line would be waited on forever.
    CloseHandle(handle);
    return {kNoHandle, OpenRefusal::kDevice, 0};
  }
  if (handle != INVALID_HANDLE_VALUE)
    return {from_native(handle), OpenRefusal::kNone, 0, static_cast<int>(error)};
  if ((error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) && names_missing_drive(path))
    error = ERROR_INVALID_DRIVE;
  return {kNoHandle, open_refusal(static_cast<int>(error), !create), static_cast<int>(error)};
}

void close_file(Handle handle) {
  if (handle != kNoHandle) CloseHandle(as_native(handle));
}

FileFacts file_facts(Handle handle) {
  if (handle == kNoHandle || GetFileType(as_native(handle)) != FILE_TYPE_DISK) return {};
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(as_native(handle), &size)) return {};
  return {true, static_cast<std::uint64_t>(size.QuadPart)};
}

Transfer read_some(Handle handle, void* into, std::size_t size) {
  DWORD got = 0;
  if (ReadFile(as_native(handle), into, clamp(size), &got, nullptr))
    return {static_cast<std::ptrdiff_t>(got), 0};
  // A pipe whose writer has gone is at its end, as on every other system.
  const DWORD error = GetLastError();
  if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return {0, 0};
  return {-1, static_cast<int>(error)};
}

namespace {

// The system's read at an offset, without the completion notice that ReadFile with an OVERLAPPED
// offset asks for: under Wine every such notice is a request to its server, one per read. Null
// where the system has no such call (then ReadFile).
using ReadAtOffset = LONG(NTAPI*)(HANDLE file, HANDLE event, void* apc, void* apc_context,
                                  IO_STATUS_BLOCK* status, void* buffer, ULONG length,
                                  LARGE_INTEGER* offset, ULONG* key);
using StatusToError = ULONG(NTAPI*)(LONG status);

struct NativeReads {
  ReadAtOffset read = nullptr;
  StatusToError error_of = nullptr;
  NativeReads() {
    if (HMODULE ntdll = GetModuleHandleA("ntdll.dll")) {
      read = reinterpret_cast<ReadAtOffset>(
          reinterpret_cast<void*>(GetProcAddress(ntdll, "NtReadFile")));
      error_of = reinterpret_cast<StatusToError>(
          reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
    }
    if (error_of == nullptr) read = nullptr;
  }
};

const NativeReads& native_reads() {
  static const NativeReads reads;
  return reads;
}

}  // namespace

Transfer read_at(Handle handle, void* into, std::size_t size, std::uint64_t offset) {
  if (const NativeReads& native = native_reads(); native.read != nullptr) {
    constexpr LONG kEndOfFile = static_cast<LONG>(0xC0000011);
    IO_STATUS_BLOCK status{};
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    const LONG result = native.read(as_native(handle), nullptr, nullptr, nullptr, &status, into,
                                    clamp(size), &at, nullptr);
    if (result >= 0) return {static_cast<std::ptrdiff_t>(status.Information), 0};
    if (result == kEndOfFile) return {0, 0};
    return {-1, static_cast<int>(native.error_of(result))};
  }
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  if (ReadFile(as_native(handle), into, clamp(size), &got, &at))
    return {static_cast<std::ptrdiff_t>(got), 0};
  if (GetLastError() == ERROR_HANDLE_EOF) return {0, 0};
  return failed();
}

Transfer read_cached_at(Handle handle, void* into, std::size_t size, std::uint64_t offset) {
  // No read that stops short of the disk here: a refusal shows again in the ordinary read.
  const Transfer got = read_at(handle, into, size, offset);
  return {got.count < 0 ? 0 : got.count, 0};
}

Transfer write_some(Handle handle, const void* bytes, std::size_t size) {
  DWORD done = 0;
  if (!WriteFile(as_native(handle), bytes, clamp(size), &done, nullptr)) return failed();
  return {static_cast<std::ptrdiff_t>(done), 0};
}

Transfer write_console_text(Handle handle, std::string_view utf8) {
  if (utf8.empty()) return {0, 0};
  const int size = static_cast<int>(std::min<std::size_t>(utf8.size(), INT_MAX / 2));
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (length <= 0) return failed();
  std::vector<wchar_t> wide(static_cast<std::size_t>(length));
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
  const wchar_t* at = wide.data();
  DWORD left = static_cast<DWORD>(length);
  while (left > 0) {
    DWORD done = 0;
    if (!WriteConsoleW(as_native(handle), at, left, &done, nullptr)) return failed();
    if (done == 0) break;
    at += done;
    left -= done;
  }
  return {static_cast<std::ptrdiff_t>(size), 0};
}

int disk_full_error() {
  return ERROR_DISK_FULL;
}

int set_end_of_file(Handle handle, std::uint64_t size) {
  LARGE_INTEGER here{};
  LARGE_INTEGER target{};
  target.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFilePointerEx(as_native(handle), LARGE_INTEGER{}, &here, FILE_CURRENT) ||
      !SetFilePointerEx(as_native(handle), target, nullptr, FILE_BEGIN) ||
      !SetEndOfFile(as_native(handle)) ||
      !SetFilePointerEx(as_native(handle), here, nullptr, FILE_BEGIN))
    return static_cast<int>(GetLastError());
  return 0;
}

std::string absolute_path(std::string_view name) {
  // A NUL would end the name for the system: resolve what stands before it and keep the rest,
  // so that the report shows the name as typed (opening it is refused as a bad name).
  const std::size_t nul = name.find('\0');
  const std::string head(name.substr(0, nul));
  const std::string_view tail = nul == std::string_view::npos ? "" : name.substr(nul);
  if (head.empty()) return std::string(name);
  if (utf8_names.load(std::memory_order_relaxed)) {
    const std::wstring wide_head = wide(head);
    std::wstring full(MAX_PATH, L'\0');
    DWORD length =
        GetFullPathNameW(wide_head.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
      full.resize(length + 1);
      length = GetFullPathNameW(wide_head.c_str(), static_cast<DWORD>(full.size()), full.data(),
                                nullptr);
    }
    if (length == 0 || length >= full.size()) return std::string(name);
    full.resize(length);
    return narrow(full) + std::string(tail);
  }
  std::string path(MAX_PATH, '\0');
  DWORD length =
      GetFullPathNameA(head.c_str(), static_cast<DWORD>(path.size()), path.data(), nullptr);
  if (length >= path.size()) {
    path.resize(length + 1);
    length = GetFullPathNameA(head.c_str(), static_cast<DWORD>(path.size()), path.data(), nullptr);
  }
  if (length == 0 || length >= path.size()) return std::string(name);
  path.resize(length);
  path += tail;
  return path;
}

std::string error_text(int os_error) {
  char text[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(os_error), 0, text, sizeof text, nullptr);
  while (length > 0 &&
         (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' '))
    --length;
  if (length == 0) return "system error " + std::to_string(os_error);
  return std::string(text, length);
}

bool is_console(Handle handle) {
  DWORD mode = 0;
  return handle != kNoHandle && GetConsoleMode(as_native(handle), &mode) != 0;
}

bool console_wants_unicode(Handle handle) {
  return is_console(handle) && GetConsoleOutputCP() != 932;
}

void install_event_handler(EventHandler handler) {
  event_handler = handler;
  module_base = reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr));
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &main_thread,
                  THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, 0);
  // A process started with the interrupt key disabled (a new process group, or an ignoring
  // parent) is not sent that event at all, so what was ignored stays ignored.
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

void end_process(int status) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  ExitProcess(static_cast<UINT>(status));
}

void prefer_large_pages(void*, std::size_t, bool) {
  // Large pages need a privilege that console users do not hold: the hint has no counterpart.
}

bool can_populate_pages() {
  return false;
}

void populate_pages(void*, std::size_t) {}

// Reads stay copies here. A view's page that cannot be read (a network drive gone) would be an
// exception in the middle of the values rather than a read failure, and while a view lives the
// system refuses other programs to cut or rewrite the file (a simulation writing it anew would
// fail). Measured under Wine, views gave nothing over positioned reads (bench/README.md).
FileView map_view(Handle, std::uint64_t, std::size_t) {
  return {};
}

void unmap_view(FileView& view) {
  view = {};
}

void expect_sequential(const FileView&) {}

bool view_cut() {
  return false;
}

bool events_arrive_late() {
  return true;
}

const char* program_module_name() {
  return "flowseries.exe";
}

int capture_frames(void** frames, int capacity) {
  // Leaves out this routine itself, so that the first row is its caller, as on POSIX.
  const int count = CaptureStackBackTrace(1, static_cast<DWORD>(capacity), frames, nullptr);
  // Past the thread's first routine the walk can read words that are no return addresses: the
  // table ends at the first address outside every loaded image.
  for (int i = 0; i < count; ++i) {
    if (image_of(frames[i]) == nullptr) return i;
  }
  return count;
}

FrameFacts describe_frame(void* address) {
  FrameFacts facts;
  facts.offset = reinterpret_cast<std::uintptr_t>(address);
  const HMODULE module = image_of(address);
  if (module == nullptr) return facts;
  char name[MAX_PATH];
  const DWORD length = GetModuleFileNameA(module, name, sizeof name);
  if (length > 0 && length < sizeof name) {
    const std::string_view full(name, length);
    const std::size_t slash = full.find_last_of("\\/");
    facts.module = std::string(slash == std::string_view::npos ? full : full.substr(slash + 1));
  }
  const auto base = reinterpret_cast<std::uintptr_t>(module);
  facts.offset -= base;
  facts.symbol = nearest_export(reinterpret_cast<const unsigned char*>(module), facts.offset);
  return facts;
}

}  // namespace platform
