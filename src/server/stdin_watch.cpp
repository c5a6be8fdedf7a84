#include "server/stdin_watch.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string_view>

#include <boost/asio/posix/stream_descriptor.hpp>

#include "common/async.hpp"
#include "common/log.hpp"

namespace cutrelay {

namespace asio = boost::asio;

namespace {

asio::awaitable<void> watch(std::unique_ptr<asio::posix::stream_descriptor> input) {
  char sink[512];
  for (;;) {
    auto [ec] = co_await input->async_wait(asio::posix::descriptor_base::wait_read, nothrow);
    if (ec == asio::error::operation_aborted) co_return;
    const ssize_t n = ec ? -1 : ::read(input->native_handle(), sink, sizeof sink);
    if (n > 0) continue;
    if (n < 0 && !ec && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
    log_line("[cutrelay] standard input ended: the program that started the bridge is gone");
    ::kill(::getpid(), SIGTERM);
    co_return;
  }
}

}  // namespace

bool exit_with_stdin_requested() {
  const char* value = std::getenv(kExitWithStdinVariable);
  return value != nullptr && std::string_view(value) == "1";
}

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

}  // namespace cutrelay
