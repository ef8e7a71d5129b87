#include "fennik/devices/PanelDriverSerializer.h"

#include "fennik/devices/SimulatedNetwork.h"

#include <nlohmann/json.hpp>

#include <stdexcept>

namespace fennik::devices {

namespace {

using Json = nlohmann::json;

constexpr const char* PROPERTIES[] = {"panelJson", "name", "collectedStateFlags"};

template <class T>
T member(const Json& object, const char* key, bool (Json::*is)() const noexcept, const char* kind) {
  auto it = object.find(key);
  if (it == object.end()) throw std::runtime_error(std::string("the panel driver has no \"") + key + "\"");
  if (!((*it).*is)()) throw std::runtime_error(std::string("\"") + key + "\" of the panel driver is not " + kind);
  return it->get<T>();
}

// Nesting deeper than any stored driver has; refused before parsing, since
// taking apart a deeply nested document recurses.
bool nestedTooDeeply(std::string_view text) {
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > 32) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

}  // namespace

std::string PanelDriverSerializer::serialize(const IPanelDriver& driver) {
  Json out = Json::object();
  out["model"] = driver.getModel();
  out["physicalDeviceId"] = driver.getPhysicalDeviceId();
  for (const char* name : PROPERTIES) out[name] = driver.getProperty(name);
  out["ipMode"] = driver.getIpMode();
  out["collectedErrorHold"] = driver.getCollectedErrorHold();
  return out.dump();
}

std::unique_ptr<PanelDriver> PanelDriverSerializer::deserialize(const std::shared_ptr<SimulatedNetwork>& network,
                                                                std::string_view text) {
  if (nestedTooDeeply(text)) throw std::runtime_error("the panel driver is nested too deeply");
  const Json in = Json::parse(text.begin(), text.end(), nullptr, false);
  if (in.is_discarded()) throw std::runtime_error("the panel driver is no JSON document");
  if (!in.is_object()) throw std::runtime_error("the panel driver is no JSON object");
  const auto model = member<std::string>(in, "model", &Json::is_string, "a text");
  const auto physicalId = member<std::string>(in, "physicalDeviceId", &Json::is_string, "a text");
  std::string properties[std::size(PROPERTIES)];
  for (std::size_t i = 0; i < std::size(PROPERTIES); ++i)
    properties[i] = member<std::string>(in, PROPERTIES[i], &Json::is_string, "a text");
  const auto ipMode = member<std::int64_t>(in, "ipMode", &Json::is_number_integer, "a whole number");
  if (ipMode < 0 || ipMode > 3) throw std::runtime_error("\"ipMode\" of the panel driver is outside 0 to 3");
  const bool hold = member<bool>(in, "collectedErrorHold", &Json::is_boolean, "true or false");
  if (!network->model(model)) throw std::runtime_error("the panel driver's model '" + model + "' is unknown");

  auto driver = std::make_unique<PanelDriver>(network, model);
  for (std::size_t i = 0; i < std::size(PROPERTIES); ++i) {
    if (!properties[i].empty()) driver->setProperty(PROPERTIES[i], properties[i]);
  }
  if (ipMode != 0) driver->setIpConfiguration(static_cast<int>(ipMode));
  driver->setCollectedErrorHold(hold);
  driver->setPhysicalDeviceId(physicalId);
  return driver;
}

}  // namespace fennik::devices
