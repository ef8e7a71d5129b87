#pragma once
// Builds a large live-sound project in an entity context: amplifiers with
// every feature a real amplifier has (per channel where a channel has one)
// and group devices over them with group features. Used by the project
// benchmarks and the save-interruption test.

#include <cstddef>
#include <memory>

namespace fennik::server {
class EntityContext;
}

namespace qor::server::testing {

struct LargeProjectShape {
  int amplifiers = 200;
  int channels = 4;
  int filtersPerBank = 8;
  int amplifiersPerGroup = 50;
};

// Needs the generated services in the context's resolver. Returns the
// number of entities it created.
std::size_t buildLargeProject(const std::shared_ptr<fennik::server::EntityContext>& context,
                              const LargeProjectShape& shape = {});

}  // namespace qor::server::testing
