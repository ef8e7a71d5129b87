#pragma once
// The machinery of every <T>JsonSerializer. The generated serializer only
// lists its bindings (key, file flag, accessors) in field order; writing,
// reading, enumerations by name and the failure rules live here once.
//
// An entity is written two ways from the same bindings: serialize builds its
// JSON object (for code that works on the tree), write appends its JSON text
// directly (for saving, where building an object per entity only to dump it
// costs more than the text itself). Both give the same document.

#include "model/EnumText.h"
#include "model/JsonText.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/core/Uuid.h"
#include "fennik/server/entity/EntityJsonSerializer.h"

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace qor::server {

using fennik::server::Json;

namespace json_detail {

// One value of a field to JSON: enumerations by name, UUIDs as text, the
// rest keeping their JSON type.
template <class V>
Json toJson(const V& value) {
  if constexpr (std::is_enum_v<V>) {
    return std::string(enumToString(value));
  } else if constexpr (std::is_same_v<V, fennik::server::Uuid>) {
    return fennik::server::UuidToS(value);
  } else {
    return value;
  }
}

template <class V>
Json toJson(const std::vector<V>& values) {
  Json list = Json::array();
  for (const auto& v : values) list.push_back(toJson<V>(v));
  return list;
}

inline Json toJson(const std::vector<bool>& values) {
  Json list = Json::array();
  for (bool v : values) list.push_back(v);
  return list;
}

// The JSON library's get<> throws its type error ("type must be number, but
// is string") for a value of the wrong JSON type.
// A real that is no number (NaN, an infinity) is written as null, JSON
// having no text for it, and null reads back as NaN.
template <class V>
V fromJson(const Json& in) {
  if constexpr (std::is_floating_point_v<V>) {
    if (in.is_null()) return std::numeric_limits<V>::quiet_NaN();
    return in.get<V>();
  } else if constexpr (std::is_enum_v<V> || std::is_same_v<V, fennik::server::Uuid>) {
    // get<std::string> raises the library's "type must be string" error.
    if (!in.is_string()) (void)in.get<std::string>();
    const auto& text = in.get_ref<const std::string&>();
    if constexpr (std::is_enum_v<V>) {
      return enumFromString<V>(text);
    } else {
      return fennik::server::UuidFromS(text);
    }
  } else {
    return in.get<V>();
  }
}

template <class V>
struct IsVector : std::false_type {};
template <class V>
struct IsVector<std::vector<V>> : std::true_type {
  using Item = V;
};

// Appends a key to an object that does not hold it yet, without the
// ordered object's search for an existing key.
inline void appendKey(Json& object, std::string_view key, Json&& value) {
  auto& members = static_cast<Json::object_t::Container&>(object.get_ref<Json::object_t&>());
  members.emplace_back(std::string(key), std::move(value));
}

template <class V>
V read(const Json& in) {
  if constexpr (IsVector<V>::value && !std::is_same_v<V, std::string>) {
    using Item = typename IsVector<V>::Item;
    if (!in.is_array()) {
      // Let the library raise its own type error for a non-array.
      (void)in.get<std::vector<std::string>>();
    }
    V out;
    out.reserve(in.size());
    for (const auto& item : in) out.push_back(fromJson<Item>(item));
    return out;
  } else {
    return fromJson<V>(in);
  }
}

// The same values from a document read forward only. Only what read<V>
// takes without converting is taken here (integers for integer fields, any
// number for reals, booleans, texts); anything else makes the caller read
// the document the whole way, whose conversions and errors then apply.
template <class V>
bool readFast(fennik::server::JsonValueReader& in, V& out) {
  using fennik::server::JsonNumber;
  if constexpr (std::is_same_v<V, bool>) {
    return in.boolean(out);
  } else if constexpr (std::is_arithmetic_v<V>) {
    if (std::is_floating_point_v<V> && in.null()) {
      out = std::numeric_limits<V>::quiet_NaN();
      return true;
    }
    JsonNumber n;
    if (!in.number(n)) return false;
    switch (n.kind) {
      case JsonNumber::Kind::Signed:
        out = static_cast<V>(n.i);
        return true;
      case JsonNumber::Kind::Unsigned:
        out = static_cast<V>(n.u);
        return true;
      case JsonNumber::Kind::Real:
        if constexpr (!std::is_floating_point_v<V>) return false;
        out = static_cast<V>(n.d);
        return true;
    }
    return false;
  } else if constexpr (IsVector<V>::value) {
    out.clear();
    return in.forEachItem([&out](fennik::server::JsonValueReader& item) {
      typename IsVector<V>::Item value{};
      if (!readFast(item, value)) return false;
      out.push_back(std::move(value));
      return true;
    });
  } else {
    std::string_view text;
    if (!in.string(text)) return false;
    if constexpr (std::is_enum_v<V>) {
      out = enumFromString<V>(text);
    } else if constexpr (std::is_same_v<V, fennik::server::Uuid>) {
      out = fennik::server::UuidFromS(text);  // throws for bad text; the caller gives up
    } else {
      out = V(text);
    }
    return true;
  }
}

}  // namespace json_detail

// One key of an entity's JSON object.
template <class T>
struct JsonBinding {
  std::string_view key;
  bool file = true;  // written without runtime fields too
  Json (*value)(const T&) = nullptr;
  void (*read)(T&, const Json&) = nullptr;
  // Appends the text of what value returns, as dump() writes it.
  void (*text)(const T&, std::string&) = nullptr;
  // What read does, from a document read forward only; false where
  // json_detail::readFast gives up.
  bool (*fast)(T&, fennik::server::JsonValueReader&) = nullptr;
};

// A value field: Get is the static <Name>Getter, Set the entity's own
// set<Name>(value, external) — loading stores through it with external false.
template <class T, auto Get, auto Set>
JsonBinding<T> jsonField(std::string_view key, bool file) {
  using V = std::decay_t<decltype(Get(static_cast<const T*>(nullptr)))>;
  return {key,
          file,
          [](const T& e) { return json_detail::toJson(Get(&e)); },
          [](T& e, const Json& in) { (e.*Set)(json_detail::read<V>(in), false); },
          [](const T& e, std::string& out) { json_text::append(out, Get(&e)); },
          [](T& e, fennik::server::JsonValueReader& in) {
            V value{};
            if (!json_detail::readFast(in, value)) return false;
            (e.*Set)(std::move(value), false);
            return true;
          }};
}

// A list reference, stored as an array of UUID texts.
template <class T, auto Ids, auto SetIds>
JsonBinding<T> jsonIdList(std::string_view key) {
  return {key,
          true,
          [](const T& e) { return Json(fennik::server::uuidVectorToStringVector((e.*Ids)())); },
          [](T& e, const Json& in) {
            (e.*SetIds)(fennik::server::uuidVectorFromStringVector(in.get<std::vector<std::string>>()));
          },
          [](const T& e, std::string& out) { json_text::appendList<fennik::server::Uuid>(out, (e.*Ids)()); },
          [](T& e, fennik::server::JsonValueReader& in) {
            std::vector<fennik::server::Uuid> ids;
            if (!json_detail::readFast(in, ids)) return false;
            (e.*SetIds)(std::move(ids));
            return true;
          }};
}

// A single reference, stored as one UUID text (the nil UUID when unset).
template <class T, auto Id, auto SetId>
JsonBinding<T> jsonId(std::string_view key) {
  return {key,
          true,
          [](const T& e) { return Json(fennik::server::UuidToS((e.*Id)())); },
          [](T& e, const Json& in) { (e.*SetId)(json_detail::fromJson<fennik::server::Uuid>(in)); },
          [](const T& e, std::string& out) { json_text::appendUuid(out, (e.*Id)()); },
          [](T& e, fennik::server::JsonValueReader& in) {
            fennik::server::Uuid id;
            if (!json_detail::readFast(in, id)) return false;
            (e.*SetId)(id);
            return true;
          }};
}

// Specialised in each generated <T>JsonSerializer.h.
template <class T>
struct JsonSerializerFor;
template <class T>
using JsonSerializerOf = typename JsonSerializerFor<T>::type;

template <class T>
class JsonSerializerT : public fennik::server::EntityJsonSerializer {
 public:
  // Value fields in field order, then references in writing order.
  explicit JsonSerializerT(std::vector<JsonBinding<T>> bindings) : bindings_(std::move(bindings)) {
    for (std::size_t i = 0; i < bindings_.size(); ++i) {
      byKey_.emplace(bindings_[i].key, i);
      std::string keyText = ",";
      json_text::appendString(keyText, bindings_[i].key);
      keyText += ':';
      keyTexts_.push_back(std::move(keyText));
    }
  }

  std::string_view entityClassName() const override { return T::CLASS_NAME; }

  void serialize(const fennik::server::Entity* entity, Json& out, bool withRuntimeFields) const override {
    const auto& e = static_cast<const T&>(*entity);
    if (!out.is_object() || out.empty()) {
      // A fresh object: keys go straight to the end, in writing order.
      out = Json::object();
      json_detail::appendKey(out, "id", e.strId());
      for (const auto& b : bindings_) {
        if (b.file || withRuntimeFields) json_detail::appendKey(out, b.key, b.value(e));
      }
      return;
    }
    out["id"] = e.strId();
    for (const auto& b : bindings_) {
      if (b.file || withRuntimeFields) out[std::string(b.key)] = b.value(e);
    }
  }

  void write(const fennik::server::Entity* entity, std::string& out, bool withRuntimeFields) const override {
    const auto& e = static_cast<const T&>(*entity);
    out += "{\"id\":";
    json_text::appendUuid(out, e.id());
    for (std::size_t i = 0; i < bindings_.size(); ++i) {
      const auto& b = bindings_[i];
      if (!b.file && !withRuntimeFields) continue;
      out += keyTexts_[i];
      const auto repaired = json_text::repairs;
      b.text(e, out);
      if (json_text::repairs != repaired) {
        fennik::server::getLogger(fennik::server::MODULE_LOGGER)
            ->error(
                "Saving {} {}: the value of '{}' cannot be stored as it is (invalid UTF-8 or not a finite "
                "number); it is saved repaired",
                T::CLASS_NAME, e.strId(), b.key);
      }
    }
    out += '}';
  }

  fennik::server::EntityPtr deserialize(const Json& in, bool /*flag*/) const override {
    auto entity = T::createDefaultInitialized(readId(in));
    // One pass over the object finds the known keys; they are then stored in
    // field order, so a setter that looks at an earlier field sees it set.
    std::vector<const Json*> found(bindings_.size(), nullptr);
    for (auto it = in.begin(); it != in.end(); ++it) {
      auto hit = byKey_.find(it.key());
      if (hit != byKey_.end()) found[hit->second] = &it.value();
    }
    for (std::size_t i = 0; i < bindings_.size(); ++i) {
      if (found[i]) bindings_[i].read(*entity, *found[i]);
    }
    return entity;
  }

  // Keys are taken as they come while they follow the bindings' order (as
  // write puts them), which stores the fields in field order as deserialize
  // does; an earlier key again, a second "id" or an "id" that is not first
  // leave the object to deserialize.
  fennik::server::EntityPtr read(fennik::server::JsonValueReader& in) const override {
    std::shared_ptr<T> entity;
    std::size_t next = 0;
    try {
      const bool complete = in.forEachField([&](std::string_view key, fennik::server::JsonValueReader& value) {
        if (!entity) {
          std::string_view id;
          if (key != "id" || !value.string(id)) return false;
          entity = T::createDefaultInitialized(fennik::server::UuidFromS(id));
          return true;
        }
        std::size_t i = next;
        while (i < bindings_.size() && bindings_[i].key != key) ++i;
        if (i == bindings_.size()) {
          if (key == "id" || byKey_.count(key)) return false;
          return value.skip();  // unknown keys are ignored, but must be well-formed
        }
        next = i + 1;
        return bindings_[i].fast(*entity, value);
      });
      if (!complete) return nullptr;
    } catch (const std::exception&) {
      return nullptr;
    }
    return entity;
  }

  std::optional<std::string> findBadKey(const Json& in) const override {
    if (!in.is_object() || !in.contains("id")) return std::string("id");
    try {
      readId(in);
    } catch (const std::exception&) {
      return std::string("id");
    }
    T scratch{fennik::server::Uuid{}};
    for (const auto& b : bindings_) {
      auto it = in.find(std::string(b.key));
      if (it == in.end()) continue;
      try {
        b.read(scratch, *it);
      } catch (const std::exception&) {
        return std::string(b.key);
      }
    }
    return std::nullopt;
  }

  // Stores the values an object holds onto an entity that already exists,
  // through the same bindings deserialize uses (the entity's own setters,
  // external false), in field order; only the keys `take` accepts, the
  // rest of the object and of the entity are left alone. Throws as
  // deserialize does for a value of the wrong JSON type, so a caller that
  // must not half-apply deserializes the object first.
  template <class Take>
  void assign(T& target, const Json& in, Take&& take) const {
    for (const auto& b : bindings_) {
      if (!take(b.key)) continue;
      auto it = in.find(std::string(b.key));
      if (it != in.end()) b.read(target, *it);
    }
  }

  const std::vector<JsonBinding<T>>& bindings() const { return bindings_; }

 private:
  static fennik::server::Uuid readId(const Json& in) {
    // at() throws for a missing key, get_ref for a non-string, UuidFromS for bad text.
    return fennik::server::UuidFromS(in.at("id").template get_ref<const std::string&>());
  }

  std::vector<JsonBinding<T>> bindings_;
  std::unordered_map<std::string_view, std::size_t> byKey_;
  std::vector<std::string> keyTexts_;  // ',"key":' per binding
};

}  // namespace qor::server
