#pragma once
// What a bridge-local verb is handed: the shared state and a way to run another command
// exactly as the command endpoint runs it. Verbs such as launch (open_project) or the frame
// previews (export_frame) run an inner verb this way; dispatch itself lives in the server,
// above every verb, so it is passed down instead of included.
#include <functional>
#include <string>

#include <boost/asio/awaitable.hpp>

#include "hub/bridge_state.hpp"

namespace cutrelay {

struct VerbContext {
  StatePtr state;
  // Runs `command` (with or without the "premiere_" prefix) and returns its decorated answer.
  std::function<boost::asio::awaitable<json>(std::string command, json args)> dispatch;
};

}  // namespace cutrelay
