#include "common/event_loop.hpp"

#include <exception>
#include <string>

#include "common/log.hpp"

namespace cutrelay {

void run_until_stopped(boost::asio::io_context& ioc) {
  for (;;) {
    try {
      ioc.run();
      return;
    } catch (const std::exception& e) {
      log_line(std::string("[cutrelay] a handler failed: ") + e.what());
    } catch (...) {
      log_line("[cutrelay] a handler failed");
    }
  }
}

}  // namespace cutrelay
