// The C-callable interface, driven only through the symbols that the shared
// library exports: loaded with dlopen, every entry looked up with dlsym and
// typed by its declaration in ffi/include/zephlar.h.
#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "ffi/c_api/entry_table.hpp"
#include "ffi/include/zephlar.h"
#include "tests/support/fake_service.hpp"

namespace {

using zephlar::testing::FakeService;
using zephlar::testing::ScriptedAnswer;
using Bytes = std::vector<std::uint8_t>;

void* library() {
  static void* handle = [] {
    void* h = dlopen(ZEPHLAR_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) ADD_FAILURE() << "dlopen: " << dlerror();
    return h;
  }();
  return handle;
}

void* symbol(const char* name) {
  void* lib = library();
  if (lib == nullptr) return nullptr;
  return dlsym(lib, name);
}

// The exported entry `fn`, typed by its declaration.
template <class F>
F* entry(const char* name) {
  void* address = symbol(name);
  if (address == nullptr) throw std::runtime_error(std::string("missing symbol ") + name);
  return reinterpret_cast<F*>(address);
}
#define ENTRY(fn) entry<decltype(fn)>(#fn)

ZephlarCallStatus fresh_status() { return ZephlarCallStatus{0, {0, 0, nullptr}}; }

Bytes bytes_of(const ZephlarByteBuffer& buffer) {
  if (buffer.len == 0) return {};
  return Bytes(buffer.data, buffer.data + buffer.len);
}

void free_buffer(ZephlarByteBuffer buffer) {
  ZephlarCallStatus status = fresh_status();
  ENTRY(ffi_zephlar_ffi_rustbuffer_free)(buffer, &status);
  EXPECT_EQ(status.code, 0);
}

// A buffer of the library holding `bytes`, as a caller passes an argument.
ZephlarByteBuffer buffer_of(const Bytes& bytes) {
  ZephlarCallStatus status = fresh_status();
  ZephlarByteBuffer buffer = ENTRY(ffi_zephlar_ffi_rustbuffer_alloc)(bytes.size(), &status);
  EXPECT_EQ(status.code, 0);
  if (!bytes.empty()) std::memcpy(buffer.data, bytes.data(), bytes.size());
  return buffer;
}
ZephlarByteBuffer text_buffer(std::string_view text) { return buffer_of(Bytes(text.begin(), text.end())); }

// The bytes of a received buffer, which is given back.
Bytes take_bytes(ZephlarByteBuffer buffer) {
  Bytes out = bytes_of(buffer);
  free_buffer(buffer);
  return out;
}
std::string as_text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The message of a code-2 status (its buffer freed).
std::string unexpected_message(ZephlarCallStatus& status) {
  EXPECT_EQ(status.code, 2);
  const std::string text = as_text(take_bytes(status.error_buf));
  status = fresh_status();
  return text;
}

std::uint32_t be32(const Bytes& b, std::size_t at) {
  return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) | (std::uint32_t{b[at + 2]} << 8) |
         b[at + 3];
}

struct LoweredError {
  std::int32_t variant = 0;
  std::string display;
};
// The error of a code-1 status (its buffer freed), checking its layout.
LoweredError lowered_error(ZephlarCallStatus& status) {
  EXPECT_EQ(status.code, 1);
  const Bytes b = take_bytes(status.error_buf);
  status = fresh_status();
  if (b.size() < 8) {
    ADD_FAILURE() << "error buffer of " << b.size() << " bytes";
    return {};
  }
  EXPECT_EQ(be32(b, 4), b.size() - 8);
  return {static_cast<std::int32_t>(be32(b, 0)), std::string(b.begin() + 8, b.end())};
}

// The text of a JSON-text result (its buffer freed), checking the count.
std::string json_text(ZephlarByteBuffer buffer) {
  const Bytes b = take_bytes(buffer);
  if (b.size() < 4) {
    ADD_FAILURE() << "JSON-text result of " << b.size() << " bytes";
    return {};
  }
  EXPECT_EQ(be32(b, 0), b.size() - 4);
  return std::string(b.begin() + 4, b.end());
}

void put32(Bytes& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}
void put64(Bytes& out, std::uint64_t v) {
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}
void put_text(Bytes& out, std::string_view text) {
  put32(out, static_cast<std::uint32_t>(text.size()));
  out.insert(out.end(), text.begin(), text.end());
}
void put_optional_text(Bytes& out, const std::optional<std::string>& text) {
  out.push_back(text ? 1 : 0);
  if (text) put_text(out, *text);
}

Bytes config_bytes(std::string_view base_url, std::optional<std::string> node_url = std::nullopt,
                   std::optional<std::string> api_key = std::nullopt, double timeout = 10.0,
                   std::uint32_t max_retries = 0, std::uint64_t cache_ttl = 300) {
  Bytes out;
  put_text(out, base_url);
  put_optional_text(out, node_url);
  put_optional_text(out, api_key);
  put64(out, std::bit_cast<std::uint64_t>(timeout));
  put32(out, max_retries);
  put64(out, cache_ttl);
  return out;
}

Bytes optional_amount(std::optional<std::uint64_t> amount) {
  Bytes out{static_cast<std::uint8_t>(amount ? 1 : 0)};
  if (amount) put64(out, *amount);
  return out;
}

// A client of the fake service (and of its node when `with_node`).
void* new_client(const FakeService& service, bool with_node) {
  ZephlarCallStatus status = fresh_status();
  void* client = ENTRY(uniffi_zephlar_ffi_fn_constructor_zephclient_new)(
      buffer_of(config_bytes(service.base_url(), with_node ? std::optional(service.base_url()) : std::nullopt)),
      &status);
  EXPECT_EQ(status.code, 0);
  EXPECT_NE(client, nullptr);
  return client;
}

