#include "fennik/server/entity/EntityFieldDescriptor.h"

#include <algorithm>

namespace fennik::server {

char flagLetter(FieldFlag flag) {
  switch (flag) {
    case FieldFlag::File:
      return 'F';
    case FieldFlag::Interface:
      return 'I';
    case FieldFlag::ReadOnlyIf:
      return 'R';
    case FieldFlag::Throttle:
      return 'T';
    case FieldFlag::Consistent:
      return 'C';
  }
  return '?';
}

bool EntityFieldDescriptor::has(FieldFlag flag) const {
  return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

}  // namespace fennik::server
