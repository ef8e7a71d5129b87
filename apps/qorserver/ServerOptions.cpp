#include "ServerOptions.h"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <array>
#include <iostream>

namespace qor::app {

std::filesystem::path executableFolder() {
  std::array<char, 4096> buffer{};
  ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return std::filesystem::current_path();
  return std::filesystem::path(std::string(buffer.data(), static_cast<std::size_t>(n))).parent_path();
}

std::variant<ServerOptions, int> parseServerOptions(int argc, char** argv) {
  ServerOptions options;
  options.modulePath = executableFolder() / "libqorserver-livesound.so";
  options.pluginFolder = executableFolder() / "devicetypes";
  options.webRoot = executableFolder() / "web";

  CLI::App app{
      "qorserver - the live-sound control server.\n"
      "Serves a live-sound project to control clients. Without a command it starts on a new,\n"
      "empty project (or the --project file) and runs until interrupted (Ctrl-C)."};
  app.set_version_flag("--version", std::string(QOR_VERSION));
  app.add_option("--module", options.modulePath, "The live-sound module library to load")
      ->check(CLI::ExistingFile)
      ->capture_default_str();
  app.add_option("--plugins", options.pluginFolder, "The folder of device-type plug-ins")->capture_default_str();
  app.add_flag("--demo", options.demo, "Start the simulated device network with a few devices of every model");
  app.add_option("--demo-per-model", options.demoPerModel, "How many simulated devices of every model --demo starts")
      ->check(CLI::Range(1, 1000))
      ->capture_default_str();
  app.add_option("--log-level", options.logLevel, "trace, debug, info, warn, error, critical or off")
      ->check(CLI::IsMember({"trace", "debug", "info", "warn", "error", "critical", "off"}))
      ->capture_default_str();

  app.add_option("--project", options.projectFile,
                 "The project file to open, or to create when it does not exist yet. It is saved on\n"
                 "SIGUSR1 and when the server stops.");
  app.add_option("--listen", options.listen, "Address to serve Ksp on; anything but loopback needs --token")
      ->capture_default_str();
  app.add_option("--port", options.port, "TCP port to serve on (0: any free port)")
      ->check(CLI::Range(0, 65535))
      ->capture_default_str();
  // From the environment too, so the token need not show in the process list.
  app.add_option("--token", options.token, "Access token clients must present (Authorization: Bearer TOKEN)")
      ->envname("QORSERVER_TOKEN");
  app.add_option("--web-root", options.webRoot,
                 "The browser client's files, served at http://ADDR:PORT/ (open that address in a\n"
                 "browser; with --token, open http://ADDR:PORT/?token=TOKEN)")
      ->capture_default_str();

  auto* catalogue = app.add_subcommand("catalogue", "Print the entity catalogue (types, fields, enumerations)");
  catalogue->add_flag("--json", options.catalogueJson, "Print it as one JSON document");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  if (catalogue->parsed()) options.command = ServerOptions::Command::Catalogue;
  return options;
}

}  // namespace qor::app
