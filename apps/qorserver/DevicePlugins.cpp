#include "DevicePlugins.h"

#include "fennik/server/core/Logging.h"

#include <algorithm>

namespace qor::app {

using fennik::server::getLogger;
using fennik::server::HOST_LOGGER;

DevicePlugins::DevicePlugins(const std::shared_ptr<fennik::server::SingletonRegistry>& globals)
    : globals_(globals),
      network_(fennik::devices::SimulatedNetwork::create(fennik::devices::SimulatedNetwork::Mode::Threaded)) {
  globals_->add(network_);
  network_->start();
  // The audio-network service runs on that network.
  globals_->add(std::make_shared<fennik::devices::AudioNetworkService>(network_));
}

DevicePlugins::~DevicePlugins() {
  destroy();
  modules_.clear();
  globals_->remove<fennik::devices::AudioNetworkService>();
  globals_->remove<fennik::devices::SimulatedNetwork>();
  network_->stop();
}

void DevicePlugins::load(const std::filesystem::path& folder) {
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    getLogger(HOST_LOGGER)->warn("No device-type plug-in folder at {}", folder.string());
    return;
  }
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (entry.is_regular_file() && entry.path().extension() == ".so") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    try {
      modules_.push_back(fennik::server::loadModule(file, globals_));
      getLogger(HOST_LOGGER)
          ->info("Loaded device types {} from {}", fennik::server::UuidToS(modules_.back()->module().moduleId()),
                 file.filename().string());
    } catch (const std::exception& e) {
      getLogger(HOST_LOGGER)->error("Skipping device-type plug-in: {}", e.what());
    }
  }
}

void DevicePlugins::create() {
  for (auto& loaded : modules_) loaded->module().transition(fennik::server::ModuleState::Create);
  created_ = true;
}

void DevicePlugins::destroy() {
  if (!created_) return;
  for (auto it = modules_.rbegin(); it != modules_.rend(); ++it) {
    (*it)->module().transition(fennik::server::ModuleState::Uncreate);
    (*it)->module().transition(fennik::server::ModuleState::Off);
  }
  created_ = false;
}

}  // namespace qor::app
