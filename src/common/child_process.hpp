#pragma once
// Running an external program (ps, open, osascript, defaults, Adobe's installer agent)
// without blocking a worker thread: the caller's task suspends until the child exits.
#include <string>
#include <vector>

#include <boost/asio/awaitable.hpp>

namespace cutrelay {

struct ToolResult {
  bool started = false;  // false when the program could not be found or started
  int exit_code = -1;    // the child's exit status once it ran
  std::string out;       // standard output, as bytes
  std::string err;       // standard error, as bytes
  std::string start_error;
};

// Runs `program` (looked up on PATH unless it contains a '/') with `args`, standard input
// from /dev/null, and collects its exit status and output. Never throws.
boost::asio::awaitable<ToolResult> run_tool(std::string program, std::vector<std::string> args);

}  // namespace cutrelay
