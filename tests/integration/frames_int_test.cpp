// preview_frame, contact_sheet and read_file_base64 against the real bridge, with the fake
// plug-in writing real files (at once, late, or empty first) as Premiere's exporter would.
#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <thread>

#include "bridge_process.hpp"
#include "common/base64.hpp"
#include "fake_plugin.hpp"

namespace cutrelay::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

void write_file(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(5000, '\x07');

class Frames : public ::testing::Test {
 protected:
  // Waits for files that never settle end after 3 s instead of 20 s and 10 s: long enough
  // for the files written late (under a second) to land first on a busy machine.
  BridgeProcess bridge{BridgeOptions{.env = {{"CUTRELAY_TEST_FILE_WAIT_MS", "3000"}}}};
  FakePlugin plugin{bridge.port(), bridge.token()};
  std::vector<std::thread> writers;

  void SetUp() override { ASSERT_TRUE(plugin.wait_welcome()); }
  void TearDown() override {
    for (auto& t : writers) t.join();
  }
  // Writes `bytes` to `path` after `delay`, as an exporter that finishes late would.
  void write_later(fs::path path, std::string bytes, std::chrono::milliseconds delay) {
    writers.emplace_back([=] {
      std::this_thread::sleep_for(delay);
      const fs::path part = path.string() + ".part";
      write_file(part, bytes);
      fs::rename(part, path);
    });
  }
  std::vector<json> calls_of(const std::string& verb) const {
    std::vector<json> out;
    for (const json& c : plugin.calls()) {
      if (c.at("verb") == verb) out.push_back(c);
    }
    return out;
  }
};

TEST_F(Frames, PreviewFillsDefaultsAndReturnsTheFileInline) {
  plugin.set_handler([](const json& call) {
    const json& args = call.at("args");
    const fs::path path = fs::path(args.at("dir").get<std::string>()) /
                          (args.at("name").get<std::string>() + ".png");
    write_file(path, kPng);
    return FakePlugin::ok(call, {{"path", path.string()}, {"width", args.at("width")}});
  });
  const json answer = bridge.command("premiere_preview_frame", {{"time", 2.5}});
  ASSERT_EQ(answer.at("success"), true) << answer;
  const json args = calls_of("export_frame").at(0).at("args");
  EXPECT_EQ(args.at("width"), 960);
  EXPECT_EQ(args.at("time"), 2.5);
  const std::string name = args.at("name");
  ASSERT_TRUE(name.starts_with("preview_")) << name;
  EXPECT_GT(std::stoll(name.substr(8)), 1'600'000'000'000LL);  // milliseconds, not seconds
  EXPECT_EQ(fs::path(args.at("dir").get<std::string>()), bridge.data_dir() / "previews");

  EXPECT_EQ(answer.at("image"), json({{"mime", "image/png"},
                                      {"base64", base64_encode(kPng)},
                                      {"bytes", kPng.size()}}));
  EXPECT_EQ(answer.at("savedTo"), answer.at("path"));
  EXPECT_EQ(answer.at("verb"), "premiere_preview_frame");
}

TEST_F(Frames, PreviewPassesGivenValuesOnAndCanSkipTheImage) {
  const fs::path path = bridge.home() / "late.png";
  plugin.set_handler([&](const json& call) { return FakePlugin::ok(call, {{"path", path.string()}}); });
  // The file appears only after the export answered: the answer waits for it.
  write_later(path, kPng, 700ms);
  json answer = bridge.command("preview_frame", {{"width", 0}, {"name", nullptr}, {"inline", false}});
  const json args = calls_of("export_frame").at(0).at("args");
  EXPECT_EQ(args.at("width"), 0);
  EXPECT_TRUE(args.at("name").is_null());
  EXPECT_EQ(args.at("inline"), false);
  EXPECT_FALSE(answer.contains("image"));
  EXPECT_EQ(answer.at("savedTo"), path.string());
  EXPECT_TRUE(fs::exists(path));  // savedTo came only once the file was there

  // `inline` of any other type than false keeps the image.
  answer = bridge.command("preview_frame", {{"inline", "no"}});
  EXPECT_EQ(answer.at("image").at("bytes"), kPng.size());
}

TEST_F(Frames, PreviewWaitsForAFileThatStartsEmpty) {
  // Copied into the threads: the writer may outlive this body (TearDown joins it).
  const fs::path path = bridge.home() / "empty-first.png";
  plugin.set_handler([path](const json& call) {
    write_file(path, "");
    return FakePlugin::ok(call, {{"path", path.string()}});
  });
  // A size of 0 never counts as stable, so the wait lasts until the real bytes land.
  writers.emplace_back([path] {
    std::this_thread::sleep_for(800ms);
    std::ofstream(path, std::ios::binary | std::ios::app) << kPng;
  });
  const json answer = bridge.command("preview_frame");
  EXPECT_EQ(answer.at("image").at("bytes"), kPng.size());
}

TEST_F(Frames, PreviewFailuresAndMissingFiles) {
  plugin.set_handler([](const json& call) { return FakePlugin::fail(call, "no_sequence", "No active sequence"); });
  json answer = bridge.command("preview_frame");
  EXPECT_EQ(answer.at("success"), false);
  EXPECT_EQ(answer.at("errorCode"), "no_sequence");
  EXPECT_FALSE(answer.contains("savedTo"));
  EXPECT_NE(answer.at("_hint").get<std::string>().find("premiere_list_sequences"), std::string::npos);

  // Success without a path: after the wait, the hint names an empty path.
  plugin.set_handler([](const json& call) { return FakePlugin::ok(call, {{"path", 12}}); });
  answer = bridge.command("preview_frame");
  EXPECT_EQ(answer.at("success"), true);
  EXPECT_EQ(answer.at("savedTo"), "");
  EXPECT_EQ(answer.at("_hint"),
            "Frame export reported success but  isn't readable yet; retry "
            "premiere_read_file_base64 {path} in a second.");
  EXPECT_FALSE(answer.contains("image"));

  const fs::path never = bridge.home() / "never.png";
  plugin.set_handler([&](const json& call) { return FakePlugin::ok(call, {{"path", never.string()}}); });
  answer = bridge.command("preview_frame");
  EXPECT_EQ(answer.at("savedTo"), never.string());
  EXPECT_NE(answer.at("_hint").get<std::string>().find(never.string() + " isn't readable yet"),
            std::string::npos);
}

TEST_F(Frames, ContactSheetReadsEachFrameInOrder) {
  plugin.set_handler([&](const json& call) {
    const json& args = call.at("args");
    const fs::path dir = args.at("dir").get<std::string>();
    const std::string prefix = args.at("prefix");
    json frames = json::array();
    for (int i = 0; i < 3; ++i) {
      const fs::path path = dir / (prefix + "_00" + std::to_string(i) + ".png");
      if (i != 1) write_file(path, kPng + std::to_string(i));
      frames.push_back({{"path", path.string()}, {"index", i}});
    }
    frames.push_back({{"path", nullptr}});
    frames.push_back(7);
    return FakePlugin::ok(call, {{"frames", frames}, {"count", 3}});
  });
  json answer = bridge.command("premiere_contact_sheet", {{"count", 3}});
  ASSERT_EQ(answer.at("success"), true) << answer;
  const json args = calls_of("export_frames").at(0).at("args");
  EXPECT_EQ(args.at("width"), 480);
  EXPECT_EQ(args.at("count"), 3);
  const std::string prefix = args.at("prefix");
  ASSERT_TRUE(prefix.starts_with("sheet_"));
  const long long seconds = std::stoll(prefix.substr(6));
  EXPECT_GT(seconds, 1'600'000'000LL);
  EXPECT_LT(seconds, 100'000'000'000LL);

  const json& frames = answer.at("frames");
  ASSERT_EQ(frames.size(), 5u);
  EXPECT_EQ(frames[0].at("image").at("base64"), base64_encode(kPng + "0"));
  EXPECT_FALSE(frames[1].contains("image"));  // never written: left without an image
  EXPECT_EQ(frames[2].at("image").at("bytes"), kPng.size() + 1);
  EXPECT_FALSE(frames[3].contains("image"));
  EXPECT_EQ(frames[4], 7);
  EXPECT_NE(answer.at("_hint"), "");  // the catalog's tip, not the frame hint
  EXPECT_FALSE(answer.contains("savedTo"));

  answer = bridge.command("contact_sheet", {{"inline", false}, {"width", 100}, {"prefix", "x"}});
  EXPECT_FALSE(answer.at("frames")[0].contains("image"));
  EXPECT_EQ(calls_of("export_frames").at(1).at("args").at("prefix"), "x");
  EXPECT_EQ(calls_of("export_frames").at(1).at("args").at("width"), 100);

  plugin.set_handler([](const json& call) { return FakePlugin::ok(call, {{"frames", "none"}}); });
  answer = bridge.command("contact_sheet");
  EXPECT_EQ(answer.at("frames"), "none");
}

TEST_F(Frames, ReadFileBase64) {
  const fs::path file = bridge.home() / "clip.bin";
  write_file(file, "hello");
  json answer = bridge.command("premiere_read_file_base64", {{"path", file.string()}});
  EXPECT_EQ(answer.at("success"), true);
  EXPECT_EQ(answer.at("path"), file.string());
  EXPECT_EQ(answer.at("bytes"), 5);
  EXPECT_EQ(answer.at("base64"), "aGVsbG8=");

  // Exactly maxBytes is fine; one byte fewer is not.
  EXPECT_EQ(bridge.command("read_file_base64", {{"path", file.string()}, {"maxBytes", 5}}).at("success"), true);
  answer = bridge.command("read_file_base64", {{"path", file.string()}, {"maxBytes", 4}});
  EXPECT_EQ(answer.at("errorCode"), "too_large");
  EXPECT_EQ(answer.at("error"), "5 bytes > maxBytes 4");
  EXPECT_EQ(answer.at("_hint"), "Use quor-bridge pull_file to fetch big files into the container.");

  const fs::path big = bridge.home() / "big.bin";
  write_file(big, std::string(10u << 20, 'x'));
  for (const json& max : {json(), json("5"), json(-1), json(2.5)}) {
    json args = {{"path", big.string()}};
    if (!max.is_null()) args["maxBytes"] = max;
    answer = bridge.command("read_file_base64", args);
    EXPECT_EQ(answer.at("error"), "10485760 bytes > maxBytes 8388608") << max;
  }

  const fs::path empty = bridge.home() / "empty";
  write_file(empty, "");
  answer = bridge.command("read_file_base64", {{"path", empty.string()}});
  EXPECT_EQ(answer.at("success"), true);
  EXPECT_EQ(answer.at("bytes"), 0);
  EXPECT_EQ(answer.at("base64"), "");
}

TEST_F(Frames, ReadFileBase64BadInput) {
  for (const json& path : {json(42), json(nullptr), json::array({"a"})}) {
    const json answer = bridge.command("read_file_base64", {{"path", path}});
    EXPECT_EQ(answer.at("errorCode"), "bad_args");
    EXPECT_EQ(answer.at("error"), "path is required");
  }
  EXPECT_EQ(bridge.command("read_file_base64").at("errorCode"), "bad_args");

  json answer = bridge.command("read_file_base64", {{"path", (bridge.home() / "nope").string()}});
  EXPECT_EQ(answer.at("errorCode"), "read_failed");
  EXPECT_EQ(answer.at("error"), "No such file or directory");
  answer = bridge.command("read_file_base64", {{"path", bridge.home().string()}});
  EXPECT_EQ(answer.at("errorCode"), "read_failed");
  EXPECT_EQ(answer.at("error"), "Is a directory");
}

// A file that never ends is read no further than maxBytes, and maxBytes has a ceiling:
// /dev/zero with 8e9 used to grow the bridge until it was killed.
TEST_F(Frames, ReadFileBase64IsBounded) {
  json answer = bridge.command("read_file_base64", {{"path", "/dev/zero"}, {"maxBytes", 8000000000}});
  EXPECT_EQ(answer.at("errorCode"), "bad_args");
  EXPECT_EQ(answer.at("error"), "maxBytes may be at most 67108864 (64 MiB)");
  answer = bridge.command("read_file_base64", {{"path", "/dev/zero"}, {"maxBytes", 1 << 20}});
  EXPECT_EQ(answer.at("errorCode"), "too_large");
  EXPECT_EQ(answer.at("error"), "1048577 bytes > maxBytes 1048576");
}

// A frame file larger than an answer carries inline (here /dev/zero, which never ends) is
// not read whole: the answer says so instead of growing without end.
TEST_F(Frames, PreviewOfAnEndlessFileIsNotInlined) {
  plugin.set_handler([](const json& call) { return FakePlugin::ok(call, {{"path", "/dev/zero"}}); });
  const json answer = bridge.command("preview_frame");
  EXPECT_EQ(answer.at("success"), true);
  EXPECT_FALSE(answer.contains("image"));
  EXPECT_EQ(answer.at("_hint"),
            "The frame at /dev/zero is 67108865 bytes, more than an answer carries inline "
            "(67108864); export it smaller (width) or pass inline:false.");
}

TEST_F(Frames, AWaitingReadHoldsUpNoOtherRequest) {
  // Two reads of missing files wait out their limit side by side, while other commands
  // are answered at once.
  const std::string missing = (bridge.home() / "missing").string();
  auto first = std::async(std::launch::async, [&] {
    return bridge.command("read_file_base64", {{"path", missing}});
  });
  auto second = std::async(std::launch::async, [&] {
    return bridge.command("read_file_base64", {{"path", missing}});
  });
  EXPECT_EQ(bridge.command("describe").at("success"), true);
  EXPECT_EQ(first.get().at("errorCode"), "read_failed");
  EXPECT_EQ(second.get().at("errorCode"), "read_failed");
}

}  // namespace
}  // namespace cutrelay::testing
