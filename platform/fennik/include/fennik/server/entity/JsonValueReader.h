#pragma once
// One value of a JSON text, read forward only as a streaming parser hands it
// out, without building a tree of the whole document: how a project's
// entities are read on opening. Every call returns false when the value is
// not of the kind asked for, or the text is malformed anywhere it had to
// look; the caller then gives up this way of reading and reads the document
// as a whole (which names what is wrong).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace fennik::server {

// A borrowed callable: what the reader calls back for every item or field.
template <class Signature>
class JsonCallback;
template <class R, class... Args>
class JsonCallback<R(Args...)> {
 public:
  template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, JsonCallback>>>
  JsonCallback(F&& f)  // NOLINT(google-explicit-constructor): passed as a lambda
      : object_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))), call_([](void* o, Args... args) -> R {
          return (*static_cast<std::remove_reference_t<F>*>(o))(std::forward<Args>(args)...);
        }) {}
  R operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

 private:
  void* object_;
  R (*call_)(void*, Args...);
};

// A JSON number as it was written: an integer (signed, or unsigned beyond
// the signed range) or a real with a fraction or an exponent.
struct JsonNumber {
  enum class Kind { Signed, Unsigned, Real };
  Kind kind = Kind::Signed;
  std::int64_t i = 0;
  std::uint64_t u = 0;
  double d = 0;
};

class JsonValueReader {
 public:
  // `value` is the streaming parser's value; only the reader's own code and
  // readJsonObject make one.
  explicit JsonValueReader(void* value) : value_(value) {}

  // `text` stays valid while the document is read.
  bool string(std::string_view& text);
  bool boolean(bool& value);
  // True (and read) when the value is null; anything else stays unread.
  bool null();
  // An integer written with a fraction or an exponent is a real; one that
  // is neither ("-0", or beyond 64 bits) is refused.
  bool number(JsonNumber& value);
  // Calls `item` for every item of an array, in order, until it returns false.
  bool forEachItem(JsonCallback<bool(JsonValueReader&)> item);
  // Calls `field` for every key of an object (unescaped) and its value, in
  // the written order, until it returns false. A field that `field` does not
  // read is skipped.
  bool forEachField(JsonCallback<bool(std::string_view, JsonValueReader&)> field);
  // Reads over the value, checking all of it (numbers, strings and escapes
  // of everything nested), as parsing the whole document would.
  bool skip();

 private:
  void* value_;
};

// The text of a file with the padding the streaming parser reads past the
// end: its capacity exceeds its size by at least that much.
std::string readJsonFile(const std::string& path);

// Reads `text` (best from readJsonFile; other strings are copied into a
// padded buffer first) as one JSON object: `field` for every key and value.
// False when the text is malformed, no object, something follows the object,
// or `field` returned false.
bool readJsonObject(const std::string& text, JsonCallback<bool(std::string_view, JsonValueReader&)> field);

}  // namespace fennik::server
