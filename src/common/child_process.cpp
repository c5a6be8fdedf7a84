#include "common/child_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__APPLE__)
#include <sys/event.h>
#elif defined(__linux__)
#include <sys/syscall.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/readable_pipe.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>

#include "common/async.hpp"

extern char** environ;

namespace cutrelay {

namespace asio = boost::asio;
using namespace asio::experimental::awaitable_operators;

namespace {

// Output beyond this is read and dropped, so a chatty child can neither block on a full
// pipe nor make the bridge hold unbounded memory.
constexpr std::size_t kMaxCapture = 16u << 20;

std::string errno_text(int code) { return std::strerror(code); }

// A pipe whose two ends are closed on exec, so that no other child started meanwhile on
// another thread inherits them (only the dup2 in the file actions hands one end on).
bool make_pipe(int fds[2]) {
#if defined(__linux__)
  return ::pipe2(fds, O_CLOEXEC) == 0;
#else
  // macOS has no pipe2; its children are spawned with POSIX_SPAWN_CLOEXEC_DEFAULT, which
  // closes these ends in every child even in the moment before the flag is set.
  if (::pipe(fds) != 0) return false;
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  return true;
#endif
}

struct Spawned {
  pid_t pid = -1;
  int out = -1;  // read ends of the child's stdout and stderr, when captured
  int err = -1;
  std::string error;
};

// Starts `exe` with `args`. With `capture` its stdout and stderr are pipes whose read ends
// are returned; without, both go to /dev/null.
Spawned spawn_child(const std::string& exe, const std::string& program,
                    const std::vector<std::string>& args, bool capture) {
  Spawned s;
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  auto close_all = [&] {
    for (int fd : {out[0], out[1], err[0], err[1]}) {
      if (fd >= 0) ::close(fd);
    }
  };
  if (capture && (!make_pipe(out) || !make_pipe(err))) {
    s.error = program + ": " + errno_text(errno);
    close_all();
    return s;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (capture) {
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // Sockets and files that some library opened without close-on-exec stay in the bridge.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP;
#if defined(__APPLE__)
  flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#endif
  posix_spawnattr_setflags(&attr, flags);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  sigset_t all;
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  posix_spawnattr_setsigdefault(&attr, &all);
  // A group of its own, so a time limit can end the program together with its children.
  posix_spawnattr_setpgroup(&attr, 0);

  std::vector<std::string> argv_text;
  argv_text.reserve(args.size() + 1);
  argv_text.push_back(program);
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  const int rc = ::posix_spawn(&s.pid, exe.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (capture) {
    ::close(out[1]);
    ::close(err[1]);
    out[1] = err[1] = -1;
  }
  if (rc != 0) {
    s.pid = -1;
    s.error = program + ": " + errno_text(rc);
    close_all();
    return s;
  }
  s.out = out[0];
  s.err = err[0];
  return s;
}

// Waits for one child to exit without blocking a thread, and reaps it. Linux gives a
// descriptor for the process (pidfd), macOS a kqueue watching it; both are readable once
// it exited. Where neither is available the child is polled.
class ExitWatch {
 public:
  ExitWatch(const asio::any_io_executor& ex, pid_t pid) : pid_(pid), timer_(ex) {
    int fd = -1;
#if defined(__linux__) && defined(SYS_pidfd_open)
    fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#elif defined(__APPLE__)
    fd = ::kqueue();
    if (fd >= 0) {
      struct kevent change;
      EV_SET(&change, pid, EVFILT_PROC, EV_ADD | EV_ONESHOT, NOTE_EXIT, 0, nullptr);
      // ESRCH: already exited; the waitpid before the first wait finds it.
      if (::kevent(fd, &change, 1, nullptr, 0, nullptr) != 0 && errno != ESRCH) {
        ::close(fd);
        fd = -1;
      }
    }
#endif
    if (fd >= 0) {
      boost::system::error_code ec;
      desc_.emplace(ex);
      desc_->assign(fd, ec);
      if (ec) {
        ::close(fd);
        desc_.reset();
      }
    }
  }

  ExitWatch(const ExitWatch&) = delete;
  ExitWatch& operator=(const ExitWatch&) = delete;

  // A child whose wait was abandoned (its task was destroyed) is killed and reaped here;
  // after SIGKILL the exit is a matter of moments.
  ~ExitWatch() {
    if (reaped_) return;
    kill_group();
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }

  // The wait status once the child exited, or nothing when the wait was cancelled.
  asio::awaitable<std::optional<int>> wait() {
    auto backoff = std::chrono::milliseconds(5);
    for (;;) {
      int status = 0;
      const pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        reaped_ = true;
        co_return status;
      }
      if (r < 0 && errno != EINTR) {
        // Not our child any more (someone else reaped it): nothing left to wait for.
        reaped_ = true;
        co_return std::nullopt;
      }
      if (r < 0) continue;
      if (desc_) {
        auto [ec] = co_await desc_->async_wait(asio::posix::descriptor_base::wait_read, nothrow);
        if (ec == asio::error::operation_aborted) co_return std::nullopt;
        if (ec) desc_.reset();  // fall back to polling
      } else {
        timer_.expires_after(backoff);
        auto [ec] = co_await timer_.async_wait(nothrow);
        if (ec == asio::error::operation_aborted) co_return std::nullopt;
        backoff = std::min(backoff * 2, std::chrono::milliseconds(200));
      }
    }
  }

  void kill_group() {
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
  }

  static asio::awaitable<void> reap(asio::any_io_executor ex, pid_t pid) {
    auto watch = std::make_unique<ExitWatch>(ex, pid);
    while (!watch->reaped_) {
      if (!co_await watch->wait() && !watch->reaped_) co_return;  // cancelled at shutdown
    }
  }

 private:
  pid_t pid_;
  bool reaped_ = false;
  std::optional<asio::posix::stream_descriptor> desc_;
  asio::steady_timer timer_;
};

asio::awaitable<void> drain(asio::readable_pipe& pipe, std::string& into) {
  char chunk[16384];
  for (;;) {
    auto [ec, n] = co_await pipe.async_read_some(asio::buffer(chunk), nothrow);
    if (n > 0 && into.size() < kMaxCapture) {
      into.append(chunk, std::min(n, kMaxCapture - into.size()));
    }
    if (ec) co_return;
  }
}

// Reads both outputs to their end, then waits for the exit.
asio::awaitable<std::optional<int>> collect(asio::readable_pipe& out, asio::readable_pipe& err,
                                            ToolResult& result, ExitWatch& watch) {
  co_await (drain(out, result.out) && drain(err, result.err));
  co_return co_await watch.wait();
}

void record_status(ToolResult& result, std::optional<int> status) {
  if (!status) return;
  if (WIFEXITED(*status)) {
    result.exit_code = WEXITSTATUS(*status);
  } else if (WIFSIGNALED(*status)) {
    result.signal = WTERMSIG(*status);
  }
}

}  // namespace

std::string find_program(const std::string& program) {
  if (program.empty()) return {};
  if (program.find('/') != std::string::npos) return program;
  const char* env_path = std::getenv("PATH");
  const std::string path = env_path != nullptr ? env_path : "/usr/bin:/bin";
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = path.find(':', start);
    std::string dir = path.substr(start, colon == std::string::npos ? colon : colon - start);
    if (dir.empty()) dir = ".";
    const std::string candidate = dir + "/" + program;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    if (colon == std::string::npos) return {};
    start = colon + 1;
  }
}

asio::awaitable<ToolResult> run_tool(std::string program, std::vector<std::string> args) {
  co_return co_await run_tool(std::move(program), std::move(args), ToolOptions{});
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
  Spawned child = spawn_child(exe, program, args, true);
  if (child.pid < 0) {
    result.start_error = std::move(child.error);
    co_return result;
  }
  result.started = true;
  asio::readable_pipe out(ex, child.out);
  asio::readable_pipe err(ex, child.err);
  ExitWatch watch(ex, child.pid);

  if (!options.time_limit) {
    record_status(result, co_await collect(out, err, result, watch));
    co_return result;
  }
  asio::steady_timer limit(ex);
  limit.expires_after(*options.time_limit);
  auto race = co_await (collect(out, err, result, watch) || limit.async_wait(nothrow));
  if (race.index() == 0) {
    record_status(result, std::get<0>(race));
    co_return result;
  }
  // The collecting branch was cancelled; end the program and whatever it started, which
  // may hold the pipes open, and reap it.
  result.timed_out = true;
  watch.kill_group();
  boost::system::error_code ignored;
  out.close(ignored);
  err.close(ignored);
  record_status(result, co_await watch.wait());
  co_return result;
}

asio::awaitable<std::optional<std::string>> start_detached(std::string program,
                                                           std::vector<std::string> args) {
  auto ex = co_await asio::this_coro::executor;
  const std::string exe = find_program(program);
  if (exe.empty()) co_return program + ": not found";
  Spawned child = spawn_child(exe, program, args, false);
  if (child.pid < 0) co_return std::move(child.error);
  spawn_logged(ex, ExitWatch::reap(ex, child.pid));
  co_return std::nullopt;
}

}  // namespace cutrelay
