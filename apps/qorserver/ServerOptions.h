#pragma once
// Command line of qorserver.

#include <filesystem>
#include <optional>
#include <string>
#include <variant>

namespace qor::app {

struct ServerOptions {
  enum class Command { Serve, Catalogue };

  Command command = Command::Serve;
  std::filesystem::path modulePath;
  std::filesystem::path pluginFolder;
  bool demo = false;
  int demoPerModel = 3;  // simulated devices of every model with --demo
  std::string logLevel = "info";
  bool catalogueJson = false;
  // Opened at start, or created there when missing; saved on SIGUSR1 and on stop.
  std::optional<std::filesystem::path> projectFile;
  std::string listen = "127.0.0.1";
  int port = 7411;
  std::string token;
  // The browser client's built files, served over HTTP on the Ksp port.
  std::filesystem::path webRoot;
};

// Parses argv. Returns the options, or an exit code when parsing ended the
// program (--help, or an error already reported on stderr).
std::variant<ServerOptions, int> parseServerOptions(int argc, char** argv);

// The folder of the running executable (the module and plug-ins sit beside it).
std::filesystem::path executableFolder();

}  // namespace qor::app
