// The plug-in package, read back by an independent ZIP reader (Info-ZIP's unzip), so a
// fault in our writer cannot hide behind a matching fault in a reader of ours.
#include "installer/ccx_package.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <thread>
#include <map>
#include <random>
#include <sstream>

#include "common/json_util.hpp"
#include "common/plugin_identity.hpp"
#include "installer/zip_writer.hpp"
#include "test_dir.hpp"

namespace cutrelay {
namespace {

namespace fs = std::filesystem;

std::string quote(const std::string& s) { return "'" + s + "'"; }

// Standard output of a shell command; the test fails when it exits non-zero.
std::string shell(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    return out;
  }
  char chunk[65536];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
  const int status = ::pclose(pipe);
  EXPECT_EQ(status, 0) << command;
  return out;
}

std::string file_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::vector<std::string> entry_names(const fs::path& zip) {
  return lines(shell("unzip -Z1 " + quote(zip.string())));
}

std::string entry_bytes(const fs::path& zip, const std::string& name) {
  return shell("unzip -p " + quote(zip.string()) + " " + quote(name));
}

// unzip's verbose listing, one map of "field: value" lines per central-directory entry.
std::vector<std::map<std::string, std::string>> central_entries(const fs::path& zip) {
  std::vector<std::map<std::string, std::string>> entries;
  for (const std::string& line : lines(shell("unzip -Zv " + quote(zip.string())))) {
    if (line.starts_with("Central directory entry #")) {
      entries.emplace_back();
      continue;
    }
    const auto colon = line.find(":  ");
    if (entries.empty() || colon == std::string::npos) continue;
    const auto key_start = line.find_first_not_of(' ');
    const auto value_start = line.find_first_not_of(' ', colon + 1);
    entries.back()[line.substr(key_start, colon - key_start)] =
        value_start == std::string::npos ? "" : line.substr(value_start);
  }
  return entries;
}

std::uint32_t le(const std::string& bytes, std::size_t at, int width) {
  std::uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes.at(at + i));
  return v;
}

std::vector<std::string> expected_names() {
  std::vector<std::string> names(kPackageEntries.begin(), kPackageEntries.end());
  names.emplace_back(kConnectionEntry);
  return names;
}

TEST(CcxPackage, EntriesHeadersAndBytesReadBackByUnzip) {
  ScratchDir dir;
  const std::string connection = "{\n  \"port\": 4711,\n  \"token\": \"abc\"\n}";
  dir.write("connection.json", connection);
  const CcxBuild built = build_ccx(dir.path);
  ASSERT_TRUE(built.path) << built.error;
  EXPECT_EQ(*built.path, dir.path / "inc.quor.premiere.bridge.ccx");
  shell("unzip -tq " + quote(built.path->string()));  // every CRC checks out

  EXPECT_EQ(entry_names(*built.path), expected_names());
  for (std::string_view name : kPackageEntries) {
    const EmbeddedFile* file = find_embedded(uxp_plugin_files(), name);
    ASSERT_NE(file, nullptr) << name;
    EXPECT_EQ(entry_bytes(*built.path, std::string(name)), file->bytes) << name;
  }
  EXPECT_EQ(entry_bytes(*built.path, "connection.json"), connection);

  const auto entries = central_entries(*built.path);
  ASSERT_EQ(entries.size(), 8u);
  const std::string archive = file_bytes(*built.path);
  for (const auto& e : entries) {
    EXPECT_EQ(e.at("file system or operating system of origin"), "Unix");
    EXPECT_EQ(e.at("version of encoding software"), "4.5");
    EXPECT_EQ(e.at("minimum software version required to extract"), "2.0");
    EXPECT_EQ(e.at("compression method"), "deflated");
    EXPECT_EQ(e.at("compression sub-type (deflation)"), "normal");  // no speed/size flag bits
    EXPECT_EQ(e.at("file security status"), "not encrypted");
    EXPECT_EQ(e.at("extended local header"), "no");
    EXPECT_EQ(e.at("file last modified on (DOS date/time)"), "1980 Jan 1 00:00:00");
    EXPECT_EQ(e.at("Unix file attributes (100644 octal)"), "-rw-r--r--");
    EXPECT_EQ(e.at("length of extra field"), "0 bytes");
    EXPECT_EQ(e.at("length of file comment"), "0 characters");

    // The local header repeats what the central directory says.
    const std::size_t offset = std::stoul(e.at("offset of local header from start of archive"));
    EXPECT_EQ(le(archive, offset, 4), 0x04034b50u);
    EXPECT_EQ(le(archive, offset + 4, 2), 20u);  // version needed
    EXPECT_EQ(le(archive, offset + 6, 2), 0u);   // flags
    EXPECT_EQ(le(archive, offset + 8, 2), 8u);   // Deflate
    EXPECT_EQ(le(archive, offset + 10, 2), 0u);  // 00:00:00
    EXPECT_EQ(le(archive, offset + 12, 2), 0x21u);
    std::stringstream crc;
    crc << std::hex << le(archive, offset + 14, 4);
    EXPECT_EQ(e.at("32-bit CRC value (hex)"), std::string(8 - crc.str().size(), '0') + crc.str());
    EXPECT_EQ(std::to_string(le(archive, offset + 18, 4)) + " bytes", e.at("compressed size"));
    EXPECT_EQ(std::to_string(le(archive, offset + 22, 4)) + " bytes", e.at("uncompressed size"));
    EXPECT_EQ(le(archive, offset + 28, 2), 0u);  // no extra field
  }
  // One end record, no ZIP64 records, and nothing for the folder "icons/".
  EXPECT_EQ(archive.find("PK\x06\x06"), std::string::npos);
  EXPECT_EQ(archive.find("PK\x06\x07"), std::string::npos);
  EXPECT_EQ(le(archive, archive.size() - 22, 4), 0x06054b50u);
}

