#include "host/presets.hpp"

#include <gtest/gtest.h>

#include <set>

#include "test_dir.hpp"

namespace cutrelay {
namespace {

namespace fs = std::filesystem;

TEST(PresetName, TagsKeysAndStems) {
  const fs::path file = "/p/4D504547_48323634/Match Source.epr";
  EXPECT_EQ(preset_name("<x><PresetName>  YouTube 1080p </PresetName>", file), "YouTube 1080p");
  // A blank PresetName falls through to Name.
  EXPECT_EQ(preset_name("<PresetName> \n</PresetName><Name>Vimeo</Name>", file), "Vimeo");
  EXPECT_EQ(preset_name("<PresetName>($$$/AME/Presets/PresetName=High Quality 1080p)</PresetName>",
                        file),
            "High Quality 1080p");
  EXPECT_EQ(preset_name("<Name>$$$/AME/x/PresetName=  Plain  </Name>", file), "Plain");
  EXPECT_EQ(preset_name("<PresetName>$$$/AME/Presets/NoTitle</PresetName>", file), "Match Source");
  EXPECT_EQ(preset_name("<PresetName>($$$/AME/Presets/NoTitle)</PresetName>", file), "Match Source");
  EXPECT_EQ(preset_name("<PresetName>never closed", file), "Match Source");
  EXPECT_EQ(preset_name("", "/p/PRESET.EPR"), "PRESET");
  EXPECT_EQ(preset_name("<PresetName>Bad \xff byte</PresetName>", file), "Bad \xEF\xBF\xBD byte");
}

TEST(PresetFormat, FourPrintableHexBytesAfterTheFirstUnderscore) {
  EXPECT_EQ(preset_format("4D504547_48323634"), "H264");
  EXPECT_EQ(preset_format("x_6a706567"), "jpeg");
  EXPECT_EQ(preset_format("no underscore"), std::nullopt);
  EXPECT_EQ(preset_format("a_4832363"), std::nullopt);     // 7 digits
  EXPECT_EQ(preset_format("a_483236340"), std::nullopt);   // 9 digits
  EXPECT_EQ(preset_format("a_4832363G"), std::nullopt);    // not hexadecimal
  EXPECT_EQ(preset_format("a_48323600"), std::nullopt);    // a control character
  EXPECT_EQ(preset_format("a_4832367F"), std::nullopt);    // DEL
  EXPECT_EQ(preset_format("a_b_48323634"), std::nullopt);  // split at the first underscore
  EXPECT_EQ(preset_format(""), std::nullopt);
}

TEST(UnicodeLower, BeyondAscii) {
  EXPECT_EQ(unicode_lower("H.264 ÄÖÜ ÉCLAIR"), "h.264 äöü éclair");
  EXPECT_EQ(unicode_lower("ΟΔΟΣ Σ"), "οδος σ");  // final sigma only after a letter
  EXPECT_EQ(unicode_lower("İ"), "i\xCC\x87");
  EXPECT_EQ(unicode_lower("ДОКУМЕНТ"), "документ");
  EXPECT_EQ(unicode_lower("\xff"), "\xEF\xBF\xBD");
}

json record(const std::string& name, json format, const std::string& path) {
  return {{"name", name}, {"format", std::move(format)}, {"path", path}};
}

TEST(SelectPresets, FilterSortAndDropRepeats) {
  std::vector<json> records = {
      record("b", "H264", "/1"), record("a", "H264", "/2"), record("B", nullptr, "/3"),
      record("a", "H264", "/4"), record("a", "HEVC", "/5"), record("a", "H264", "/6"),
  };
  json all = select_presets(records, nullptr);
  std::vector<std::string> paths;
  for (const auto& r : all) paths.push_back(r["path"]);
  // Upper case sorts first; equal names keep their order; a repeat of name and format goes
  // only when it follows its twin after sorting (/4 goes, /6 stays behind the HEVC one).
  EXPECT_EQ(paths, (std::vector<std::string>{"/3", "/2", "/5", "/6", "/1"}));

  const std::string search = "H264";
  EXPECT_EQ(select_presets(records, &search).size(), 2u);  // a /2 and b /1
  const std::string by_path = "/3";
  EXPECT_EQ(select_presets(records, &by_path).size(), 1u);
  // A missing format is empty text: two spaces follow the name.
  const std::string two_spaces = "b  /3";
  EXPECT_EQ(select_presets(records, &two_spaces).size(), 1u);
  const std::string empty;
  EXPECT_EQ(select_presets(records, &empty).size(), 5u);
}

#if !defined(_WIN32)
// Folders linked into loops, and the macOS layout of the roots (the Windows layout is
// checked in windows_platform_test.cpp).
TEST(CollectPresets, ExtensionsDepthAndLoops) {
  ScratchDir dir;
  dir.write("a.epr", "");
  dir.write("B.EPR", "");
  dir.write(".epr", "");
  dir.write("x.epr.txt", "");
  dir.write("1/2/3/4/5/6/deep6.epr", "");    // in a folder of depth 6: read
  dir.write("1/2/3/4/5/6/7/deep7.epr", "");  // depth 7: not read
  fs::create_directories(dir.path / "folder.epr");  // a folder is walked, not collected
  dir.write("folder.epr/inner.epr", "");
  fs::create_directory_symlink(dir.path, dir.path / "loop");
  fs::create_directory_symlink(dir.path, dir.path / "loop2");
  fs::create_symlink(dir.path / "gone", dir.path / "dangling.epr");
  std::vector<fs::path> found;
  collect_presets(dir.path, found);
  std::vector<std::string> names;
  for (const auto& f : found) names.push_back(fs::relative(f, dir.path).string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"1/2/3/4/5/6/deep6.epr", "B.EPR", "a.epr",
                                             "dangling.epr", "folder.epr/inner.epr"}));
  found.clear();
  collect_presets(dir.path / "missing", found);
  EXPECT_TRUE(found.empty());
}

TEST(PresetRoots, DocumentsInstallsThenMediaEncoders) {
  ScratchDir apps;
  fs::create_directories(apps.path / "Adobe Premiere Pro 2025" / "Adobe Premiere Pro 2025.app");
  fs::create_directories(apps.path / "Adobe Media Encoder 2025");
  fs::create_directories(apps.path / "Adobe Media Encoder");  // 19 bytes: counts
  const auto roots = preset_roots("/home/u", apps.path);
  ASSERT_EQ(roots.size(), 6u);
  EXPECT_EQ(roots[0], "/home/u/Documents/Adobe/Adobe Media Encoder");
  EXPECT_EQ(roots[1], "/home/u/Documents/Adobe/Premiere Pro");
  const fs::path bundle = apps.path / "Adobe Premiere Pro 2025" / "Adobe Premiere Pro 2025.app";
  EXPECT_EQ(roots[2], bundle / "Contents/MediaIO/systempresets");
  EXPECT_EQ(roots[3], bundle / "Contents/Settings/IngestPresets");
  std::set<fs::path> encoders{roots[4], roots[5]};
  EXPECT_TRUE(encoders.contains(apps.path / "Adobe Media Encoder 2025" /
                                "Adobe Media Encoder 2025.app/Contents/MediaIO/systempresets"));
  EXPECT_EQ(preset_roots("/h", apps.path / "missing").size(), 2u);
}
#endif

}  // namespace
}  // namespace cutrelay
