// Answers of the user's node. The node may leave out nearly any member:
// only the identifying member of each element and the list of each list
// answer must be given. Other keys are skipped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/json/record.hpp"

namespace zephlar::models {

// GET /nodeinfo. `network` is the node's own word, not a Network.
struct RgbNodeInfo {
  std::string pubkey;
  std::string network;
  std::int64_t block_height = 0;
  std::int64_t num_channels = 0;
  std::int64_t num_peers = 0;

  bool operator==(const RgbNodeInfo&) const = default;
};
ZEPH_RECORD(RgbNodeInfo, "RgbNodeInfo",
            ZEPH_FIELD(pubkey, defaulted),
            ZEPH_FIELD(network, defaulted),
            ZEPH_FIELD(block_height, defaulted),
            ZEPH_FIELD(num_channels, defaulted),
            ZEPH_FIELD(num_peers, defaulted))

// POST /btcbalance.
struct BtcBalance {
  std::int64_t confirmed = 0;
  std::int64_t unconfirmed = 0;
  std::int64_t total = 0;

  bool operator==(const BtcBalance&) const = default;
};
ZEPH_RECORD(BtcBalance, "BtcBalance",
            ZEPH_FIELD(confirmed, defaulted),
            ZEPH_FIELD(unconfirmed, defaulted),
            ZEPH_FIELD(total, defaulted))

// POST /assetbalance, and the balance of each listed asset.
struct RgbAssetBalance {
  std::int64_t settled = 0;
  std::int64_t future = 0;
  std::int64_t spendable = 0;

  bool operator==(const RgbAssetBalance&) const = default;
};
ZEPH_RECORD(RgbAssetBalance, "RgbAssetBalance",
            ZEPH_FIELD(settled, defaulted),
            ZEPH_FIELD(future, defaulted),
            ZEPH_FIELD(spendable, defaulted))

struct RgbAsset {
  std::string asset_id;
  std::string ticker;
  std::string name;
  std::uint8_t precision = 0;
  RgbAssetBalance balance;

  bool operator==(const RgbAsset&) const = default;
};
ZEPH_RECORD(RgbAsset, "RgbAsset",
            ZEPH_FIELD(asset_id, required),
            ZEPH_FIELD(ticker, defaulted),
            ZEPH_FIELD(name, defaulted),
            ZEPH_FIELD(precision, defaulted),
            ZEPH_FIELD(balance, defaulted))

struct Channel {
  std::string channel_id;
  std::string peer_pubkey;
  std::int64_t capacity = 0;
  std::int64_t local_balance = 0;
  std::int64_t remote_balance = 0;
  bool is_active = false;
  bool is_public = false;

  bool operator==(const Channel&) const = default;
};
ZEPH_RECORD(Channel, "Channel",
            ZEPH_FIELD(channel_id, required),
            ZEPH_FIELD(peer_pubkey, defaulted),
            ZEPH_FIELD(capacity, defaulted),
            ZEPH_FIELD(local_balance, defaulted),
            ZEPH_FIELD(remote_balance, defaulted),
            ZEPH_FIELD(is_active, defaulted),
            ZEPH_FIELD(is_public, defaulted))

// `address` is the one member here that reads null as no value; no value
// is written as null.
struct Peer {
  std::string pubkey;
  std::optional<std::string> address;
  bool connected = false;

  bool operator==(const Peer&) const = default;
};
ZEPH_RECORD(Peer, "Peer",
            ZEPH_FIELD(pubkey, required),
            ZEPH_FIELD(address, defaulted),
            ZEPH_FIELD(connected, defaulted))

// `status` and `direction` are the node's own words.
struct Payment {
  std::string payment_hash;
  std::string status;
  std::int64_t amount_msat = 0;
  std::string direction;
  std::int64_t created_at = 0;

  bool operator==(const Payment&) const = default;
};
ZEPH_RECORD(Payment, "Payment",
            ZEPH_FIELD(payment_hash, required),
            ZEPH_FIELD(status, defaulted),
            ZEPH_FIELD(amount_msat, defaulted),
            ZEPH_FIELD(direction, defaulted),
            ZEPH_FIELD(created_at, defaulted))

// POST /address.
struct AddressResponse {
  std::string address;

  bool operator==(const AddressResponse&) const = default;
};
ZEPH_RECORD(AddressResponse, "AddressResponse",
            ZEPH_FIELD(address, required))

// The list answers: the node wraps each list in an object that its messages
// call "Response"; only the inner list is handed on.

// POST /listassets.
struct ListAssetsResponse {
  std::vector<RgbAsset> assets;

  bool operator==(const ListAssetsResponse&) const = default;
};
ZEPH_RECORD(ListAssetsResponse, "Response",
            ZEPH_FIELD(assets, required))

// GET /listchannels.
struct ListChannelsResponse {
  std::vector<Channel> channels;

  bool operator==(const ListChannelsResponse&) const = default;
};
ZEPH_RECORD(ListChannelsResponse, "Response",
            ZEPH_FIELD(channels, required))

// GET /listpeers.
struct ListPeersResponse {
  std::vector<Peer> peers;

  bool operator==(const ListPeersResponse&) const = default;
};
ZEPH_RECORD(ListPeersResponse, "Response",
            ZEPH_FIELD(peers, required))

// GET /listpayments.
struct ListPaymentsResponse {
  std::vector<Payment> payments;

  bool operator==(const ListPaymentsResponse&) const = default;
};
ZEPH_RECORD(ListPaymentsResponse, "Response",
            ZEPH_FIELD(payments, required))

}  // namespace zephlar::models
