#include "server/request_guard.hpp"

#include <boost/beast/core/string.hpp>
#include <boost/url/parse.hpp>

namespace cutrelay {

namespace urls = boost::urls;

namespace {

bool is_localhost(std::string_view name) { return boost::beast::iequals(name, "localhost"); }

// ::1, or an IPv4 loopback address written as an IPv6 one (::ffff:127.x.y.z).
bool is_loopback(const urls::ipv6_address& address) {
  return address.is_loopback() || (address.is_v4_mapped() && address.to_bytes()[12] == 127);
}

}  // namespace

bool host_header_allowed(std::string_view host) {
  // A Host value is an authority without user information: host, then an optional port.
  auto authority = urls::parse_authority(host);
  if (!authority || authority->has_userinfo()) return false;
  switch (authority->host_type()) {
    case urls::host_type::ipv4:
      return authority->host_ipv4_address().is_loopback();
    case urls::host_type::ipv6:
      return is_loopback(authority->host_ipv6_address());
    case urls::host_type::name:
      return is_localhost(authority->encoded_host());
    default:
      return false;
  }
}

bool origin_header_allowed(std::string_view origin) {
  if (origin == "null") return true;  // sandboxed documents and local files
  auto uri = urls::parse_absolute_uri(origin);
  if (!uri || !uri->has_authority()) return false;
  switch (uri->host_type()) {
    case urls::host_type::ipv4:
      return uri->host_ipv4_address().is_loopback();
    case urls::host_type::ipv6:
      return is_loopback(uri->host_ipv6_address());
    case urls::host_type::name:
      return is_localhost(uri->encoded_host());
    default:
      return false;
  }
}

std::optional<HttpReply> guard_request(std::optional<std::string_view> host,
                                       std::optional<std::string_view> origin) {
  if (host && !host_header_allowed(*host)) return text_reply(403, "Host not allowed");
  if (origin && !origin_header_allowed(*origin)) return text_reply(403, "Origin not allowed");
  return std::nullopt;
}

}  // namespace cutrelay
