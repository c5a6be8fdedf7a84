#include "server/mcp_endpoint.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>
#include <gtest/gtest.h>

#include "test_dir.hpp"

namespace cutrelay {
namespace {

namespace http = boost::beast::http;

// ---- inline images -------------------------------------------------------------------

const std::string kPng = "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk";

TEST(ToolResult, PreviewImageBecomesAnImageBlockAndLeavesANote) {
  const json answer = {{"success", true},
                       {"savedTo", "/p/preview_1.png"},
                       {"image", {{"mime", "image/png"}, {"base64", kPng}, {"bytes", 44}}},
                       {"verb", "premiere_preview_frame"}};
  const json result = tool_call_result(answer, true);
  ASSERT_EQ(result.at("content").size(), 2u);
  EXPECT_EQ(result.at("content")[1], (json{{"type", "image"}, {"data", kPng}, {"mimeType", "image/png"}}));
  EXPECT_EQ(result.at("isError"), false);
  const json& structured = result.at("structuredContent");
  EXPECT_EQ(structured.at("image").at("bytes"), 44);
  EXPECT_EQ(structured.at("savedTo"), "/p/preview_1.png");
  const std::string note = structured.at("image").at("base64");
  EXPECT_NE(note.find("content[1]"), std::string::npos);
  // The text copy is the same object, compact, without the Base64.
  const std::string text = result.at("content")[0].at("text");
  EXPECT_EQ(json::parse(text), structured);
  EXPECT_EQ(text.find(kPng), std::string::npos);
}

TEST(ToolResult, EveryContactSheetFrameWithAnImageGetsItsOwnBlock) {
  json answer = {{"success", true},
                 {"frames", {{{"path", "/a.png"}, {"image", {{"mime", "image/png"}, {"base64", "QQ=="}}}},
                             {{"path", "/b.png"}},  // unreadable: no image
                             {{"path", "/c.png"}, {"image", {{"mime", "image/png"}, {"base64", "Qw=="}}}}}}};
  const json result = tool_call_result(answer, true);
  const json& content = result.at("content");
  ASSERT_EQ(content.size(), 3u);
  EXPECT_EQ(content[1].at("data"), "QQ==");
  EXPECT_EQ(content[2].at("data"), "Qw==");
  const json& frames = result.at("structuredContent").at("frames");
  EXPECT_NE(frames[0].at("image").at("base64").get<std::string>().find("content[1]"), std::string::npos);
  EXPECT_FALSE(frames[1].contains("image"));
  EXPECT_NE(frames[2].at("image").at("base64").get<std::string>().find("content[2]"), std::string::npos);
}

TEST(ToolResult, SnapshotShapesAndOddImagesAreHandled) {
  // monitor_snapshot: {mime, base64} without bytes; or image null when only a file was saved.
  json snapshot = {{"success", true}, {"image", {{"mime", "image/png"}, {"base64", kPng}}}, {"window", {{"title", "x"}}}};
  EXPECT_EQ(tool_call_result(snapshot, true).at("content").size(), 2u);
  json saved_only = {{"success", true}, {"image", nullptr}, {"safePath", "/s.png"}};
  const json r = tool_call_result(saved_only, true);
  EXPECT_EQ(r.at("content").size(), 1u);
  EXPECT_TRUE(r.at("structuredContent").at("image").is_null());
  // `data` is accepted as the Base64 member too, and mimeType as the type.
  json data_form = {{"success", true}, {"image", {{"mimeType", "image/jpeg"}, {"data", "QQ=="}}}};
  EXPECT_EQ(tool_call_result(data_form, true).at("content")[1].at("mimeType"), "image/jpeg");
  // Not Base64 text (a number, an empty text): left alone, no block.
  for (const json& odd : {json(5), json(""), json::array()}) {
    json answer = {{"success", true}, {"image", {{"base64", odd}}}};
    const json out = tool_call_result(answer, true);
    EXPECT_EQ(out.at("content").size(), 1u) << odd;
    EXPECT_EQ(out.at("structuredContent").at("image").at("base64"), odd);
  }
  json frames_not_list = {{"success", true}, {"frames", "none"}};
  EXPECT_EQ(tool_call_result(frames_not_list, true).at("content").size(), 1u);
}

TEST(ToolResult, ErrorUnlessSuccessIsTrueAndStructuredOnlyWhenAsked) {
  EXPECT_EQ(tool_call_result({{"success", false}, {"errorCode", "plugin_timeout"}}, true).at("isError"), true);
  EXPECT_EQ(tool_call_result({{"success", "true"}}, true).at("isError"), true);
  EXPECT_EQ(tool_call_result({{"ok", true}}, true).at("isError"), true);
  const json old = tool_call_result({{"success", true}}, false);
  EXPECT_FALSE(old.contains("structuredContent"));
  EXPECT_EQ(old.at("content")[0].at("text"), "{\"success\":true}");
}

// ---- the HTTP endpoint -----------------------------------------------------------------

class McpEndpoint : public ::testing::Test {
 protected:
  McpEndpoint() {
    state_ = std::make_shared<BridgeState>();
    state_->data_dir = dir_.path;
  }

