#include "server/stdin_watch.hpp"

#if defined(_WIN32)
#include <windows.h>

#include <thread>
#else
#include <fcntl.h>
#include <unistd.h>

#include <boost/asio/posix/stream_descriptor.hpp>
#endif

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "common/async.hpp"
#include "common/log.hpp"
#include "common/system.hpp"

namespace cutrelay {

namespace asio = boost::asio;

namespace {

constexpr std::string_view kStdinEnded =
    "[cutrelay] standard input ended: the program that started the bridge is gone";

#if !defined(_WIN32)

asio::awaitable<void> watch(std::unique_ptr<asio::posix::stream_descriptor> input) {
  char sink[512];
  for (;;) {
    auto [ec] = co_await input->async_wait(asio::posix::descriptor_base::wait_read, nothrow);
    if (ec == asio::error::operation_aborted) co_return;
    const ssize_t n = ec ? -1 : ::read(input->native_handle(), sink, sizeof sink);
    if (n > 0) continue;
    if (n < 0 && !ec && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
    log_line(kStdinEnded);
    request_termination();
    co_return;
  }
}
#endif

}  // namespace

bool exit_with_stdin_requested() {
  const char* value = std::getenv(kExitWithStdinVariable);
  return value != nullptr && std::string_view(value) == "1";
}

#if defined(_WIN32)
void exit_when_stdin_ends(asio::io_context&) {
  // An anonymous pipe cannot be waited on by the io_context: a thread of its own blocks
  // reading it (a pipe from the program that started the bridge, which writes nothing)
  // and asks the bridge to end once it ends.
  HANDLE input = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), ::GetStdHandle(STD_INPUT_HANDLE),
                         ::GetCurrentProcess(), &input, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return;
  }
  std::thread([input] {
    char sink[512];
    DWORD n = 0;
    while (::ReadFile(input, sink, sizeof sink, &n, nullptr) && n > 0) {
    }
    ::CloseHandle(input);
    log_line(kStdinEnded);
    request_termination();
  }).detach();
}
#else
void exit_when_stdin_ends(asio::io_context& ioc) {
  // A copy of descriptor 0, non-blocking, so the watch never holds up its thread.
  const int fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
  if (fd < 0) return;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  auto input = std::make_unique<asio::posix::stream_descriptor>(ioc);
  boost::system::error_code ec;
  input->assign(fd, ec);
  if (ec) {
    ::close(fd);
    return;
  }
  spawn_logged(ioc.get_executor(), watch(std::move(input)));
}

#endif

}  // namespace cutrelay
