#include "common/system.hpp"

#if defined(_WIN32)
#include <winsock2.h>
#include <fcntl.h>
#include <io.h>

#include "common/win32.hpp"
#else
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#endif
#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

#include <cerrno>
#include <climits>
#include <csignal>
#include <string>
#include <system_error>

namespace cutrelay {

namespace fs = std::filesystem;

std::int64_t current_process_id() {
#if defined(_WIN32)
  return static_cast<std::int64_t>(::GetCurrentProcessId());
#else
  return static_cast<std::int64_t>(::getpid());
#endif
}

std::optional<fs::path> own_executable() {
  std::error_code ec;
#if defined(_WIN32)
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::nullopt;
    if (n < buffer.size()) return fs::path(buffer.substr(0, n));
    buffer.resize(buffer.size() * 2);  // cut short: ask again with more room
  }
#elif defined(__APPLE__)
  char buffer[4096];
  std::uint32_t size = sizeof buffer;
  if (_NSGetExecutablePath(buffer, &size) != 0) return std::nullopt;
  fs::path self = fs::canonical(buffer, ec);
  if (ec) return std::nullopt;
  return self;
#else
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return std::nullopt;
  return self;
#endif
}

void ignore_broken_pipe_signal() {
#if !defined(_WIN32)
  std::signal(SIGPIPE, SIG_IGN);
#endif
}

void request_termination() {
#if defined(_WIN32)
  std::raise(SIGTERM);
#else
  ::kill(::getpid(), SIGTERM);
#endif
}

void binary_standard_streams() {
#if defined(_WIN32)
  ::_setmode(0, _O_BINARY);
  ::_setmode(1, _O_BINARY);
  ::_setmode(2, _O_BINARY);
#endif
}

std::optional<std::uint64_t> open_descriptor_limit() {
#if defined(_WIN32)
  return std::nullopt;
#else
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
  return static_cast<std::uint64_t>(limit.rlim_cur);
#endif
}

std::optional<std::uint64_t> raise_open_descriptor_limit(std::uint64_t wanted) {
#if defined(_WIN32)
  (void)wanted;
  return std::nullopt;
#else
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return std::nullopt;
  rlim_t target = limit.rlim_max;
  if (target == RLIM_INFINITY || target > wanted) target = static_cast<rlim_t>(wanted);
#if defined(__APPLE__)
  if (target > OPEN_MAX) target = OPEN_MAX;
#endif
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < target) {
    rlimit raised{target, limit.rlim_max};
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit.rlim_cur = target;
  }
  return static_cast<std::uint64_t>(limit.rlim_cur);
#endif
}

bool socket_idle_and_open(std::uintptr_t native_socket) {
#if defined(_WIN32)
  // Readable at once means either data (sent unasked) or the peer's close.
  const auto s = static_cast<SOCKET>(native_socket);
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval now{0, 0};
  const int ready = ::select(0, &readable, nullptr, nullptr, &now);
  return ready == 0;
#else
  char byte;
  const ssize_t n = ::recv(static_cast<int>(native_socket), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
#endif
}

}  // namespace cutrelay
