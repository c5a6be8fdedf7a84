#include "server/command_endpoint.hpp"

#include <boost/beast/core/string.hpp>

#include "common/text.hpp"
#include "server/dispatch.hpp"

namespace cutrelay {

namespace asio = boost::asio;
namespace http = boost::beast::http;

HttpReply text_reply(unsigned status, std::string text) {
  return HttpReply{status, "text/plain; charset=utf-8", std::move(text), {}};
}

HttpReply body_read_failure(bool too_long, std::string_view description) {
  return text_reply(too_long ? 413 : 400,
                    "Failed to buffer the request body: " +
                        (too_long ? std::string("length limit exceeded") : std::string(description)));
}

bool is_json_content_type(std::optional<std::string_view> value) {
  if (!value) return false;
  for (char c : *value) {
    const auto u = static_cast<unsigned char>(c);
    if (!(u == ' ' || u == '\t' || (u >= 0x21 && u <= 0x7E))) return false;
  }
  return boost::beast::iequals(trim(value->substr(0, value->find(';'))), "application/json");
}

json normalize_args(const json* args) {
  if (args == nullptr || args->is_null()) return json::object();
  if (args->is_string()) {
    JsonParseResult parsed = parse_json(args->get_ref<const std::string&>());
    return parsed.value ? std::move(*parsed.value) : json::object();
  }
  return *args;
}

asio::awaitable<HttpReply> handle_command(StatePtr state, http::verb method,
                                          std::optional<std::string_view> content_type,
                                          std::string body) {
  if (method != http::verb::post) {
    HttpReply reply = text_reply(405, "POST only");
    reply.allow = "POST";
    co_return reply;
  }
  if (!is_json_content_type(content_type)) {
    co_return text_reply(415, "Expected request with `Content-Type: application/json`");
  }
  JsonParseResult parsed = parse_json(body);
  body.clear();
  body.shrink_to_fit();
  if (!parsed.value) {
    const json answer = {
        {"success", false}, {"error", "bad JSON: " + parsed.error}, {"errorCode", "bad_request"}};
    co_return HttpReply{200, "application/json", dump_compact(answer), {}};
  }
  const json& request = *parsed.value;
  std::string command;
  const json* args = nullptr;
  if (request.is_object()) {
    if (auto it = request.find("command"); it != request.end() && it->is_string()) {
      command = it->get<std::string>();
    }
    if (auto it = request.find("args"); it != request.end()) args = &*it;
  }
  json normalized = normalize_args(args);
  std::string answer = co_await dispatch_text(std::move(state), std::move(command), std::move(normalized));
  co_return HttpReply{200, "application/json", std::move(answer), {}};
}

}  // namespace cutrelay
