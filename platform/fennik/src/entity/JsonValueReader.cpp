#include "fennik/server/entity/JsonValueReader.h"

#include "fennik/server/entity/JsonObjectReader.h"

#include <simdjson.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <utility>

namespace fennik::server {

namespace ondemand = simdjson::ondemand;

namespace {

ondemand::value& valueOf(void* value) { return *static_cast<ondemand::value*>(value); }

bool skipValue(ondemand::value& value) {
  ondemand::json_type type;
  if (value.type().get(type)) return false;
  switch (type) {
    case ondemand::json_type::array: {
      ondemand::array array;
      if (value.get_array().get(array)) return false;
      for (auto item : array) {
        ondemand::value v;
        if (item.get(v) || !skipValue(v)) return false;
      }
      return true;
    }
    case ondemand::json_type::object: {
      ondemand::object object;
      if (value.get_object().get(object)) return false;
      for (auto field : object) {
        ondemand::field f;
        std::string_view key;
        if (std::move(field).get(f) || f.unescaped_key().get(key) || !skipValue(f.value())) return false;
      }
      return true;
    }
    case ondemand::json_type::number: {
      ondemand::number number;
      return !value.get_number().get(number);
    }
    case ondemand::json_type::string: {
      std::string_view text;
      return !value.get_string().get(text);
    }
    case ondemand::json_type::boolean: {
      bool b;
      return !value.get_bool().get(b);
    }
    case ondemand::json_type::null: {
      bool isNull = false;
      return !value.is_null().get(isNull) && isNull;
    }
  }
  return false;
}

template <class Object>
bool forEachFieldOf(Object& object, JsonCallback<bool(std::string_view, JsonValueReader&)>& fn) {
  for (auto field : object) {
    ondemand::field f;
    std::string_view key;
    if (std::move(field).get(f) || f.unescaped_key().get(key)) return false;
    JsonValueReader reader(&f.value());
    if (!fn(key, reader)) return false;
  }
  return true;
}

}  // namespace

bool JsonValueReader::string(std::string_view& text) { return !valueOf(value_).get_string().get(text); }

bool JsonValueReader::boolean(bool& value) { return !valueOf(value_).get_bool().get(value); }

bool JsonValueReader::null() {
  bool isNull = false;
  return !valueOf(value_).is_null().get(isNull) && isNull;
}

bool JsonValueReader::number(JsonNumber& out) {
  auto& value = valueOf(value_);
  // The token as written decides integer or real, as for the whole-document
  // parser: the streaming one reads "-0" and integers beyond 64 bits as reals.
  const std::string_view token = value.raw_json_token();
  ondemand::number number;
  if (value.get_number().get(number)) return false;
  switch (number.get_number_type()) {
    case ondemand::number_type::signed_integer:
      out.kind = JsonNumber::Kind::Signed;
      out.i = number.get_int64();
      return true;
    case ondemand::number_type::unsigned_integer:
      out.kind = JsonNumber::Kind::Unsigned;
      out.u = number.get_uint64();
      return true;
    case ondemand::number_type::floating_point_number:
      if (token.find_first_of(".eE") == std::string_view::npos) return false;
      out.kind = JsonNumber::Kind::Real;
      out.d = number.get_double();
      return true;
  }
  return false;
}

bool JsonValueReader::forEachItem(JsonCallback<bool(JsonValueReader&)> item) {
  ondemand::array array;
  if (valueOf(value_).get_array().get(array)) return false;
  for (auto each : array) {
    ondemand::value v;
    if (each.get(v)) return false;
    JsonValueReader reader(&v);
    if (!item(reader)) return false;
  }
  return true;
}

bool JsonValueReader::forEachField(JsonCallback<bool(std::string_view, JsonValueReader&)> field) {
  ondemand::object object;
  if (valueOf(value_).get_object().get(object)) return false;
  return forEachFieldOf(object, field);
}

bool JsonValueReader::skip() { return skipValue(valueOf(value_)); }

std::string readJsonFile(const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) throw std::runtime_error("Cannot read '" + path + "'");
  std::string text;
  if (std::fseek(file.get(), 0, SEEK_END) == 0) {
    const long size = std::ftell(file.get());
    std::rewind(file.get());
    if (size > 0) {
      // Read straight into the buffer; shrinking the size keeps the capacity.
      text.resize(static_cast<std::size_t>(size) + simdjson::SIMDJSON_PADDING);
      text.resize(std::fread(text.data(), 1, static_cast<std::size_t>(size), file.get()));
    }
  }
  // Whatever the size did not tell (a file that grew) is appended; the
  // reader copies the text when the padding no longer fits.
  char buffer[1 << 12];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, n);
  if (std::ferror(file.get())) throw std::runtime_error("Cannot read '" + path + "'");
  return text;
}

struct JsonObjectReader::Parser {
  ondemand::parser parser;
};

JsonObjectReader::JsonObjectReader() : parser_(std::make_unique<Parser>()) {}
JsonObjectReader::~JsonObjectReader() = default;

std::size_t JsonObjectReader::padding() { return simdjson::SIMDJSON_PADDING; }

bool JsonObjectReader::read(const std::string& text, JsonCallback<bool(std::string_view, JsonValueReader&)> field) {
  simdjson::padded_string copy;
  simdjson::padded_string_view view(text.data(), text.size(), text.capacity());
  if (text.capacity() < text.size() + simdjson::SIMDJSON_PADDING) {
    copy = simdjson::padded_string(text);
    view = copy;
  }
  ondemand::document doc;
  if (parser_->parser.iterate(view).get(doc)) return false;
  ondemand::object object;
  if (doc.get_object().get(object)) return false;
  if (!forEachFieldOf(object, field)) return false;
  // Nothing may follow the object: past its last token the location is
  // out of bounds.
  const char* rest = nullptr;
  return doc.current_location().get(rest) == simdjson::OUT_OF_BOUNDS;
}

bool readJsonObject(const std::string& text, JsonCallback<bool(std::string_view, JsonValueReader&)> field) {
  return JsonObjectReader().read(text, field);
}

}  // namespace fennik::server