  HttpReply post(const std::string& body, std::optional<std::string> session = std::nullopt,
                 std::optional<std::string> accept = "application/json, text/event-stream",
                 std::optional<std::string> protocol = std::nullopt,
                 http::verb method = http::verb::post) {
    McpRequest request;
    request.method = method;
    request.content_type = content_type_;
    if (accept) request.accept = *accept;
    if (session) request.session_id = *session;
    if (protocol) request.protocol_version = *protocol;
    request.body = body;
    request.events = events_;
    boost::asio::io_context ioc;
    auto future = boost::asio::co_spawn(ioc, handle_mcp(state_, sessions_, std::move(request), limits_),
                                        boost::asio::use_future);
    ioc.run();
    return future.get();
  }

  std::string open_session(const std::string& revision) {
    const HttpReply reply = post(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":")" +
                                 revision + R"(","capabilities":{},"clientInfo":{"name":"t","version":"1"}}})");
    EXPECT_EQ(reply.status, 200u);
    for (const auto& [name, value] : reply.headers) {
      if (name == "Mcp-Session-Id") return value;
    }
    ADD_FAILURE() << "no session id";
    return {};
  }

  static json body_of(const HttpReply& reply) { return json::parse(reply.body); }
  static int code_of(const HttpReply& reply) { return body_of(reply).at("error").at("code"); }

  ScratchDir dir_;
  StatePtr state_;
  McpSessions sessions_;
  McpBatchLimits limits_;
  McpEventStream* events_ = nullptr;
  std::string content_type_ = "application/json";
};

TEST_F(McpEndpoint, InitializeAgreesOnARevisionAndOpensASession) {
  const HttpReply reply = post(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-06-18"}})");
  ASSERT_EQ(reply.status, 200u);
  EXPECT_EQ(reply.content_type, "application/json");
  const json result = body_of(reply).at("result");
  EXPECT_EQ(result.at("protocolVersion"), "2025-06-18");
  EXPECT_EQ(result.at("serverInfo"), (json{{"name", "cutrelay"}, {"version", "0.1.0"}}));
  EXPECT_EQ(result.at("capabilities"), (json{{"tools", {{"listChanged", false}}}}));
  EXPECT_TRUE(result.at("instructions").is_string());
  ASSERT_EQ(reply.headers.size(), 1u);
  EXPECT_EQ(sessions_.revision(reply.headers[0].second), "2025-06-18");

  // A revision we do not know gets the newest.
  const HttpReply future = post(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2099-01-01"}})");
  EXPECT_EQ(body_of(future).at("result").at("protocolVersion"), "2025-11-25");
  // Without a revision there is no session.
  const HttpReply bad = post(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{}})");
  EXPECT_EQ(code_of(bad), kInvalidParams);
  EXPECT_TRUE(bad.headers.empty());
}

