#include "WireJson.h"

#include "wire/WireSchemaText.h"

#include <flatbuffers/reflection.h>

#include <cctype>
#include <stdexcept>

namespace qor::ctl {

namespace {

flatbuffers::IDLOptions options() {
  flatbuffers::IDLOptions o;
  o.strict_json = true;
  o.output_default_scalars_in_json = true;
  o.force_defaults = true;  // a value given equal to its default must still travel
  o.indent_step = -1;
  return o;
}

}  // namespace

WireJson::WireJson(Family family) : family_(family), parser_(options()) {
  std::string text = family == Family::Entities ? std::string(qor::server::wire::entityWireSchema()) + "\n" +
                                                      qor::server::wire::discoveredDeviceWireSchema()
                                                : std::string(qor::server::wire::commandWireSchema());
  if (!parser_.Parse(text.c_str())) throw std::logic_error("qorctl's wire schema does not parse: " + parser_.error_);
  parser_.Serialize();
  const auto* p = parser_.builder_.GetBufferPointer();
  binarySchema_.assign(p, p + parser_.builder_.GetSize());
}

std::string WireJson::qualified(const std::string& table) const {
  return (family_ == Family::Entities ? "qor.server.fbs." : "qor.server.fbs.cmd.") + table;
}

namespace {

// A field's type as the schema writes it: int, string, [string], int = null.
std::string typeText(const flatbuffers::FieldDef& field) {
  const auto& type = field.value.type;
  std::string text;
  if (type.base_type == flatbuffers::BASE_TYPE_VECTOR) {
    text = "[" + (type.struct_def ? type.struct_def->name : std::string(flatbuffers::kTypeNames[type.element])) + "]";
  } else if (type.struct_def) {
    text = type.struct_def->name;
  } else {
    text = flatbuffers::kTypeNames[type.base_type];
  }
  return field.IsScalarOptional() ? text + "=null" : text;
}

}  // namespace

std::string WireJson::commandList() const {
  const std::string prefix = "qor.server.fbs.cmd.";
  const std::string suffix = "Args";
  std::string out;
  for (const auto* def : parser_.structs_.vec) {
    const std::string name = def->defined_namespace->GetFullyQualifiedName(def->name);
    if (name.rfind(prefix, 0) != 0 || def->name.size() <= suffix.size() ||
        def->name.compare(def->name.size() - suffix.size(), suffix.size(), suffix) != 0) {
      continue;
    }
    std::string path = "/" + def->name.substr(0, def->name.size() - suffix.size());
    path[1] = static_cast<char>(std::tolower(static_cast<unsigned char>(path[1])));
    out += "  " + path;
    for (const auto* field : def->fields.vec) {
      if (!field->deprecated) out += " " + field->name + ":" + typeText(*field);
    }
    out += "\n";
  }
  return out;
}

bool WireJson::hasTable(const std::string& table) const { return parser_.LookupStruct(qualified(table)) != nullptr; }

nlohmann::ordered_json WireJson::toJson(const std::string& table, const fennik::server::KspBytes& bytes) {
  auto* def = parser_.LookupStruct(qualified(table));
  if (!def) throw std::runtime_error("no wire table " + table);
  if (bytes.size() <= 4) throw std::runtime_error("empty " + table + " payload");
  if (!parser_.SetRootType(qualified(table).c_str())) throw std::runtime_error("no wire table " + table);
  // Verify against the schema before printing anything of it.
  const auto* schema = reflection::GetSchema(binarySchema_.data());
  const auto* object = schema->objects()->LookupByKey(qualified(table).c_str());
  if (!object || !flatbuffers::Verify(*schema, *object, bytes.data(), bytes.size())) {
    throw std::runtime_error("payload is no valid " + table);
  }
  std::string text;
  if (!flatbuffers::GenerateText(parser_, bytes.data(), &text)) throw std::runtime_error("payload is no " + table);
  return nlohmann::ordered_json::parse(text);
}

fennik::server::KspBytes WireJson::fromAssignments(const std::string& table, const nlohmann::ordered_json& fixed,
                                                   const std::vector<std::string>& assignments) {
  auto* def = parser_.LookupStruct(qualified(table));
  if (!def) throw std::invalid_argument("no wire table " + table);
  nlohmann::ordered_json doc = fixed;
  for (const auto& a : assignments) {
    auto eq = a.find('=');
    if (eq == std::string::npos || eq == 0) throw std::invalid_argument("'" + a + "' is no field=value");
    const std::string name = a.substr(0, eq);
    const std::string value = a.substr(eq + 1);
    auto* field = def->fields.Lookup(name);
    if (!field) throw std::invalid_argument(table + " has no field '" + name + "'");
    const auto& type = field->value.type;
    if (type.base_type == flatbuffers::BASE_TYPE_STRING) {
      doc[name] = value;
    } else if (type.base_type == flatbuffers::BASE_TYPE_VECTOR && type.element == flatbuffers::BASE_TYPE_STRING) {
      // A list of texts: each name=value adds one, in order.
      if (!doc.contains(name)) doc[name] = nlohmann::ordered_json::array();
      doc[name].push_back(value);
    } else if (type.base_type == flatbuffers::BASE_TYPE_BOOL) {
      if (value == "true" || value == "1") {
        doc[name] = true;
      } else if (value == "false" || value == "0") {
        doc[name] = false;
      } else {
        throw std::invalid_argument(name + " takes true or false, not '" + value + "'");
      }
    } else if (flatbuffers::IsScalar(type.base_type)) {
      auto number = nlohmann::json::parse(value, nullptr, false);
      if (number.is_number()) {
        doc[name] = number;
      } else if (type.enum_def && type.enum_def->Lookup(value)) {
        doc[name] = value;
      } else {
        throw std::invalid_argument(name + " takes a " + (type.enum_def ? type.enum_def->name + " value" : "number") +
                                    ", not '" + value + "'");
      }
    } else {
      throw std::invalid_argument(name + " cannot be set from the command line");
    }
  }
  if (!parser_.SetRootType(qualified(table).c_str())) throw std::invalid_argument("no wire table " + table);
  if (!parser_.ParseJson(doc.dump().c_str())) throw std::invalid_argument(parser_.error_);
  const auto* p = parser_.builder_.GetBufferPointer();
  return {p, p + parser_.builder_.GetSize()};
}

}  // namespace qor::ctl
