#pragma once
// A speaker database of 2000 products (200 families of 10) as JSON text, for
// the benchmarks that load databases and query the device catalog.

#include <string>

namespace qor::bench {

// 200 product families of 10 products; each family has a passive (one band)
// and a bi-amped (two bands) variant and three presets with chains for both.
// Every tenth product is hidden.
std::string largeSpeakerDatabaseJson();

}  // namespace qor::bench
