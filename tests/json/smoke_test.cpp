#include <gtest/gtest.h>

#include "tests/support/type_registry.hpp"

TEST(Smoke, Probe) {
  auto r = zephlar::testing::probe("value", "{\"b\":1,\"a\":[1.5,-0,true]}", zephlar::json::Source::response_body);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->text, "{\"a\":[1.5,-0.0,true],\"b\":1}");
}
