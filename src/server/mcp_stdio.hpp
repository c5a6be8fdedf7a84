#pragma once
// cutrelay-mcp: MCP over standard input and output, for clients that start their servers
// as child processes. It relays every message to the bridge's "/mcp", finding the running
// bridge through its connection file, or starting one beside itself (with the simulator,
// where no Premiere Pro is installed) when none answers, and ending what it started when
// the client goes.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/json_util.hpp"

namespace cutrelay {

// Splits standard input into lines, at most `limit` bytes each. What is longer is dropped
// up to its line end and reported once, with its first `keep` bytes (where the request's
// id can usually still be read). Kept apart from the reading so it can be tested.
class LineSplitter {
 public:
  explicit LineSplitter(std::size_t limit, std::size_t keep = 64 * 1024) : limit_(limit), keep_(keep) {}
  // Feeds bytes; calls on_line(text) for each complete line and on_overflow(start) for each
  // line that was too long.
  template <typename OnLine, typename OnOverflow>
  void feed(std::string_view bytes, OnLine&& on_line, OnOverflow&& on_overflow) {
    for (char c : bytes) {
      if (c == '\n') {
        if (overflow_) {
          on_overflow(std::move(line_));
        } else {
          on_line(std::move(line_));
        }
        line_.clear();
        overflow_ = false;
      } else if (!overflow_) {
        if (line_.size() >= limit_) {
          overflow_ = true;
          line_.resize(std::min(line_.size(), keep_));
          line_.shrink_to_fit();
        } else {
          line_.push_back(c);
        }
      }
    }
  }
  // What was left without a line end when the input closed (the kept start of an
  // overlong line, when overflowing()).
  std::string rest() { return std::exchange(line_, {}); }
  bool overflowing() const { return overflow_; }

 private:
  std::size_t limit_;
  std::size_t keep_;
  std::string line_;
  bool overflow_ = false;
};

// The id of a JSON-RPC request whose text may be cut short: the top-level "id" member, when
// it comes before the cut and is a text or a whole number of at most 64 bits.
std::optional<json> readable_id(std::string_view start);

// Splits a text/event-stream body into the data of its events, as bytes arrive.
class EventStreamReader {
 public:
  // Feeds bytes; calls on_data(data) for each complete event that carries data.
  void feed(std::string_view bytes, const std::function<void(std::string)>& on_data);

 private:
  std::string line_;
  std::string data_;
  bool has_data_ = false;
};

// The directory this program was started from, for finding `cutrelay` beside it.
std::filesystem::path own_directory();

// Runs the relay until standard input closes (and its requests are answered) or standard
// output is gone; returns the exit status.
int run_stdio_relay(int argc, char** argv);

}  // namespace cutrelay