TEST_F(McpEndpoint, SessionsAreRequiredKnownAndEndable) {
  const std::string ping = R"({"jsonrpc":"2.0","id":7,"method":"ping"})";
  const HttpReply none = post(ping);
  EXPECT_EQ(none.status, 400u);
  EXPECT_EQ(body_of(none).at("id"), 7);
  EXPECT_EQ(post(ping, "no-such-session").status, 404u);
  const std::string session = open_session("2025-11-25");
  const HttpReply ok = post(ping, session);
  EXPECT_EQ(ok.status, 200u);
  EXPECT_EQ(body_of(ok), (json{{"jsonrpc", "2.0"}, {"id", 7}, {"result", json::object()}}));
  EXPECT_EQ(post("", session, {}, {}, http::verb::delete_).status, 204u);
  EXPECT_EQ(post(ping, session).status, 404u);
  EXPECT_EQ(post("", session, {}, {}, http::verb::delete_).status, 404u);
  // Notifications need a session too.
  EXPECT_EQ(post(R"({"jsonrpc":"2.0","method":"notifications/initialized"})").status, 400u);
}

TEST_F(McpEndpoint, OldestSessionsGiveWayWhenTheTableIsFull) {
  McpSessions small(2);
  const std::string a = small.open("2025-11-25");
  const std::string b = small.open("2025-11-25");
  ASSERT_TRUE(small.revision(a));  // a is now the most recently used
  const std::string c = small.open("2025-11-25");
  EXPECT_TRUE(small.revision(a));
  EXPECT_FALSE(small.revision(b));
  EXPECT_TRUE(small.revision(c));
}

TEST_F(McpEndpoint, HttpLevelRefusals) {
  const std::string session = open_session("2025-11-25");
  const std::string ping = R"({"jsonrpc":"2.0","id":1,"method":"ping"})";
  const HttpReply get = post("", session, {}, {}, http::verb::get);
  EXPECT_EQ(get.status, 405u);
  EXPECT_EQ(get.allow, "POST, DELETE");
  EXPECT_EQ(post(ping, session, "text/html").status, 406u);
  EXPECT_EQ(post(ping, session, "*/*").status, 200u);
  EXPECT_EQ(post(ping, session, std::nullopt).status, 200u);  // no Accept: anything goes
  EXPECT_EQ(post(ping, session, {}, "1999-01-01").status, 400u);
  EXPECT_EQ(post(ping, session, {}, "2025-06-18").status, 200u);
  content_type_ = "text/plain";
  EXPECT_EQ(post(ping, session).status, 415u);
}

TEST_F(McpEndpoint, AStreamOnlyClientGetsOneEvent) {
  const std::string session = open_session("2025-11-25");
  const HttpReply reply = post(R"({"jsonrpc":"2.0","id":"a","method":"ping"})", session, "text/event-stream");
  EXPECT_EQ(reply.content_type, "text/event-stream");
  EXPECT_EQ(reply.body, "event: message\ndata: {\"id\":\"a\",\"jsonrpc\":\"2.0\",\"result\":{}}\n\n");
}

TEST_F(McpEndpoint, MalformedMessagesGetTheirJsonRpcErrors) {
  const std::string session = open_session("2025-11-25");
  const HttpReply garbage = post("{not json", session);
  EXPECT_EQ(garbage.status, 400u);
  EXPECT_EQ(code_of(garbage), kParseError);
  EXPECT_TRUE(body_of(garbage).at("id").is_null());
  const HttpReply deep = post(std::string(100000, '[') + std::string(100000, ']'), session);
  EXPECT_EQ(code_of(deep), kParseError);
  for (const char* invalid : {R"({"id":1,"method":"ping"})", R"({"jsonrpc":"1.0","id":1,"method":"ping"})",
                              R"({"jsonrpc":"2.0","id":1})", R"({"jsonrpc":"2.0","id":1,"method":5})",
                              R"({"jsonrpc":"2.0","id":null,"method":"ping"})",
                              R"({"jsonrpc":"2.0","id":{},"method":"ping"})",
                              R"({"jsonrpc":"2.0","id":1,"method":"ping","params":"x"})", "42", "\"x\""}) {
    const HttpReply reply = post(invalid, session);
    EXPECT_EQ(reply.status, 400u) << invalid;
    EXPECT_EQ(code_of(reply), kInvalidRequest) << invalid;
  }
  EXPECT_EQ(body_of(post(R"({"id":9,"method":"ping"})", session)).at("id"), 9);
  const HttpReply unknown = post(R"({"jsonrpc":"2.0","id":2,"method":"resources/list"})", session);
  EXPECT_EQ(unknown.status, 200u);
  EXPECT_EQ(code_of(unknown), kMethodNotFound);
  EXPECT_EQ(code_of(post(R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":[1]})", session)), kInvalidParams);
}

