// The Windows side of the platform functions, against folders and registry keys of the
// test's own (CUTRELAY_TEST_SYSROOT, APPDATA, USERPROFILE, CUTRELAY_TEST_REGISTRY_ROOT).
#include <windows.h>
#include <aclapi.h>
#include <knownfolders.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>

#include <algorithm>
#include <fstream>

#include "common/child_process.hpp"
#include "common/files.hpp"
#include "common/system.hpp"
#include "common/win32.hpp"
#include "host/discovery.hpp"
#include "host/launch.hpp"
#include "host/presets.hpp"
#include "installer/embedded_files.hpp"
#include "installer/plugin_installer.hpp"
#include "test_dir.hpp"

namespace cutrelay {
namespace {

namespace fs = std::filesystem;

// A user name that is neither ASCII nor free of spaces.
const std::string kOddName = "Zo\xC3\xAB \xC3\x85ngstr\xC3\xB6m \xE6\x9D\xB1";

// Sets an environment variable for the test's length, then puts back what was there.
class ScopedEnv {
 public:
  ScopedEnv(const wchar_t* name, const std::optional<std::wstring>& value)
      : name_(name), old_(environment_variable(name)) {
    ::SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
  }
  ~ScopedEnv() { ::SetEnvironmentVariableW(name_, old_ ? old_->c_str() : nullptr); }

 private:
  const wchar_t* name_;
  std::optional<std::wstring> old_;
};

template <typename T>
T run(boost::asio::awaitable<T> task) {
  boost::asio::io_context ioc;
  auto future = boost::asio::co_spawn(ioc, std::move(task), boost::asio::use_future);
  ioc.run();
  return future.get();
}

fs::path self_exe() { return *own_executable(); }

// The test program run again as a child that sleeps (see Sleeper below).
std::vector<std::string> sleeper_args() {
  return {"--gtest_also_run_disabled_tests", "--gtest_filter=WindowsChild.DISABLED_Sleeper"};
}

TEST(WindowsText, Utf16RoundTripAndCommandLineQuoting) {
  EXPECT_EQ(narrow(widen(kOddName)), kOddName);
  EXPECT_EQ(widen("\xC3\xAB").size(), 1u);
  EXPECT_EQ(narrow(widen("\xF0\x9F\x8E\xAC")).size(), 4u);  // a pair of surrogates
  EXPECT_EQ(narrow(widen("bad \xFF")), "bad \xEF\xBF\xBD");

  // Whatever each argument holds, the system's own parser gives it back whole.
  const std::vector<std::wstring> args = {
      L"plain", L"with space", L"", L"quote\"inside", L"trailing\\", L"C:\\Program Files\\x\\",
      L"back\\\\\"slash", widen(kOddName), L"tab\there"};
  std::wstring line = L"prog.exe";
  for (const auto& a : args) line += L" " + quote_argument(a);
  int count = 0;
  wchar_t** parsed = ::CommandLineToArgvW(line.c_str(), &count);
  ASSERT_NE(parsed, nullptr);
  ASSERT_EQ(count, static_cast<int>(args.size()) + 1);
  for (std::size_t i = 0; i < args.size(); ++i) EXPECT_EQ(parsed[i + 1], args[i]) << i;
  ::LocalFree(parsed);
}

TEST(WindowsHome, UserProfileThenTheShellsProfileFolder) {
  ScopedEnv home(L"HOME", L"C:\\not-the-home");  // HOME is not Windows's: ignored
  {
    const std::wstring odd = L"C:\\Users\\" + widen(kOddName);
    ScopedEnv profile(L"USERPROFILE", odd);
    EXPECT_EQ(home_dir(), fs::path(odd));  // used as given, whether or not it exists
  }
  {
    ScopedEnv profile(L"USERPROFILE", std::nullopt);
    const fs::path fallback = home_dir();
    EXPECT_EQ(fallback, known_folder(FOLDERID_Profile).value_or(fs::temp_directory_path()));
    EXPECT_NE(fallback, fs::path(L"C:\\not-the-home"));
  }
}

TEST(WindowsDiscovery, InstallsUnderProgramFilesAdobeAndProcessesFromTheSnapshot) {
  ScratchDir root;
  const fs::path sysroot = root.path / utf8_path(kOddName);
  ScopedEnv env(L"CUTRELAY_TEST_SYSROOT", sysroot.wstring());
  const fs::path apps = applications_dir();
  EXPECT_EQ(apps.filename(), fs::path("Adobe"));
  EXPECT_EQ(apps.parent_path().parent_path(), sysroot);

  fs::create_directories(apps / "Adobe Premiere Pro 2025");
  std::ofstream(apps / "Adobe Premiere Pro 2025" / "Adobe Premiere Pro.exe") << "MZ";
  fs::create_directories(apps / "Adobe Premiere Pro 2026");  // no executable: not an install
  fs::create_directories(apps / "Adobe Premiere Pro 2024");
  std::ofstream(apps / "Adobe Premiere Pro 2024" / "Adobe Premiere Pro.exe") << "MZ";
  const auto installs = find_premiere_installs();
  ASSERT_EQ(installs.size(), 2u);
  EXPECT_EQ(installs[0].year, 2025u);
  EXPECT_EQ(utf8_path(installs[0].app), apps / "Adobe Premiere Pro 2025" / "Adobe Premiere Pro.exe");
  EXPECT_EQ(installs[1].year, 2024u);

  // Our own process is in the snapshot under its executable's name; it is not Premiere.
  const auto all = list_processes();
  const auto self = std::find_if(all.begin(), all.end(), [](const ProcessEntry& e) {
    return e.pid == static_cast<std::uint32_t>(current_process_id());
  });
  ASSERT_NE(self, all.end());
  EXPECT_EQ(utf8_path(self->exe_name), self_exe().filename());
  EXPECT_TRUE(premiere_process_entries().empty());
  EXPECT_TRUE(run(premiere_processes()).empty());
}

TEST(WindowsFiles, PrivateFilesNameTheUserAloneAndNamesMayBeAnything) {
  ScratchDir dir;
  const fs::path file = dir.path / utf8_path(kOddName + ".json");
  ASSERT_TRUE(write_private_file(file, "first"));
  ASSERT_TRUE(write_private_file(file, "second"));  // replaces
  EXPECT_EQ(read_file(file), "second");

  // The access list allows the current user in, and no one else but the system itself
  // (Wine, keeping no access lists on Linux files, shows the file's mode as one such list).
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(::GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, &dacl, nullptr, &descriptor),
            ERROR_SUCCESS);
  ASSERT_NE(dacl, nullptr);
  HANDLE token = nullptr;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  ASSERT_TRUE(::GetTokenInformation(token, TokenUser, user.data(), size, &size));
  ::CloseHandle(token);
  const PSID me = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  bool user_allowed = false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, i, &ace));
    auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    const PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart;
    if (::EqualSid(sid, me)) {
      user_allowed = true;
    } else {
      EXPECT_TRUE(::IsWellKnownSid(sid, WinLocalSystemSid)) << "ACE " << i << " lets someone else in";
    }
  }
  EXPECT_TRUE(user_allowed);
  ::LocalFree(descriptor);

  // Ordinary files keep the folder's permissions; a missing folder is an error with words.
  EXPECT_FALSE(replace_file(dir.path / "plain.txt", "x", 0666));
  const auto error = replace_file(dir.path / "missing" / "x.txt", "x", 0666);
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("cannot write"), std::string::npos);
  // No temporary file is left behind by either.
  std::size_t entries = 0;
  for (const auto& e : fs::directory_iterator(dir.path)) entries += e.path() != file;
  EXPECT_EQ(entries, 1u);
}

