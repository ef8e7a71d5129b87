#pragma once
// Keywords: names under which the host and its modules offer values to
// control surfaces (a wall panel's button shows a "human" text and acts on
// the value a keyword names). A keyword's full name is a path of segments
// separated by dots, the first naming its owner ("livesound.FtAudio.levelInDb").
// Modules register the keywords they offer; a surface's text is resolved to a
// registered keyword regardless of letter case and surrounding blanks.

#include "fennik/server/service/Service.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fennik::server {

class KeywordKey {
 public:
  // At least two segments, each 1 to 64 letters, digits, '_' or '-'; at most
  // 16 segments. Blanks around the text are ignored. Throws
  // std::invalid_argument saying what is wrong.
  static KeywordKey parse(std::string_view text);

  const std::vector<std::string>& segments() const { return segments_; }
  // The segments joined by dots.
  std::string fullname() const;
  bool operator==(const KeywordKey&) const = default;

 private:
  std::vector<std::string> segments_;
};

class KeywordService : public Service {
 public:
  using Service::Service;

  // Registering a name that differs only in letter case replaces it.
  void add(const KeywordKey& key);
  bool remove(const KeywordKey& key);
  std::size_t size() const { return keywords_.size(); }

  // The registered keyword the key names (letter case ignored); none when
  // no keyword of that name is registered.
  std::optional<KeywordKey> resolve(const KeywordKey& key) const;

 private:
  // By the lower-cased full name.
  std::map<std::string, KeywordKey> keywords_;
};

}  // namespace fennik::server
