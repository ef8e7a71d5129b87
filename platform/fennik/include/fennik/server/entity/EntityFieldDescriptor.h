#pragma once

#include <string>
#include <vector>

namespace fennik::server {

// Where a field travels and how it behaves.
enum class FieldFlag {
  File = 1,        // stored in the project file
  Interface = 2,   // sent to clients
  ReadOnlyIf = 3,  // clients may read, not write
  Throttle = 4,    // client writes are coalesced per entity and field
  Consistent = 5,  // aggregated over group members, with a ...Consistent companion
};

char flagLetter(FieldFlag flag);

struct EntityFieldDescriptor {
  std::string name;
  std::string type;  // "bool", "int", "uint", "double", "string", "uuid", an enum's full name, "list of ..."
  std::vector<FieldFlag> flags;

  bool has(FieldFlag flag) const;
};

using EntityFieldDescriptors = std::vector<EntityFieldDescriptor>;

// A relation field: the target's type name and whether it holds a list.
struct EntityReferenceDescriptor {
  std::string name;
  std::string target;
  bool many;
};

using EntityReferenceDescriptors = std::vector<EntityReferenceDescriptor>;

}  // namespace fennik::server
