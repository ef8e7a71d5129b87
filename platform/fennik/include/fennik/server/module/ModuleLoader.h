#pragma once
// Loads a module shared library with dlopen and creates its module through
// the exported entry point. The library stays loaded while the module lives.

#include "fennik/server/module/Module.h"

#include <filesystem>
#include <memory>
#include <string>

namespace fennik::server {

class LoadedModule {
 public:
  LoadedModule(void* handle, std::shared_ptr<IFennikModule> module, std::filesystem::path path);
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  IFennikModule& module() const { return *module_; }
  const std::shared_ptr<IFennikModule>& shared() const { return module_; }
  const std::filesystem::path& path() const { return path_; }
  // A further exported function of the library, or null.
  void* symbol(const char* name) const;

 private:
  void* handle_;
  std::shared_ptr<IFennikModule> module_;
  std::filesystem::path path_;
};

// Throws std::runtime_error naming the file and the loader's message.
std::unique_ptr<LoadedModule> loadModule(const std::filesystem::path& path,
                                         const std::shared_ptr<SingletonRegistry>& globals);

}  // namespace fennik::server
