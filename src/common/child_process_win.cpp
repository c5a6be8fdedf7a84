// Starting external programs on Windows (see child_process.hpp for what each call does).
//
// Children are started with CreateProcessW: without a console window (CREATE_NO_WINDOW),
// inheriting only the three handles meant for them (a handle list, so a program left
// running never holds the listening socket), inside a job object of their own, so that a
// time limit ends the program together with whatever it started, as a process group does
// elsewhere. Output is read through overlapped named pipes and the exit awaited on the
// process handle, both by the io_context: no worker thread blocks on a child.
#include "common/child_process.hpp"

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>

#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/windows/object_handle.hpp>
#include <boost/asio/windows/stream_handle.hpp>

#include "common/async.hpp"
#include "common/win32.hpp"

namespace cutrelay {

namespace asio = boost::asio;
using namespace asio::experimental::awaitable_operators;

namespace {

// Output beyond this is read and dropped, as elsewhere.
constexpr std::size_t kMaxCapture = 16u << 20;

std::string last_error_text(const std::string& program) {
  return program + ": " + win32_error_text(::GetLastError());
}

// The read end (overlapped, ours) and the write end (inheritable, the child's) of a pipe
// for one of the child's outputs. Anonymous pipes cannot be read asynchronously, so this
// is a named pipe with a name no one else uses.
bool make_output_pipe(OwnedHandle& read_end, OwnedHandle& write_end) {
  static std::atomic<unsigned> next{0};
  const std::wstring name = L"\\\\.\\pipe\\cutrelay-" + std::to_wstring(::GetCurrentProcessId()) +
                            L"-" + std::to_wstring(next++);
  read_end = OwnedHandle(::CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 65536, 0, nullptr));
  if (!read_end) return false;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  write_end = OwnedHandle(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  return static_cast<bool>(write_end);
}

OwnedHandle null_device(bool for_writing) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return OwnedHandle(::CreateFileW(L"NUL", for_writing ? GENERIC_WRITE : GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
}

// An inheritable copy of the handle behind one of our C runtime descriptors.
OwnedHandle inheritable_copy(int fd) {
  const auto source = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  if (source == INVALID_HANDLE_VALUE) return OwnedHandle();
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), source, ::GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
    return OwnedHandle();
  }
  return OwnedHandle(copy);
}

// Our environment with `extra` NAME=value entries added (replacing ours of the same name),
// as the block CreateProcessW takes.
std::wstring environment_block(const std::vector<std::string>& extra) {
  std::map<std::wstring, std::wstring> entries;
  const auto upper = [](std::wstring name) {
    for (auto& c : name) c = static_cast<wchar_t>(::towupper(c));
    return name;
  };
  if (wchar_t* block = ::GetEnvironmentStringsW()) {
    for (const wchar_t* p = block; *p != L'\0'; p += std::wcslen(p) + 1) {
      const std::wstring entry(p);
      // Entries such as "=C:=C:\\dir" start with '=': their name is the part up to the next.
      const std::size_t eq = entry.find(L'=', 1);
      entries[upper(entry.substr(0, eq))] = entry;
    }
    ::FreeEnvironmentStringsW(block);
  }
  for (const std::string& e : extra) {
    const std::wstring entry = widen(e);
    entries[upper(entry.substr(0, entry.find(L'=')))] = entry;
  }
  std::wstring out;
  for (const auto& [name, entry] : entries) {
    out += entry;
    out.push_back(L'\0');
  }
  out.push_back(L'\0');
  return out;
}

struct Launched {
  OwnedHandle process;
  OwnedHandle job;
  DWORD pid = 0;
  std::string error;
};

// Starts `exe` with `args`, the child's standard handles being `stdio` (all three set),
// which alone it inherits. `flags` are added to the creation flags.
Launched launch(const std::string& exe, const std::string& program,
                const std::vector<std::string>& args, HANDLE const (&stdio)[3],
                const std::vector<std::string>& environment, DWORD flags = 0,
                WORD show_window = SW_SHOWNORMAL, bool use_job = true) {
  Launched out;
  std::wstring command_line = quote_argument(widen(exe));
  for (const auto& arg : args) command_line += L" " + quote_argument(widen(arg));

  SIZE_T attribute_size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &attribute_size);
  std::vector<unsigned char> attribute_buffer(attribute_size);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attribute_buffer.data());
  if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &attribute_size)) {
    out.error = last_error_text(program);
    return out;
  }
  // The same handle may stand for two of the three; the list names each once.
  HANDLE inherited[3];
  DWORD count = 0;
  for (HANDLE h : stdio) {
    if (std::find(inherited, inherited + count, h) == inherited + count) inherited[count++] = h;
  }
  ::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                              count * sizeof(HANDLE), nullptr, nullptr);

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = show_window;
  startup.StartupInfo.hStdInput = stdio[0];
  startup.StartupInfo.hStdOutput = stdio[1];
  startup.StartupInfo.hStdError = stdio[2];
  startup.lpAttributeList = attributes;

  std::wstring env = environment_block(environment);
  const std::wstring application = widen(exe);
  PROCESS_INFORMATION info{};
  const BOOL started = ::CreateProcessW(
      application.c_str(), command_line.data(), nullptr, nullptr, TRUE,
      EXTENDED_STARTUPINFO_PRESENT | CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED | flags,
      env.data(), nullptr, &startup.StartupInfo, &info);
  ::DeleteProcThreadAttributeList(attributes);
  if (!started) {
    out.error = last_error_text(program);
    return out;
  }
  out.process = OwnedHandle(info.hProcess);
  out.pid = info.dwProcessId;
  if (use_job) {
    // A job of its own: a time limit ends the program and its children together. A job
    // that cannot be had (the child already in one that forbids it) leaves the program alone.
    out.job = OwnedHandle(::CreateJobObjectW(nullptr, nullptr));
    if (out.job && !::AssignProcessToJobObject(out.job.get(), info.hProcess)) out.job.reset();
  }
  ::ResumeThread(info.hThread);
  ::CloseHandle(info.hThread);
  return out;
}

