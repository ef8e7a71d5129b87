#pragma once
// Reads JSON objects one after another with one streaming parser, as
// readJsonObject does for one: the parser's buffers (an index of every token,
// a buffer for the strings) grow to the largest text read and are reused.
// Reading a large document as many small objects keeps them small and warm,
// where one parse of the whole document needs buffers several times the
// size of its text, in fresh memory.

#include "fennik/server/entity/JsonValueReader.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace fennik::server {

class JsonObjectReader {
 public:
  JsonObjectReader();
  ~JsonObjectReader();
  JsonObjectReader(const JsonObjectReader&) = delete;
  JsonObjectReader& operator=(const JsonObjectReader&) = delete;

  // Bytes the parser may read past a text's end: a text whose capacity
  // exceeds its size by this much is read in place, any other is copied.
  static std::size_t padding();

  // As readJsonObject: false when the text is malformed, no object,
  // something follows the object, or `field` returned false.
  bool read(const std::string& text, JsonCallback<bool(std::string_view, JsonValueReader&)> field);

 private:
  struct Parser;
  std::unique_ptr<Parser> parser_;
};

}  // namespace fennik::server
