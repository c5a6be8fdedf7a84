#include "installer/ccx_package.hpp"

#include "common/files.hpp"
#include "common/json_util.hpp"
#include "common/plugin_identity.hpp"
#include "installer/zip_writer.hpp"

namespace cutrelay {

namespace fs = std::filesystem;

fs::path ccx_path(const fs::path& data_dir) {
  return data_dir / (std::string(kPluginId) + ".ccx");
}

CcxBuild build_ccx(const fs::path& data_dir, std::span<const EmbeddedFile> files) {
  CcxBuild result;
  const fs::path path = ccx_path(data_dir);

  ZipWriter zip;
  for (std::string_view name : kPackageEntries) {
    const EmbeddedFile* file = find_embedded(files, name);
    if (file == nullptr) {
      result.error = "the bridge was built without the plug-in file " + std::string(name);
      return result;
    }
    zip.add(name, file->bytes);
  }
  // The plug-in reads this copy only when it cannot read the real one, so a missing file
  // still gives a package, with an empty entry.
  zip.add(kConnectionEntry, read_file(data_dir / kConnectionEntry).value_or(std::string()));
  if (!zip.finish()) {
    result.error = zip.error();
    return result;
  }
  // The package carries the token: owner-only, and put down whole, so that an installer
  // started by another install running at the same time never reads half a package.
  if (auto error = replace_file(path, zip.bytes(), 0600)) {
    result.error = to_valid_utf8(*error);
    return result;
  }
  result.path = path;
  return result;
}

}  // namespace cutrelay
