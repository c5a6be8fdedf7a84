#include "host/discovery.hpp"

#include <algorithm>
#include <cstdlib>
#include <system_error>


#include <boost/asio/experimental/channel.hpp>
#include <boost/asio/this_coro.hpp>

#include "common/async.hpp"
#include "common/child_process.hpp"
#include "common/files.hpp"

#if defined(_WIN32)
#include <tlhelp32.h>
#include <knownfolders.h>

#include "common/win32.hpp"
#endif

namespace cutrelay {

namespace fs = std::filesystem;

namespace {

fs::path temp_dir() {
  std::error_code ec;
  fs::path tmp = fs::temp_directory_path(ec);
  return ec ? fs::path("/tmp") : tmp;
}

}  // namespace

#if defined(_WIN32)

fs::path system_path(const fs::path& absolute) {
  const auto root = environment_variable(L"CUTRELAY_TEST_SYSROOT");
  if (!root) return absolute;
  return fs::path(*root) / absolute.relative_path();
}

fs::path home_dir() {
  if (const auto profile = environment_variable(L"USERPROFILE")) return fs::path(*profile);
  if (const auto profile = known_folder(FOLDERID_Profile)) return *profile;
  return temp_dir();
}

fs::path applications_dir() {
  const fs::path program_files =
      known_folder(FOLDERID_ProgramFiles).value_or(fs::path(L"C:\\Program Files"));
  return system_path(program_files / L"Adobe");
}

fs::path install_program(const fs::path& install_folder) {
  return install_folder / utf8_path(kWindowsExecutable);
}

#else

fs::path system_path(const fs::path& absolute) {
  const char* root = std::getenv("CUTRELAY_TEST_SYSROOT");
  if (root == nullptr || *root == '\0') return absolute;
  return fs::path(root) / absolute.relative_path();
}

fs::path home_dir() {
  if (const char* home = std::getenv("HOME")) return home;
  if (const char* profile = std::getenv("USERPROFILE")) return profile;
  return temp_dir();
}

fs::path applications_dir() { return system_path("/Applications"); }

fs::path install_program(const fs::path& install_folder) {
  return install_folder / (install_folder.filename().string() + ".app");
}

#endif

std::uint32_t install_year(std::string_view folder_name) {
  if (folder_name.size() < kAppNamePrefix.size()) return 0;
  std::uint64_t year = 0;
  bool any = false;
  for (char c : folder_name.substr(kAppNamePrefix.size())) {
    if (c < '0' || c > '9') continue;
    any = true;
    year = year * 10 + static_cast<std::uint64_t>(c - '0');
    if (year > 0xFFFFFFFFu) return 0;
  }
  return any ? static_cast<std::uint32_t>(year) : 0;
}

std::vector<InstallRecord> find_premiere_installs(const fs::path& applications) {
  std::vector<InstallRecord> installs;
  std::error_code ec;
  fs::directory_iterator it(applications, ec);
  if (ec) return installs;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::string name = to_valid_utf8(path_utf8(it->path().filename()));
    if (!name.starts_with(kAppNamePrefix)) continue;
    const fs::path bundle = install_program(it->path());
    std::error_code stat_ec;
    (void)fs::status(bundle, stat_ec);
    if (stat_ec) continue;
    installs.push_back({to_valid_utf8(path_utf8(bundle)), install_year(name)});
  }
  std::stable_sort(installs.begin(), installs.end(),
                   [](const InstallRecord& a, const InstallRecord& b) { return a.year > b.year; });
  return installs;
}

json installs_to_json(const std::vector<InstallRecord>& installs) {
  json list = json::array();
  for (const auto& install : installs) list.push_back({{"app", install.app}, {"year", install.year}});
  return list;
}

