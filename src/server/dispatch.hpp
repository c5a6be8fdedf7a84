#pragma once
// Running one command: the verb name's prefix, the bridge's own verbs, forwarding, and the
// answer's decoration.
#include <string>
#include <string_view>

#include <boost/asio/awaitable.hpp>

#include "hub/bridge_state.hpp"
#include "hub/verb_context.hpp"

namespace cutrelay {

// The verb a command names: without one leading "premiere_" (case-sensitive).
std::string_view strip_prefix(std::string_view command);

// Runs a command exactly as the command endpoint does and returns the decorated answer.
// Verbs that report progress (the catalog marks them) send it to `progress`, if given.
boost::asio::awaitable<json> dispatch(StatePtr state, std::string command, json args,
                                      Progress progress = {});

// The context handed to bridge-local verbs that run an inner verb through dispatch.
VerbContext verb_context(StatePtr state, Progress progress = {});

// The same, serialised; the fixed `describe` answer is served from its one serialisation.
boost::asio::awaitable<std::string> dispatch_text(StatePtr state, std::string command, json args);

}  // namespace cutrelay