TEST_F(McpEndpoint, NotificationsAndClientResponsesAreAcceptedWithoutABody) {
  const std::string session = open_session("2025-11-25");
  for (const char* message : {R"({"jsonrpc":"2.0","method":"notifications/initialized"})",
                              R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":3}})",
                              R"({"jsonrpc":"2.0","method":"anything/else"})",
                              R"({"jsonrpc":"2.0","id":5,"result":{}})"}) {
    const HttpReply reply = post(message, session);
    EXPECT_EQ(reply.status, 202u) << message;
    EXPECT_TRUE(reply.body.empty()) << message;
  }
}

TEST_F(McpEndpoint, ToolCallsCheckTheirParamsAndRunTheVerb) {
  const std::string session = open_session("2025-11-25");
  const HttpReply unknown = post(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"premiere_nothing"}})", session);
  EXPECT_EQ(code_of(unknown), kInvalidParams);
  EXPECT_NE(body_of(unknown).at("error").at("message").get<std::string>().find("premiere_nothing"), std::string::npos);
  // Tools are named with the prefix; the bare verb is not a tool.
  EXPECT_EQ(code_of(post(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"describe"}})", session)), kInvalidParams);
  EXPECT_EQ(code_of(post(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":7}})", session)), kInvalidParams);
  EXPECT_EQ(code_of(post(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"premiere_describe","arguments":[1]}})", session)),
            kInvalidParams);
  EXPECT_EQ(code_of(post(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"premiere_describe","arguments":"{}"}})", session)),
            kInvalidParams);

  const HttpReply described = post(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"premiere_describe","arguments":null}})", session);
  const json result = body_of(described).at("result");
  EXPECT_EQ(result.at("isError"), false);
  EXPECT_EQ(result.at("structuredContent").at("verb"), "premiere_describe");
  EXPECT_EQ(result.at("structuredContent").at("catalog").at("verbCount"), 91);
  EXPECT_EQ(json::parse(result.at("content")[0].at("text").get<std::string>()), result.at("structuredContent"));
}

TEST_F(McpEndpoint, OlderRevisionsSeeOnlyWhatTheyDefine) {
  const std::string old = open_session("2025-03-26");
  const json tools = body_of(post(R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})", old)).at("result").at("tools");
  ASSERT_EQ(tools.size(), 91u);
  EXPECT_FALSE(tools[0].contains("title"));
  EXPECT_TRUE(tools[0].contains("annotations"));
  const json oldest = body_of(post(R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})", open_session("2024-11-05")));
  EXPECT_FALSE(oldest.at("result").at("tools")[0].contains("annotations"));
  const json call = body_of(post(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"premiere_describe"}})", old));
  EXPECT_FALSE(call.at("result").contains("structuredContent"));
  const json current = body_of(post(R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})", open_session("2025-11-25")));
  EXPECT_EQ(current.at("result").at("tools")[0].at("annotations").at("readOnlyHint"), true);
}

TEST_F(McpEndpoint, ToolCallArgumentsAreHeldToTheToolSchema) {
  const std::string session = open_session("2025-11-25");
  const HttpReply typo = post(R"({"jsonrpc":"2.0","id":7,"method":"tools/call","params":{"name":"premiere_events","arguments":{"sinceseq":3}}})", session);
  EXPECT_EQ(typo.status, 200u);
  const json error = body_of(typo).at("error");
  EXPECT_EQ(error.at("code"), kInvalidParams);
  EXPECT_EQ(error.at("message"), "Invalid arguments for premiere_events: `sinceseq` is not an argument here; it takes sinceSeq.");
  const json wrong_type = body_of(post(R"({"jsonrpc":"2.0","id":8,"method":"tools/call","params":{"name":"premiere_events","arguments":{"sinceSeq":"3"}}})", session));
  EXPECT_EQ(wrong_type.at("error").at("message"),
            "Invalid arguments for premiere_events: `sinceSeq` must be a whole number of at least 0; got \"3\".");
  const json fine = body_of(post(R"({"jsonrpc":"2.0","id":9,"method":"tools/call","params":{"name":"premiere_events","arguments":{"sinceSeq":3}}})", session));
  EXPECT_EQ(fine.at("result").at("isError"), false);
}

