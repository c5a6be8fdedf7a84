#pragma once
// Letting an agent see the edit: one frame at the playhead (preview_frame), a storyboard of
// evenly spaced frames (contact_sheet), and any file of this machine (read_file_base64).
// The plug-in renders; the bridge fills in defaults, waits until the written file stops
// growing, reads it and attaches it to the answer as Base64.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include <boost/asio/awaitable.hpp>

#include "common/json_util.hpp"
#include "hub/verb_context.hpp"

namespace cutrelay {

inline constexpr std::uint64_t kDefaultMaxReadBytes = 8u << 20;
// The most any of the three verbs reads of a file (as Base64 the answer is a third larger):
// read_file_base64's largest maxBytes, and the largest frame shown inline.
inline constexpr std::uint64_t kMaxReadBytes = 64u << 20;

// How long each verb waits for a file to settle. Tests may shorten both with the variable
// CUTRELAY_TEST_FILE_WAIT_MS so that the waits for files that never appear stay short.
std::chrono::milliseconds preview_file_wait();    // 20 s
std::chrono::milliseconds read_file_wait();       // 10 s

// Polls the file's size every 300 ms until two looks in a row see the same size other than
// 0, or `limit` has passed; at least one look is always made. True when the file is complete
// or, at the limit, exists with a size other than 0. Metadata queries run off the caller's
// thread.
boost::asio::awaitable<bool> wait_for_stable_file(std::filesystem::path path,
                                                  std::chrono::milliseconds limit);

struct FileRead {
  std::string bytes;
  std::uint64_t size = 0;  // the file's length, also when only part of it was read
  std::error_code error;
  bool too_large() const { return size > bytes.size(); }
};

// Reads the whole file, but never more than `limit` bytes: a larger file comes back with
// `size` set to its length and `bytes` cut short. Never blocks on a FIFO without a writer.
FileRead read_whole_file(const std::filesystem::path& path, std::uint64_t limit);

// {mime: "image/png", base64, bytes}: an image as answers carry it inline.
json inline_image(const std::string& bytes);

boost::asio::awaitable<json> preview_frame(VerbContext ctx, json args);
boost::asio::awaitable<json> contact_sheet(VerbContext ctx, json args);
boost::asio::awaitable<json> read_file_base64(json args);

}  // namespace cutrelay
