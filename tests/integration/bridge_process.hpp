#pragma once
// Starts the real cutrelay binary as a child process with a temporary HOME, for tests and
// benchmarks that talk to it over sockets.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace cutrelay::testing {

using json = nlohmann::json;

// A fresh directory, removed with everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The whole file, or an empty text when it cannot be read.
std::string read_text(const std::filesystem::path& path);

// Writes an executable shell script (for fake `ps` and friends).
void write_script(const std::filesystem::path& path, const std::string& body);

struct BridgeOptions {
  std::vector<std::string> args;
  // Variables to set (a value) or to remove (nullopt); HOME defaults to a temp folder.
  std::map<std::string, std::optional<std::string>> env;
  // Folders put first on PATH (for fake system tools).
  std::vector<std::filesystem::path> path_prefix;
  bool wait_for_start = true;
  std::optional<std::filesystem::path> home;  // instead of a fresh temporary HOME
};

class BridgeProcess {
 public:
  explicit BridgeProcess(BridgeOptions options = {});
  ~BridgeProcess();
  BridgeProcess(const BridgeProcess&) = delete;
  BridgeProcess& operator=(const BridgeProcess&) = delete;

  std::uint16_t port() const { return port_; }
  int pid() const { return pid_; }
  const std::filesystem::path& home() const { return home_; }
  std::filesystem::path data_dir() const { return home_ / ".quor" / "cutrelay"; }
  std::string token() const;

  std::string stderr_text() const;
  std::string stdout_text() const;

  // Waits for the process to exit; its exit status, or nothing on time-out.
  std::optional<int> wait_exit(std::chrono::milliseconds limit);
  bool running();
  void kill();

  // Waits until standard error holds `text`.
  bool wait_for_stderr(const std::string& text, std::chrono::milliseconds limit) const;

  // POSTs {"command", "args"} to /command and parses the answer.
  json command(const std::string& command, const json& args = json::object()) const;

 private:
  std::optional<TempDir> own_home_;
  std::filesystem::path home_;
  TempDir logs_;
  int pid_ = -1;
  bool exited_ = false;
  int exit_status_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace cutrelay::testing

namespace cutrelay::testing {

// A made-up macOS for a bridge: a system root (CUTRELAY_TEST_SYSROOT) with its own
// /Applications, and fake `ps`, `open` and `osascript` first on PATH. Every fake records
// its arguments; `ps` prints what set_processes gave it.
class FakeHost {
 public:
  FakeHost();
  const std::filesystem::path& root() const { return dir_.path(); }
  std::filesystem::path bin() const { return root() / "bin"; }
  // Options that start a bridge on this host (more may be added to them).
  BridgeOptions bridge_options() const;

  // Creates /Applications/<folder>/<folder>.app and returns the bundle's path.
  std::filesystem::path install(const std::string& folder);
  // The lines `ps -axo comm=` prints (each followed by a line feed).
  void set_processes(const std::vector<std::string>& lines);
  // Replaces a fake tool's script (its recording line is kept in front); an empty body
  // removes the tool altogether.
  void set_tool(const std::string& name, const std::string& body);
  // The argument lists each run of `tool` received, oldest first.
  std::vector<std::vector<std::string>> calls(const std::string& tool) const;

 private:
  TempDir dir_;
};

// A port that nothing listens on at the moment of the call.
std::uint16_t free_port();

// Milliseconds spent running `f`.
template <typename F>
long long elapsed_ms(F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

}  // namespace cutrelay::testing
