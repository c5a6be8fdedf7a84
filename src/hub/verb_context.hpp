#pragma once
// What a bridge-local verb is handed: the shared state and a way to run another command
// exactly as the command endpoint runs it. Verbs such as launch (open_project) or the frame
// previews (export_frame) run an inner verb this way; dispatch itself lives in the server,
// above every verb, so it is passed down instead of included.
#include <functional>
#include <optional>
#include <string>

#include <boost/asio/awaitable.hpp>

#include "hub/bridge_state.hpp"

namespace cutrelay {

// How far a long verb has come, for a caller who asked to be told (an MCP client that sent
// a progress token). `progress` grows from one report to the next; `total` is set where
// the end is known.
struct ProgressReport {
  double progress = 0;
  std::optional<double> total;
  std::string message;
};

// Where a verb sends its reports; empty when nobody asked. Called on the verb's own
// executor, never after the verb has answered.
using Progress = std::function<void(ProgressReport)>;

struct VerbContext {
  StatePtr state;
  // Runs `command` (with or without the "premiere_" prefix) and returns its decorated answer.
  std::function<boost::asio::awaitable<json>(std::string command, json args)> dispatch;
  Progress progress;  // the command's own reports, if its caller wants them
};

// Reports through `progress` when somebody listens.
inline void report(const Progress& progress, double done, std::optional<double> total, std::string message) {
  if (progress) progress(ProgressReport{done, total, std::move(message)});
}

}  // namespace cutrelay
