#include "host/frames.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <new>
#include <optional>

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>

#include "common/args.hpp"
#include "common/async.hpp"
#include "common/base64.hpp"
#include "common/blocking.hpp"

namespace cutrelay {

namespace asio = boost::asio;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto kPollInterval = 300ms;

std::chrono::milliseconds test_wait_or(std::chrono::milliseconds normal) {
  const char* value = std::getenv("CUTRELAY_TEST_FILE_WAIT_MS");
  if (value == nullptr || *value == '\0') return normal;
  char* end = nullptr;
  const unsigned long long ms = std::strtoull(value, &end, 10);
  if (*end != '\0') return normal;
  return std::chrono::milliseconds(std::min<unsigned long long>(ms, normal.count()));
}

std::optional<std::uint64_t> stat_size(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

// Milliseconds or seconds since the Unix epoch, 0 before it.
template <typename Unit>
long long since_epoch() {
  const auto count =
      std::chrono::duration_cast<Unit>(std::chrono::system_clock::now().time_since_epoch())
          .count();
  return count < 0 ? 0 : static_cast<long long>(count);
}

json with_defaults(json args, std::string_view name_key, json name, unsigned width) {
  if (!args.is_object()) args = json::object();
  if (!args.contains("width")) args["width"] = width;
  if (!args.contains(name_key)) args[std::string(name_key)] = std::move(name);
  return args;
}

bool succeeded(const json& answer) {
  if (!answer.is_object()) return false;
  const auto it = answer.find("success");
  return it != answer.end() && it->is_boolean() && it->get<bool>();
}

std::string path_member(const json& object) {
  const std::string* path = arg_string(object, "path");
  return path ? *path : std::string();
}

asio::awaitable<FileRead> read_off_thread(const std::string& path, std::uint64_t limit) {
  return run_blocking([path, limit] { return read_whole_file(path, limit); });
}

}  // namespace

std::chrono::milliseconds preview_file_wait() { return test_wait_or(20s); }
std::chrono::milliseconds read_file_wait() { return test_wait_or(10s); }

asio::awaitable<bool> wait_for_stable_file(fs::path path, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  asio::steady_timer timer(co_await asio::this_coro::executor);
  std::optional<std::uint64_t> previous;
  // A named lambda, not a temporary inside the co_await expression: GCC 12 mishandles the
  // lifetime of such temporaries.
  const auto look = [&path] { return stat_size(path); };
  for (;;) {
    const std::optional<std::uint64_t> size = co_await run_blocking(look);
    if (size) {
      if (previous && *size != 0 && *size == *previous) co_return true;
    }
    previous = size;  // a failed look forgets the size seen before it
    if (std::chrono::steady_clock::now() >= deadline) co_return size && *size != 0;
    timer.expires_after(kPollInterval);
    auto [ec] = co_await timer.async_wait(nothrow);
    if (ec == asio::error::operation_aborted) co_return false;  // the caller went away
  }
}

namespace {

// Reads from `fd` until its end or `want` bytes; the caller closes `fd`.
void read_into(int fd, std::uint64_t known, std::uint64_t want, FileRead& out) {
  // The size is only a hint (a file can still grow); a huge one is not reserved up front.
  out.bytes.reserve(static_cast<std::size_t>(std::min<std::uint64_t>({known, want, 256u << 20})));
  char chunk[65536];
  while (out.bytes.size() < want) {
    const std::size_t ask =
        static_cast<std::size_t>(std::min<std::uint64_t>(sizeof chunk, want - out.bytes.size()));
    const ssize_t n = ::read(fd, chunk, ask);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;  // an idle FIFO: nothing more now
      out.error = std::error_code(errno, std::generic_category());
      return;
    }
    out.bytes.append(chunk, static_cast<std::size_t>(n));
  }
}

}  // namespace

FileRead read_whole_file(const fs::path& path, std::uint64_t limit) {
  FileRead out;
  // O_NONBLOCK only matters for FIFOs and devices: opening one without a writer would
  // otherwise wait for ever. Regular files ignore it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    out.error = std::error_code(errno, std::generic_category());
    return out;
  }
  struct stat st {};
  std::uint64_t known = 0;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) known = static_cast<std::uint64_t>(st.st_size);
  // One byte past the limit tells a file of exactly `limit` bytes from a larger one.
  const std::uint64_t want = limit == std::numeric_limits<std::uint64_t>::max() ? limit : limit + 1;
  try {
    read_into(fd, known, want, out);
  } catch (const std::exception&) {  // std::bad_alloc, std::length_error
    // A file too large for memory is a failed read of that file, nothing worse: this runs
    // on a pool thread, where an escaping exception would end the process.
    out.error = std::make_error_code(std::errc::not_enough_memory);
  }
  ::close(fd);
  if (out.error) {
    out.bytes = std::string();
    return out;
  }
  out.size = std::max<std::uint64_t>(known, out.bytes.size());
  if (out.bytes.size() > limit) out.bytes.resize(static_cast<std::size_t>(limit));
  return out;
}

