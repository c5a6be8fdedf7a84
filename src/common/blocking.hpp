#pragma once
// Work that may block (file metadata and whole-file reads) runs on a small pool of its own,
// so a slow disk or a large file never holds up the threads that serve every other request.
#include <exception>
#include <type_traits>
#include <utility>

#include <boost/asio/associated_executor.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/use_awaitable.hpp>

namespace cutrelay {

inline constexpr int kBlockingThreads = 2;

// The process-wide pool for blocking calls (kBlockingThreads threads); made on first use,
// never destroyed before exit.
boost::asio::thread_pool& blocking_pool();

// Runs `work()` on the blocking pool and resumes the caller on its own executor with the
// result. An exception thrown by `work` (running out of memory, say) is rethrown in the
// caller, never on the pool's thread, where it would end the process. `R` must be
// default-constructible. Deliberately not a coroutine itself: GCC 12 destroys by-value
// class parameters of nested coroutine calls twice in some co_await expressions.
template <typename F>
boost::asio::awaitable<std::invoke_result_t<F&>> run_blocking(F work) {
  using R = std::invoke_result_t<F&>;
  return boost::asio::async_initiate<decltype(boost::asio::use_awaitable),
                                     void(std::exception_ptr, R)>(
      [](auto handler, F w) {
        boost::asio::post(blocking_pool(), [h = std::move(handler), w = std::move(w)]() mutable {
          std::exception_ptr error;
          R result{};
          try {
            result = w();
          } catch (...) {
            error = std::current_exception();
          }
          auto ex = boost::asio::get_associated_executor(h);
          boost::asio::dispatch(ex, [h = std::move(h), e = std::move(error),
                                     r = std::move(result)]() mutable {
            std::move(h)(std::move(e), std::move(r));
          });
        });
      },
      boost::asio::use_awaitable, std::move(work));
}

}  // namespace cutrelay
