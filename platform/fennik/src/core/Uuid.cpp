#include "fennik/server/core/Uuid.h"

#include <absl/hash/hash.h>
#include <boost/uuid/name_generator_sha1.hpp>
#include <boost/uuid/random_generator.hpp>

#include <stdexcept>

namespace fennik::server {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

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
  if (text.size() != 36) fail();
  Uuid id{};
  std::size_t byte = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') fail();
      ++i;
      continue;
    }
    int hi = hexValue(text[i]);
    int lo = hexValue(text[i + 1]);
    if (hi < 0 || lo < 0) fail();
    id.data[byte++] = static_cast<std::uint8_t>(hi * 16 + lo);
    i += 2;
  }
  return id;
}

std::string UuidToS(const Uuid& id) {
  std::string text;
  appendUuidText(text, id);
  return text;
}

void appendUuidText(std::string& out, const Uuid& id) {
  static constexpr char HEX[] = "0123456789abcdef";
  char text[36];
  std::size_t n = 0;
  for (std::size_t i = 0; i < id.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text[n++] = '-';
    text[n++] = HEX[id.data[i] >> 4];
    text[n++] = HEX[id.data[i] & 0x0f];
  }
  out.append(text, n);
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