void* clone_client(void* client) {
  ZephlarCallStatus status = fresh_status();
  return ENTRY(uniffi_zephlar_ffi_fn_clone_zephclient)(client, &status);
}

void free_client(void* client) {
  ZephlarCallStatus status = fresh_status();
  ENTRY(uniffi_zephlar_ffi_fn_free_zephclient)(client, &status);
  EXPECT_EQ(status.code, 0);
}

void free_stream(void* stream) {
  ZephlarCallStatus status = fresh_status();
  ENTRY(uniffi_zephlar_ffi_fn_free_quotestream)(stream, &status);
  EXPECT_EQ(status.code, 0);
}

// The names the table says the library exports.
std::set<std::string> interface_names() {
  std::set<std::string> names;
  const std::string item = "uniffi_zephlar_ffi_";
  const std::string support = "ffi_zephlar_ffi_";
#define OBJECT_NAMES(object)                     \
  names.insert(item + "fn_clone_" #object);      \
  names.insert(item + "fn_free_" #object);
  ZEPHLAR_C_OBJECTS(OBJECT_NAMES)
#define METHOD_NAMES(object, name, ...)                         \
  names.insert(item + "fn_method_" #object "_" #name);          \
  names.insert(item + "checksum_method_" #object "_" #name);
  ZEPHLAR_C_METHODS(METHOD_NAMES)
#define CONSTRUCTOR_NAMES(object, name, checksum)               \
  names.insert(item + "fn_constructor_" #object "_" #name);     \
  names.insert(item + "checksum_constructor_" #object "_" #name);
  ZEPHLAR_C_CONSTRUCTORS(CONSTRUCTOR_NAMES)
#define FUNCTION_NAMES(name, checksum)          \
  names.insert(item + "fn_func_" #name);        \
  names.insert(item + "checksum_func_" #name);
  ZEPHLAR_C_FUNCTIONS(FUNCTION_NAMES)
#define BUFFER_NAMES(name) names.insert(support + "rustbuffer_" #name);
  ZEPHLAR_C_BUFFER_ENTRIES(BUFFER_NAMES)
  for (const char* operation : {"poll", "cancel", "complete", "free"}) {
#define FUTURE_NAMES(suffix) names.insert(support + "rust_future_" + operation + "_" #suffix);
    ZEPHLAR_C_FUTURE_TYPES(FUTURE_NAMES)
  }
  names.insert(support + "uniffi_contract_version");
#define DATA_NAMES(name) names.insert(#name);
  ZEPHLAR_C_DATA_OBJECTS(DATA_NAMES)
  return names;
}

// The one symbol the library may export besides the interface: the entry
// of the Python module.
constexpr std::string_view python_entry = "PyInit_zephlar";

std::set<std::string> without_python_entry(std::set<std::string> names) {
  names.erase(std::string(python_entry));
  return names;
}

// ------------------------------------------------------------ the symbols

TEST(CApiSymbols, TableCountsAreThoseOfTheInterface) {
  const auto names = interface_names();
  // 151 functions and two data objects.
  EXPECT_EQ(names.size(), 153u);
  for (const auto& name : names) EXPECT_NE(symbol(name.c_str()), nullptr) << name;
}

TEST(CApiSymbols, LibraryExportsExactlyTheInterface) {
  const std::string command = std::string(ZEPHLAR_NM) + " -D --defined-only " + ZEPHLAR_LIBRARY_PATH;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> exported;
  std::array<char, 512> line{};
  while (std::fgets(line.data(), line.size(), pipe) != nullptr) {
    std::istringstream fields{std::string(line.data())};
    std::string address, kind, name;
    fields >> address >> kind >> name;
    if (name.empty()) continue;
    name = name.substr(0, name.find('@'));  // no version tag expected, but tolerated
    exported.insert(name);
  }
  ASSERT_EQ(pclose(pipe), 0) << command;
  EXPECT_EQ(without_python_entry(exported), interface_names());
}

TEST(CApiSymbols, VersionScriptListsExactlyTheInterface) {
  std::ifstream file(ZEPHLAR_MAP_PATH);
  ASSERT_TRUE(file) << ZEPHLAR_MAP_PATH;
  std::set<std::string> listed;
  std::string token;
  bool global = false;
  while (file >> token) {
    if (token == "global:") {
      global = true;
    } else if (token == "local:") {
      global = false;
    } else if (global && token.size() > 1 && token.back() == ';') {
      listed.insert(token.substr(0, token.size() - 1));
    }
  }
  const auto expected = interface_names();
  EXPECT_EQ(without_python_entry(listed), expected);
  if (without_python_entry(listed) != expected) {
    std::string map;
    for (const auto& name : expected) map += "    " + name + ";\n";
    ADD_FAILURE() << "the global names of ffi/zephlar.map should be:\n" << map;
  }
}

TEST(CApiSymbols, ChecksumsAndContractVersion) {
  EXPECT_EQ(ENTRY(ffi_zephlar_ffi_uniffi_contract_version)(), 26u);
  EXPECT_EQ(ENTRY(uniffi_zephlar_ffi_checksum_method_zephclient_list_pairs)(), 39253);
  struct Expected {
    std::string name;
    std::uint16_t value;
  };
  std::vector<Expected> table;
#define METHOD_CHECKSUM(object, name, checksum, ...) \
  table.push_back({"uniffi_zephlar_ffi_checksum_method_" #object "_" #name, checksum});
  ZEPHLAR_C_METHODS(METHOD_CHECKSUM)
#define CONSTRUCTOR_CHECKSUM(object, name, checksum) \
  table.push_back({"uniffi_zephlar_ffi_checksum_constructor_" #object "_" #name, checksum});
  ZEPHLAR_C_CONSTRUCTORS(CONSTRUCTOR_CHECKSUM)
#define FUNCTION_CHECKSUM(name, checksum) table.push_back({"uniffi_zephlar_ffi_checksum_func_" #name, checksum});
  ZEPHLAR_C_FUNCTIONS(FUNCTION_CHECKSUM)
  ASSERT_EQ(table.size(), 45u);
  for (const auto& [name, value] : table) {
    using Checksum = std::uint16_t();
    EXPECT_EQ(entry<Checksum>(name.c_str())(), value) << name;
  }
  // A few values straight from the published list, independent of the table.
  EXPECT_EQ(ENTRY(uniffi_zephlar_ffi_checksum_constructor_zephclient_new)(), 50570);
  EXPECT_EQ(ENTRY(uniffi_zephlar_ffi_checksum_func_to_display_units)(), 22281);
  EXPECT_EQ(ENTRY(uniffi_zephlar_ffi_checksum_method_zephclient_estimate_swap_fees)(), 371);
  EXPECT_EQ(ENTRY(uniffi_zephlar_ffi_checksum_method_quotestream_recv)(), 62107);
}

TEST(CApiSymbols, DataObjects) {
  const std::string package = "zephlar_ffi";
  Bytes namespace_object{0x06, static_cast<std::uint8_t>(package.size())};
  namespace_object.insert(namespace_object.end(), package.begin(), package.end());
  for (const std::string part : {"zephlar"}) {
    namespace_object.push_back(7);
    namespace_object.insert(namespace_object.end(), part.begin(), part.end());
  }
  Bytes interface_object = namespace_object;
  interface_object[0] = 0x08;
  interface_object.push_back(7);
  for (char c : std::string("zephlar")) interface_object.push_back(static_cast<std::uint8_t>(c));

  ASSERT_EQ(namespace_object.size(), 21u);
  ASSERT_EQ(interface_object.size(), 29u);
  const auto* ns = static_cast<const std::uint8_t*>(symbol("UNIFFI_META_NAMESPACE_ZEPHLAR"));
  const auto* udl = static_cast<const std::uint8_t*>(symbol("UNIFFI_META_UDL_ZEPHLAR"));
  ASSERT_NE(ns, nullptr);
  ASSERT_NE(udl, nullptr);
  EXPECT_EQ(Bytes(ns, ns + 21), namespace_object);
  EXPECT_EQ(Bytes(udl, udl + 29), interface_object);
  static_assert(sizeof(UNIFFI_META_NAMESPACE_ZEPHLAR) == 21 && sizeof(UNIFFI_META_UDL_ZEPHLAR) == 29);
}

TEST(CApiSymbols, StructuresHaveTheContractLayout) {
  static_assert(sizeof(ZephlarByteBuffer) == 24 && offsetof(ZephlarByteBuffer, len) == 8 &&
                offsetof(ZephlarByteBuffer, data) == 16);
  static_assert(sizeof(ZephlarBorrowedBytes) == 16 && offsetof(ZephlarBorrowedBytes, data) == 8);
  static_assert(sizeof(ZephlarCallStatus) == 32 && offsetof(ZephlarCallStatus, error_buf) == 8);
  SUCCEED();
}

// ------------------------------------------------------------ buffers

TEST(CApiBuffers, AllocateGivesZeroedBuffersAndRefusesHugeSizes) {
  auto alloc = ENTRY(ffi_zephlar_ffi_rustbuffer_alloc);
  ZephlarCallStatus status = fresh_status();

  ZephlarByteBuffer empty = alloc(0, &status);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(empty.capacity, 0u);
  EXPECT_EQ(empty.len, 0u);
  EXPECT_NE(empty.data, nullptr);
  free_buffer(empty);

  ZephlarByteBuffer five = alloc(5, &status);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(five.capacity, 5u);
  EXPECT_EQ(five.len, 5u);
  EXPECT_EQ(bytes_of(five), Bytes(5, 0));
  free_buffer(five);

  for (const std::uint64_t size : {std::uint64_t{1} << 63, ~std::uint64_t{0}}) {
    ZephlarByteBuffer refused = alloc(size, &status);
    EXPECT_EQ(unexpected_message(status), "capacity overflow") << size;
    EXPECT_EQ(refused.capacity, 0u);
    EXPECT_EQ(refused.len, 0u);
    EXPECT_EQ(refused.data, nullptr);
  }
}

TEST(CApiBuffers, FromBytes) {
  auto from_bytes = ENTRY(ffi_zephlar_ffi_rustbuffer_from_bytes);
  const std::uint8_t source[3] = {'a', 'b', 'c'};
  ZephlarCallStatus status = fresh_status();

  ZephlarByteBuffer copy = from_bytes({3, source}, &status);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(copy.capacity, 3u);
  EXPECT_NE(copy.data, source);
  EXPECT_EQ(take_bytes(copy), (Bytes{'a', 'b', 'c'}));

  for (const std::uint8_t* data : {static_cast<const std::uint8_t*>(nullptr), source}) {
    ZephlarByteBuffer nothing = from_bytes({0, data}, &status);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(nothing.capacity, 0u);
    EXPECT_EQ(nothing.len, 0u);
    EXPECT_NE(nothing.data, nullptr);
    free_buffer(nothing);
  }

  ZephlarByteBuffer negative = from_bytes({-1, source}, &status);
  EXPECT_EQ(unexpected_message(status).rfind("bytes length negative or overflowed", 0), 0u);
  EXPECT_EQ(negative.data, nullptr);
  EXPECT_EQ(negative.capacity, 0u);

  ZephlarByteBuffer null_data = from_bytes({4, nullptr}, &status);
  EXPECT_EQ(unexpected_message(status), "null BorrowedBytes had non-zero length");
  EXPECT_EQ(null_data.data, nullptr);
}

TEST(CApiBuffers, ReserveKeepsContentAndGrows) {
  auto reserve = ENTRY(ffi_zephlar_ffi_rustbuffer_reserve);
  ZephlarCallStatus status = fresh_status();

  // Room enough: the same buffer comes back.
  ZephlarByteBuffer buffer = text_buffer("abcdef");
  buffer.len = 2;
  std::uint8_t* const data = buffer.data;
  buffer = reserve(buffer, 4, &status);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(buffer.data, data);
  EXPECT_EQ(buffer.capacity, 6u);
  EXPECT_EQ(buffer.len, 2u);

  struct Case {
    std::uint64_t additional;
    std::uint64_t capacity;  // max(8, 2 * 6, 2 + additional)
  };
  for (const Case c : {Case{5, 12}, Case{11, 13}, Case{100, 102}}) {
    ZephlarByteBuffer grown = reserve(buffer_of(Bytes{'a', 'b', 'c', 'd', 'e', 'f'}), 0, &status);
    grown.len = 2;
    grown = reserve(grown, c.additional, &status);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(grown.capacity, c.capacity) << c.additional;
    EXPECT_EQ(grown.len, 2u);
    EXPECT_EQ(grown.data[0], 'a');
    EXPECT_EQ(grown.data[1], 'b');
    std::memset(grown.data, 0x5a, grown.capacity);  // every byte of the capacity is the caller's
    free_buffer(grown);
  }
  free_buffer(buffer);

  // From an empty buffer: at least 8.
  ZephlarByteBuffer from_empty = reserve({0, 0, nullptr}, 1, &status);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(from_empty.capacity, 8u);
  EXPECT_EQ(from_empty.len, 0u);
  free_buffer(from_empty);

  // Beyond 2^63 - 1: refused, and the buffer given is released (no leak).
  ZephlarByteBuffer refused = reserve(text_buffer("xyz"), std::uint64_t{1} << 63, &status);
  EXPECT_EQ(unexpected_message(status), "capacity overflow");
  EXPECT_EQ(refused.data, nullptr);
  EXPECT_EQ(refused.capacity, 0u);
}

TEST(CApiBuffers, BuffersHandedInAreVerified) {
  struct Case {
    const char* label;
    std::uint64_t capacity;
    std::uint64_t len;
    bool null_data;
    const char* message;
  };
  const Case cases[] = {
      {"length above capacity", 4, 5, false, "ByteBuffer length exceeds capacity"},
      {"null with capacity", 3, 0, true, "null ByteBuffer had non-zero capacity"},
      {"null with capacity and length", 3, 3, true, "null ByteBuffer had non-zero capacity"},
      {"null with length", 0, 2, true, "null ByteBuffer had non-zero length"},
  };
  for (const Case& c : cases) {
    for (const bool reserve : {false, true}) {
      ZephlarByteBuffer buffer{c.capacity, c.len, nullptr};
      if (!c.null_data) {
        buffer = text_buffer(std::string(c.capacity, 'x'));
        buffer.len = c.len;
      }
      ZephlarCallStatus status = fresh_status();
      if (reserve) {
        const ZephlarByteBuffer out = ENTRY(ffi_zephlar_ffi_rustbuffer_reserve)(buffer, 1, &status);
        EXPECT_EQ(out.data, nullptr) << c.label;
      } else {
        ENTRY(ffi_zephlar_ffi_rustbuffer_free)(buffer, &status);
      }
      EXPECT_EQ(unexpected_message(status), c.message) << c.label << (reserve ? " (reserve)" : " (free)");
    }
  }
}

TEST(CApiBuffers, AMillionCheapCallsLeaveNothingBehind) {
  auto alloc = ENTRY(ffi_zephlar_ffi_rustbuffer_alloc);
  auto release = ENTRY(ffi_zephlar_ffi_rustbuffer_free);
  auto to_display = ENTRY(uniffi_zephlar_ffi_fn_func_to_display_units);
  ZephlarCallStatus status = fresh_status();
  double sum = 0;
  for (int i = 0; i < 500'000; ++i) {
    const ZephlarByteBuffer buffer = alloc(static_cast<std::uint64_t>(i % 64), &status);
    release(buffer, &status);
    sum += to_display(250, 2, &status);
  }
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(status.error_buf.data, nullptr);
  EXPECT_DOUBLE_EQ(sum, 2.5 * 500'000);
}

// ------------------------------------------------------------ free functions, asynchronous calls

TEST(CApiFunctions, UnitConversions) {
  auto to_display = ENTRY(uniffi_zephlar_ffi_fn_func_to_display_units);
  auto to_smallest = ENTRY(uniffi_zephlar_ffi_fn_func_to_smallest_units);
  ZephlarCallStatus status = fresh_status();
  EXPECT_EQ(to_display(250, 2, &status), 2.5);
  EXPECT_EQ(to_display(5, 0, &status), 5.0);
  // From 2^63 up the amount reads as negative.
  EXPECT_EQ(to_display(~std::uint64_t{0}, 0, &status), -1.0);

  EXPECT_EQ(to_smallest(2.5, 2, &status), 250u);
  EXPECT_EQ(to_smallest(0.5, 0, &status), 1u);
  EXPECT_EQ(to_smallest(2.5, 0, &status), 3u);
  EXPECT_EQ(to_smallest(-0.5, 0, &status), ~std::uint64_t{0});  // -1, two's complement
  EXPECT_EQ(to_smallest(std::nan(""), 0, &status), 0u);
  EXPECT_EQ(to_smallest(1e300, 0, &status), std::uint64_t{0x7fff'ffff'ffff'ffff});
  EXPECT_EQ(to_smallest(-1e300, 0, &status), std::uint64_t{1} << 63);
  EXPECT_EQ(status.code, 0);
}

TEST(CApiFunctions, AsynchronousCallEntriesHaveNoCallToComplete) {
  ZephlarCallStatus status = fresh_status();
  ENTRY(ffi_zephlar_ffi_rust_future_poll_u8)(1, nullptr, 7);
  ENTRY(ffi_zephlar_ffi_rust_future_cancel_u8)(1);
  EXPECT_EQ(ENTRY(ffi_zephlar_ffi_rust_future_complete_u8)(1, &status), 0);
  EXPECT_EQ(status.code, 2);
  EXPECT_FALSE(unexpected_message(status).empty());
  const ZephlarByteBuffer none = ENTRY(ffi_zephlar_ffi_rust_future_complete_rust_buffer)(1, &status);
  EXPECT_EQ(none.data, nullptr);
  unexpected_message(status);
  ENTRY(ffi_zephlar_ffi_rust_future_complete_void)(1, &status);
  unexpected_message(status);
  ENTRY(ffi_zephlar_ffi_rust_future_free_u8)(1);
}

// ------------------------------------------------------------ the constructor

TEST(CApiConstructor, TheDocumentedRecordBuildsAClient) {
  const Bytes record{0x00, 0x00, 0x00, 0x03, 0x61, 0x62, 0x63, 0x00, 0x00, 0x40, 0x3E, 0x00, 0x00, 0x00, 0x00,
                     0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x2C};
  ASSERT_EQ(record, config_bytes("abc", std::nullopt, std::nullopt, 30.0, 3, 300));
  ASSERT_EQ(record.size(), 29u);

  // A success leaves the status exactly as it was, error_buf included.
  std::uint8_t marker = 0;
  ZephlarCallStatus status{0, {11, 22, &marker}};
  void* client = ENTRY(uniffi_zephlar_ffi_fn_constructor_zephclient_new)(buffer_of(record), &status);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(status.error_buf.capacity, 11u);
  EXPECT_EQ(status.error_buf.len, 22u);
  EXPECT_EQ(status.error_buf.data, &marker);

  // No node URL: has_node is false, with the status untouched.
  status = fresh_status();
  EXPECT_EQ(ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_has_node)(client, &status), 0);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(status.error_buf.data, nullptr);
}

TEST(CApiConstructor, RecordsThatDoNotDecode) {
  Bytes smallest = config_bytes("", std::nullopt, std::nullopt, 30.0, 3, 300);
  ASSERT_EQ(smallest.size(), 26u);
  // The record cut at `at`, then `replacement`.
  const auto with = [](Bytes b, std::size_t at, std::vector<std::uint8_t> replacement) {
    b.erase(b.begin() + static_cast<std::ptrdiff_t>(at), b.end());
    b.insert(b.end(), replacement.begin(), replacement.end());
    return b;
  };
  const auto text_record = [](Bytes url) {
    Bytes b;
    put32(b, static_cast<std::uint32_t>(url.size()));
    b.insert(b.end(), url.begin(), url.end());
    Bytes tail = config_bytes("");
    b.insert(b.end(), tail.begin() + 4, tail.end());
    return b;
  };
  const auto patched = [](Bytes b, std::size_t at, std::vector<std::uint8_t> replacement) {
    std::copy(replacement.begin(), replacement.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    return b;
  };
  Bytes junk = smallest;
  junk.push_back(0);
  Bytes short_timeout(smallest.begin(), smallest.begin() + 4 + 1 + 1 + 5);
  Bytes tag_two = smallest;
  tag_two[4] = 2;
  Bytes api_tag_two = smallest;
  api_tag_two[5] = 7;

  struct Case {
    const char* label;
    Bytes record;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"one byte too many", junk, "junk data left in buffer after lifting (count: 1)"},
      {"node_url tag 2", tag_two, "unexpected tag byte for Option"},
      {"api_key tag 7", api_tag_two, "unexpected tag byte for Option"},
      {"timeout cut short", short_timeout, "not enough bytes remaining in buffer (5 < 8)"},
      {"empty record", {}, "not enough bytes remaining in buffer (0 < 4)"},
      {"count beyond the record", patched(smallest, 0, {0, 0, 0, 40}), "not enough bytes remaining in buffer (22 < 40)"},
      {"negative count", patched(smallest, 0, {0xff, 0xff, 0xff, 0xfe}), "out of range integral type conversion attempted"},
      {"node_url cut inside its count", with(smallest, 4, {1, 0, 0}), "not enough bytes remaining in buffer (2 < 4)"},
      {"stray continuation byte", text_record({'a', 0x80, 'b'}), "invalid utf-8 sequence of 1 bytes from index 1"},
      {"byte 0xff", text_record({'a', 'b', 0xff}), "invalid utf-8 sequence of 1 bytes from index 2"},
      {"overlong form", text_record({0xe0, 0x80, 0x80}), "invalid utf-8 sequence of 1 bytes from index 0"},
      {"surrogate", text_record({'x', 0xed, 0xa0, 0x80}), "invalid utf-8 sequence of 1 bytes from index 1"},
      {"bad third byte", text_record({0xe2, 0x82, 'x'}), "invalid utf-8 sequence of 2 bytes from index 0"},
      {"bad fourth byte", text_record({0xf0, 0x9f, 0x98, 'A'}), "invalid utf-8 sequence of 3 bytes from index 0"},
      {"above U+10FFFF", text_record({0xf4, 0x90, 0x80, 0x80}), "invalid utf-8 sequence of 1 bytes from index 0"},
      {"text ends inside a sequence", text_record({'a', 'b', 0xe2, 0x82}), "incomplete utf-8 byte sequence from index 2"},
      {"text ends after a lead byte", text_record({0xf0}), "incomplete utf-8 byte sequence from index 0"},
  };
  auto construct = ENTRY(uniffi_zephlar_ffi_fn_constructor_zephclient_new);
  for (const Case& c : cases) {
    ZephlarCallStatus status = fresh_status();
    void* client = construct(buffer_of(c.record), &status);
    EXPECT_EQ(client, nullptr) << c.label;
    EXPECT_EQ(unexpected_message(status), "Failed to convert arg 'config': " + c.error) << c.label;
  }

  // Valid records, for contrast: the smallest one, and valid multi-byte text.
  for (const Bytes& record : {smallest, text_record({'h', 0xc3, 0xa9, 0xe2, 0x82, 0xac, 0xf0, 0x9f, 0x98, 0x80})}) {
    ZephlarCallStatus status = fresh_status();
    void* client = construct(buffer_of(record), &status);
    EXPECT_EQ(status.code, 0);
    ASSERT_NE(client, nullptr);
    free_client(client);
  }
}

TEST(CApiConstructor, TimeoutsThatCannotBeTimeSpansAreFaults) {
  for (const double timeout : {-1.0, std::nan(""), 1e20, std::numeric_limits<double>::infinity()}) {
    ZephlarCallStatus status = fresh_status();
    void* client = ENTRY(uniffi_zephlar_ffi_fn_constructor_zephclient_new)(
        buffer_of(config_bytes("http://127.0.0.1:1", std::nullopt, std::nullopt, timeout)), &status);
    EXPECT_EQ(client, nullptr) << timeout;
    const std::string message = unexpected_message(status);
    EXPECT_NE(message.find("cannot convert float seconds to Duration"), std::string::npos) << message;
  }
}

// ------------------------------------------------------------ handles and methods

TEST(CApiHandles, CloneFreeAndConsumedReferences) {
  FakeService service;
  void* client = new_client(service, /*with_node=*/true);
  ZephlarCallStatus status = fresh_status();

  // Clone returns the same handle and never writes the status.
  std::uint8_t marker = 0;
  ZephlarCallStatus untouched{0, {1, 1, &marker}};
  EXPECT_EQ(ENTRY(uniffi_zephlar_ffi_fn_clone_zephclient)(client, &untouched), client);
  EXPECT_EQ(untouched.error_buf.data, &marker);
  free_client(client);  // back to one reference

  // Each method call consumes the reference it is given.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_has_node)(clone_client(client), &status), 1);
  }
  // The last reference, consumed by a method: the client is gone afterwards
  // (the sanitizers see to the rest).
  EXPECT_EQ(ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_has_node)(client, &status), 1);
  EXPECT_EQ(status.code, 0);

  // Free with a null handle: the not-null assertion, nothing else.
  ENTRY(uniffi_zephlar_ffi_fn_free_zephclient)(nullptr, &status);
  EXPECT_EQ(unexpected_message(status), "assertion failed: !ptr.is_null()");
  ENTRY(uniffi_zephlar_ffi_fn_free_quotestream)(nullptr, &status);
  EXPECT_EQ(unexpected_message(status), "assertion failed: !ptr.is_null()");
}

TEST(CApiHandles, AnEmptyNodeUrlCountsAsANode) {
  ZephlarCallStatus status = fresh_status();
  void* client = ENTRY(uniffi_zephlar_ffi_fn_constructor_zephclient_new)(
      buffer_of(config_bytes("http://127.0.0.1:1", std::string(), std::string("key"))), &status);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_has_node)(client, &status), 1);
  EXPECT_EQ(status.code, 0);
}

TEST(CApiHandles, AStreamOutlivesItsClient) {
  FakeService service;
  void* client = new_client(service, false);
  ZephlarCallStatus status = fresh_status();
  void* stream =
      ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_create_quote_stream)(clone_client(client), text_buffer("BTC/USDT"),
                                                                       &status);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(status.code, 0);
  free_client(client);

  auto clone_stream = [&] { return ENTRY(uniffi_zephlar_ffi_fn_clone_quotestream)(stream, &status); };
  // The fake service speaks no WebSocket: nothing is ever received.
  EXPECT_EQ(take_bytes(ENTRY(uniffi_zephlar_ffi_fn_method_quotestream_recv)(clone_stream(), 0.0, &status)), Bytes{0});
  EXPECT_EQ(status.code, 0);

  // Seconds that cannot be a time span: a fault, and the stream stays usable.
  struct Case {
    double seconds;
    const char* message;
  };
  for (const Case c : {Case{-1.0, "cannot convert float seconds to Duration: value is negative"},
                       Case{std::nan(""), "cannot convert float seconds to Duration: value is either too big or NaN"},
                       Case{1e20, "cannot convert float seconds to Duration: value is either too big or NaN"}}) {
    const ZephlarByteBuffer out = ENTRY(uniffi_zephlar_ffi_fn_method_quotestream_recv)(clone_stream(), c.seconds, &status);
    EXPECT_EQ(out.data, nullptr);
    EXPECT_EQ(unexpected_message(status), c.message);
  }

  ENTRY(uniffi_zephlar_ffi_fn_method_quotestream_close)(clone_stream(), &status);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(ENTRY(uniffi_zephlar_ffi_fn_method_quotestream_is_connected)(clone_stream(), &status), 0);
  EXPECT_EQ(take_bytes(ENTRY(uniffi_zephlar_ffi_fn_method_quotestream_recv)(clone_stream(), 0.0, &status)), Bytes{0});
  EXPECT_EQ(status.code, 0);
  free_stream(stream);
}

class CApiOperations : public ::testing::Test {
 protected:
  void SetUp() override {
    client_ = new_client(service_, true);
    plain_ = new_client(service_, false);
  }
  void TearDown() override {
    free_client(client_);
    free_client(plain_);
  }
  // A reference to pass to a method, keeping our own.
  void* client() { return clone_client(client_); }
  void* without_node() { return clone_client(plain_); }
  std::size_t requests_to(std::string_view path) const {
    std::size_t n = 0;
    for (const auto& request : service_.requests()) n += request.path() == path ? 1 : 0;
    return n;
  }

  FakeService service_;
  void* client_ = nullptr;
  void* plain_ = nullptr;
};

TEST_F(CApiOperations, JsonTextResults) {
  ZephlarCallStatus status = fresh_status();
  const std::string pairs = json_text(ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_list_pairs)(client(), &status));
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(pairs.front(), '[');
  EXPECT_NE(pairs.find("\"USDT\""), std::string::npos);

  const std::string balance = json_text(ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_get_btc_balance)(client(), &status));
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(balance.rfind("{\"confirmed\":", 0), 0u) << balance;

  const std::string quote = json_text(ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_get_quote_by_assets)(
      client(), text_buffer("BTC"), text_buffer("USDT"), buffer_of(optional_amount(100000)),
      buffer_of(optional_amount(std::nullopt)), &status));
  EXPECT_EQ(status.code, 0);
  EXPECT_NE(quote.find("100000"), std::string::npos) << quote;
}

TEST_F(CApiOperations, ErrorsArriveLowered) {
  ZephlarCallStatus status = fresh_status();

  // A node method on a client without a node.
  EXPECT_EQ(ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_list_peers)(without_node(), &status).data, nullptr);
  ASSERT_EQ(status.code, 1);
  const Bytes node_error = bytes_of(status.error_buf);
  Bytes expected{0, 0, 0, 7, 0, 0, 0, 19};
  for (char c : std::string("Node not configured")) expected.push_back(static_cast<std::uint8_t>(c));
  EXPECT_EQ(node_error, expected);
  free_buffer(status.error_buf);
  status = fresh_status();

  // A swap that is not final when the time is up: the 21-byte TimeoutError.
  ScriptedAnswer waiting;
  waiting.body =
      R"({"swap":{"qty_from":100000,"qty_to":94380000,"from_asset":"BTC","to_asset":"USDT","payment_hash":"h",)"
      R"("status":"Waiting","requested_at":1,"initiated_at":null,"expires_at":601,"completed_at":null}})";
  service_.script("POST", "/api/v1/swaps/atomic/status", {waiting});
  const ZephlarByteBuffer none = ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_wait_for_swap_completion)(
      client(), text_buffer("h"), 0.0, 1.0, &status);
  EXPECT_EQ(none.data, nullptr);
  ASSERT_EQ(status.code, 1);
  Bytes timeout{0, 0, 0, 4, 0, 0, 0, 0x0D};
  for (char c : std::string("Timeout error")) timeout.push_back(static_cast<std::uint8_t>(c));
  EXPECT_EQ(bytes_of(status.error_buf), timeout);
  EXPECT_EQ(timeout.size(), 21u);
  free_buffer(status.error_buf);
  status = fresh_status();

  // An empty text argument given as the empty buffer.
  ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_get_pair_by_ticker)(client(), {0, 0, nullptr}, &status);
  const LoweredError not_found = lowered_error(status);
  EXPECT_EQ(not_found.variant, 6);
  EXPECT_EQ(not_found.display, "Not found: Trading pair not found: ");

  // The fee estimate never gives a number.
  EXPECT_EQ(ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_estimate_swap_fees)(client(), text_buffer("BTC/USDT"), 1000,
                                                                           &status),
            0u);
  const LoweredError fees = lowered_error(status);
  EXPECT_EQ(fees.variant, 8);
  EXPECT_EQ(fees.display, "Internal error: Not implemented");

  // An answer outside 2xx.
  service_.script("GET", "/api/v1/market/assets", {ScriptedAnswer{403, "{}", {}, {}, ScriptedAnswer::Fault::none}});
  ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_list_assets)(client(), &status);
  const LoweredError forbidden = lowered_error(status);
  EXPECT_EQ(forbidden.variant, 2);
  EXPECT_EQ(forbidden.display, "API error: Forbidden");
}

TEST_F(CApiOperations, OptionalAmountsThatDoNotDecode) {
  struct Case {
    const char* label;
    Bytes from_amount;
    Bytes to_amount;
    std::string message;
  };
  Bytes junk_after_absent{0, 0};
  Bytes present_short{1, 0, 0, 0};
  const std::vector<Case> cases = {
      {"empty from_amount", {}, {0}, "Failed to convert arg 'from_amount': not enough bytes remaining in buffer (0 < 1)"},
      {"tag alone", {1}, {0}, "Failed to convert arg 'from_amount': not enough bytes remaining in buffer (0 < 8)"},
      {"short amount", present_short, {0}, "Failed to convert arg 'from_amount': not enough bytes remaining in buffer (3 < 8)"},
      {"junk after absent", junk_after_absent, {0}, "Failed to convert arg 'from_amount': junk data left in buffer after lifting (count: 1)"},
      {"tag 2", {2}, {0}, "Failed to convert arg 'from_amount': unexpected tag byte for Option"},
      {"bad to_amount", optional_amount(5), {9}, "Failed to convert arg 'to_amount': unexpected tag byte for Option"},
      {"both bad: the first is reported", {}, {}, "Failed to convert arg 'from_amount': not enough bytes remaining in buffer (0 < 1)"},
  };
  ZephlarCallStatus status = fresh_status();
  for (const Case& c : cases) {
    EXPECT_EQ(ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_get_best_quote)(
                  client(), text_buffer("BTC/USDT"), buffer_of(c.from_amount), buffer_of(c.to_amount), &status)
                  .data,
              nullptr);
    EXPECT_EQ(unexpected_message(status), c.message) << c.label;
    ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_get_quote_by_pair)(client(), text_buffer("BTC/USDT"),
                                                                    buffer_of(c.from_amount), buffer_of(c.to_amount),
                                                                    &status);
    EXPECT_EQ(unexpected_message(status), c.message) << c.label;
  }
  EXPECT_EQ(requests_to("/api/v1/market/quote"), 0u);

  // Present and absent amounts decode; the core then wants exactly one.
  ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_get_quote_by_pair)(
      client(), text_buffer("BTC/USDT"), buffer_of(optional_amount(std::nullopt)),
      buffer_of(optional_amount(std::nullopt)), &status);
  EXPECT_EQ(lowered_error(status).variant, 3);
  const std::string quote = json_text(ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_get_quote_by_pair)(
      client(), text_buffer("BTC/USDT"), buffer_of(optional_amount(1000)), buffer_of(optional_amount(std::nullopt)),
      &status));
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(requests_to("/api/v1/market/quote"), 1u);
}

