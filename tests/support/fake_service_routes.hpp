// The default answers of the fake service: every endpoint of the trading
// service and of the user's node, answered with JSON that reads as the
// endpoint's record.
//
// The data set, shared by every answer:
//   assets  BTC ("BTC", precision 8), USDT and XAUT (RGB assets, precision 6);
//           each with endpoints and supported_layers; all active
//   pairs   BTC/USDT and BTC/XAUT, both active
//   quotes  the legs echo the requested asset ids, layers and the one amount
//           given; the other amount follows from the prices (BTC 95000 USD,
//           USDT 1 USD, XAUT 2650 USD) less the fee, which is lowest for
//           Lightning legs (so the best quote is BTC_LN -> RGB_LN)
//   orders  created orders are kept (status PENDING_PAYMENT); the status of
//           an id never created is a FILLED order; history holds five orders
//           and the analytics count them
//   swaps   init keeps the swap as Waiting until it is executed, then it is
//           Succeeded; the status of an unknown payment hash is Succeeded
//   LSPS1   created channel orders are kept and read back by get_order; an
//           unknown order id reads as a COMPLETED order with its channel
//   node    two peers, two channels, three payments, balances of USDT/XAUT
//   stream  GET /ws without a WebSocket upgrade answers 426
//
// A body of the right shape always gets a 2xx answer; a body whose members
// are missing or of the wrong type gets 422 {"detail":...} from the service
// and 400 {"error":...,"code":400} from the node. A known path asked with the
// wrong method answers 405, an unknown path 404 {"detail":"Not Found"}.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zephlar::testing {

namespace fake_data {
inline constexpr std::string_view btc_asset_id = "BTC";
inline constexpr std::string_view usdt_asset_id = "rgb:2JEUOrsc-J5WsXwS-aJmPEFZ-y0r1FxB-3mmt4l0-qnmyRBs";
inline constexpr std::string_view xaut_asset_id = "rgb:6tFgqbG4-pEBqn4v-Y1rzzJR-RN2m5R2-t9OfgS9-4vHsJ8A";
// The service's swap node (also its LSP node), and the user's node.
inline constexpr std::string_view service_pubkey = "03b79a4bc1ec365524b4fab9a39eb133753646babb5a1da5c4bc94c53110b7795d";
inline constexpr std::string_view node_pubkey = "02270dadcd6e7ba0ef707dac72acccae1a3607453a8dd2aef36ff3be4e0d31f043";
inline constexpr std::int64_t block_height = 1200;
}  // namespace fake_data

struct RouteAnswer {
  int status = 200;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // besides Content-Type: application/json
};

class DefaultRoutes {
 public:
  DefaultRoutes();
  ~DefaultRoutes();

  // The answer for a request; `path` is the target without its query.
  RouteAnswer answer(std::string_view method, std::string_view path, std::string_view query, std::string_view body);
  // Forgets the orders and swaps created so far.
  void reset();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace zephlar::testing
