// qorserver: loads the live-sound module, serves a project until interrupted.

#include "Host.h"
#include "ServerOptions.h"

#include "fennik/server/core/HugePageHeap.h"
#include "fennik/server/core/Logging.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

namespace {

using fennik::server::getLogger;
using fennik::server::HOST_LOGGER;

// Clients save into the projects folder by default; on a fresh machine it
// does not exist yet, and a "save as" would be refused for that alone.
void ensureProjectsFolder(const std::filesystem::path& folder) {
  std::error_code ec;
  if (std::filesystem::is_directory(folder, ec)) return;
  if (std::filesystem::create_directories(folder, ec)) {
    getLogger(HOST_LOGGER)->info("Created the projects folder {}", folder.string());
  } else {
    getLogger(HOST_LOGGER)
        ->warn("The projects folder {} does not exist and cannot be created ({}); clients cannot save there",
               folder.string(), ec ? ec.message() : "not a folder");
  }
}

int printCatalogue(const qor::app::ServerOptions& options) {
  // The catalogue comes from the module itself, so it shows what the code has.
  auto globals = std::make_shared<fennik::server::SingletonRegistry>();
  auto loaded = fennik::server::loadModule(options.modulePath, globals);
  using CatalogueFn = const char* (*)();
  auto fn = reinterpret_cast<CatalogueFn>(loaded->symbol("qorLivesoundCatalogueJson"));
  if (!fn) {
    std::cerr << "qorserver: the module has no catalogue\n";
    return 1;
  }
  if (options.catalogueJson) {
    std::cout << fn() << '\n';
    return 0;
  }
  // A readable summary; --json gives the whole document.
  const auto doc = nlohmann::json::parse(fn());
  std::cout << doc["types"].size() << " entity types, " << doc["enums"].size() << " enumerations\n";
  for (const auto& type : doc["types"]) {
    std::cout << "  " << type["className"].get<std::string>() << ": " << type["fields"].size() << " fields, "
              << type["references"].size() << " references, " << type["wire"].size() << " wire fields\n";
  }
  return 0;
}

bool saveProject(qor::app::Host& host) {
  try {
    host.project().save();
    return true;
  } catch (const std::exception& e) {
    getLogger(HOST_LOGGER)->error("Saving failed: {}", e.what());
    return false;
  }
}

fennik::server::net::KspServerOptions networkOptions(const qor::app::ServerOptions& options) {
  fennik::server::net::KspServerOptions net;
  net.listen = options.listen;
  net.port = static_cast<std::uint16_t>(options.port);
  net.token = options.token;
  net.maxConnections = options.maxConnections;
  net.maxMessageBytes = options.maxMessageMiB << 20;
  net.sendQueueBytes = options.sendQueueMiB << 20;
  net.idleTimeout = std::chrono::seconds(options.idleTimeoutSeconds);
  net.allowedOrigins = options.allowedOrigins;
  if (std::filesystem::is_regular_file(options.webRoot / "index.html")) {
    net.files = std::make_shared<fennik::server::net::StaticFiles>(options.webRoot);
  } else {
    getLogger(HOST_LOGGER)
        ->warn("No browser client in {} (build the target 'web'); serving Ksp only", options.webRoot.string());
  }
  return net;
}

int serve(const qor::app::ServerOptions& options) {
  // Block the stop signals before any thread starts, then wait for them here.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  getLogger(HOST_LOGGER)->info("qorserver {} starting", QOR_VERSION);
  // The module reads where the routing application is from the environment.
  if (!options.danteController.empty()) ::setenv("QORSERVER_DANTE_CONTROLLER", options.danteController.c_str(), 1);
  // A start that is refused creates nothing: the options are checked first,
  // and a new project file is written only once the server listens.
  const auto net = networkOptions(options);
  fennik::server::net::checkServerOptions(net);
  fennik::server::ProjectManager::removeStaleWorkingFolders();
  ensureProjectsFolder(options.projectsFolder);
  qor::app::Host host(options.modulePath, options.pluginFolder, qor::app::clientFolders(options));
  host.project().setLimits({options.unpackEntryMiB << 20, options.unpackTotalMiB << 20});
  host.start();
  bool createFile = false;
  try {
    if (options.projectFile && std::filesystem::exists(*options.projectFile)) {
      host.project().open(*options.projectFile);
    } else {
      host.newProject();
      createFile = options.projectFile.has_value();
    }
  } catch (const fennik::server::ProjectError& e) {
    // The file stays as it is; the user decides what to do with it.
    getLogger(HOST_LOGGER)->critical("{}", e.what());
    return 1;
  }
  if (options.demo) host.startDemo(options.demoPerModel);
  host.serve(net);
  if (createFile) {
    try {
      host.project().saveAs(*options.projectFile);
    } catch (const fennik::server::ProjectError& e) {
      getLogger(HOST_LOGGER)->critical("{}", e.what());
      return 1;
    }
  }
  // The one line a script or a client waits for.
  std::printf("qorserver serving %s\n", host.server()->url().c_str());
  if (net.files) {
    std::printf("qorserver browser client at %s%s\n", host.server()->pageUrl().c_str(),
                options.token.empty() ? "" : "?token=YOUR_TOKEN");
  }
  std::fflush(stdout);
  getLogger(HOST_LOGGER)->info("qorserver is running; press Ctrl-C to stop");

  int received = 0;
  for (;;) {
    sigwait(&stopSignals, &received);
    if (received != SIGUSR1) break;
    saveProject(host);
  }
  getLogger(HOST_LOGGER)->info("Received {}, shutting down", received == SIGINT ? "SIGINT" : "SIGTERM");
  int rc = 0;
  if (const auto file = host.project().file(); file && !saveProject(host)) {
    // The file on disk is the last good save; the changes since are lost.
    getLogger(HOST_LOGGER)
        ->critical("The project could not be saved at stop; {} keeps its last saved state", file->string());
    rc = 1;
  }
  host.stop();
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  fennik::server::useHugePageHeap(argv);
  auto parsed = qor::app::parseServerOptions(argc, argv);
  if (auto* code = std::get_if<int>(&parsed)) return *code;
  const auto& options = std::get<qor::app::ServerOptions>(parsed);
  fennik::server::setLogLevel(spdlog::level::from_str(options.logLevel));
  try {
    if (options.command == qor::app::ServerOptions::Command::Catalogue) {
      // Keep stdout clean for the JSON document.
      fennik::server::setLogLevel(spdlog::level::warn);
      return printCatalogue(options);
    }
    int rc = serve(options);
    getLogger(HOST_LOGGER)->info("qorserver stopped");
    return rc;
  } catch (const std::exception& e) {
    getLogger(HOST_LOGGER)->critical("qorserver failed: {}", e.what());
    return 1;
  }
}
