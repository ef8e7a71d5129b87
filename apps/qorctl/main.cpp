// qorctl: a command-line Ksp client of qorserver. Prints JSON; exits non-zero
// when the server answers with a failure status or cannot be reached.

#include "WireJson.h"

#include "fennik/server/net/KspClient.h"
#include "fennik/server/net/ProjectRoute.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

using fennik::server::KspMethod;
using fennik::server::KspStatus;
using fennik::server::net::KspClient;
using fennik::server::net::Message;
using fennik::server::net::MessageKind;
using qor::ctl::WireJson;
using json = nlohmann::ordered_json;

constexpr const char* ENTITY_PREFIX = "qor::server::";

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string className(const std::string& type) {
  return type.rfind(ENTITY_PREFIX, 0) == 0 ? type : ENTITY_PREFIX + type;
}

std::string typeName(const std::string& cls) {
  return cls.rfind(ENTITY_PREFIX, 0) == 0 ? cls.substr(std::string(ENTITY_PREFIX).size()) : cls;
}

const char* statusText(int status) {
  switch (status) {
    case 200:
      return "ok";
    case 204:
      return "done";
    case 400:
      return "bad request";
    case 401:
      return "unauthorized";
    case 404:
      return "not found";
    case 422:
      return "refused";
    case 500:
      return "server error";
    case 501:
      return "not offered";
  }
  return "unknown status";
}

struct Session {
  KspClient client;
  std::chrono::milliseconds timeout{10000};

  Message call(const std::string& route, KspMethod method, const std::string& path = {},
               const std::string& entityId = {}, fennik::server::KspBytes payload = {}) {
    auto reply = client.call(route, method, path, entityId, std::move(payload), timeout);
    if (!reply) throw Failure("no reply from the server within " + std::to_string(timeout.count()) + " ms");
    if (reply->status >= 300) {
      throw Failure(route + path + " answered " + std::to_string(reply->status) + " (" + statusText(reply->status) +
                    ")");
    }
    return *reply;
  }

  // The class of an entity, from the host's entity lookup.
  std::string classOf(const std::string& id) {
    auto reply = call("fennik::server::Entity", KspMethod::Show, {}, id);
    auto names = fennik::server::net::decodeStringList(reply.payload);
    if (!names || names->empty()) throw Failure("the entity lookup answered nonsense");
    return names->front();
  }
};

void print(const json& j) { std::cout << j.dump() << std::endl; }

json changeEvent(WireJson& wire, const Message& m) {
  json event;
  if (m.kind == MessageKind::Changed) {
    event["event"] = "changed";
    event["type"] = typeName(m.route);
    event["id"] = m.entityId;
    try {
      event["entity"] = wire.toJson(typeName(m.route), m.payload);
    } catch (const std::exception& e) {
      event["error"] = e.what();
    }
  } else if (m.kind == MessageKind::Deleted) {
    event["event"] = "deleted";
    event["type"] = typeName(m.route);
    event["id"] = m.entityId;
  } else if (m.kind == MessageKind::Notification) {
    event["event"] = "notification";
    if (auto n = fennik::server::net::decodeUserNotification(m.payload)) {
      event["title"] = n->title;
      event["text"] = n->text;
      event["type"] = n->type == 2 ? "error" : n->type == 1 ? "warning" : "info";
    }
  } else {
    return nullptr;
  }
  return event;
}

// The route path of a project verb and whether it takes a file.
struct ProjectVerb {
  const char* verb;
  const char* path;
  bool takesFile;
};
using fennik::server::net::ProjectRoute;
constexpr ProjectVerb PROJECT_VERBS[] = {{"new", ProjectRoute::NEW, false},
                                         {"open", ProjectRoute::OPEN, true},
                                         {"save", ProjectRoute::SAVE, false},
                                         {"save-as", ProjectRoute::SAVE_AS, true},
                                         {"info", ProjectRoute::INFO, false}};

