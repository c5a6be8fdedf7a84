#pragma once
// cutrelay-mcp: MCP over standard input and output, for clients that start their servers
// as child processes. It relays every message to the bridge's "/mcp", finding the running
// bridge through its connection file, or starting one beside itself when none answers.
#include <filesystem>
#include <string>
#include <string_view>

#include "common/json_util.hpp"

namespace cutrelay {

// Splits standard input into lines, at most `limit` bytes each; what is longer is dropped up
// to its line end and reported once. Kept apart from the reading so it can be tested.
class LineSplitter {
 public:
  explicit LineSplitter(std::size_t limit) : limit_(limit) {}
  // Feeds bytes; calls on_line(text) for each complete line and on_overflow() for each
  // line that was too long.
  template <typename OnLine, typename OnOverflow>
  void feed(std::string_view bytes, OnLine&& on_line, OnOverflow&& on_overflow) {
    for (char c : bytes) {
      if (c == '\n') {
        if (overflow_) {
          on_overflow();
        } else {
          on_line(std::move(line_));
        }
        line_.clear();
        overflow_ = false;
      } else if (!overflow_) {
        if (line_.size() >= limit_) {
          overflow_ = true;
          line_.clear();
          line_.shrink_to_fit();
        } else {
          line_.push_back(c);
        }
      }
    }
  }
  // What was left without a line end when the input closed.
  std::string rest() { return std::exchange(line_, {}); }
  bool overflowing() const { return overflow_; }

 private:
  std::size_t limit_;
  std::string line_;
  bool overflow_ = false;
};

// The directory this program was started from, for finding `cutrelay` beside it.
std::filesystem::path own_directory();

// Runs the relay until standard input closes (and its requests are answered) or standard
// output is gone; returns the exit status.
int run_stdio_relay(int argc, char** argv);

}  // namespace cutrelay
