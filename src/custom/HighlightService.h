#pragma once
// What to light up on the canvas when a client points at a device or one
// of its features: the related entity ids, joined with "," and published in
// the current session window (an empty list clears the highlight).

#include "qor/server/entities/Enums.h"

#include "fennik/server/core/Uuid.h"
#include "fennik/server/service/Service.h"

#include <string>
#include <vector>

namespace qor::server {

class HighlightService : public fennik::server::Service {
 public:
  using Service::Service;

  void visualHighlight(const fennik::server::Uuid& device, const fennik::server::Uuid& feature,
                       LivesoundVisualHighlightScope scope);

  // The ids visualHighlight publishes, in order, without publishing them.
  std::vector<std::string> collect(const fennik::server::Uuid& device, const fennik::server::Uuid& feature,
                                   LivesoundVisualHighlightScope scope) const;
};

}  // namespace qor::server
