#pragma once
// The HTTP listener and its routes.
#include <boost/asio/ip/tcp.hpp>

#include "hub/bridge_state.hpp"

namespace cutrelay {

// Starts accepting connections on the runtime that owns `acceptor`; each connection is
// served by its own task on its own strand.
void start_http_server(StatePtr state, boost::asio::ip::tcp::acceptor acceptor);

}  // namespace cutrelay