TEST_F(CApiOperations, BooleansOptionalTextsAndBrokenBuffers) {
  ZephlarCallStatus status = fresh_status();
  // accept = 2: refused, and the reference passed along is released all the
  // same (the client still frees cleanly in TearDown).
  for (const std::int8_t accept : {std::int8_t{2}, std::int8_t{-1}}) {
    ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_swap_order_rate_decision)(client(), text_buffer("order-1"), accept,
                                                                           &status);
    EXPECT_EQ(unexpected_message(status), "Failed to convert arg 'accept': unexpected byte for Boolean");
  }
  EXPECT_EQ(requests_to("/api/v1/swaps/orders/rate_decision"), 0u);
  json_text(ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_swap_order_rate_decision)(client(), text_buffer("order-1"),
                                                                                   1, &status));
  EXPECT_EQ(status.code, 0);

  // The status filter: 00 is no filter; 00 followed by anything is junk.
  json_text(ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_get_order_history)(client(), buffer_of({0}), 10, 0, &status));
  EXPECT_EQ(status.code, 0);
  ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_get_order_history)(client(), buffer_of({0, 0}), 10, 0, &status);
  EXPECT_EQ(unexpected_message(status),
            "Failed to convert arg 'status': junk data left in buffer after lifting (count: 1)");
  Bytes filled{1};
  put_text(filled, "FILLED");
  const std::string history = json_text(
      ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_get_order_history)(client(), buffer_of(filled), 10, 0, &status));
  EXPECT_EQ(status.code, 0);
  ASSERT_FALSE(service_.requests().empty());
  EXPECT_NE(service_.requests().back().target.find("status=FILLED"), std::string::npos);
  // A filter holding a NUL byte is never cut short into another filter: the
  // call fails before anything is sent.
  const std::size_t sent = service_.requests().size();
  Bytes filled_nul{1};
  put_text(filled_nul, std::string_view("FILLED\0junk", 11));
  ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_get_order_history)(client(), buffer_of(filled_nul), 10, 0, &status);
  EXPECT_EQ(lowered_error(status).display, "Network error: HTTP request failed");
  EXPECT_EQ(service_.requests().size(), sent);

  // A text buffer that fails verification: the verification message itself,
  // and the later argument is released unread.
  ZephlarByteBuffer broken = text_buffer("BTC/USDT");
  broken.len = broken.capacity + 1;
  ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_get_best_quote)(client(), broken, buffer_of(optional_amount(1)),
                                                                buffer_of({0}), &status);
  EXPECT_EQ(unexpected_message(status), "ByteBuffer length exceeds capacity");

  // Seconds that cannot be a time span, before any request.
  const std::size_t before = requests_to("/api/v1/swaps/atomic/status");
  ENTRY(uniffi_zephlar_ffi_fn_method_zephclient_wait_for_swap_completion)(client(), text_buffer("h"), -1.0, 1.0,
                                                                          &status);
  EXPECT_EQ(unexpected_message(status), "cannot convert float seconds to Duration: value is negative");
  EXPECT_EQ(requests_to("/api/v1/swaps/atomic/status"), before);
}

}  // namespace
