#pragma once
// The HTTP side of a plug-in's WebSocket upgrade: whether the request may be upgraded, and
// whether its connection must be challenged (hub/handshake.hpp) before it counts.
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

namespace cutrelay {

// The form-decoded query string ('+' as space, the last of repeated keys counts), or the
// reason it cannot be decoded.
struct QueryDecode {
  std::map<std::string, std::string> params;
  std::optional<std::string> error;
};
QueryDecode decode_query(std::string_view query);

// The refusal of an upgrade request, if any, in the order the endpoint checks things.
// A request passes with the bridge's token (`token`), or without any `token` but with a
// nonce of its own (`nonce`): that connection must then pass the challenge of
// hub/handshake.hpp before it counts as a plug-in.
struct UpgradeRefusal {
  unsigned status;
  std::string body;
};
std::optional<UpgradeRefusal> check_upgrade(
    const boost::beast::http::request<boost::beast::http::string_body>& request,
    std::string_view query, std::string_view token);

// The plug-in's nonce of an upgrade request that check_upgrade let through without a
// token; nothing for one that presented the token.
std::optional<std::string> challenge_nonce(std::string_view query);

}  // namespace cutrelay
