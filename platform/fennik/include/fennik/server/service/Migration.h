#pragma once
// Schema migrations of stored projects. Each migration brings a project up
// to its version; the host runs those newer than the stored version, in
// version order, before the entities are read.

#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace fennik::server {

class FileContainer;

struct SchemaVersion {
  int major = 0;
  int minor = 0;
  int patch = 0;

  auto operator<=>(const SchemaVersion&) const = default;
  std::string toString() const;
  // "1.2.4" -> {1,2,4}; throws std::invalid_argument on anything else.
  static SchemaVersion parse(const std::string& text);
};

class Migration {
 public:
  explicit Migration(SchemaVersion version) : version_(version) {}
  virtual ~Migration() = default;

  const SchemaVersion& version() const { return version_; }
  virtual std::string name() const = 0;
  // Rewrites the opened project's container in place (its "entities.json",
  // keyed by class name, and any entry it needs).
  virtual void migrate(const std::shared_ptr<FileContainer>& container) = 0;

 private:
  SchemaVersion version_;
};

class Migrations {
 public:
  void add(std::shared_ptr<Migration> migration);
  const std::vector<std::shared_ptr<Migration>>& all() const { return migrations_; }
  // The migrations a project stored at `stored` needs, in version order
  // (stable for equal versions).
  std::vector<std::shared_ptr<Migration>> pendingFor(const SchemaVersion& stored) const;
  // The newest version any migration brings a project to.
  SchemaVersion latest() const;

 private:
  std::vector<std::shared_ptr<Migration>> migrations_;
};

}  // namespace fennik::server
