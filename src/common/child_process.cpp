#include "common/child_process.hpp"
#include "common/async.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/readable_pipe.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/process/v2/environment.hpp>
#include <boost/process/v2/process.hpp>
#include <boost/process/v2/stdio.hpp>

namespace cutrelay {

namespace asio = boost::asio;
namespace bp = boost::process::v2;
using namespace asio::experimental::awaitable_operators;

namespace {

// Output beyond this is read and dropped, so a chatty child can neither block on a full
// pipe nor make the bridge hold unbounded memory.
constexpr std::size_t kMaxCapture = 16u << 20;

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

}  // namespace

asio::awaitable<ToolResult> run_tool(std::string program, std::vector<std::string> args) {
  ToolResult result;
  auto ex = co_await asio::this_coro::executor;
  bp::filesystem::path exe;
  if (program.find('/') != std::string::npos) {
    exe = program;
  } else {
    exe = bp::environment::find_executable(program);
  }
  if (exe.empty()) {
    result.start_error = program + ": not found";
    co_return result;
  }
  asio::readable_pipe out(ex);
  asio::readable_pipe err(ex);
  std::optional<bp::process> child;
  try {
    child.emplace(ex, exe, args, bp::process_stdio{nullptr, out, err});
  } catch (const std::exception& e) {
    result.start_error = e.what();
    co_return result;
  }
  result.started = true;
  co_await (drain(out, result.out) && drain(err, result.err));
  auto [ec, code] = co_await child->async_wait(nothrow);
  result.exit_code = ec ? -1 : code;
  co_return result;
}

}  // namespace cutrelay
