#pragma once
// The command endpoint: one JSON command in, one JSON answer out.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <boost/asio/awaitable.hpp>
#include <boost/beast/http/verb.hpp>

#include "hub/bridge_state.hpp"

namespace cutrelay {

inline constexpr std::size_t kMaxCommandBody = 2'097'152;

struct HttpReply {
  unsigned status = 200;
  std::string content_type;  // empty for an empty body
  std::string body;
  std::string allow;  // the Allow header, when set
  std::vector<std::pair<std::string, std::string>> headers;  // any further headers
  bool streamed = false;  // written already, while it was made (an event stream): nothing to send
};

HttpReply text_reply(unsigned status, std::string text);

// The answer when the body could not be read; `too_long` for the length limit.
HttpReply body_read_failure(bool too_long, std::string_view description);

// Whether a Content-Type value names JSON: visible ASCII, blanks and tabs only; the part
// before the first ';', trimmed, equal to application/json ignoring ASCII case.
bool is_json_content_type(std::optional<std::string_view> value);

// A request's `args`: missing or null become {}; a string is parsed as JSON text ({} when
// it does not parse); anything else is taken as it is.
json normalize_args(const json* args);

// Checks the method, content type and JSON of a request whose body has been read, then
// runs the command.
boost::asio::awaitable<HttpReply> handle_command(StatePtr state, boost::beast::http::verb method,
                                                 std::optional<std::string_view> content_type,
                                                 std::string body);

}  // namespace cutrelay
