#include "common/files.hpp"

#if defined(_WIN32)
#include "common/win32.hpp"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>

namespace cutrelay {

std::string path_utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::filesystem::path utf8_path(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

#if defined(_WIN32)

// Windows: the new file is created with CreateFileW (CREATE_NEW, so never through an
// existing file or link) and moved over `path` with MoveFileExW, which replaces a link
// itself rather than its target. Mode 600 becomes an access list naming the current user
// alone, set as the file is created; other modes keep the folder's inherited permissions.
std::optional<std::string> replace_file(const std::filesystem::path& path, std::string_view bytes,
                                        unsigned mode) {
  static std::atomic<unsigned> next_temp{0};
  const auto failure = [&path](DWORD err) {
    return "cannot write " + path_utf8(path) + ": " + win32_error_text(err);
  };
  std::filesystem::path temp = path;
  temp += ".tmp-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(next_temp++);
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  std::unique_ptr<void, decltype(&::LocalFree)> descriptor(nullptr, &::LocalFree);
  if ((mode & 077) == 0) {
    descriptor.reset(owner_only_security_descriptor());
    // A private file that cannot be made private is not written at all.
    if (!descriptor) return failure(::GetLastError());
    attributes.lpSecurityDescriptor = descriptor.get();
  }
  OwnedHandle file(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return failure(::GetLastError());
  DWORD err = 0;
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0 && err == 0) {
    DWORD written = 0;
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(left, 1u << 30));
    if (!::WriteFile(file.get(), p, ask, &written, nullptr)) {
      err = ::GetLastError();
      break;
    }
    p += written;
    left -= written;
  }
  if (!::CloseHandle(file.release()) && err == 0) err = ::GetLastError();
  if (err == 0 && !::MoveFileExW(temp.c_str(), path.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    err = ::GetLastError();
  }
  if (err == 0) return std::nullopt;
  ::DeleteFileW(temp.c_str());
  return failure(err);
}

std::error_code make_own_directory(const std::filesystem::path& dir) {
  // A symbolic link or junction at `dir` is removed (the link, not what it points to).
  const DWORD attributes = ::GetFileAttributesW(dir.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    if (!((attributes & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(dir.c_str())
                                                 : ::DeleteFileW(dir.c_str()))) {
      return std::error_code(static_cast<int>(::GetLastError()), std::system_category());
    }
  }
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return ec;
}

#else

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

std::error_code make_own_directory(const std::filesystem::path& dir) {
  struct stat st {};
  if (::lstat(dir.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(dir.c_str());
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return ec;
}

#endif

bool write_private_file(const std::filesystem::path& path, std::string_view bytes) {
  return !replace_file(path, bytes, 0600);
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
