#include "installer/ccx_package.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/files.hpp"
#include "common/json_util.hpp"
#include "common/plugin_identity.hpp"
#include "installer/zip_writer.hpp"

namespace cutrelay {

namespace fs = std::filesystem;

namespace {

std::string system_error(std::string_view what, const fs::path& path, int err) {
  return std::string(what) + " " + to_valid_utf8(path.string()) + ": " + std::strerror(err);
}

// Writes all of `bytes`, retrying short writes and interrupted calls.
bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

fs::path ccx_path(const fs::path& data_dir) {
  return data_dir / (std::string(kPluginId) + ".ccx");
}

CcxBuild build_ccx(const fs::path& data_dir, std::span<const EmbeddedFile> files) {
  CcxBuild result;
  const fs::path path = ccx_path(data_dir);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    result.error = system_error("cannot create", path, errno);
    return result;
  }

  ZipWriter zip;
  for (std::string_view name : kPackageEntries) {
    const EmbeddedFile* file = find_embedded(files, name);
    if (file == nullptr) {
      ::close(fd);
      result.error = "the bridge was built without the plug-in file " + std::string(name);
      return result;
    }
    zip.add(name, file->bytes);
  }
  // The plug-in reads this copy only when it cannot read the real one, so a missing file
  // still gives a package, with an empty entry.
  zip.add(kConnectionEntry, read_file(data_dir / kConnectionEntry).value_or(std::string()));
  if (!zip.finish()) {
    ::close(fd);
    result.error = zip.error();
    return result;
  }

  if (!write_all(fd, zip.bytes())) {
    const int err = errno;
    ::close(fd);
    result.error = system_error("cannot write", path, err);
    return result;
  }
  if (::close(fd) != 0) {
    result.error = system_error("cannot finish", path, errno);
    return result;
  }
  result.path = path;
  return result;
}

}  // namespace cutrelay
