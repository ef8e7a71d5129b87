// The stored state of a panel driver (from a project file): any bytes are
// refused with a message or read into a driver, never a crash.

#include "fennik/devices/PanelDriverSerializer.h"
#include "fennik/devices/SimulatedNetwork.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto network = [] {
    auto n = fennik::devices::SimulatedNetwork::create(fennik::devices::SimulatedNetwork::Mode::Manual);
    fennik::devices::DeviceModel panel;
    panel.model = "RLX-1";
    panel.channelCount = 0;
    n->registerModel(panel);
    return n;
  }();
  try {
    auto driver = fennik::devices::PanelDriverSerializer::deserialize(
        network, std::string_view(reinterpret_cast<const char*>(data), size));
    (void)fennik::devices::PanelDriverSerializer::serialize(*driver);
  } catch (const std::runtime_error&) {
  }
  return 0;
}
