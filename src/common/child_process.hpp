#pragma once
// Running an external program (ps, open, osascript, defaults, Adobe's installer agent)
// without blocking a worker thread: the caller's task suspends until the child exits.
//
// Children are started with posix_spawn, never with fork: the bridge runs one io_context on
// several threads, and a forked copy of it could deadlock on a mutex another thread held or
// run bridge code before its exec. A spawned child either becomes the program or exits with
// status 127; it never returns into the bridge. It inherits standard input from /dev/null,
// two pipes for its output and no other descriptor of the bridge (so a program left running
// can never keep the listening socket), and runs in a process group of its own.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/awaitable.hpp>

namespace cutrelay {

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
boost::asio::awaitable<ToolResult> run_tool(std::string program, std::vector<std::string> args);
boost::asio::awaitable<ToolResult> run_tool(std::string program, std::vector<std::string> args,
                                            ToolOptions options);

// Starts `program` and leaves it running: its output goes to /dev/null, nobody waits for
// it, and it is still reaped when it exits (on the executor of the calling task), so it
// never lingers as a zombie. Returns the reason when it cannot be started.
boost::asio::awaitable<std::optional<std::string>> start_detached(std::string program,
                                                                  std::vector<std::string> args);

// The executable `program` names: itself when it contains a '/', else the first regular,
// executable file of that name in the folders of PATH. Empty when there is none.
std::string find_program(const std::string& program);

}  // namespace cutrelay
