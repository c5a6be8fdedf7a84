#include "host/presets.hpp"

#if defined(_WIN32)
#include "common/win32.hpp"
#else
#include <sys/stat.h>
#endif

#include <algorithm>
#include <clocale>
#include <cwctype>
#include <fstream>
#include <set>
#include <utility>

#if defined(__APPLE__)
#include <xlocale.h>
#endif
#if !defined(_WIN32)
#include <locale.h>
#include <wctype.h>
#endif

#include "common/args.hpp"
#include "common/files.hpp"
#include "common/text.hpp"
#include "host/discovery.hpp"

namespace cutrelay {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kMediaEncoderPrefix = "Adobe Media Encoder";
constexpr std::uint64_t kDefaultLimit = 80;
// Beyond the depth limit, a tree whose folders link to one another many times could still
// take exponentially long to walk; folders already on the way down are skipped, and no walk
// reads more folders than this.
constexpr std::size_t kMaxFoldersPerRoot = 20000;

std::string path_text(const fs::path& path) { return to_valid_utf8(path_utf8(path)); }

bool is_epr(const fs::path& path) {
  const std::string name = path.filename().string();
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return false;
  const std::string_view ext = std::string_view(name).substr(dot + 1);
  return ext.size() == 3 && (ext[0] | 0x20) == 'e' && (ext[1] | 0x20) == 'p' &&
         (ext[2] | 0x20) == 'r';
}

// What tells one folder from another, however it was reached: device and inode, or on
// Windows the volume's serial number and the file index.
using FolderId = std::pair<std::uint64_t, std::uint64_t>;

std::optional<FolderId> folder_id(const fs::path& path) {
#if defined(_WIN32)
  // FILE_FLAG_BACKUP_SEMANTICS opens a folder; without FILE_FLAG_OPEN_REPARSE_POINT a
  // link or junction is followed, as stat follows one.
  OwnedHandle h(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!h || !::GetFileInformationByHandle(h.get(), &info)) return std::nullopt;
  return FolderId{info.dwVolumeSerialNumber,
                  (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
#else
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FolderId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
#endif
}

struct Walk {
  std::vector<fs::path>& found;
  std::vector<FolderId> ancestors;
  std::size_t folders = 0;

  void dir(const fs::path& path, std::size_t depth) {
    if (depth >= kPresetMaxDepth || found.size() > kPresetMaxFiles) return;
    if (++folders > kMaxFoldersPerRoot) return;
    const std::optional<FolderId> found_id = folder_id(path);
    if (!found_id) return;
    const FolderId id = *found_id;
    if (std::find(ancestors.begin(), ancestors.end(), id) != ancestors.end()) return;
    std::error_code ec;
    fs::directory_iterator it(path, ec);
    if (ec) return;
    ancestors.push_back(id);
    for (; it != fs::directory_iterator(); it.increment(ec)) {
      if (ec) break;
      const fs::path entry = it->path();
      std::error_code stat_ec;
      const fs::file_status status = fs::status(entry, stat_ec);
      if (!stat_ec && fs::is_directory(status)) {
        dir(entry, depth + 1);
      } else if (is_epr(entry)) {
        found.push_back(entry);
      }
    }
    ancestors.pop_back();
  }
};

std::string read_head(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string head(kPresetHeadBytes, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(in.bad() ? 0 : static_cast<std::size_t>(in.gcount()));
  return head;
}

// The text after the first <tag>, up to the next '<', trimmed; empty when there is none.
std::string_view tag_text(std::string_view text, std::string_view tag) {
  const std::string open = "<" + std::string(tag) + ">";
  const std::size_t at = text.find(open);
  if (at == std::string_view::npos) return {};
  const std::string_view rest = text.substr(at + open.size());
  const std::size_t end = rest.find('<');
  if (end == std::string_view::npos) return {};
  return trim(rest.substr(0, end), kAsciiSpace);
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes valid UTF-8 into code points and back.
std::u32string decode(std::string_view s) {
  std::u32string out;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    int len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    for (int k = 1; k < len && i + k < s.size(); ++k) {
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    out.push_back(cp);
    i += len;
  }
  return out;
}

void encode(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

#if defined(_WIN32)
// The system's own case tables (the invariant locale's), for one code point at a time.
bool have_case_tables() { return true; }

std::wstring utf16_of(char32_t cp) {
  if (cp < 0x10000) return std::wstring(1, static_cast<wchar_t>(cp));
  cp -= 0x10000;
  return {static_cast<wchar_t>(0xD800 + (cp >> 10)), static_cast<wchar_t>(0xDC00 + (cp & 0x3FF))};
}

char32_t lower_case(char32_t cp) {
  const std::wstring in = utf16_of(cp);
  wchar_t out[4] = {};
  const int n = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, in.data(),
                                static_cast<int>(in.size()), out, 4, nullptr, nullptr, 0);
  if (n == 1) return out[0];
  if (n == 2 && out[0] >= 0xD800 && out[0] < 0xDC00) {
    return 0x10000 + ((static_cast<char32_t>(out[0]) - 0xD800) << 10) + (out[1] - 0xDC00);
  }
  return cp;
}

bool is_cased_letter(char32_t cp) {
  if (cp < 0x80) return (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z');
  const std::wstring in = utf16_of(cp);
  WORD types[2] = {};
  if (!::GetStringTypeW(CT_CTYPE1, in.data(), static_cast<int>(in.size()), types)) return false;
  return (types[0] & (C1_UPPER | C1_LOWER)) != 0;
}
#else
// A UTF-8 locale for the case tables, whatever the process's own locale is.
locale_t utf8_locale() {
  static const locale_t loc = [] {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8", "UTF-8"}) {
      if (locale_t l = ::newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0))) return l;
    }
    return static_cast<locale_t>(0);
  }();
  return loc;
}

bool have_case_tables() { return utf8_locale() != static_cast<locale_t>(0); }

char32_t lower_case(char32_t cp) {
  return static_cast<char32_t>(::towlower_l(static_cast<wint_t>(cp), utf8_locale()));
}

bool is_cased_letter(char32_t cp) {
  if (cp < 0x80) return (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z');
  const locale_t loc = utf8_locale();
  return loc != static_cast<locale_t>(0) &&
         (::iswupper_l(static_cast<wint_t>(cp), loc) || ::iswlower_l(static_cast<wint_t>(cp), loc));
}
#endif

}  // namespace

std::vector<fs::path> preset_roots(const fs::path& home, const fs::path& applications) {
  std::vector<fs::path> roots{home / "Documents/Adobe/Adobe Media Encoder",
                              home / "Documents/Adobe/Premiere Pro"};
  for (const auto& install : find_premiere_installs(applications)) {
#if defined(_WIN32)
    // Beside the executable, in the install folder.
    const fs::path folder = utf8_path(install.app).parent_path();
    roots.push_back(folder / "MediaIO" / "systempresets");
    roots.push_back(folder / "Settings" / "IngestPresets");
#else
    roots.push_back(fs::path(install.app) / "Contents/MediaIO/systempresets");
    roots.push_back(fs::path(install.app) / "Contents/Settings/IngestPresets");
#endif
  }
  std::error_code ec;
  fs::directory_iterator it(applications, ec);
  if (ec) return roots;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::string raw = path_utf8(it->path().filename());
    if (!to_valid_utf8(raw).starts_with(kMediaEncoderPrefix)) continue;
#if defined(_WIN32)
    roots.push_back(it->path() / "MediaIO" / "systempresets");
#else
    roots.push_back(it->path() / (raw + ".app/Contents/MediaIO/systempresets"));
#endif
  }
  return roots;
}

void collect_presets(const fs::path& root, std::vector<fs::path>& found) {
  Walk walk{found, {}, 0};
  walk.dir(root, 0);
}

std::string preset_name(std::string_view head, const fs::path& path) {
  const std::string text = to_valid_utf8(head);
  std::string raw;
  for (std::string_view tag : {"PresetName", "Name"}) {
    const std::string_view found = tag_text(text, tag);
    if (!found.empty()) {
      raw = found;
      break;
    }
  }
  const std::string stem = to_valid_utf8(path_utf8(path.stem()));
  if (raw.empty()) raw = stem;

  constexpr std::string_view kKey = "PresetName=";
  if (const std::size_t at = raw.find(kKey); at != std::string::npos) {
    std::string_view name = std::string_view(raw).substr(at + kKey.size());
    if (raw.starts_with('(') && raw.ends_with(')') && !name.empty()) name.remove_suffix(1);
    return std::string(trim(name, kAsciiSpace));
  }
  if (raw.starts_with("$$$") || raw.starts_with("($$$")) return stem;
  return raw;
}

std::optional<std::string> preset_format(std::string_view folder_name) {
  const std::size_t underscore = folder_name.find('_');
  if (underscore == std::string_view::npos) return std::nullopt;
  const std::string_view code = folder_name.substr(underscore + 1);
  if (code.size() != 8) return std::nullopt;
  std::string format;
  for (std::size_t i = 0; i < 8; i += 2) {
    const int hi = hex_digit(code[i]);
    const int lo = hex_digit(code[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    const int c = hi * 16 + lo;
    if (c < 32 || c > 126) return std::nullopt;
    format.push_back(static_cast<char>(c));
  }
  return format;
}

std::string unicode_lower(std::string_view text) {
  const std::u32string cps = decode(to_valid_utf8(text));
  const bool tables = have_case_tables();
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < cps.size(); ++i) {
    const char32_t cp = cps[i];
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp >= 'A' && cp <= 'Z' ? cp + 32 : cp));
    } else if (cp == 0x130) {
      // Capital I with dot lower-cases to two code points: i and a combining dot above.
      out += "i\xCC\x87";
    } else if (cp == 0x3A3) {
      // Capital sigma is final (ς) after a letter and before none, otherwise σ.
      const bool after_letter = i > 0 && is_cased_letter(cps[i - 1]);
      const bool before_letter = i + 1 < cps.size() && is_cased_letter(cps[i + 1]);
      encode(after_letter && !before_letter ? 0x3C2 : 0x3C3, out);
    } else if (tables) {
      encode(lower_case(cp), out);
    } else {
      encode(cp, out);
    }
  }
  return out;
}

