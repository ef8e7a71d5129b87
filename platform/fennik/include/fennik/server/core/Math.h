#pragma once

namespace fennik::server {

// Rounds to the given number of decimal places (half away from zero).
// Negative places round to tens, hundreds, ...
double roundToPlaces(double value, int places);

}  // namespace fennik::server
