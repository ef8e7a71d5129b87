#pragma once
// Wire tables as JSON and back, from the schema texts compiled into qorctl.

#include "fennik/server/ksp/Ksp.h"

#include <flatbuffers/idl.h>

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

namespace qor::ctl {

class WireJson {
 public:
  // Which schema: the entity tables or the command argument tables.
  enum class Family { Entities, Commands };
  explicit WireJson(Family family);

  // The table's JSON; throws std::runtime_error when the bytes do not verify.
  nlohmann::ordered_json toJson(const std::string& table, const fennik::server::KspBytes& bytes);
  // Builds a table from "field=value" assignments (values typed by the schema);
  // throws std::invalid_argument naming the bad assignment.
  fennik::server::KspBytes fromAssignments(const std::string& table, const nlohmann::ordered_json& fixed,
                                           const std::vector<std::string>& assignments);
  bool hasTable(const std::string& table) const;
  // Every command of the command schema with its argument fields, one line
  // each ("/ftDelayRelative delay:string step:double"), in schema order.
  std::string commandList() const;

 private:
  std::string qualified(const std::string& table) const;
  Family family_;
  flatbuffers::Parser parser_;
  std::vector<std::uint8_t> binarySchema_;
};

}  // namespace qor::ctl
