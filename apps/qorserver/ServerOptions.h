#pragma once
// Command line of qorserver.

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

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
  // Limits of what clients and files may make the server hold.
  std::size_t maxConnections = 256;
  std::size_t maxMessageMiB = 4;
  std::size_t sendQueueMiB = 32;
  int idleTimeoutSeconds = 60;
  std::vector<std::string> allowedOrigins;
  std::size_t unpackEntryMiB = 256;
  std::size_t unpackTotalMiB = 1024;
  // Where clients may open and save projects: the projects folder, the
  // folder of the --project file and these.
  std::filesystem::path projectsFolder;
  std::vector<std::filesystem::path> allowedFolders;
  // The routing application the livesound module may start; handed to it
  // through the environment (QORSERVER_DANTE_CONTROLLER).
  std::string danteController;
  // The browser client's built files, served over HTTP on the Ksp port.
  std::filesystem::path webRoot;
};

// The folders clients may open and save projects in.
std::vector<std::filesystem::path> clientFolders(const ServerOptions& options);

// Parses argv. Returns the options, or an exit code when parsing ended the
// program (--help, or an error already reported on stderr).
std::variant<ServerOptions, int> parseServerOptions(int argc, char** argv);

// The folder of the running executable (the module and plug-ins sit beside it).
std::filesystem::path executableFolder();

}  // namespace qor::app