// Run only as a child of the tests below.
TEST(WindowsChild, DISABLED_Sleeper) { ::Sleep(60000); }

TEST(WindowsChild, ToolsRunWithoutConsoleTheirOutputAndExitCollected) {
  ToolResult echo = run(run_tool("cmd", {"/c", "echo out& echo err 1>&2& exit 3"}));
  ASSERT_TRUE(echo.started) << echo.start_error;
  EXPECT_EQ(echo.exit_code, 3);
  EXPECT_NE(echo.out.find("out"), std::string::npos);
  EXPECT_NE(echo.err.find("err"), std::string::npos);
  EXPECT_FALSE(echo.clean_exit());

  // Arguments with spaces and other scripts arrive whole.
  ToolResult spaced = run(run_tool("cmd", {"/c", "echo", "a  b"}));
  EXPECT_TRUE(spaced.clean_exit());
  EXPECT_NE(spaced.out.find("a  b"), std::string::npos);

  ToolResult missing = run(run_tool("no-such-program-anywhere", {}));
  EXPECT_FALSE(missing.started);
  EXPECT_EQ(missing.start_error, "no-such-program-anywhere: not found");

  // A program past its time limit is ended with whatever it started.
  ToolResult slow = run(run_tool(path_utf8(self_exe()), sleeper_args(),
                                 ToolOptions{.time_limit = std::chrono::milliseconds(300)}));
  EXPECT_TRUE(slow.started);
  EXPECT_TRUE(slow.timed_out);
}

TEST(WindowsChild, StartedChildrenAreSeenRunningAndEnded) {
  StartedChild child = start_child(path_utf8(self_exe()), sleeper_args(), ChildStdio{});
  ASSERT_GT(child.pid, 0) << child.error;
  EXPECT_TRUE(child_running(child.pid));
  end_child(child.pid, std::chrono::milliseconds(100));
  EXPECT_FALSE(child_running(child.pid));
  EXPECT_FALSE(child_running(12345678));  // not ours

  // A detached program is left running, nothing to wait for.
  EXPECT_FALSE(run(start_detached("cmd", {"/c", "exit 0"})));
  EXPECT_EQ(run(start_detached("no-such-program-anywhere", {})),
            std::optional<std::string>("no-such-program-anywhere: not found"));
}