std::vector<std::string> premiere_process_lines(std::string_view ps_output) {
  const std::string text = to_valid_utf8(ps_output);
  std::vector<std::string> lines;
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t eol = rest.find('\n');
    std::string_view line = rest.substr(0, eol);
    rest = eol == std::string_view::npos ? std::string_view{} : rest.substr(eol + 1);
    if (eol != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    const std::size_t slash = line.rfind('/');
    const std::string_view exe = slash == std::string_view::npos ? line : line.substr(slash + 1);
    if (exe.starts_with(kAppNamePrefix) && line.find(kBundleMarker) != std::string_view::npos) {
      lines.emplace_back(line);
    }
  }
  return lines;
}

bool is_premiere_executable_name(std::string_view exe_name) {
  if (exe_name.size() != kWindowsExecutable.size()) return false;
  for (std::size_t i = 0; i < exe_name.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(exe_name[i]) != lower(kWindowsExecutable[i])) return false;
  }
  return true;
}

#if defined(_WIN32)

std::vector<ProcessEntry> list_processes() {
  std::vector<ProcessEntry> out;
  OwnedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return out;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    out.push_back({entry.th32ProcessID, narrow(entry.szExeFile), {}});
  }
  return out;
}

std::vector<ProcessEntry> premiere_process_entries() {
  std::vector<ProcessEntry> found;
  for (ProcessEntry& entry : list_processes()) {
    if (!is_premiere_executable_name(entry.exe_name)) continue;
    // The full path needs the least of the query rights, which any user's process grants.
    OwnedHandle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(entry.pid)));
    if (process) {
      std::wstring path(32768, L'\0');
      DWORD size = static_cast<DWORD>(path.size());
      if (::QueryFullProcessImageNameW(process.get(), 0, path.data(), &size)) {
        entry.path = narrow(std::wstring_view(path.data(), size));
      }
    }
    found.push_back(std::move(entry));
  }
  return found;
}

boost::asio::awaitable<std::vector<std::string>> premiere_processes() {
  // A snapshot is one quick system call, nothing to wait on.
  std::vector<std::string> lines;
  for (const ProcessEntry& entry : premiere_process_entries()) {
    lines.push_back(entry.path.empty() ? entry.exe_name : entry.path);
  }
  co_return lines;
}

#else

namespace {

using Waiter = boost::asio::experimental::channel<void(boost::system::error_code)>;

// One `ps` run that every request arriving while it is under way shares: a burst of
// not-connected answers starts one `ps`, not one each. Runs and waiters live on the
// bridge's one I/O thread.
struct PsRun {
  std::vector<std::string> lines;
  std::vector<std::shared_ptr<Waiter>> waiters;
};

std::shared_ptr<PsRun> ps_current;  // the run under way, if any

void finish_run(const std::shared_ptr<PsRun>& run, std::vector<std::string> lines) {
  if (ps_current == run) ps_current.reset();
  run->lines = std::move(lines);
  for (const auto& waiter : run->waiters) waiter->try_send(boost::system::error_code{});
  run->waiters.clear();
}

}  // namespace

boost::asio::awaitable<std::vector<std::string>> premiere_processes() {
  auto ex = co_await boost::asio::this_coro::executor;
  std::shared_ptr<PsRun> run = ps_current;
  if (run) {
    auto waiter = std::make_shared<Waiter>(ex, 1);
    run->waiters.push_back(waiter);
    (void)co_await waiter->async_receive(nothrow);
    co_return run->lines;
  }
  run = ps_current = std::make_shared<PsRun>();

  // Whatever happens below, the run ends and its waiters are woken.
  struct Finisher {
    std::shared_ptr<PsRun> run;
    std::vector<std::string> lines;
    ~Finisher() { finish_run(run, std::move(lines)); }
  } finisher{run, {}};
  const std::vector<std::string> args{"-axo", "comm="};
  ToolResult ps = co_await run_tool("ps", args, ToolOptions{.time_limit = kPsTimeLimit});
  // A `ps` that cannot start or hangs past its limit tells nothing: Premiere counts as not
  // running.
  if (ps.started && !ps.timed_out) finisher.lines = premiere_process_lines(ps.out);
  co_return finisher.lines;
}

#endif

boost::asio::awaitable<bool> premiere_running() {
  co_return !(co_await premiere_processes()).empty();
}

}  // namespace cutrelay
