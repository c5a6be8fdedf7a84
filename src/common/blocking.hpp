#pragma once
// Work that may block (file metadata and whole-file reads) runs on a small pool of its own,
// so a slow disk or a large file never holds up the threads that serve every other request.
#include <type_traits>
#include <utility>

#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/use_awaitable.hpp>

namespace cutrelay {

// The process-wide pool for blocking calls; made on first use, never destroyed before exit.
boost::asio::thread_pool& blocking_pool();

// Runs `work()` on the blocking pool and resumes the caller on its own executor with the
// result. `work` must not throw.
template <typename F>
boost::asio::awaitable<std::invoke_result_t<F&>> run_blocking(F work) {
  using R = std::invoke_result_t<F&>;
  co_return co_await boost::asio::co_spawn(
      blocking_pool().get_executor(),
      [w = std::move(work)]() mutable -> boost::asio::awaitable<R> { co_return w(); },
      boost::asio::use_awaitable);
}

}  // namespace cutrelay
