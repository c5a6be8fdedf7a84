#pragma once
// The HTTP listener and its routes.
#include <boost/asio/ip/tcp.hpp>

#include "hub/bridge_state.hpp"

namespace cutrelay {

// Starts accepting connections on the context that owns `acceptor`, the bridge's I/O
// thread. Each connection is served there by its own task.
void start_http_server(StatePtr state, boost::asio::ip::tcp::acceptor acceptor);

}  // namespace cutrelay
