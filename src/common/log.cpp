#include "common/log.hpp"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace cutrelay {

namespace {

// Queued lines beyond these are dropped: the log must never hold the I/O thread or grow
// without bound while nobody reads standard error.
constexpr std::size_t kMaxQueuedLines = 1024;
constexpr std::size_t kMaxQueuedBytes = 1u << 20;

void write_all(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // nowhere to report it
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

class LogQueue {
 public:
  void push(std::string line) {
    {
      std::lock_guard lock(mutex_);
      if (lines_.size() >= kMaxQueuedLines || bytes_ + line.size() > kMaxQueuedBytes) {
        ++dropped_;
        return;
      }
      bytes_ += line.size();
      lines_.push_back(std::move(line));
      if (!started_) {
        started_ = true;
        std::thread([this] { drain(); }).detach();
      }
    }
    wake_.notify_one();
  }

  void flush() {
    std::unique_lock lock(mutex_);
    idle_.wait_for(lock, std::chrono::seconds(1),
                   [this] { return lines_.empty() && !writing_; });
  }

 private:
  void drain() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return !lines_.empty() || dropped_ > 0; });
      std::string line;
      if (dropped_ > 0 && lines_.empty()) {
        line = "[cutrelay] " + std::to_string(dropped_) + " log lines dropped\n";
        dropped_ = 0;
      } else {
        line = std::move(lines_.front());
        lines_.pop_front();
        bytes_ -= line.size();
      }
      writing_ = true;
      lock.unlock();
      write_all(line);
      lock.lock();
      writing_ = false;
      if (lines_.empty()) idle_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<std::string> lines_;
  std::size_t bytes_ = 0;
  std::size_t dropped_ = 0;
  bool started_ = false;
  bool writing_ = false;
};

// Never destroyed: detached writer thread may still use it while the process exits.
LogQueue& queue() {
  static LogQueue* q = new LogQueue();
  return *q;
}

// Backs `end` up to the start of a UTF-8 sequence, so a cut never splits a character.
std::size_t char_boundary(std::string_view text, std::size_t end) {
  while (end > 0 && end < text.size() &&
         (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
    --end;
  }
  return end;
}

constexpr std::size_t kMaxLoggedString = 256;
constexpr std::size_t kMaxLoggedItems = 32;
constexpr int kMaxLoggedDepth = 8;
constexpr std::size_t kMaxLoggedNodes = 512;
constexpr std::string_view kCut = "\xE2\x80\xA6";  // …

json shortened(const json& value, int depth, std::size_t& nodes) {
  if (nodes == 0) return std::string(kCut);
  --nodes;
  switch (value.type()) {
    case json::value_t::string: {
      const auto& text = value.get_ref<const std::string&>();
      if (text.size() <= kMaxLoggedString) return value;
      std::string cut = text.substr(0, char_boundary(text, kMaxLoggedString));
      cut += kCut;
      return cut;
    }
    case json::value_t::array: {
      if (depth >= kMaxLoggedDepth) return std::string(kCut);
      json out = json::array();
      std::size_t n = 0;
      for (const json& item : value) {
        if (n++ == kMaxLoggedItems) {
          out.push_back(std::string(kCut));
          break;
        }
        out.push_back(shortened(item, depth + 1, nodes));
      }
      return out;
    }
    case json::value_t::object: {
      if (depth >= kMaxLoggedDepth) return std::string(kCut);
      json out = json::object();
      std::size_t n = 0;
      for (const auto& [key, item] : value.items()) {
        if (n++ == kMaxLoggedItems) {
          out[std::string(kCut)] = std::to_string(value.size() - kMaxLoggedItems) + " more";
          break;
        }
        out[key.size() <= kMaxLoggedString ? key : key.substr(0, char_boundary(key, kMaxLoggedString)) + std::string(kCut)] =
            shortened(item, depth + 1, nodes);
      }
      return out;
    }
    default:
      return value;
  }
}

}  // namespace

void log_line(std::string_view line) {
  std::string text;
  text.reserve(line.size() + 1);
  text.append(line);
  text.push_back('\n');
  queue().push(std::move(text));
}

void write_line_now(std::string_view line) {
  std::string text;
  text.reserve(line.size() + 1);
  text.append(line);
  text.push_back('\n');
  write_all(text);
}

void flush_log() { queue().flush(); }

std::string loggable_json(const json& value) {
  std::size_t nodes = kMaxLoggedNodes;
  std::string text = dump_compact(shortened(value, 0, nodes));
  if (text.size() > kMaxLoggedJson) {
    text.resize(char_boundary(text, kMaxLoggedJson));
    text += kCut;
  }
  return text;
}

}  // namespace cutrelay