TEST_F(McpEndpoint, BatchesOnlyOnTheRevisionThatHasThem) {
  const std::string batch = R"([{"jsonrpc":"2.0","id":1,"method":"ping"},{"jsonrpc":"2.0","method":"notifications/x"},{"jsonrpc":"2.0","id":2,"method":"nope"}])";
  const HttpReply refused = post(batch, open_session("2025-11-25"));
  EXPECT_EQ(refused.status, 400u);
  EXPECT_EQ(code_of(refused), kInvalidRequest);
  const std::string session = open_session("2025-03-26");
  const json answers = body_of(post(batch, session));
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0].at("id"), 1);
  EXPECT_EQ(answers[1].at("error").at("code"), kMethodNotFound);
  EXPECT_EQ(post(R"([{"jsonrpc":"2.0","method":"notifications/x"}])", session).status, 202u);
  EXPECT_EQ(post("[]", session).status, 400u);
  const json with_init = body_of(post(R"([{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-03-26"}}])", session));
  EXPECT_EQ(with_init[0].at("error").at("code"), kInvalidRequest);
}

TEST_F(McpEndpoint, ABatchIsBoundedInLengthAndInTheSizeOfItsAnswer) {
  const std::string session = open_session("2025-03-26");
  // 65 messages: refused whole, nothing runs.
  std::string many = "[";
  for (int i = 0; i < 65; ++i) many += std::string(i ? "," : "") + R"({"jsonrpc":"2.0","id":)" + std::to_string(i) + R"(,"method":"tools/list"})";
  many += "]";
  const HttpReply refused = post(many, session);
  EXPECT_EQ(refused.status, 400u);
  EXPECT_EQ(code_of(refused), kInvalidRequest);
  EXPECT_NE(body_of(refused).at("error").at("message").get<std::string>().find("at most 64 messages"), std::string::npos);
  // The answer: a request that makes it pass the bound still gets its answer; the ones
  // after it are not run. (The catalog's answer alone is some 70 KB.)
  limits_.answer_bytes = 50'000;
  const std::string describe = R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"premiere_describe"}})";
  const HttpReply reply = post("[" + describe + R"(,{"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"premiere_describe"}},{"jsonrpc":"2.0","method":"notifications/x"}])", session);
  ASSERT_EQ(reply.status, 200u);
  const json answers = body_of(reply);
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0].at("result").at("isError"), false);
  EXPECT_EQ(answers[1].at("id"), 2);
  EXPECT_EQ(answers[1].at("error").at("code"), kInvalidRequest);
  EXPECT_TRUE(answers[1].at("error").at("message").get<std::string>().starts_with("Not run: the batch's answer already holds"));
}

// An event stream that keeps what is sent, and can stop taking it, as a client that leaves.
struct RecordedStream : McpEventStream {
  boost::asio::awaitable<bool> open() override {
    opened = true;
    co_return true;
  }
  boost::asio::awaitable<bool> send(std::string message) override {
    if (messages.size() >= take) co_return false;
    messages.push_back(json::parse(message));
    co_return true;
  }
  boost::asio::awaitable<bool> close() override {
    closed = true;
    co_return true;
  }
  std::vector<json> messages;
  std::size_t take = 1000;
  bool opened = false;
  bool closed = false;
};

