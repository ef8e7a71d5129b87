#pragma once
// The version of a speaker database: dot-separated numbers compared number by
// number ("1.10" is newer than "1.2"). Trailing zero components do not count,
// so "1.2" and "1.2.0" are the same version.

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fennik::common::speakerdb {

class Version {
 public:
  // At most this many components, each at most 9 digits.
  static constexpr std::size_t MAX_COMPONENTS = 6;

  Version() = default;
  // "1", "1.2", "1.10.3": digits separated by single dots, nothing else.
  // No value for anything else (empty text, blanks, signs, "1..2", "1.").
  static std::optional<Version> fromString(std::string_view text);

  // The components joined by dots, without trailing zero components beyond
  // the first ("1.2.0" gives "1.2", "0" gives "0").
  std::string toString() const;
  const std::vector<std::uint32_t>& components() const { return components_; }

  std::strong_ordering operator<=>(const Version& other) const;
  bool operator==(const Version& other) const { return (*this <=> other) == 0; }

 private:
  std::vector<std::uint32_t> components_{0};
};

}  // namespace fennik::common::speakerdb