json inline_image(const std::string& bytes) {
  return {{"mime", "image/png"}, {"base64", base64_encode(bytes)}, {"bytes", bytes.size()}};
}

asio::awaitable<json> preview_frame(VerbContext ctx, json args) {
  const bool want_inline = arg_not_off(args, "inline");
  json request = with_defaults(std::move(args), "name",
                               "preview_" + std::to_string(since_epoch<std::chrono::milliseconds>()),
                               960);
  std::string verb = "export_frame";
  json answer = co_await ctx.dispatch(std::move(verb), std::move(request));
  if (!succeeded(answer)) co_return answer;

  const std::string path = path_member(answer);
  co_await wait_for_stable_file(path, preview_file_wait());
  if (want_inline) {
    const FileRead file = co_await read_off_thread(path, kMaxReadBytes);
    if (file.error || path.empty()) {
      answer["_hint"] = "Frame export reported success but " + path +
                        " isn't readable yet; retry premiere_read_file_base64 {path} in a second.";
    } else if (file.too_large()) {
      answer["_hint"] = "The frame at " + path + " is " + std::to_string(file.size) +
                        " bytes, more than an answer carries inline (" +
                        std::to_string(kMaxReadBytes) + "); export it smaller (width) or pass "
                        "inline:false.";
    } else {
      answer["image"] = inline_image(file.bytes);
    }
  }
  answer["savedTo"] = path;
  co_return answer;
}

asio::awaitable<json> contact_sheet(VerbContext ctx, json args) {
  const bool want_inline = arg_not_off(args, "inline");
  json request = with_defaults(std::move(args), "prefix",
                               "sheet_" + std::to_string(since_epoch<std::chrono::seconds>()), 480);
  std::string verb = "export_frames";
  report(ctx.progress, 0, std::nullopt, "Exporting the frames in Premiere");
  json answer = co_await ctx.dispatch(std::move(verb), std::move(request));
  if (!succeeded(answer) || !want_inline) co_return answer;
  const auto frames = answer.find("frames");
  if (frames == answer.end() || !frames->is_array()) co_return answer;

  // One frame after the other: the plug-in may still be writing the later ones.
  const std::size_t count = frames->size();
  std::size_t done = 0;
  for (json& frame : *frames) {
    const std::string path = path_member(frame);
    co_await wait_for_stable_file(path, preview_file_wait());
    if (!path.empty()) {
      const FileRead file = co_await read_off_thread(path, kMaxReadBytes);
      if (!file.error && !file.too_large() && frame.is_object()) {
        frame["image"] = inline_image(file.bytes);
      }
    }
    ++done;
    report(ctx.progress, static_cast<double>(done), static_cast<double>(count),
           "Read frame " + std::to_string(done) + " of " + std::to_string(count));
  }
  co_return answer;
}

asio::awaitable<json> read_file_base64(json args) {
  const std::string* path_arg = arg_string(args, "path");
  if (path_arg == nullptr) {
    co_return json{{"success", false}, {"errorCode", "bad_args"}, {"error", "path is required"}};
  }
  const std::string path = *path_arg;
  const std::uint64_t max_bytes = arg_uint(args, "maxBytes").value_or(kDefaultMaxReadBytes);
  if (max_bytes > kMaxReadBytes) {
    co_return json{{"success", false},
                   {"errorCode", "bad_args"},
                   {"error", "maxBytes may be at most " + std::to_string(kMaxReadBytes) +
                                 " (64 MiB)"}};
  }

  co_await wait_for_stable_file(path, read_file_wait());
  // Read and encoded on the blocking pool: encoding megabytes would otherwise hold up
  // every other connection, all served by the one I/O thread.
  struct Encoded {
    FileRead file;
    std::string base64;
    std::size_t length = 0;  // of the bytes encoded
  };
  const auto read_and_encode = [path, max_bytes] {
    Encoded out{read_whole_file(path, max_bytes), {}};
    if (!out.file.error && !out.file.too_large()) {
      out.base64 = base64_encode(out.file.bytes);
      out.length = out.file.bytes.size();
    }
    return out;
  };
  Encoded encoded = co_await run_blocking(read_and_encode);
  const FileRead& file = encoded.file;
  if (file.error) {
    co_return json{{"success", false}, {"errorCode", "read_failed"}, {"error", file.error.message()}};
  }
  if (file.too_large()) {
    co_return json{{"success", false},
                   {"errorCode", "too_large"},
                   {"error", std::to_string(file.size) + " bytes > maxBytes " + std::to_string(max_bytes)},
                   {"_hint", "Use quor-bridge pull_file to fetch big files into the container."}};
  }
  co_return json{{"success", true},
                 {"path", path},
                 {"bytes", encoded.length},
                 {"base64", std::move(encoded.base64)}};
}

}  // namespace cutrelay
