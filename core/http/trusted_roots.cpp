#include "core/http/trusted_roots.hpp"

#include <mutex>
#include <vector>

#include "core/http/test_roots.hpp"

namespace zephlar::http {
namespace {

struct TestRoots {
  std::mutex mutex;
  std::vector<std::string> pems;
};

TestRoots& test_roots() {
  static TestRoots roots;
  return roots;
}

}  // namespace

std::string trusted_roots_pem() {
  std::string bundle(compiled_in_roots());
  auto& extra = test_roots();
  const std::lock_guard lock(extra.mutex);
  for (const auto& pem : extra.pems) {
    if (!bundle.empty() && bundle.back() != '\n') bundle.push_back('\n');
    bundle += pem;
  }
  return bundle;
}

namespace testing {

void add_trusted_root_for_tests(std::string pem) {
  auto& extra = test_roots();
  const std::lock_guard lock(extra.mutex);
  extra.pems.push_back(std::move(pem));
}

void clear_trusted_roots_for_tests() {
  auto& extra = test_roots();
  const std::lock_guard lock(extra.mutex);
  extra.pems.clear();
}

}  // namespace testing
}  // namespace zephlar::http
