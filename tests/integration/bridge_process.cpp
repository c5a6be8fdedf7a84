#include "bridge_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "common/files.hpp"
#include "http_client.hpp"

extern char** environ;

namespace cutrelay::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "cutrelay-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string read_text(const fs::path& path) { return read_file(path).value_or(""); }

void write_script(const fs::path& path, const std::string& body) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << "#!/bin/sh\n" << body;
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

BridgeProcess::BridgeProcess(BridgeOptions options) {
  if (options.home) {
    home_ = *options.home;
  } else {
    own_home_.emplace();
    home_ = own_home_->path();
  }

  std::map<std::string, std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry(*e);
    const auto eq = entry.find('=');
    if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  env["HOME"] = home_.string();
  env.erase("QUOR_BIND_HOST");
  env.erase("CUTRELAY_TEST_SYSROOT");
  if (!options.path_prefix.empty()) {
    std::string path;
    for (const auto& dir : options.path_prefix) path += dir.string() + ":";
    env["PATH"] = path + env["PATH"];
  }
  for (const auto& [key, value] : options.env) {
    if (value) {
      env[key] = *value;
    } else {
      env.erase(key);
    }
  }
  std::vector<std::string> env_strings;
  for (const auto& [key, value] : env) env_strings.push_back(key + "=" + value);
  std::vector<char*> envp;
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);

  std::vector<std::string> argv_strings{CUTRELAY_BIN};
  argv_strings.insert(argv_strings.end(), options.args.begin(), options.args.end());
  std::vector<char*> argv;
  for (auto& s : argv_strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string out = (logs_.path() / "stdout").string();
  const std::string err = (logs_.path() / "stderr").string();
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int rc = ::posix_spawn(&pid_, CUTRELAY_BIN, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " CUTRELAY_BIN);

  if (!options.wait_for_start) return;
  static const std::regex start_line(R"(listening on .*:(\d+) data=)");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    std::smatch m;
    const std::string text = stderr_text();
    if (std::regex_search(text, m, start_line)) {
      port_ = static_cast<std::uint16_t>(std::stoi(m[1]));
      return;
    }
    if (!running()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  throw std::runtime_error("bridge did not start: " + stderr_text());
}

BridgeProcess::~BridgeProcess() { kill(); }

std::string BridgeProcess::token() const {
  return json::parse(read_text(data_dir() / "connection.json")).at("token").get<std::string>();
}

std::string BridgeProcess::stderr_text() const { return read_text(logs_.path() / "stderr"); }
std::string BridgeProcess::stdout_text() const { return read_text(logs_.path() / "stdout"); }

bool BridgeProcess::running() {
  if (exited_) return false;
  int status = 0;
  const pid_t r = ::waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    exited_ = true;
    exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  return true;
}

std::optional<int> BridgeProcess::wait_exit(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (running()) {
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return exit_status_;
}

void BridgeProcess::kill() {
  if (pid_ > 0 && running()) {
    ::kill(pid_, SIGKILL);
    wait_exit(std::chrono::seconds(10));
  }
}

bool BridgeProcess::wait_for_stderr(const std::string& text, std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (stderr_text().find(text) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

json BridgeProcess::command(const std::string& command, const json& args) const {
  return post_command(port_, json{{"command", command}, {"args", args}});
}

}  // namespace cutrelay::testing

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

namespace cutrelay::testing {

std::uint16_t free_port() {
  boost::asio::io_context ioc;
  boost::asio::ip::tcp::acceptor acceptor(
      ioc, {boost::asio::ip::make_address("127.0.0.1"), 0});
  return acceptor.local_endpoint().port();
}

}  // namespace cutrelay::testing

namespace cutrelay::testing {

namespace {

// Each argument ends with a NUL and each run with a record separator, so arguments may hold
// line feeds (AppleScript does).
std::string recording_line(const std::filesystem::path& log) {
  return "for a in \"$@\"; do printf '%s\\000' \"$a\"; done >> '" + log.string() +
         "'; printf '\\036' >> '" + log.string() + "'\n";
}

}  // namespace

FakeHost::FakeHost() {
  std::filesystem::create_directories(root() / "Applications");
  std::filesystem::create_directories(root() / "calls");
  set_tool("ps", "cat '" + (root() / "ps-output").string() + "' 2>/dev/null\n");
  set_tool("open", "exit 0\n");
  set_tool("osascript", "exit 0\n");
}

BridgeOptions FakeHost::bridge_options() const {
  BridgeOptions options;
  options.env["CUTRELAY_TEST_SYSROOT"] = root().string();
  options.path_prefix.push_back(bin());
  return options;
}

std::filesystem::path FakeHost::install(const std::string& folder) {
  const auto bundle = root() / "Applications" / folder / (folder + ".app");
  std::filesystem::create_directories(bundle);
  return bundle;
}

void FakeHost::set_processes(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  std::ofstream(root() / "ps-output", std::ios::binary) << text;
}

void FakeHost::set_tool(const std::string& name, const std::string& body) {
  const auto path = bin() / name;
  if (body.empty()) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return;
  }
  write_script(path, recording_line(root() / "calls" / name) + body);
}

std::vector<std::vector<std::string>> FakeHost::calls(const std::string& tool) const {
  std::vector<std::vector<std::string>> runs;
  const std::string text = read_text(root() / "calls" / tool);
  std::vector<std::string> current;
  std::string arg;
  for (char c : text) {
    if (c == '\0') {
      current.push_back(arg);
      arg.clear();
    } else if (c == '\036') {
      runs.push_back(current);
      current.clear();
    } else {
      arg.push_back(c);
    }
  }
  return runs;
}

}  // namespace cutrelay::testing