void end_launched(const Launched& child) {
  if (child.job) {
    ::TerminateJobObject(child.job.get(), 1);
  } else {
    ::TerminateProcess(child.process.get(), 1);
  }
}

asio::awaitable<void> drain(asio::windows::stream_handle& pipe, std::string& into) {
  char chunk[16384];
  for (;;) {
    auto [ec, n] = co_await pipe.async_read_some(asio::buffer(chunk), nothrow);
    if (n > 0 && into.size() < kMaxCapture) {
      into.append(chunk, std::min(n, kMaxCapture - into.size()));
    }
    if (ec) co_return;
  }
}

// Waits for the process to end, without holding a thread; false when cancelled.
asio::awaitable<bool> wait_exit(asio::windows::object_handle& process) {
  auto [ec] = co_await process.async_wait(nothrow);
  co_return !ec;
}

asio::awaitable<bool> collect(asio::windows::stream_handle& out, asio::windows::stream_handle& err,
                              ToolResult& result, asio::windows::object_handle& process) {
  co_await (drain(out, result.out) && drain(err, result.err));
  co_return co_await wait_exit(process);
}

void record_exit(ToolResult& result, HANDLE process) {
  DWORD code = 0;
  if (::GetExitCodeProcess(process, &code) && code != STILL_ACTIVE) {
    result.exit_code = static_cast<int>(code);
  }
}

bool has_separator(const std::string& program) {
  return program.find_first_of("/\\:") != std::string::npos;
}

bool is_file(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The children that start_child started, by process id, until they are ended.
std::mutex children_mutex;
std::map<pid_t, Launched>& children() {
  static std::map<pid_t, Launched> map;
  return map;
}

}  // namespace

bool make_private_pipe(int fds[2]) { return ::_pipe(fds, 65536, _O_BINARY | _O_NOINHERIT) == 0; }

std::string find_program(const std::string& program) {
  if (program.empty()) return {};
  if (has_separator(program)) return program;
  // The folders of PATH, each name tried as given and then with each of PATHEXT's
  // extensions, as the command prompt does.
  const char* env_path = std::getenv("PATH");
  const char* env_ext = std::getenv("PATHEXT");
  const std::string path = env_path != nullptr ? env_path : "";
  const std::string exts = env_ext != nullptr && *env_ext != '\0' ? env_ext : ".COM;.EXE;.BAT;.CMD";
  std::vector<std::string> suffixes{""};
  for (std::size_t start = 0; start <= exts.size();) {
    const std::size_t semi = std::min(exts.find(';', start), exts.size());
    if (semi > start) suffixes.push_back(exts.substr(start, semi - start));
    start = semi + 1;
  }
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t semi = std::min(path.find(';', start), path.size());
    std::string dir = path.substr(start, semi - start);
    start = semi + 1;
    if (dir.size() >= 2 && dir.front() == '"' && dir.back() == '"') dir = dir.substr(1, dir.size() - 2);
    if (dir.empty()) continue;
    for (const auto& suffix : suffixes) {
      const std::string candidate = dir + "\\" + program + suffix;
      if (is_file(widen(candidate))) return candidate;
    }
  }
  return {};
}