// The verb, checked against its file argument before anything is sent.
const ProjectVerb& projectVerb(const std::string& verb, const std::string& file) {
  const ProjectVerb* found = nullptr;
  for (const auto& v : PROJECT_VERBS) {
    if (verb == v.verb) found = &v;
  }
  if (!found) throw std::invalid_argument("no project verb '" + verb + "' (new, open, save, save-as, info)");
  if (found->takesFile && file.empty()) throw std::invalid_argument("project " + verb + " needs a FILE");
  if (!found->takesFile && !file.empty()) throw std::invalid_argument("project " + verb + " takes no FILE");
  return *found;
}

// Runs one project verb; prints the project's state (and the server's reason
// when it refuses, then throws a Failure).
void runProject(Session& s, const std::string& verb, const std::string& file) {
  const ProjectVerb* found = &projectVerb(verb, file);
  fennik::server::KspBytes payload;
  if (found->takesFile) {
    // The server resolves relative paths against its own folder; send ours.
    payload = fennik::server::net::encodeProjectPathArgs(std::filesystem::absolute(file).string());
  }
  const std::string route = ProjectRoute::ROUTE;
  auto reply = s.client.call(route, KspMethod::Custom, found->path, {}, std::move(payload), s.timeout);
  if (!reply) throw Failure("no reply from the server within " + std::to_string(s.timeout.count()) + " ms");
  auto state = fennik::server::net::decodeProjectReply(reply->payload);
  json out{{"status", reply->status}};
  if (state) {
    out["open"] = state->open;
    out["file"] = state->file.empty() ? json(nullptr) : json(state->file);
    out["schemaVersion"] = state->schemaVersion.empty() ? json(nullptr) : json(state->schemaVersion);
    if (!state->error.empty()) out["error"] = state->error;
  }
  print(out);
  if (reply->status >= 300) {
    throw Failure(route + found->path + " answered " + std::to_string(reply->status) + " (" +
                  statusText(reply->status) + ")" + (state && !state->error.empty() ? ": " + state->error : ""));
  }
}

