// What panels read from outside: the project's "PanelService" sub-container
// (its "driverIds" list and a driver entry, as the project reader checks
// them) and the panel JSON a client stores, with its keyword names. Any
// bytes are refused with a message or read, never a crash.
//
// Input: the "driverIds" text, a newline, then one driver entry's text; the
// whole input is also taken as a panel JSON and as a keyword name.

#include "custom/driverstore/DriverStore.h"
#include "service/FtPanelService.h"

#include "fennik/devices/PanelDriver.h"
#include "fennik/devices/PanelDriverSerializer.h"
#include "fennik/devices/SimulatedNetwork.h"
#include "fennik/server/service/KeywordService.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto network = [] {
    auto n = fennik::devices::SimulatedNetwork::create(fennik::devices::SimulatedNetwork::Mode::Manual);
    for (const auto& model : fennik::devices::simulatedPanelModels()) n->registerModel(model);
    return n;
  }();
  static const qor::server::DriverStore store("PanelService");
  const std::string input(reinterpret_cast<const char*>(data), size);
  const auto cut = input.find('\n');
  const std::string ids = input.substr(0, cut);
  const std::string entry = cut == std::string::npos ? std::string() : input.substr(cut + 1);
  try {
    (void)store.parseIds(ids);
  } catch (const qor::server::DriverStoreError&) {
  }
  try {
    const auto doc = store.parseEntry(fennik::server::Uuid{}, entry);
    auto driver = fennik::devices::PanelDriverSerializer::deserialize(network, doc.dump());
    (void)fennik::devices::PanelDriverSerializer::serialize(*driver);
  } catch (const std::runtime_error&) {
  }
  try {
    (void)qor::server::FtPanelService::parsePanelJson(input).dump();
  } catch (const std::invalid_argument&) {
  }
  try {
    (void)fennik::server::KeywordKey::parse(input).fullname();
  } catch (const std::invalid_argument&) {
  }
  return 0;
}
