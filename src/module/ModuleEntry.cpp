// The library's exported entry points: the host creates the module through
// the first; `qorserver catalogue` reads the second.

#include "model/Catalogue.h"
#include "module/LivesoundModule.h"

#include <string>

extern "C" __attribute__((visibility("default"))) fennik::server::IFennikModule* fennikCreateModule(
    const std::shared_ptr<fennik::server::SingletonRegistry>* globals) {
  return new qor::server::LivesoundModule(globals ? *globals : nullptr);
}

extern "C" __attribute__((visibility("default"))) const char* qorLivesoundCatalogueJson() {
  static const std::string text = qor::server::catalogueJson().dump();
  return text.c_str();
}
