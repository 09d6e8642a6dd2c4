// Bodies sent to the node: ConnectPeerRequest (read from a caller text) and
// the four request-only bodies.
#include "core/models/node_requests.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/json/json.hpp"
#include "tests/models/probe_table.hpp"

namespace zephlar::testing {
namespace {

using json::Source;

TEST(NodeRequestRecords, ConnectPeerFromCallerText) {
  run_probe_table({
      same("connect request", "ConnectPeerRequest", R"({"peer_pubkey_and_addr":"03b8e5f1a2c4@127.0.0.1:9735"})",
           Source::caller_text),
      reads("further keys are dropped", "ConnectPeerRequest",
            R"({"timeout":5,"peer_pubkey_and_addr":"k@h:1","extra":{"peer_pubkey_and_addr":1}})",
            R"({"peer_pubkey_and_addr":"k@h:1"})", Source::caller_text),
      reads("one-element array", "ConnectPeerRequest", R"([ "k@h:1" ])", R"({"peer_pubkey_and_addr":"k@h:1"})",
            Source::caller_text),
      reads("text passed on unchecked, escapes written afresh", "ConnectPeerRequest",
            R"({"peer_pubkey_and_addr":"\u0041\/\"\u0001"})", R"({"peer_pubkey_and_addr":"A/\"\u0001"})",
            Source::caller_text),
      fails("empty array", "ConnectPeerRequest", "[]",
            "invalid length 0, expected struct ConnectPeerRequest with 1 element at line 1 column 2",
            Source::caller_text),
      fails("two-element array", "ConnectPeerRequest", R"(["a","b"])", "trailing characters at line 1 column 6",
            Source::caller_text),
      fails("member absent", "ConnectPeerRequest", R"({"peer":"k@h:1"})",
            "missing field `peer_pubkey_and_addr` at line 1 column 16", Source::caller_text),
      fails("member null", "ConnectPeerRequest", R"({"peer_pubkey_and_addr":null})",
            "invalid type: null, expected a string at line 1 column 28", Source::caller_text),
      fails("member repeated", "ConnectPeerRequest", R"({"peer_pubkey_and_addr":"a","peer_pubkey_and_addr":"b"})",
            "duplicate field `peer_pubkey_and_addr` at line 1 column 50", Source::caller_text),
      fails("not an object", "ConnectPeerRequest", "42",
            "invalid type: integer `42`, expected struct ConnectPeerRequest at line 1 column 2", Source::caller_text),
      fails("trailing characters", "ConnectPeerRequest", R"({"peer_pubkey_and_addr":"a"} x)",
            "trailing characters at line 1 column 30", Source::caller_text),
  });
}

TEST(NodeRequestRecords, BodiesEscapeTheirText) {
  // A double quote, a backslash, a tab, a control byte, a slash and é.
  const std::string text = "p\"\\\t\x01/\xC3\xA9";
  const std::string escaped = R"(p\"\\\t\u0001/)"
                              "\xC3\xA9";
  struct Case {
    const char* what;
    json::RequestBody body;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"connect peer", models::json_body_connect_peer_request({text}),
       R"({"peer_pubkey_and_addr":")" + escaped + "\"}"},
      {"password", models::json_body_password_request({text}), R"({"password":")" + escaped + "\"}"},
      {"empty password", models::json_body_password_request({""}), R"({"password":""})"},
      {"invoice", models::json_body_decode_ln_invoice_request({text}), R"({"invoice":")" + escaped + "\"}"},
      {"taker", models::json_body_taker_request({text}), R"({"swapstring":")" + escaped + "\"}"},
      {"asset balance", models::json_body_asset_balance_request({text}), R"({"asset_id":")" + escaped + "\"}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.body.content_type, "application/json");
    EXPECT_EQ(c.body.bytes, c.expected);
  }
}

}  // namespace
}  // namespace zephlar::testing
