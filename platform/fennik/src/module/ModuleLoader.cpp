#include "fennik/server/module/ModuleLoader.h"

#include <dlfcn.h>

#include <stdexcept>

namespace fennik::server {

LoadedModule::LoadedModule(void* handle, std::shared_ptr<IFennikModule> module, std::filesystem::path path)
    : handle_(handle), module_(std::move(module)), path_(std::move(path)) {}

LoadedModule::~LoadedModule() {
  // The module's code lives in the library: destroy it before unloading.
  module_.reset();
  if (handle_) dlclose(handle_);
}

void* LoadedModule::symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

std::unique_ptr<LoadedModule> loadModule(const std::filesystem::path& path,
                                         const std::shared_ptr<SingletonRegistry>& globals) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* error = dlerror();
    throw std::runtime_error("Cannot load module '" + path.string() + "': " + (error ? error : "unknown error"));
  }
  auto create = reinterpret_cast<FennikCreateModuleFn>(dlsym(handle, FENNIK_MODULE_ENTRY_POINT));
  if (!create) {
    dlclose(handle);
    throw std::runtime_error("Module '" + path.string() + "' has no entry point " FENNIK_MODULE_ENTRY_POINT);
  }
  std::shared_ptr<IFennikModule> module(create(&globals));
  if (!module) {
    dlclose(handle);
    throw std::runtime_error("Module '" + path.string() + "' did not create its module");
  }
  return std::make_unique<LoadedModule>(handle, std::move(module), path);
}

}  // namespace fennik::server
