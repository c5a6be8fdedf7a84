#pragma once
// Starting external programs: the bridge's tools (ps, open, osascript, defaults, Adobe's
// installer agent), run without blocking the I/O thread while the caller's task suspends
// until the child exits; and the programs cutrelay-mcp keeps running beside itself (the
// bridge and the simulator), which it ends when it goes.
//
// This is the project's one launcher. Children are started with posix_spawn, never with
// fork: the bridge runs several threads (the I/O thread, the blocking pool, the log's
// writer), and a forked copy of it could deadlock on a mutex another thread held or run
// bridge code before its exec. A spawned child either becomes the program or exits with
// status 127; it never returns into its parent. It gets standard input from /dev/null (or
// a descriptor the caller names), its output on pipes, /dev/null or a descriptor the caller
// names, no other descriptor of the parent (so a program left running can never keep the
// listening socket), and a process group of its own.
//
// On Windows the same calls start programs with CreateProcessW, without a console window,
// in a job object of their own instead of a process group (child_process_win.cpp).
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/awaitable.hpp>

namespace cutrelay {

#if defined(_WIN32) && !defined(__MINGW32__)
using pid_t = int;
#endif

struct ToolResult {
  bool started = false;    // false when the program could not be found or started
  int exit_code = -1;      // the child's exit status once it exited normally, else -1
  int signal = 0;          // the signal that ended the child, if one did
  bool timed_out = false;  // the caller's time limit passed and the child was killed
  std::string out;         // standard output, as bytes
  std::string err;         // standard error, as bytes
  std::string start_error;

  // Started, exited by itself, with status 0.
  bool clean_exit() const { return started && !timed_out && signal == 0 && exit_code == 0; }
};

struct ToolOptions {
  // When set, the child's whole process group is killed once this much time has passed and
  // the result says `timed_out`. No limit by default.
  std::optional<std::chrono::milliseconds> time_limit;
};

// Runs `program` (looked up on PATH unless it contains a '/') with `args`, standard input
// from /dev/null, and collects its exit status and output. Never throws.
boost::asio::awaitable<ToolResult> run_tool(std::string program, std::vector<std::string> args,
                                            ToolOptions options = {});

// How a program started by start_detached opens its first window on Windows: as usual,
// or minimised without taking the focus from the window the user is in. Elsewhere the
// program's own arguments say it (`open -g`).
enum class WindowStart { Normal, Background };

// Starts `program` and leaves it running: its output goes to /dev/null, nobody waits for
// it, and it is still reaped when it exits (on the executor of the calling task), so it
// never lingers as a zombie. Returns the reason when it cannot be started.
boost::asio::awaitable<std::optional<std::string>> start_detached(
    std::string program, std::vector<std::string> args, WindowStart window = WindowStart::Normal);

// The executable `program` names: itself when it contains a '/', else the first regular,
// executable file of that name in the folders of PATH. Empty when there is none.
std::string find_program(const std::string& program);

// A pipe whose two ends are closed on exec, so that no child started meanwhile on another
// thread inherits them; only ChildStdio (or a capture) hands an end to a child.
bool make_private_pipe(int fds[2]);

// A program that runs beside its caller until the caller ends it.
struct ChildStdio {
  int in = -1;   // the child's standard input: this descriptor of ours, or /dev/null
  int out = -1;  // its standard output: this descriptor of ours, or /dev/null
  int err = -1;  // its standard error: this descriptor of ours, or /dev/null
  std::vector<std::string> environment;  // NAME=value entries added to ours
};

struct StartedChild {
  pid_t pid = -1;     // -1 when it could not be started
  std::string error;  // why not
};

// Starts `program` (looked up as run_tool does) and returns at once. The caller reaps it,
// with child_running or end_child.
StartedChild start_child(const std::string& program, const std::vector<std::string>& args,
                         const ChildStdio& stdio);

// Whether the child still runs; one that has exited is reaped.
bool child_running(pid_t pid);

// Asks the child and its process group to end (SIGTERM), waits up to `grace` for it, then
// kills them; the child is reaped. Blocks the calling thread for at most `grace`.
void end_child(pid_t pid, std::chrono::milliseconds grace);

}  // namespace cutrelay
