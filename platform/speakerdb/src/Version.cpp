#include "fennik/common/speakerdb/Version.h"

namespace fennik::common::speakerdb {

std::optional<Version> Version::fromString(std::string_view text) {
  std::vector<std::uint32_t> parts;
  std::size_t i = 0;
  while (true) {
    std::size_t digits = 0;
    std::uint32_t value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      if (++digits > 9) return std::nullopt;
      value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
      ++i;
    }
    if (digits == 0 || parts.size() == MAX_COMPONENTS) return std::nullopt;
    parts.push_back(value);
    if (i == text.size()) break;
    if (text[i] != '.') return std::nullopt;
    ++i;
  }
  while (parts.size() > 1 && parts.back() == 0) parts.pop_back();
  Version v;
  v.components_ = std::move(parts);
  return v;
}

std::string Version::toString() const {
  std::string text;
  for (std::size_t i = 0; i < components_.size(); ++i) {
    if (i) text += '.';
    text += std::to_string(components_[i]);
  }
  return text;
}

std::strong_ordering Version::operator<=>(const Version& other) const {
  const std::size_t n = std::max(components_.size(), other.components_.size());
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t a = i < components_.size() ? components_[i] : 0;
    const std::uint32_t b = i < other.components_.size() ? other.components_[i] : 0;
    if (a != b) return a <=> b;
  }
  return std::strong_ordering::equal;
}

}  // namespace fennik::common::speakerdb
