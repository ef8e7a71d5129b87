// libFuzzer target: the reader of the drivers' settings a project keeps per
// device. The input is "<driverIds text>\0<entry text>"; the list and the
// entry go through the store's checks, the entry then through the settings
// reader against a driver of the eight-channel amplifier, and what passes
// is handed to a fresh driver. Only the documented refusals may come out,
// and reading in place from simdjson's DOM must agree with the tree.
// Build with the "fuzz" preset (clang); run:
//   build/fuzz/bin/driver_store_fuzz -max_total_time=600 fuzz/corpus-driver-store

#include "amplifiers/AmplifierModels.h"
#include "custom/driverstore/DriverStore.h"
#include "custom/driverstore/JsonTreeParse.h"

#include "fennik/devices/DriverSettings.h"
#include "fennik/devices/SimulatedNetwork.h"
#include "fennik/server/core/Logging.h"

#include <simdjson.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace {

struct Harness {
  std::shared_ptr<fennik::devices::SimulatedNetwork> network =
      fennik::devices::SimulatedNetwork::create(fennik::devices::SimulatedNetwork::Mode::Manual);
  std::unique_ptr<fennik::devices::FennikDevice> like;
  fennik::devices::DriverSettings base;
  qor::server::DriverStore store{"DevicePlant"};
  const fennik::server::Uuid id = fennik::server::UuidFromS("0a6f2c1e-93b4-4f5e-8d21-5c7a9e0b1d23");

  Harness() {
    fennik::server::setLogLevel(spdlog::level::off);
    network->registerModel(qor::devicetypes::qa8Model());
    like = network->createDriver("QA-8");
    base = fennik::devices::readDriverSettings(*like);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness h;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const auto split = input.find('\0');
  const std::string ids = input.substr(0, split);
  const std::string entry = split == std::string::npos ? std::string() : input.substr(split + 1);
  try {
    h.store.parseIds(ids);
  } catch (const qor::server::DriverStoreError&) {
  }
  // The fast parser gives the JSON library's own tree, or leaves the text to it.
  if (const auto fast = qor::server::parseJsonTree(entry, 64)) {
    fennik::server::Json library;
    try {
      library = fennik::server::Json::parse(entry);
    } catch (const std::exception&) {
      __builtin_trap();
    }
    if (fast->dump() != library.dump()) __builtin_trap();
  }
  // Read in place (as a show's load reads it), a document simdjson takes
  // gives what its tree gives, or is refused as the tree refuses it.
  std::optional<std::string> inPlace;
  simdjson::dom::document dom;
  const bool inDom = qor::server::parseJsonDocument(entry, 64, dom);
  if (inDom) {
    try {
      inPlace =
          fennik::devices::driverSettingsText(fennik::devices::driverSettingsFromDom(dom.root(), *h.like, h.base));
    } catch (const fennik::devices::DriverSettingsError&) {
    }
  }
  try {
    const auto doc = h.store.parseEntry(h.id, entry);
    const auto settings = fennik::devices::driverSettingsFromJson(doc, *h.like, h.base);
    if (inDom && inPlace != fennik::devices::driverSettingsText(settings)) __builtin_trap();
    auto fresh = h.network->createDriver("QA-8");
    fennik::devices::writeDriverSettings(settings, *fresh);
    // What was accepted is written back in the same form.
    fennik::devices::driverSettingsText(fennik::devices::readDriverSettings(*fresh));
  } catch (const qor::server::DriverStoreError&) {
  } catch (const fennik::devices::DriverSettingsError&) {
    if (inPlace) __builtin_trap();
  }
  return 0;
}
