#include "common/install_record.hpp"

#include "common/files.hpp"
#include "common/json_util.hpp"

namespace cutrelay {

std::optional<std::string> installed_plugin_version(const std::filesystem::path& data_dir) {
  // The record is a few hundred bytes; anything far larger is not ours.
  const auto text = read_file(data_dir / kInstallRecordFile, 1u << 20);
  if (!text) return std::nullopt;
  const JsonParseResult parsed = parse_json(*text);
  if (!parsed.value || !parsed.value->is_object()) return std::nullopt;
  const auto version = parsed.value->find("version");
  if (version == parsed.value->end() || !version->is_string()) return std::nullopt;
  return version->get<std::string>();
}

}  // namespace cutrelay
