#include "common/blocking.hpp"

namespace cutrelay {

boost::asio::thread_pool& blocking_pool() {
  // Leaked on purpose: joining the pool's threads during static destruction could wait on
  // a read that is still in progress when the process exits.
  static auto* pool = new boost::asio::thread_pool(kBlockingThreads);
  return *pool;
}

}  // namespace cutrelay
