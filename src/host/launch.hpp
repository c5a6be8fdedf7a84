#pragma once
// Starting Premiere Pro through `open` and asking it to quit through AppleScript; on
// Windows, starting its executable directly and asking its windows to close (WM_CLOSE, as
// the user's click on a window's close button does). Neither verb ever kills a process.
#include <string>
#include <string_view>
#include <vector>

#include <boost/asio/awaitable.hpp>

#include "hub/bridge_state.hpp"
#include "hub/verb_context.hpp"

namespace cutrelay {

// The application names in a process listing (each line's last path component), with
// adjacent repeats removed and the order kept.
std::vector<std::string> app_names(const std::vector<std::string>& process_lines);

// One `tell application "<name>" to quit` line per name, joined by line feeds. Backslashes
// and double quotes inside a name are escaped, so no name can end its string literal: the
// names come from the process table of every user of the machine.
std::string quit_script(const std::vector<std::string>& names);

// The `open` arguments that start `app` (and open `project`, when given).
std::vector<std::string> open_arguments(const std::string& app, const std::string* project,
                                        bool foreground);

#if defined(_WIN32)
// Posts WM_CLOSE to every visible top-level window (not owned by another) of the processes
// `pids`; how many windows were asked.
std::size_t close_windows_of(const std::vector<std::uint32_t>& pids);
#endif

// The `launch` verb: runs open_project through the context's dispatch when Premiere already
// runs with the plug-in connected.
boost::asio::awaitable<json> launch(VerbContext context, json args);

// The `quit` verb.
boost::asio::awaitable<json> quit(StatePtr state, json args);

}  // namespace cutrelay