TEST(CcxPackage, MissingConnectionFileGivesAnEmptyEntry) {
  ScratchDir dir;
  const CcxBuild built = build_ccx(dir.path);
  ASSERT_TRUE(built.path) << built.error;
  EXPECT_EQ(entry_names(*built.path), expected_names());
  EXPECT_EQ(entry_bytes(*built.path, "connection.json"), "");
  EXPECT_EQ(central_entries(*built.path).back().at("uncompressed size"), "0 bytes");
}

TEST(CcxPackage, RebuildTruncatesAndKeepsThePluginEntriesIdentical) {
  ScratchDir dir;
  // A larger stale file in the way: a rebuild must not leave its tail behind.
  dir.write("inc.quor.premiere.bridge.ccx", std::string(1 << 20, 'x'));
  dir.write("connection.json", R"({"port":1})");
  ASSERT_TRUE(build_ccx(dir.path).path);
  const std::string first = file_bytes(ccx_path(dir.path));
  dir.write("connection.json", R"({"port":65535,"token":"changed"})");
  ASSERT_TRUE(build_ccx(dir.path).path);
  const std::string second = file_bytes(ccx_path(dir.path));
  EXPECT_LT(second.size(), std::size_t{1} << 20);
  EXPECT_EQ(entry_bytes(ccx_path(dir.path), "connection.json"),
            R"({"port":65535,"token":"changed"})");

  // The seven plug-in entries come first and are byte-identical: the archives agree up to
  // the connection file's local header.
  const std::size_t last = std::stoul(
      central_entries(ccx_path(dir.path)).back().at("offset of local header from start of archive"));
  EXPECT_EQ(first.substr(0, last), second.substr(0, last));
}

TEST(CcxPackage, FailuresCarryTheSystemMessage) {
  ScratchDir dir;
  const CcxBuild missing_dir = build_ccx(dir.path / "absent");
  EXPECT_FALSE(missing_dir.path);
  EXPECT_NE(missing_dir.error.find("No such file or directory"), std::string::npos)
      << missing_dir.error;

  // A folder where the package should go (works whatever the test's privileges).
  fs::create_directories(ccx_path(dir.path));
  const CcxBuild blocked = build_ccx(dir.path);
  EXPECT_FALSE(blocked.path);
  EXPECT_NE(blocked.error.find(ccx_path(dir.path).string()), std::string::npos) << blocked.error;

  // A build whose plug-in folder lacks a file names it instead of shipping a broken package.
  ScratchDir other;
  const EmbeddedFile partial[] = {{"manifest.json", "{}"}, {"index.html", "<html/>"}};
  const CcxBuild incomplete = build_ccx(other.path, partial);
  EXPECT_FALSE(incomplete.path);
  EXPECT_NE(incomplete.error.find("index.js"), std::string::npos) << incomplete.error;
}

