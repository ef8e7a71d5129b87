#include "fennik/server/core/Math.h"

#include <cmath>

namespace fennik::server {

double roundToPlaces(double value, int places) {
  const double scale = std::pow(10.0, places);
  return std::round(value * scale) / scale;
}

}  // namespace fennik::server
