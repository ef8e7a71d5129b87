#include "fennik/server/core/Uuid.h"

#include <absl/hash/hash.h>
#include <boost/uuid/name_generator_sha1.hpp>
#include <boost/uuid/random_generator.hpp>

#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace fennik::server {

namespace {

// Where each of the 16 bytes stands in the text "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx".
constexpr std::array<std::uint8_t, 16> BYTE_AT = {0, 2, 4, 6, 9, 11, 14, 16, 19, 21, 24, 26, 28, 30, 32, 34};

// A hex digit's value by character, -1 for anything else.
constexpr std::array<std::int8_t, 256> HEX_VALUE = [] {
  std::array<std::int8_t, 256> t{};
  for (auto& v : t) v = -1;
  for (int c = 0; c < 10; ++c) t['0' + c] = static_cast<std::int8_t>(c);
  for (int c = 0; c < 6; ++c) t['a' + c] = t['A' + c] = static_cast<std::int8_t>(10 + c);
  return t;
}();

// The two lower-case hex digits of every byte value: ids are written and
// read by the hundred thousand in a project, so both go by table.
constexpr std::array<char, 512> HEX_PAIR = [] {
  constexpr char DIGITS[] = "0123456789abcdef";
  std::array<char, 512> t{};
  for (int b = 0; b < 256; ++b) {
    t[2 * b] = DIGITS[b >> 4];
    t[2 * b + 1] = DIGITS[b & 0x0f];
  }
  return t;
}();

}  // namespace

std::size_t UuidHash::operator()(const Uuid& id) const noexcept {
  std::uint64_t high;
  std::uint64_t low;
  std::memcpy(&high, id.data, sizeof high);
  std::memcpy(&low, id.data + sizeof high, sizeof low);
  return absl::HashOf(high, low);
}

Uuid UuidFromS(std::string_view text) {
  auto fail = [&] { throw std::invalid_argument("Not a UUID: '" + std::string(text) + "'"); };
  if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') fail();
  Uuid id{};
  int bad = 0;  // any digit that is none makes it negative
  for (std::size_t i = 0; i < BYTE_AT.size(); ++i) {
    const int hi = HEX_VALUE[static_cast<unsigned char>(text[BYTE_AT[i]])];
    const int lo = HEX_VALUE[static_cast<unsigned char>(text[BYTE_AT[i] + 1u])];
    bad |= hi | lo;
    id.data[i] = static_cast<std::uint8_t>((hi << 4) | (lo & 0x0f));
  }
  if (bad < 0) fail();
  return id;
}

std::string UuidToS(const Uuid& id) {
  std::string text;
  appendUuidText(text, id);
  return text;
}

void appendUuidText(std::string& out, const Uuid& id) {
  char text[36];
  for (std::size_t i = 0; i < BYTE_AT.size(); ++i) std::memcpy(text + BYTE_AT[i], &HEX_PAIR[2u * id.data[i]], 2);
  text[8] = text[13] = text[18] = text[23] = '-';
  out.append(text, sizeof text);
}

Uuid random_uuid() {
  // Seeded once per thread: drawing an id must be cheap, it happens per entity.
  thread_local boost::uuids::random_generator_mt19937 generator;
  return generator();
}

Uuid nameUuid(const Uuid& nameSpace, std::string_view name) {
  boost::uuids::name_generator_sha1 generator(nameSpace);
  return generator(name.data(), name.size());
}

std::vector<Uuid> uuidVectorFromStringVector(const std::vector<std::string>& texts) {
  std::vector<Uuid> ids;
  ids.reserve(texts.size());
  for (const auto& t : texts) ids.push_back(UuidFromS(t));
  return ids;
}

std::vector<std::string> uuidVectorToStringVector(const std::vector<Uuid>& ids) {
  std::vector<std::string> texts;
  texts.reserve(ids.size());
  for (const auto& id : ids) texts.push_back(UuidToS(id));
  return texts;
}

}  // namespace fennik::server
