#pragma once
// Keeps web pages out of the command endpoints. A page whose domain name is re-pointed at
// 127.0.0.1 (DNS rebinding), or any page that can reach the loopback port, could otherwise
// send commands, and some verbs run code inside Premiere. Agents, curl and the plug-ins
// send a loopback Host and no Origin, so they are unaffected.
#include <optional>
#include <string_view>

#include "server/command_endpoint.hpp"

namespace cutrelay {

// Whether a Host header value names a loopback address literal (127.0.0.0/8, ::1, or
// ::ffff:127.x.y.z) or "localhost", with or without a port. Any other name or address
// could be a web page's (DNS rebinding) or another machine's.
bool host_header_allowed(std::string_view host);

// Whether an Origin header value is "null" or names a loopback address or "localhost".
bool origin_header_allowed(std::string_view origin);

// The 403 to answer a request with these headers (absent ones are not checked), if any.
std::optional<HttpReply> guard_request(std::optional<std::string_view> host,
                                       std::optional<std::string_view> origin);

}  // namespace cutrelay
