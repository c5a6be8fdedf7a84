#pragma once
// The HTTP listener and its routes.
#include <boost/asio/ip/tcp.hpp>

#include "common/worker_pool.hpp"
#include "hub/bridge_state.hpp"

namespace cutrelay {

// Starts accepting connections on the context that owns `acceptor`. Each connection is
// placed on one of the pool's contexts and served there by its own task.
void start_http_server(StatePtr state, boost::asio::ip::tcp::acceptor acceptor,
                       WorkerPool& pool);

}  // namespace cutrelay
