#include "ServerOptions.h"

#include "fennik/server/core/HostPaths.h"

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <iostream>

namespace qor::app {

std::filesystem::path executableFolder() { return fennik::server::executableFolder(); }

namespace {

std::filesystem::path defaultProjectsFolder() {
  const char* home = std::getenv("HOME");
  return (home && *home ? std::filesystem::path(home) : std::filesystem::current_path()) / "qorserver-projects";
}

}  // namespace

std::vector<std::filesystem::path> clientFolders(const ServerOptions& options) {
  std::vector<std::filesystem::path> folders{options.projectsFolder};
  if (options.projectFile) folders.push_back(std::filesystem::absolute(*options.projectFile).parent_path());
  folders.insert(folders.end(), options.allowedFolders.begin(), options.allowedFolders.end());
  return folders;
}

std::variant<ServerOptions, int> parseServerOptions(int argc, char** argv) {
  ServerOptions options;
  options.projectsFolder = defaultProjectsFolder();
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

  app.add_option("--projects-folder", options.projectsFolder,
                 "The folder in which clients open and save projects (relative paths from clients\n"
                 "start here); the folder of the --project file is allowed too")
      ->capture_default_str();
  app.add_option("--allow-folder", options.allowedFolders,
                 "Another folder in which clients may open and save projects (repeatable)");
  app.add_option("--allow-origin", options.allowedOrigins,
                 "A web page origin (http://host:port) allowed to connect besides pages the server\n"
                 "serves itself (repeatable)");
  app.add_option("--max-connections", options.maxConnections, "Client connections served at once")
      ->check(CLI::Range(1, 100000))
      ->capture_default_str();
  app.add_option("--max-message-mib", options.maxMessageMiB, "Largest message a client may send, in MiB")
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
  app.add_option("--send-queue-mib", options.sendQueueMiB,
                 "Bytes (MiB) that may wait for one client before it is disconnected as too slow")
      ->check(CLI::Range(1, 4096))
      ->capture_default_str();
  app.add_option("--idle-timeout", options.idleTimeoutSeconds,
                 "Seconds after which a silent client is closed (pinged after half); 0: never")
      ->check(CLI::Range(0, 86400))
      ->capture_default_str();
  app.add_option("--max-unpacked-entry-mib", options.unpackEntryMiB,
                 "Largest entry (MiB, unpacked) a project file may hold")
      ->check(CLI::Range(1, 65536))
      ->capture_default_str();
  app.add_option("--max-unpacked-mib", options.unpackTotalMiB, "Largest project (MiB, all entries unpacked)")
      ->check(CLI::Range(1, 1048576))
      ->capture_default_str();
  app.add_option("--dante-controller", options.danteController,
                 "The Dante Controller executable that clients may start on this machine; without it\n"
                 "projects report it as not installed")
      ->envname("QORSERVER_DANTE_CONTROLLER");

  app.footer(
      "Environment:\n"
      "  QORSERVER_DATA_DIR      the data folder (speaker databases); default $XDG_DATA_HOME/qorserver\n"
      "  QORSERVER_HEAP_PAGES    'default' keeps the heap on normal pages; otherwise a server built\n"
      "                          without tcmalloc restarts itself once at start with its heap on\n"
      "                          huge pages (GLIBC_TUNABLES=glibc.malloc.hugetlb=1), so that building\n"
      "                          and opening large shows is not slowed by page faults\n"
      "  QORSERVER_THREAD_SLICE  'default' leaves the network thread and the event loop with the\n"
      "                          kernel's default scheduling slice; otherwise they ask for 0.1 ms\n"
      "                          turns, so that a request on busy cores does not wait a scheduler\n"
      "                          tick for each of them (Linux 6.12 and later)");

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