// The package carries the token: only its owner may read it, and it is never written
// through a link planted where it goes.
TEST(CcxPackage, OwnerOnlyAndNeverWrittenThroughALink) {
  ScratchDir dir;
  dir.write("connection.json", R"({"token":"secret"})");
  dir.write("elsewhere", "not a package");
  std::error_code ec;
  fs::create_symlink(dir.path / "elsewhere", ccx_path(dir.path), ec);
  ASSERT_FALSE(ec) << ec.message();
  const CcxBuild built = build_ccx(dir.path);
  ASSERT_TRUE(built.path) << built.error;
  EXPECT_EQ(file_bytes(dir.path / "elsewhere"), "not a package");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(*built.path)));
  EXPECT_EQ(fs::status(*built.path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  // An older package that others could read becomes owner-only too.
  fs::permissions(*built.path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
  ASSERT_TRUE(build_ccx(dir.path).path);
  EXPECT_EQ(fs::status(*built.path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

// Installs are not serialised: builds at the same time must each leave a whole package,
// and whoever opens the package meanwhile (the installer) must find a whole one.
TEST(CcxPackage, ConcurrentBuildsNeverShowHalfAPackage) {
  ScratchDir dir;
  dir.write("connection.json", R"({"token":"secret"})");
  ASSERT_TRUE(build_ccx(dir.path).path);
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!stop) {
      const std::string bytes = file_bytes(ccx_path(dir.path));
      // Every whole archive ends with its end-of-central-directory record (no comment).
      if (bytes.size() < 22 || bytes.compare(bytes.size() - 22, 4, "PK\x05\x06", 4) != 0) ++torn;
    }
  });
  std::vector<std::thread> builders;
  std::atomic<int> failed{0};
  for (int i = 0; i < 8; ++i) {
    builders.emplace_back([&] {
      for (int round = 0; round < 10; ++round) {
        const CcxBuild built = build_ccx(dir.path);
        if (!built.path || file_bytes(*built.path).size() < 1000) ++failed;
      }
    });
  }
  for (auto& t : builders) t.join();
  stop = true;
  reader.join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(torn, 0);
  ASSERT_EQ(entry_names(ccx_path(dir.path)).size(), 8u);
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir.path)) left.push_back(entry.path().filename());
  EXPECT_EQ(left.size(), 2u) << "no temporary files are left behind";
}

TEST(CcxPackage, EmbeddedPluginMatchesItsIdentity) {
  // Every embedded UXP file goes into the package: one added to uxp-plugin/ but not to
  // the package table would otherwise be silently left out of what users install.
  std::vector<std::string> embedded;
  for (const EmbeddedFile& f : uxp_plugin_files()) embedded.emplace_back(f.path);
  std::vector<std::string> packaged(kPackageEntries.begin(), kPackageEntries.end());
  std::sort(packaged.begin(), packaged.end());
  EXPECT_EQ(embedded, packaged);

  const EmbeddedFile* manifest = find_embedded(uxp_plugin_files(), "manifest.json");
  ASSERT_NE(manifest, nullptr);
  const JsonParseResult parsed = parse_json(manifest->bytes);
  ASSERT_TRUE(parsed.value) << parsed.error;
  EXPECT_EQ(parsed.value->at("id"), kPluginId);
  EXPECT_EQ(parsed.value->at("name"), kPluginName);
  EXPECT_EQ(parsed.value->at("version"), kPluginVersion);

  // The manifest names 23-pixel icons; the host picks the @1x or @2x file. Each must be
  // an 8-bit RGBA, non-interlaced PNG of its scale's size, embedded byte for byte.
  for (const auto& [name, side] : {std::pair{"icons/dark@1x.png", 23u}, {"icons/light@1x.png", 23u},
                                   {"icons/dark@2x.png", 46u}, {"icons/light@2x.png", 46u}}) {
    const EmbeddedFile* icon = find_embedded(uxp_plugin_files(), name);
    ASSERT_NE(icon, nullptr) << name;
    const std::string png(icon->bytes);
    ASSERT_GT(png.size(), 33u) << name;
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << name;
    EXPECT_EQ(png.substr(12, 4), "IHDR") << name;
    const auto be32 = [&](std::size_t at) {
      return (le(png, at + 3, 1)) | (le(png, at + 2, 1) << 8) | (le(png, at + 1, 1) << 16) |
             (le(png, at, 1) << 24);
    };
    EXPECT_EQ(be32(16), side) << name;
    EXPECT_EQ(be32(20), side) << name;
    EXPECT_EQ(le(png, 24, 1), 8u) << name;   // bit depth
    EXPECT_EQ(le(png, 25, 1), 6u) << name;   // RGBA
    EXPECT_EQ(le(png, 28, 1), 0u) << name;   // not interlaced
  }
}

TEST(ZipWriter, IncompressibleAndEmptyEntriesRoundTrip) {
  std::mt19937 random(7);
  std::string noise(300000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  ZipWriter zip;
  ASSERT_TRUE(zip.add("noise.bin", noise));
  ASSERT_TRUE(zip.add("empty", ""));
  ASSERT_TRUE(zip.add("dir/repeat.txt", std::string(200000, 'a')));
  ASSERT_TRUE(zip.finish()) << zip.error();

  ScratchDir dir;
  dir.write("t.zip", zip.bytes());
  const fs::path path = dir.path / "t.zip";
  shell("unzip -tq " + quote(path.string()));
  EXPECT_EQ(entry_names(path), (std::vector<std::string>{"noise.bin", "empty", "dir/repeat.txt"}));
  EXPECT_EQ(entry_bytes(path, "noise.bin"), noise);
  EXPECT_EQ(entry_bytes(path, "dir/repeat.txt"), std::string(200000, 'a'));
  EXPECT_EQ(entry_bytes(path, "empty"), "");
}

}  // namespace
}  // namespace cutrelay
