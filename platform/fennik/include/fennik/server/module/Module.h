#pragma once
// Modules the host loads: a state machine the host walks through, access to
// the host's singletons, and (for feature modules) the six registration
// operations.

#include "fennik/server/core/SingletonRegistry.h"
#include "fennik/server/core/Uuid.h"

#include <memory>
#include <mutex>
#include <string>

namespace fennik::server {

enum class ModuleState {
  Unknown,
  Off,
  Ready,
  Create,
  Initialize,
  RegisterPluginInterfaces,
  RegisterPlugins,
  ProjectLoad,
  ProjectSave,
  ProjectUnload,
  ProjectLoaded,
  DeregisterPlugins,
  DeregisterPluginInterfaces,
  Uninitialize,
  Uncreate,
  Shutdown,
  Error,
};

const char* toString(ModuleState state);

class Module : public std::enable_shared_from_this<Module> {
 public:
  virtual ~Module() = default;
  virtual std::string version() const { return "1.0.0"; }
  ModuleState state() const { return state_; }

  // The host moves the module to a state: leave(old), enter(new), doState(new).
  void transition(ModuleState next);

 protected:
  virtual void enter(ModuleState) {}
  virtual void doState(ModuleState) {}
  virtual void leave(ModuleState) {}

 private:
  ModuleState state_ = ModuleState::Unknown;
};

class ChildModule : public Module {
 public:
  explicit ChildModule(std::shared_ptr<SingletonRegistry> globals) : globals_(std::move(globals)) {}
  std::recursive_mutex& lock() { return lock_; }
  const std::shared_ptr<SingletonRegistry>& globals() const { return globals_; }
  virtual bool isGoingOnlineModeReading() const { return false; }

 private:
  std::shared_ptr<SingletonRegistry> globals_;
  std::recursive_mutex lock_;
};

// A feature module: in Create it registers serializers and services, in
// Uncreate it takes them back; controllers are mounted once the host's
// dispatcher exists.
class IFennikModule : public ChildModule {
 public:
  using ChildModule::ChildModule;

  virtual const Uuid& moduleId() const = 0;
  virtual void registerSerializers() = 0;
  virtual void deregisterSerializers() = 0;
  virtual void registerControllers() = 0;
  virtual void deregisterControllers() = 0;
  virtual void registerServices() = 0;
  virtual void deregisterServices() = 0;
  virtual void servicesRegistered() {}

 protected:
  void enter(ModuleState state) override;
  void doState(ModuleState state) override;
  void leave(ModuleState state) override;
};

}  // namespace fennik::server

// Every module library exports this entry point (see ModuleLoader).
#define FENNIK_MODULE_ENTRY_POINT "fennikCreateModule"
extern "C" {
using FennikCreateModuleFn =
    fennik::server::IFennikModule* (*)(const std::shared_ptr<fennik::server::SingletonRegistry>*);
}
