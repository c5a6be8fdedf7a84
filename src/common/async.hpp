#pragma once
#include <exception>
#include <string>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "common/log.hpp"

namespace cutrelay {

// The completion token of every co_await on I/O: errors come back as values
// (`auto [ec, n] = co_await op(nothrow)`), never as exceptions.
inline constexpr auto nothrow = boost::asio::as_tuple(boost::asio::use_awaitable);

// co_spawn for tasks nobody waits for. `detached` would swallow an escaping exception
// silently; this logs it, and the task (only that task) ends.
template <typename Executor, typename Awaitable>
void spawn_logged(const Executor& ex, Awaitable&& task) {
  boost::asio::co_spawn(ex, std::forward<Awaitable>(task), [](std::exception_ptr error) {
    if (!error) return;
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      log_line(std::string("[cutrelay] task failed: ") + e.what());
    } catch (...) {
      log_line("[cutrelay] task failed");
    }
  });
}

}  // namespace cutrelay
