#include "core/models/enums.hpp"

namespace zephlar::models {

std::optional<Layer> layer_from_name(std::string_view name) noexcept {
  const auto layer = json::EnumInfo<Layer>::match(name);
  if (!layer || *layer == Layer::TAPASS_L1 || *layer == Layer::TAPASS_LN) return std::nullopt;
  return layer;
}

}  // namespace zephlar::models