TEST_F(McpEndpoint, ProgressIsStreamedBeforeTheResultWhenAskedFor) {
  const std::string session = open_session("2025-11-25");
  RecordedStream stream;
  events_ = &stream;
  // No plug-in connects: wait_for_plugin waits its one second, reporting as it goes.
  const std::string call = R"({"jsonrpc":"2.0","id":5,"method":"tools/call","params":{"name":"premiere_wait_for_plugin","arguments":{"timeoutSec":1},"_meta":{"progressToken":"w1"}}})";
  const HttpReply reply = post(call, session);
  EXPECT_TRUE(reply.streamed);
  ASSERT_TRUE(stream.opened && stream.closed);
  ASSERT_GE(stream.messages.size(), 2u);
  const json& first = stream.messages.front();
  EXPECT_EQ(first.at("method"), "notifications/progress");
  EXPECT_EQ(first.at("params").at("progressToken"), "w1");
  EXPECT_EQ(first.at("params").at("progress"), 0);
  EXPECT_EQ(first.at("params").at("total"), 1);
  EXPECT_EQ(first.at("params").at("message"), "Waiting up to 1s for the UXP plug-in to connect");
  double last = -1;
  for (std::size_t i = 0; i + 1 < stream.messages.size(); ++i) {
    const double progress = stream.messages[i].at("params").at("progress").get<double>();
    EXPECT_GT(progress, last);  // grows with every notification
    last = progress;
  }
  const json& result = stream.messages.back();
  EXPECT_EQ(result.at("id"), 5);
  EXPECT_EQ(result.at("result").at("structuredContent").at("errorCode"), "plugin_not_connected");
}

TEST_F(McpEndpoint, WithoutATokenOrAStreamOrProgressNothingIsStreamed) {
  const std::string session = open_session("2025-11-25");
  RecordedStream stream;
  events_ = &stream;
  const auto call = [&](const std::string& name, const std::string& meta) {
    return post(R"({"jsonrpc":"2.0","id":6,"method":"tools/call","params":{"name":")" + name +
                    R"(","arguments":{"timeoutSec":1})" + meta + "}}",
                session);
  };
  // A token of the wrong type is ignored; a verb that reports nothing answers plainly.
  for (const HttpReply& reply : {call("premiere_wait_for_plugin", ""),
                                 call("premiere_wait_for_plugin", R"(,"_meta":{"progressToken":true})"),
                                 call("premiere_ping", R"(,"_meta":{"progressToken":7})")}) {
    EXPECT_FALSE(reply.streamed);
    EXPECT_EQ(body_of(reply).at("id"), 6);
  }
  // A client that takes JSON only gets JSON.
  const HttpReply json_only = post(R"({"jsonrpc":"2.0","id":7,"method":"tools/call","params":{"name":"premiere_wait_for_plugin","arguments":{"timeoutSec":1},"_meta":{"progressToken":1}}})",
                                   session, "application/json");
  EXPECT_FALSE(json_only.streamed);
  EXPECT_FALSE(stream.opened);
}

TEST_F(McpEndpoint, AClientThatLeavesMidStreamHarmsNothing) {
  const std::string session = open_session("2025-11-25");
  RecordedStream stream;
  stream.take = 1;  // the client reads the first notification, then is gone
  events_ = &stream;
  const HttpReply reply = post(R"({"jsonrpc":"2.0","id":8,"method":"tools/call","params":{"name":"premiere_wait_for_plugin","arguments":{"timeoutSec":1},"_meta":{"progressToken":"x"}}})", session);
  EXPECT_TRUE(reply.streamed);
  EXPECT_EQ(stream.messages.size(), 1u);
  EXPECT_FALSE(stream.closed);
  // The session still serves.
  events_ = nullptr;
  EXPECT_EQ(body_of(post(R"({"jsonrpc":"2.0","id":9,"method":"ping"})", session)).at("result"), json::object());
}

TEST_F(McpEndpoint, IdsComeBackExactlyOrAreRefused) {
  const std::string session = open_session("2025-11-25");
  for (const char* id : {"18446744073709551615", "-9223372036854775808", "0", "\"123456789012345678901234567890\""}) {
    const HttpReply reply = post(std::string(R"({"jsonrpc":"2.0","method":"ping","id":)") + id + "}", session);
    EXPECT_EQ(reply.status, 200u) << id;
    EXPECT_TRUE(reply.body.starts_with(std::string(R"({"id":)") + id + ",")) << reply.body;
  }
  for (const char* id : {"123456789012345678901234567890", "1.5", "1e3", "true", "{}"}) {
    const HttpReply reply = post(std::string(R"({"jsonrpc":"2.0","method":"ping","id":)") + id + "}", session);
    EXPECT_EQ(reply.status, 400u) << id;
    EXPECT_EQ(code_of(reply), kInvalidRequest) << id;
    EXPECT_TRUE(body_of(reply).at("id").is_null()) << id;
  }
}

}  // namespace
}  // namespace cutrelay
