#include "server/ws_upgrade.hpp"

#include <boost/beast/core/string.hpp>
#include <boost/beast/http/field.hpp>
#include <boost/url/parse_query.hpp>

#include "common/crypto.hpp"
#include "common/text.hpp"
#include "hub/handshake.hpp"

namespace cutrelay {

namespace beast = boost::beast;
namespace http = beast::http;

namespace {

// Whether a comma-separated header value lists `token` (ASCII case ignored).
bool header_lists(std::string_view value, std::string_view token) {
  while (!value.empty()) {
    const std::size_t comma = value.find(',');
    const std::string_view item = trim(value.substr(0, comma));
    value = comma == std::string_view::npos ? std::string_view{} : value.substr(comma + 1);
    if (beast::iequals(item, token)) return true;
  }
  return false;
}

}  // namespace

QueryDecode decode_query(std::string_view query) {
  QueryDecode out;
  auto parsed = boost::urls::parse_query(query);
  if (!parsed) {
    out.error = parsed.error().message();
    return out;
  }
  boost::urls::encoding_opts opts;
  opts.space_as_plus = true;
  for (const auto& param : *parsed) {
    std::string key = param.key.decode(opts);
    std::string value = param.has_value ? param.value.decode(opts) : std::string();
    out.params[std::move(key)] = std::move(value);
  }
  return out;
}

std::optional<UpgradeRefusal> check_upgrade(const http::request<http::string_body>& request,
                                            std::string_view query, std::string_view token) {
  QueryDecode decoded = decode_query(query);
  if (decoded.error) {
    return UpgradeRefusal{400, "Failed to deserialize query string: " + *decoded.error};
  }
  if (request.method() != http::verb::get) {
    return UpgradeRefusal{405, "Request method must be `GET`"};
  }
  if (!header_lists(request[http::field::connection], "upgrade")) {
    return UpgradeRefusal{400, "Connection header did not include 'upgrade'"};
  }
  if (!header_lists(request[http::field::upgrade], "websocket")) {
    return UpgradeRefusal{400, "`Upgrade` header did not include 'websocket'"};
  }
  if (request[http::field::sec_websocket_version] != "13") {
    return UpgradeRefusal{400, "`Sec-WebSocket-Version` header did not include '13'"};
  }
  if (request.find(http::field::sec_websocket_key) == request.end()) {
    return UpgradeRefusal{400, "`Sec-WebSocket-Key` header missing"};
  }
  if (request.version() != 11) {
    // Only an HTTP/1.1 connection can be switched to another protocol.
    return UpgradeRefusal{
        426, "WebSocket request couldn't be upgraded since no upgrade state was present"};
  }
  const auto it = decoded.params.find("token");
  if (it != decoded.params.end()) {
    if (!constant_time_equal(it->second, token)) return UpgradeRefusal{401, "bad token"};
    return std::nullopt;
  }
  // No token: our plug-ins never send it, they are challenged instead.
  const auto nonce = decoded.params.find("nonce");
  if (nonce == decoded.params.end()) return UpgradeRefusal{401, "bad token"};
  if (!is_valid_nonce(nonce->second)) return UpgradeRefusal{400, "bad nonce"};
  return std::nullopt;
}

std::optional<std::string> challenge_nonce(std::string_view query) {
  QueryDecode decoded = decode_query(query);
  if (decoded.error || decoded.params.contains("token")) return std::nullopt;
  const auto nonce = decoded.params.find("nonce");
  if (nonce == decoded.params.end() || !is_valid_nonce(nonce->second)) return std::nullopt;
  return nonce->second;
}

}  // namespace cutrelay
