#pragma once
// The bridge's one I/O thread runs its io_context through this.
#include <boost/asio/io_context.hpp>

namespace cutrelay {

// Runs `ioc` until it is stopped. A handler that throws ends only what it was doing: the
// failure is logged and the loop goes on serving every other connection.
void run_until_stopped(boost::asio::io_context& ioc);

}  // namespace cutrelay
