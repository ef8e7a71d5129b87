#include "fennik/server/service/KeywordService.h"
#include "fennik/server/core/AsciiCase.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace fennik::server {

namespace {

constexpr std::size_t MAX_SEGMENTS = 16;
constexpr std::size_t MAX_SEGMENT_LENGTH = 64;

bool isKeyCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'; }

}  // namespace

KeywordKey KeywordKey::parse(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  const auto last = text.find_last_not_of(" \t");
  text = first == std::string_view::npos ? std::string_view() : text.substr(first, last - first + 1);
  if (text.empty()) throw std::invalid_argument("a keyword is empty");
  KeywordKey key;
  std::size_t start = 0;
  while (true) {
    const auto dot = text.find('.', start);
    const auto segment = text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    if (segment.empty()) throw std::invalid_argument("keyword '" + std::string(text) + "' has an empty part");
    if (segment.size() > MAX_SEGMENT_LENGTH)
      throw std::invalid_argument("keyword '" + std::string(text) + "' has a part longer than 64 characters");
    if (!std::all_of(segment.begin(), segment.end(), isKeyCharacter))
      throw std::invalid_argument("keyword '" + std::string(text) +
                                  "' may hold only letters, digits, '_' and '-' between its dots");
    key.segments_.emplace_back(segment);
    if (key.segments_.size() > MAX_SEGMENTS)
      throw std::invalid_argument("keyword '" + std::string(text) + "' has more than 16 parts");
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  if (key.segments_.size() < 2)
    throw std::invalid_argument("keyword '" + std::string(text) + "' names no owner (it has no dot)");
  return key;
}

std::string KeywordKey::fullname() const {
  std::string name;
  for (const auto& segment : segments_) {
    if (!name.empty()) name += '.';
    name += segment;
  }
  return name;
}

void KeywordService::add(const KeywordKey& key) { keywords_.insert_or_assign(asciiLower(key.fullname()), key); }

bool KeywordService::remove(const KeywordKey& key) { return keywords_.erase(asciiLower(key.fullname())) > 0; }

std::optional<KeywordKey> KeywordService::resolve(const KeywordKey& key) const {
  auto it = keywords_.find(asciiLower(key.fullname()));
  if (it == keywords_.end()) return std::nullopt;
  return it->second;
}

}  // namespace fennik::server