TEST(WindowsInstaller, CepFolderUnderAppDataDebugModeInTheRegistryUpiaUnderCommonFiles) {
  ScratchDir root;
  const fs::path appdata = root.path / utf8_path(kOddName) / "AppData" / "Roaming";
  ScopedEnv env(L"APPDATA", appdata.wstring());
  ScopedEnv registry(L"CUTRELAY_TEST_REGISTRY_ROOT", L"Software\\cutrelay-test");
  ScopedEnv sysroot(L"CUTRELAY_TEST_SYSROOT", root.path.wstring());
  EXPECT_EQ(cep_dir(), appdata / "Adobe" / "CEP" / "extensions" / "inc.quor.premiere.cep");

  const EmbeddedFile files[] = {{"CSXS/manifest.xml", "<m/>"}, {"main.js", "//"}};
  const json cep = run(install_cep_helper(cep_dir(), files));
  EXPECT_EQ(cep["ok"], true);
  EXPECT_EQ(read_file(cep_dir() / "CSXS" / "manifest.xml"), "<m/>");
  ASSERT_EQ(cep["playerDebugMode"].size(), 5u);
  for (int version = 9; version <= 13; ++version) {
    EXPECT_EQ(cep["playerDebugMode"][version - 9], (json{{"csxs", version}, {"ok", true}}));
    const std::wstring key = L"Software\\cutrelay-test\\Software\\Adobe\\CSXS." + std::to_wstring(version);
    wchar_t value[8] = {};
    DWORD type = 0;
    DWORD size = sizeof value;
    ASSERT_EQ(::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"PlayerDebugMode", RRF_RT_ANY, &type,
                             value, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(value, L"1");
  }
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\cutrelay-test");

  // A key that cannot be written (its name is past the registry's limit) fails alone: the
  // helper is still installed, as when `defaults` fails on macOS.
  {
    ScopedEnv bad(L"CUTRELAY_TEST_REGISTRY_ROOT", std::wstring(300, L'k'));
    const json failed = run(install_cep_helper(cep_dir(), files));
    EXPECT_EQ(failed["ok"], true);
    for (const auto& mode : failed["playerDebugMode"]) EXPECT_EQ(mode["ok"], false);
  }

  // UPIA: at its place under Common Files, missing here.
  EXPECT_EQ(upia_path().filename(), fs::path("UnifiedPluginInstallerAgent.exe"));
  EXPECT_EQ(upia_path().parent_path().filename(), fs::path("UnifiedPluginInstallerAgent"));
  EXPECT_EQ(upia_path().lexically_relative(root.path).begin()->string(), "Program Files");
  EXPECT_FALSE(locate_upia());
  fs::create_directories(upia_path().parent_path());
  std::ofstream(upia_path()) << "MZ";
  EXPECT_EQ(locate_upia(), upia_path());
}

TEST(WindowsPresets, RootsBesideTheExecutablesAndUnderDocuments) {
  ScratchDir apps;
  fs::create_directories(apps.path / "Adobe Premiere Pro 2025");
  std::ofstream(apps.path / "Adobe Premiere Pro 2025" / "Adobe Premiere Pro.exe") << "MZ";
  fs::create_directories(apps.path / "Adobe Media Encoder 2025");
  const fs::path home = utf8_path("C:/Users/" + kOddName);
  const auto roots = preset_roots(home, apps.path);
  const std::vector<fs::path> expected = {
      home / "Documents/Adobe/Adobe Media Encoder", home / "Documents/Adobe/Premiere Pro",
      apps.path / "Adobe Premiere Pro 2025" / "MediaIO" / "systempresets",
      apps.path / "Adobe Premiere Pro 2025" / "Settings" / "IngestPresets",
      apps.path / "Adobe Media Encoder 2025" / "MediaIO" / "systempresets"};
  EXPECT_EQ(roots, expected);

  // A preset under a folder named in any script is found and named by its path in UTF-8.
  ScratchDir presets;
  presets.write(fs::path(utf8_path(kOddName)) / "H.264_48323634" / "Mine.epr", "<PresetName>Mine</PresetName>");
  std::vector<fs::path> found;
  collect_presets(presets.path, found);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_NE(path_utf8(found[0]).find(kOddName), std::string::npos);
  EXPECT_EQ(unicode_lower("\xC3\x85NGSTR\xC3\x96M \xCE\xA3"), "\xC3\xA5ngstr\xC3\xB6m \xCF\x83");
}

TEST(WindowsQuit, ClosingAsksEachVisibleTopLevelWindowOfTheProcess) {
  const HWND window = ::CreateWindowExW(0, L"STATIC", L"cutrelay test", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                        0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
  if (window == nullptr) GTEST_SKIP() << "no window station here";
  const HWND hidden = ::CreateWindowExW(0, L"STATIC", L"hidden", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                        nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(close_windows_of({static_cast<std::uint32_t>(current_process_id())}), 1u);
  MSG message{};
  bool closed = false;
  while (::PeekMessageW(&message, window, WM_CLOSE, WM_CLOSE, PM_REMOVE)) closed = true;
  EXPECT_TRUE(closed);
  EXPECT_EQ(close_windows_of({}), 0u);
  ::DestroyWindow(hidden);
  ::DestroyWindow(window);
}

}  // namespace
}  // namespace cutrelay
