#include "installer/plugin_installer.hpp"

#include <algorithm>
#include <system_error>

#include "common/args.hpp"
#include "common/files.hpp"
#include "common/blocking.hpp"
#include "common/install_record.hpp"
#include "common/plugin_identity.hpp"
#include "common/text.hpp"
#include "host/discovery.hpp"
#include "installer/ccx_package.hpp"

namespace cutrelay {

namespace fs = std::filesystem;
namespace asio = boost::asio;

namespace {

constexpr std::string_view kUpiaMissing =
    "Adobe's UnifiedPluginInstallerAgent wasn't found (it ships with the Creative Cloud "
    "desktop app).";

std::string path_text(const fs::path& path) { return to_valid_utf8(path.string()); }

std::string lower_ascii(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return out;
}

// The record is read by readiness and status at any moment, so it is replaced in one step:
// a reader sees the old record or the new one, never half of one.
void write_install_record(const fs::path& data_dir, const json& record) {
  // A failure to write the record is not the install's failure.
  (void)replace_file(data_dir / kInstallRecordFile, dump_pretty(record), 0666);
}

std::vector<const EmbeddedFile*> cep_copy_order(std::span<const EmbeddedFile> files) {
  std::vector<const EmbeddedFile*> order;
  for (std::string_view name : kCepFileOrder) {
    if (const EmbeddedFile* f = find_embedded(files, name)) order.push_back(f);
  }
  for (const EmbeddedFile& f : files) {
    if (std::find(order.begin(), order.end(), &f) == order.end()) order.push_back(&f);
  }
  return order;
}

asio::awaitable<json> install_uxp(const fs::path& data_dir, bool force) {
  const std::optional<fs::path> upia = locate_upia();
  if (!upia) {
    co_return json{{"ok", false}, {"errorCode", "upia_missing"}, {"error", kUpiaMissing}};
  }
  // Packing and compressing the plug-in runs on the blocking pool, off the I/O thread.
  const auto build = [data_dir] { return build_ccx(data_dir); };
  const CcxBuild built = co_await run_blocking(build);
  if (!built.path) {
    co_return json{{"ok", false}, {"errorCode", "ccx_build_failed"}, {"error", built.error}};
  }

  json log = json::array();
  if (force) {
    // An older copy can block the install; whether the removal worked does not matter.
    std::vector<std::string> remove_args = {"--remove", std::string(kPluginName)};
    const ToolOutcome removed = co_await run_installer_tool(upia->string(), std::move(remove_args));
    log.push_back({{"step", "remove"}, {"output", removed.output}});
  }
  std::vector<std::string> install_args = {"--install", built.path->string()};
  const ToolOutcome installed =
      co_await run_installer_tool(upia->string(), std::move(install_args));
  log.push_back({{"step", "install"}, {"ok", installed.ok}, {"output", installed.output}});
  co_return json{{"ok", upia_install_succeeded(installed.ok, installed.output)},
                 {"ccx", path_text(*built.path)},
                 {"upia", path_text(*upia)},
                 {"log", std::move(log)}};
}

}  // namespace

asio::awaitable<json> install_cep_helper(fs::path dir, std::span<const EmbeddedFile> files) {
  if (auto error = write_cep_helper(dir, files)) {
    co_return json{{"ok", false}, {"errorCode", "cep_copy_failed"}, {"error", *error}};
  }
  // Unsigned extensions load only with PlayerDebugMode set, per CEP runtime version. Each
  // run is awaited before the next; a failure does not stop the others.
  json modes = json::array();
  for (int version : kCsxsVersions) {
    std::vector<std::string> args = {"write", "com.adobe.CSXS." + std::to_string(version),
                                     "PlayerDebugMode", "1"};
    const ToolOutcome set = co_await run_installer_tool(std::string(kSettingsTool), std::move(args));
    modes.push_back({{"csxs", version}, {"ok", set.ok}});
  }
  co_return json{{"ok", true}, {"dir", path_text(dir)}, {"playerDebugMode", std::move(modes)}};
}

std::optional<fs::path> locate_upia() {
  const fs::path path = system_path(kUpiaPath);
  std::error_code ec;
  (void)fs::status(path, ec);
  if (ec) return std::nullopt;
  return path;
}

fs::path cep_dir() { return home_dir() / kCepExtensionsFolder / kCepBundleId; }

ToolOutcome tool_outcome(const ToolResult& run) {
  if (!run.started) return {false, std::string(trim(to_valid_utf8(run.start_error), kAsciiSpace))};
  // Each stream is decoded on its own, so a character split across the two is replaced
  // rather than glued together.
  const std::string text = to_valid_utf8(run.out) + to_valid_utf8(run.err);
  return {run.clean_exit(), std::string(trim(text, kAsciiSpace))};
}

asio::awaitable<ToolOutcome> run_installer_tool(std::string program, std::vector<std::string> args) {
  co_return tool_outcome(co_await run_tool(std::move(program), std::move(args)));
}

bool upia_install_succeeded(bool exit_ok, std::string_view output) {
  const std::string text = lower_ascii(output);
  const auto has = [&](std::string_view word) { return text.find(word) != std::string::npos; };
  if (has("successfully installed") || has("installation successful")) return true;
  return exit_ok && !has("fail") && !has("error");
}

std::optional<std::string> write_cep_helper(const fs::path& dir,
                                            std::span<const EmbeddedFile> files) {
  if (files.empty()) return std::string("this build of the bridge carries no CEP helper files");
  // Each file is put down whole (a helper half written over the old one would not load),
  // and a link found at the helper's folder, its subfolders or a file is replaced, never
  // followed.
  for (const EmbeddedFile* file : cep_copy_order(files)) {
    const fs::path relative = fs::path(file->path).parent_path();
    fs::path folder = dir;
    auto part = relative.begin();
    for (;;) {
      if (auto ec = make_own_directory(folder)) {
        return "cannot create " + path_text(folder) + ": " + ec.message();
      }
      if (part == relative.end()) break;
      folder /= *part++;
    }
    const fs::path target = dir / fs::path(file->path);
    if (auto error = replace_file(target, file->bytes, 0666)) return to_valid_utf8(*error);
  }
  return std::nullopt;
}

json install_answer(json uxp, json cep, bool premiere_running) {
  const bool ok = uxp.at("ok") == true;
  json answer = {{"success", ok},
                 {"version", kPluginVersion},
                 {"premiereRunning", premiere_running}};
  if (ok && premiere_running) {
    answer["_hint"] =
        "Installed. Premiere is running, so it hasn't loaded the plugin yet: premiere_quit "
        "{save:true} then premiere_launch. After launch, if pluginConnected stays false, the "
        "Quor Bridge panel needs opening once (Window > UXP Plugins > Quor Bridge) — the CEP "
        "helper connects on its own meanwhile.";
    answer["_next"] = {"premiere_quit", "premiere_launch"};
  } else if (ok) {
    answer["_hint"] = "Installed. premiere_launch next; the plugin connects on startup.";
    answer["_next"] = {"premiere_launch"};
  } else {
    const auto code = uxp.find("errorCode");
    answer["errorCode"] = code == uxp.end() ? json() : *code;
    answer["error"] = "UXP plugin install failed — see uxp.log for the installer's output.";
    const auto ccx = uxp.find("ccx");
    const std::string package =
        ccx != uxp.end() && ccx->is_string() ? ccx->get<std::string>() : std::string("?");
    answer["_hint"] = "If UPIA refused the unsigned .ccx, the package is at " + package +
                      " — opening it with the Creative Cloud app installs it (one confirmation "
                      "click). Retry with force:true if an older copy is in the way.";
  }
  answer["uxp"] = std::move(uxp);
  answer["cep"] = std::move(cep);
  return answer;
}

asio::awaitable<json> install_plugin(StatePtr state, const json& args) {
  const bool force = arg_on(args, "force");
  const bool with_cep = arg_not_off(args, "cep");

  json uxp = co_await install_uxp(state->data_dir, force);
  // The CEP helper goes in whatever happened to the UXP plug-in, so a machine without
  // UPIA still gets it.
  json cep = {{"ok", true}, {"skipped", true}};
  if (with_cep) cep = co_await install_cep_helper(cep_dir(), cep_helper_files());
  if (uxp.at("ok") == true) {
    write_install_record(state->data_dir,
                         {{"version", kPluginVersion}, {"uxp", uxp}, {"cep", cep}});
  }
  const bool running = co_await premiere_running();
  co_return install_answer(std::move(uxp), std::move(cep), running);
}

json plugin_info(const BridgeState& state) {
  const std::optional<std::string> installed = installed_plugin_version(state.data_dir);
  const std::optional<fs::path> upia = locate_upia();
  const fs::path cep = cep_dir();
  std::error_code ec;
  const bool cep_installed = fs::exists(cep / "CSXS" / "manifest.xml", ec);
  return {{"success", true},
          {"bundledVersion", kPluginVersion},
          {"installedVersion", installed ? json(*installed) : json()},
          {"uxpPluginId", kPluginId},
          {"upia", upia ? json(path_text(*upia)) : json()},
          {"cepDir", path_text(cep)},
          {"cepInstalled", cep_installed},
          {"ccx", path_text(ccx_path(state.data_dir))}};
}

}  // namespace cutrelay
