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

}  // namespace

bool make_private_pipe(int fds[2]) {
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

namespace {

struct Spawned {
  pid_t pid = -1;
  int out = -1;  // read ends of the child's stdout and stderr, when captured
  int err = -1;
  std::string error;
};

// What a child's descriptor 0, 1 or 2 is.
struct StdioPlan {
  enum Kind { Null, Pipe, Given } kind = Null;
  int fd = -1;  // for Given
};

// Starts `exe` with `args`. Each of the child's standard descriptors is /dev/null, a new
// pipe (for 1 and 2: their read ends are returned) or a descriptor of ours. `environment`
// entries (NAME=value) are added to ours.
Spawned spawn_child(const std::string& exe, const std::string& program,
                    const std::vector<std::string>& args, const StdioPlan (&plan)[3],
                    const std::vector<std::string>& environment = {}) {
  Spawned s;
  int pipes[3][2] = {{-1, -1}, {-1, -1}, {-1, -1}};
  // A descriptor handed on as itself (the relay's stderr as the child's stderr) is handed
  // on through a copy: a dup2 onto itself would leave its close-on-exec flag as it was.
  int copies[3] = {-1, -1, -1};
  auto close_all = [&] {
    for (auto& pipe : pipes) {
      for (int fd : pipe) {
        if (fd >= 0) ::close(fd);
      }
    }
    for (int fd : copies) {
      if (fd >= 0) ::close(fd);
    }
  };
  for (int i = 1; i < 3; ++i) {
    if (plan[i].kind == StdioPlan::Pipe && !make_private_pipe(pipes[i])) {
      s.error = program + ": " + errno_text(errno);
      close_all();
      return s;
    }
  }
  for (int i = 0; i < 3; ++i) {
    if (plan[i].kind == StdioPlan::Given && plan[i].fd < 3) {
      copies[i] = ::fcntl(plan[i].fd, F_DUPFD_CLOEXEC, 3);
      if (copies[i] < 0) {
        s.error = program + ": " + errno_text(errno);
        close_all();
        return s;
      }
    }
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int i = 0; i < 3; ++i) {
    switch (plan[i].kind) {
      case StdioPlan::Null:
        posix_spawn_file_actions_addopen(&actions, i, "/dev/null", i == 0 ? O_RDONLY : O_WRONLY, 0);
        break;
      case StdioPlan::Pipe:
        posix_spawn_file_actions_adddup2(&actions, pipes[i][1], i);
        break;
      case StdioPlan::Given:
        posix_spawn_file_actions_adddup2(&actions, copies[i] >= 0 ? copies[i] : plan[i].fd, i);
        break;
    }
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
  std::vector<std::string> env_text;
  for (char** entry = environ; *entry != nullptr; ++entry) env_text.emplace_back(*entry);
  env_text.insert(env_text.end(), environment.begin(), environment.end());
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);

  const int rc = ::posix_spawn(&s.pid, exe.c_str(), &actions, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  // The child has its ends; ours are the read ends of its output pipes.
  const int out_read = pipes[1][0];
  const int err_read = pipes[2][0];
  pipes[1][0] = pipes[2][0] = -1;
  close_all();
  if (rc != 0) {
    s.pid = -1;
    s.error = program + ": " + errno_text(rc);
    for (int fd : {out_read, err_read}) {
      if (fd >= 0) ::close(fd);
    }
    return s;
  }
  s.out = out_read;
  s.err = err_read;
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

asio::awaitable<ToolResult> run_tool(std::string program, std::vector<std::string> args,
                                     ToolOptions options) {
  ToolResult result;
  auto ex = co_await asio::this_coro::executor;
  const std::string exe = find_program(program);
  if (exe.empty()) {
    result.start_error = program + ": not found";
    co_return result;
  }
  const StdioPlan captured[3] = {{}, {StdioPlan::Pipe}, {StdioPlan::Pipe}};
  Spawned child = spawn_child(exe, program, args, captured);
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
                                                           std::vector<std::string> args,
                                                           WindowStart) {
  auto ex = co_await asio::this_coro::executor;
  const std::string exe = find_program(program);
  if (exe.empty()) co_return program + ": not found";
  const StdioPlan silent[3] = {};
  Spawned child = spawn_child(exe, program, args, silent);
  if (child.pid < 0) co_return std::move(child.error);
  spawn_logged(ex, ExitWatch::reap(ex, child.pid));
  co_return std::nullopt;
}

StartedChild start_child(const std::string& program, const std::vector<std::string>& args,
                         const ChildStdio& stdio) {
  const std::string exe = find_program(program);
  if (exe.empty()) return {-1, program + ": not found"};
  const auto given = [](int fd) { return fd < 0 ? StdioPlan{} : StdioPlan{StdioPlan::Given, fd}; };
  const StdioPlan plan[3] = {given(stdio.in), given(stdio.out), given(stdio.err)};
  Spawned child = spawn_child(exe, program, args, plan, stdio.environment);
  return {child.pid, std::move(child.error)};
}

bool child_running(pid_t pid) {
  if (pid <= 0) return false;
  int status = 0;
  pid_t r;
  while ((r = ::waitpid(pid, &status, WNOHANG)) < 0 && errno == EINTR) {
  }
  return r == 0;  // not exited yet; an exit is reaped here, and a stranger is not ours
}

void end_child(pid_t pid, std::chrono::milliseconds grace) {
  if (!child_running(pid)) return;
  ::kill(-pid, SIGTERM);
  ::kill(pid, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + grace;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!child_running(pid)) return;
    ::usleep(10'000);
  }
  ::kill(-pid, SIGKILL);
  ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace cutrelay
