#include "common/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace cutrelay {

std::optional<std::string> replace_file(const std::filesystem::path& path, std::string_view bytes,
                                        unsigned mode) {
  static std::atomic<unsigned> next_temp{0};
  const auto failure = [&path](const char* what, int err) {
    return std::string(what) + " " + path.string() + ": " + std::strerror(err);
  };
  std::filesystem::path temp = path;
  temp += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(next_temp++);
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        static_cast<mode_t>(mode));
  if (fd < 0) return failure("cannot write", errno);
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  int err = 0;
  while (left > 0 && err == 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno != EINTR) err = errno;
      continue;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 && err == 0) err = errno;
  // rename() replaces whatever is at `path`, a symbolic link included, without following it.
  if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
  if (err == 0) return std::nullopt;
  ::unlink(temp.c_str());
  return failure("cannot write", err);
}

bool write_private_file(const std::filesystem::path& path, std::string_view bytes) {
  return !replace_file(path, bytes, 0600);
}

std::error_code make_own_directory(const std::filesystem::path& dir) {
  struct stat st {};
  if (::lstat(dir.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(dir.c_str());
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return ec;
}

std::optional<std::string> read_file(const std::filesystem::path& path, std::size_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string data;
  char chunk[65536];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    data.append(chunk, static_cast<std::size_t>(in.gcount()));
    if (data.size() > limit) return std::nullopt;
  }
  if (in.bad()) return std::nullopt;
  return data;
}

}  // namespace cutrelay