asio::awaitable<ToolResult> run_tool(std::string program, std::vector<std::string> args,
                                     ToolOptions options) {
  ToolResult result;
  auto ex = co_await asio::this_coro::executor;
  const std::string exe = find_program(program);
  if (exe.empty()) {
    result.start_error = program + ": not found";
    co_return result;
  }
  OwnedHandle out_read, out_write, err_read, err_write;
  OwnedHandle input = null_device(false);
  if (!input || !make_output_pipe(out_read, out_write) || !make_output_pipe(err_read, err_write)) {
    result.start_error = last_error_text(program);
    co_return result;
  }
  const HANDLE stdio[3] = {input.get(), out_write.get(), err_write.get()};
  Launched child = launch(exe, program, args, stdio, {}, CREATE_NO_WINDOW);
  // The child has its ends; once ours are closed, its exit ends the pipes.
  input.reset();
  out_write.reset();
  err_write.reset();
  if (!child.process) {
    result.start_error = std::move(child.error);
    co_return result;
  }
  result.started = true;
  asio::windows::stream_handle out(ex, out_read.release());
  asio::windows::stream_handle err(ex, err_read.release());
  HANDLE process_copy = nullptr;
  ::DuplicateHandle(::GetCurrentProcess(), child.process.get(), ::GetCurrentProcess(),
                    &process_copy, SYNCHRONIZE, FALSE, 0);
  asio::windows::object_handle process(ex, process_copy);

  if (!options.time_limit) {
    co_await collect(out, err, result, process);
    record_exit(result, child.process.get());
    co_return result;
  }
  asio::steady_timer limit(ex);
  limit.expires_after(*options.time_limit);
  auto race = co_await (collect(out, err, result, process) || limit.async_wait(nothrow));
  if (race.index() == 0) {
    record_exit(result, child.process.get());
    co_return result;
  }
  // The collecting branch was cancelled: end the program and whatever it started.
  result.timed_out = true;
  end_launched(child);
  boost::system::error_code ignored;
  out.close(ignored);
  err.close(ignored);
  co_await wait_exit(process);
  record_exit(result, child.process.get());
  co_return result;
}

asio::awaitable<std::optional<std::string>> start_detached(std::string program,
                                                           std::vector<std::string> args,
                                                           WindowStart window) {
  const std::string exe = find_program(program);
  if (exe.empty()) co_return program + ": not found";
  OwnedHandle in = null_device(false);
  OwnedHandle out = null_device(true);
  if (!in || !out) co_return last_error_text(program);
  const HANDLE stdio[3] = {in.get(), out.get(), out.get()};
  // Outside any job of ours: the program lives on when the bridge ends. Windows keeps no
  // record of an exited child once its handles are closed, so nothing is left to reap.
  Launched child = launch(exe, program, args, stdio, {}, CREATE_NO_WINDOW,
                          window == WindowStart::Background ? SW_SHOWMINNOACTIVE : SW_SHOWNORMAL,
                          false);
  if (!child.process) co_return std::move(child.error);
  co_return std::nullopt;
}

StartedChild start_child(const std::string& program, const std::vector<std::string>& args,
                         const ChildStdio& stdio) {
  const std::string exe = find_program(program);
  if (exe.empty()) return {-1, program + ": not found"};
  OwnedHandle handles[3];
  for (int i = 0; i < 3; ++i) {
    const int fd = i == 0 ? stdio.in : i == 1 ? stdio.out : stdio.err;
    handles[i] = fd >= 0 ? inheritable_copy(fd) : null_device(i != 0);
    if (!handles[i]) return {-1, last_error_text(program)};
  }
  const HANDLE raw[3] = {handles[0].get(), handles[1].get(), handles[2].get()};
  Launched child = launch(exe, program, args, raw, stdio.environment, CREATE_NO_WINDOW);
  if (!child.process) return {-1, std::move(child.error)};
  const auto pid = static_cast<pid_t>(child.pid);
  std::lock_guard lock(children_mutex);
  children()[pid] = std::move(child);
  return {pid, {}};
}

bool child_running(pid_t pid) {
  std::lock_guard lock(children_mutex);
  const auto it = children().find(pid);
  if (it == children().end()) return false;
  if (::WaitForSingleObject(it->second.process.get(), 0) == WAIT_TIMEOUT) return true;
  children().erase(it);  // exited: its handles are closed
  return false;
}

void end_child(pid_t pid, std::chrono::milliseconds grace) {
  Launched child;
  {
    std::lock_guard lock(children_mutex);
    const auto it = children().find(pid);
    if (it == children().end()) return;
    child = std::move(it->second);
    children().erase(it);
  }
  // No signal asks a console-less program to end: the caller's other ways (closing its
  // standard input) get the grace period, then the program and its job are ended.
  if (::WaitForSingleObject(child.process.get(), static_cast<DWORD>(grace.count())) == WAIT_TIMEOUT) {
    end_launched(child);
    ::WaitForSingleObject(child.process.get(), INFINITE);
  }
}

}  // namespace cutrelay
