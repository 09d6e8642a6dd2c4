#include "ffi/zeph_client.hpp"

#include <exception>
#include <string>
#include <utility>

#include "core/units.hpp"
#include "ffi/seconds.hpp"

namespace zephlar::ffi {

ZephClient::ZephClient(std::shared_ptr<client::CoreClient> core, std::shared_ptr<Runtime> runtime) noexcept
    : core_(std::move(core)), runtime_(std::move(runtime)) {}

ZephClient::~ZephClient() {
  // The core first, then the runtime (which a quote stream may keep alive).
  core_.reset();
  runtime_.reset();
}

ZephResult<std::shared_ptr<ZephClient>> ZephClient::create(ZephConfig config) {
  std::shared_ptr<Runtime> runtime;
  try {
    runtime = Runtime::create();
  } catch (const std::exception& e) {
    return Err(ZephError::internal(std::string("Failed to create runtime: ") + e.what()));
  }

  // The core turns the timeout into a time span; a value that has none is a
  // fault of the caller, not a configuration error (the runtime is released
  // as the fault unwinds).
  static_cast<void>(seconds_to_span(config.timeout));

  client::CoreConfig core_config;
  core_config.base_url = std::move(config.base_url);
  core_config.node_url = std::move(config.node_url);
  core_config.api_key = std::move(config.api_key);
  core_config.timeout = config.timeout;
  core_config.max_retries = config.max_retries;
  core_config.cache_ttl = config.cache_ttl;
  auto core = client::CoreClient::create(std::move(core_config));
  if (!core) return Err(ZephError::from_core_error(std::move(core).error()));

  return std::shared_ptr<ZephClient>(new ZephClient(std::move(core).value(), std::move(runtime)));
}

bool ZephClient::has_node() const noexcept { return core_->has_node(); }

double to_display_units(std::int64_t amount, std::uint8_t precision) noexcept {
  return core_to_display_units(amount, precision);
}

std::int64_t to_smallest_units(double amount, std::uint8_t precision) noexcept {
  return core_to_smallest_units(amount, precision);
}

}  // namespace zephlar::ffi
