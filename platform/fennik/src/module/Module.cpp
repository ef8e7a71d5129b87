#include "fennik/server/module/Module.h"

namespace fennik::server {

const char* toString(ModuleState state) {
  switch (state) {
    case ModuleState::Unknown:
      return "Unknown";
    case ModuleState::Off:
      return "Off";
    case ModuleState::Ready:
      return "Ready";
    case ModuleState::Create:
      return "Create";
    case ModuleState::Initialize:
      return "Initialize";
    case ModuleState::RegisterPluginInterfaces:
      return "RegisterPluginInterfaces";
    case ModuleState::RegisterPlugins:
      return "RegisterPlugins";
    case ModuleState::ProjectLoad:
      return "ProjectLoad";
    case ModuleState::ProjectSave:
      return "ProjectSave";
    case ModuleState::ProjectUnload:
      return "ProjectUnload";
    case ModuleState::ProjectLoaded:
      return "ProjectLoaded";
    case ModuleState::DeregisterPlugins:
      return "DeregisterPlugins";
    case ModuleState::DeregisterPluginInterfaces:
      return "DeregisterPluginInterfaces";
    case ModuleState::Uninitialize:
      return "Uninitialize";
    case ModuleState::Uncreate:
      return "Uncreate";
    case ModuleState::Shutdown:
      return "Shutdown";
    case ModuleState::Error:
      return "Error";
  }
  return "Unknown";
}

void Module::transition(ModuleState next) {
  leave(state_);
  state_ = next;
  enter(next);
  doState(next);
}

void IFennikModule::enter(ModuleState state) {
  if (state == ModuleState::Create) {
    registerSerializers();
    registerServices();
    servicesRegistered();
  }
}

void IFennikModule::doState(ModuleState) {}

void IFennikModule::leave(ModuleState state) {
  if (state == ModuleState::Uncreate) {
    deregisterServices();
    deregisterSerializers();
  }
}

}  // namespace fennik::server