json select_presets(std::vector<json> records, const std::string* search) {
  if (search != nullptr && !search->empty()) {
    const std::string needle = unicode_lower(*search);
    std::erase_if(records, [&needle](const json& r) {
      const std::string format = r["format"].is_string() ? r["format"].get<std::string>() : "";
      const std::string hay = unicode_lower(r["name"].get<std::string>() + " " + format + " " +
                                            r["path"].get<std::string>());
      return hay.find(needle) == std::string::npos;
    });
  }
  std::stable_sort(records.begin(), records.end(), [](const json& a, const json& b) {
    return a["name"].get_ref<const std::string&>() < b["name"].get_ref<const std::string&>();
  });
  std::vector<json> kept;
  for (auto& r : records) {
    if (!kept.empty() && kept.back()["name"] == r["name"] && kept.back()["format"] == r["format"]) {
      continue;
    }
    kept.push_back(std::move(r));
  }
  return kept;
}

json list_export_presets(const json& args, const std::vector<fs::path>& extra_roots) {
  std::vector<fs::path> roots = preset_roots(home_dir(), applications_dir());
  roots.insert(roots.end(), extra_roots.begin(), extra_roots.end());
  std::vector<fs::path> files;
  json searched = json::array();
  for (const auto& root : roots) {
    searched.push_back(path_text(root));
    collect_presets(root, files);
  }
  std::vector<json> records;
  records.reserve(files.size());
  for (const auto& file : files) {
    const auto format = preset_format(path_utf8(file.parent_path().filename()));
    records.push_back({{"name", preset_name(read_head(file), file)},
                       {"format", format ? json(*format) : json(nullptr)},
                       {"path", path_text(file)}});
  }
  json presets = select_presets(std::move(records), arg_string(args, "search"));
  const std::size_t count = presets.size();
  const std::uint64_t limit = arg_uint(args, "limit").value_or(kDefaultLimit);
  if (count > limit) presets.erase(presets.begin() + static_cast<std::ptrdiff_t>(limit), presets.end());
  return {{"success", true}, {"count", count}, {"presets", std::move(presets)},
          {"searchedRoots", std::move(searched)}};
}

}  // namespace cutrelay
