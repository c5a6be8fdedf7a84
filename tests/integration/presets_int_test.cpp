#include <gtest/gtest.h>

#include <fstream>

#include "bridge_process.hpp"

namespace cutrelay::testing {
namespace {

namespace fs = std::filesystem;

void write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

class Presets : public ::testing::Test {
 protected:
  FakeHost host;
  std::unique_ptr<BridgeProcess> bridge;
  void start() { bridge = std::make_unique<BridgeProcess>(host.bridge_options()); }
  fs::path docs() const { return bridge->home() / "Documents" / "Adobe"; }
};

TEST_F(Presets, NothingInstalledSearchesTheDocumentFoldersOnly) {
  start();
  const json a = bridge->command("premiere_list_export_presets");
  EXPECT_EQ(a.at("success"), true);
  EXPECT_EQ(a.at("count"), 0);
  EXPECT_EQ(a.at("presets"), json::array());
  EXPECT_EQ(a.at("searchedRoots"),
            json::array({(docs() / "Adobe Media Encoder").string(), (docs() / "Premiere Pro").string()}));
}

TEST_F(Presets, EveryRootNamedFilteredAndLimited) {
  const fs::path bundle = host.install("Adobe Premiere Pro 2025");
  const fs::path ame = host.root() / "Applications" / "Adobe Media Encoder 2025" /
                       "Adobe Media Encoder 2025.app" / "Contents" / "MediaIO" / "systempresets";
  write(bundle / "Contents/MediaIO/systempresets/4D504547_48323634/Match Source - High.epr",
        "<?xml?><PresetName>($$$/AME/PresetName=Match Source - High bitrate)</PresetName>");
  write(ame / "4D504547_48323634/same.epr", "<PresetName>Match Source - High bitrate</PresetName>");
  write(ame / "48455643_48455643/hevc.epr", "<Name>HEVC 4K</Name>");
  start();
  write(docs() / "Premiere Pro" / "Mine" / "MY EXPORT.EPR", "not xml at all");
  for (int i = 0; i < 120; ++i) {
    write(docs() / "Adobe Media Encoder" / "bulk" / ("p" + std::to_string(1000 + i) + ".epr"), "");
  }

  json a = bridge->command("list_export_presets", {{"search", "H264"}});
  ASSERT_EQ(a.at("count"), 1) << a.dump();  // the same name and format in two places
  EXPECT_EQ(a.at("presets")[0].at("name"), "Match Source - High bitrate");
  EXPECT_EQ(a.at("presets")[0].at("format"), "H264");
  EXPECT_NE(a.at("presets")[0].at("path").get<std::string>().find(bundle.string()), std::string::npos);
  EXPECT_EQ(a.at("searchedRoots").size(), 5u);
  EXPECT_EQ(a.at("searchedRoots")[4], ame.string());

  a = bridge->command("list_export_presets", {{"search", "my export"}});
  ASSERT_EQ(a.at("count"), 1);
  EXPECT_EQ(a.at("presets")[0].at("name"), "MY EXPORT");
  EXPECT_TRUE(a.at("presets")[0].at("format").is_null());

  a = bridge->command("list_export_presets", {{"limit", "5"}, {"search", 7}});
  EXPECT_EQ(a.at("count"), 123);
  EXPECT_EQ(a.at("presets").size(), 80u);
  EXPECT_EQ(a.at("presets")[0].at("name"), "HEVC 4K");  // byte order: capitals first

  a = bridge->command("list_export_presets", {{"limit", 0}});
  EXPECT_EQ(a.at("count"), 123);
  EXPECT_EQ(a.at("presets"), json::array());
}

TEST_F(Presets, HostileTreesDoNotHang) {
  start();
  const fs::path root = docs() / "Premiere Pro";
  fs::create_directories(root);
  for (int i = 0; i < 8; ++i) fs::create_directory_symlink(root, root / ("loop" + std::to_string(i)));
  write(root / "x.epr", "<PresetName>Loop \xff</PresetName>");
  fs::create_directories(root / "dir.epr");
  const json a = bridge->command("list_export_presets");
  EXPECT_EQ(a.at("count"), 1);
  EXPECT_EQ(a.at("presets")[0].at("name"), "Loop \xEF\xBF\xBD");
}

}  // namespace
}  // namespace cutrelay::testing