// The path's argument table: "/presetStore" -> "PresetStoreArgs".
// A command's tables in the command schema: /layerAdd takes LayerAddArgs
// and answers with LayerAddResult when it has a result.
std::string commandTable(const std::string& path, const char* suffix) {
  const auto start = path.find_first_not_of('/');
  std::string name = start == std::string::npos ? std::string() : path.substr(start);
  if (!name.empty()) name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
  return name + suffix;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"qorctl - talk to a running qorserver over Ksp. Output is JSON, one document per line."};
  app.require_subcommand(1);
  std::string url = "ws://127.0.0.1:7411/ksp";
  std::string token;
  int timeoutMs = 10000;
  app.add_option("--url", url, "Server address")->envname("QORCTL_URL")->capture_default_str();
  app.add_option("--token", token, "Access token of the server")->envname("QORCTL_TOKEN");
  app.add_option("--timeout", timeoutMs, "Milliseconds to wait for a reply")->capture_default_str();

  std::string type, id, path;
  std::vector<std::string> args, targets;
  int count = 0;

  auto* index = app.add_subcommand("index", "List the ids of every entity of a type");
  index->add_option("type", type, "Entity type, e.g. FtDelay")->required();

  auto* show = app.add_subcommand("show", "Show one entity (every field on the wire)");
  show->add_option("id", id, "Entity id")->required();

  auto* update = app.add_subcommand("update", "Change fields of an entity: update FtDelay ID delayInMs=2.5");
  update->add_option("type", type, "Entity type")->required();
  update->add_option("id", id, "Entity id")->required();
  update->add_option("fields", args, "field=value ...")->required();

  auto* watch = app.add_subcommand("watch", "Print change notifications of types or entities until interrupted");
  watch->add_option("targets", targets, "Entity types and/or ids")->required();
  watch->add_option("--count", count, "Stop after this many events");

  auto* call = app.add_subcommand("call", "Run a livesound command: call /presetRecall preset=ID slot=A");
  call->add_option("path", path, "Command path, e.g. /presetRecall")->required();
  call->add_option("args", args, "field=value ...");
  call->footer([] {
    return "Commands and their argument fields (from the command schema; docs/protocol.md says what each does).\n"
           "Ids, texts and lists are required (docs/protocol.md names the few optional ones); a scalar left out\n"
           "means 0 or false, except =null ones, which are required:\n" +
           WireJson(WireJson::Family::Commands).commandList();
  });

  std::string verb, file;
  auto* project = app.add_subcommand("project", "The server's project: project new|open FILE|save|save-as FILE|info");
  project->add_option("verb", verb, "new, open, save, save-as or info")->required();
  project->add_option("file", file, "Project file of open and save-as");

  CLI11_PARSE(app, argc, argv);

  try {
    if (project->parsed()) projectVerb(verb, file);
    Session s;
    s.timeout = std::chrono::milliseconds(timeoutMs);
    s.client.connect(fennik::server::net::parseKspUrl(url), token);

    if (index->parsed()) {
      auto reply = s.call(className(type), KspMethod::Index);
      auto ids = fennik::server::net::decodeIdVector(reply.payload);
      if (!ids) throw Failure("the index reply is no list of ids");
      print(json{{"type", typeName(className(type))}, {"ids", *ids}});
    } else if (show->parsed()) {
      const auto cls = s.classOf(id);
      auto reply = s.call(cls, KspMethod::Show, {}, id);
      WireJson wire(WireJson::Family::Entities);
      print(json{{"type", typeName(cls)}, {"entity", wire.toJson(typeName(cls), reply.payload)}});
    } else if (update->parsed()) {
      WireJson wire(WireJson::Family::Entities);
      const auto table = typeName(className(type));
      if (!wire.hasTable(table)) throw Failure("no entity type " + type);
      auto payload = wire.fromAssignments(table, json{{"id", id}}, args);
      auto reply = s.call(className(type), KspMethod::Update, {}, id, std::move(payload));
      print(json{{"status", reply.status}});
    } else if (watch->parsed()) {
      std::vector<std::string> ids, classes;
      for (const auto& t : targets) {
        if (t.size() == 36 && t[8] == '-') {
          ids.push_back(t);
        } else {
          classes.push_back(className(t));
        }
      }
      s.call("fennik::server::Subscription", KspMethod::Subscribe, {}, {},
             fennik::server::net::encodeSubscriptionArgs(ids, classes));
      WireJson wire(WireJson::Family::Entities);
      int seen = 0;
      while (count <= 0 || seen < count) {
        auto m = s.client.next(std::chrono::hours(24));
        if (!m) {
          if (!s.client.isOpen()) throw Failure("the server closed the connection");
          continue;
        }
        auto event = changeEvent(wire, *m);
        if (event.is_null()) continue;
        print(event);
        ++seen;
      }
    } else if (project->parsed()) {
      runProject(s, verb, file);
    } else if (call->parsed()) {
      WireJson wire(WireJson::Family::Commands);
      const auto table = commandTable(path, "Args");
      if (!wire.hasTable(table)) throw Failure("no livesound command " + path);
      auto payload = wire.fromAssignments(table, json::object(), args);
      // A refusal (422) carries the command's result table saying why.
      auto answer = s.client.call("qor::server::Livesound", KspMethod::Custom, path, {}, std::move(payload), s.timeout);
      if (!answer) throw Failure("no reply from the server within " + std::to_string(s.timeout.count()) + " ms");
      if (answer->status >= 300 && answer->status != 422) {
        throw Failure("qor::server::Livesound" + path + " answered " + std::to_string(answer->status) + " (" +
                      statusText(answer->status) + ")");
      }
      const auto& reply = *answer;
      json out{{"status", reply.status}};
      const auto resultTable = commandTable(path, "Result");
      if (!reply.payload.empty() && wire.hasTable(resultTable)) {
        out["result"] = wire.toJson(resultTable, reply.payload);
      } else if (!reply.payload.empty()) {
        out["payloadBytes"] = reply.payload.size();
      }
      print(out);
      if (reply.status >= 300) {
        throw Failure("qor::server::Livesound" + path + " answered " + std::to_string(reply.status) + " (" +
                      statusText(reply.status) + ")");
      }
    }
    return 0;
  } catch (const std::invalid_argument& e) {
    std::cerr << "qorctl: " << e.what() << std::endl;
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "qorctl: " << e.what() << std::endl;
    return 1;
  }
}
