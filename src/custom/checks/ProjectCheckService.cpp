#include "custom/checks/ProjectCheckService.h"

#include "fennik/server/core/CallSite.h"
#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"
#include "fennik/server/service/TimerService.h"

#include <fmt/format.h>

#include <string>

namespace qor::server {

namespace {

std::string timerLabel(fennik::server::CallSite where = fennik::server::CallSite::current()) {
  return fmt::format("{} : {}", where.file_name(), where.line());
}

}  // namespace

ProjectCheckService::ProjectCheckService(std::shared_ptr<fennik::server::Database> db,
                                         std::shared_ptr<fennik::server::EntityLoop> loop,
                                         std::shared_ptr<fennik::server::ServiceResolver> services)
    : ProjectCheckServiceBase(std::move(db), std::move(loop), std::move(services)),
      queue_{&ProjectCheckService::checkSameDeviceId,
             &ProjectCheckService::checkSameDeviceName,
             &ProjectCheckService::checkDifferentNetwork,
             &ProjectCheckService::checkDifferentSamplerate,
             &ProjectCheckService::checkSamePowerOnDelay,
             &ProjectCheckService::checkPartialOnline,
             &ProjectCheckService::checkSpeakerUnconnected,
             &ProjectCheckService::checkDeviceFirmwareUpdateRequired,
             &ProjectCheckService::checkSpeakerSettingDifferent,
             &ProjectCheckService::checkNetworkInterfaces} {}

ProjectCheckService::~ProjectCheckService() = default;

fennik::server::Uuid ProjectCheckService::checkId(ProjectCheckKey key) {
  static const fennik::server::Uuid nameSpace = fennik::server::UuidFromS(CHECK_ID_NAMESPACE);
  return fennik::server::nameUuid(nameSpace, enumToString(key));
}

void ProjectCheckService::attachAudioNetwork(std::shared_ptr<const fennik::devices::AudioNetworkService> audioNetwork) {
  audioNetwork_ = std::move(audioNetwork);
}

void ProjectCheckService::loaded() {
  // Loaded again without an unload: still one timer chain.
  cancelTimer();
  timerExpired();
}

void ProjectCheckService::unload() { cancelTimer(); }

void ProjectCheckService::cancelTimer() {
  if (timer_.is_nil()) return;
  if (auto timers = services()->get<fennik::server::TimerService>()) timers->cancelTimeout(timer_);
  timer_ = fennik::server::Uuid{};
}

void ProjectCheckService::timerExpired() {
  timer_ = fennik::server::Uuid{};
  auto timers = services()->get<fennik::server::TimerService>();
  if (!timers) return;
  timer_ = timers->createTimeout(TIMER_INTERVAL_MS, timerLabel(), [self = std::weak_ptr<ProjectCheckService*>(self_)] {
    if (auto alive = self.lock()) (*alive)->timerExpired();
  });
  projectCheckRefresh();
}

void ProjectCheckService::runNext() {
  const Check check = queue_.front();
  queue_.push_back(check);
  (this->*check)();
  queue_.pop_front();
}

void ProjectCheckService::projectCheckRefresh() {
  for (int i = 0; i < CHECKS_PER_TICK; ++i) runNext();
}

void ProjectCheckService::projectCheckRefreshAll() {
  for (std::size_t i = 0, n = queue_.size(); i < n; ++i) runNext();
}

ProjectCheck* ProjectCheckService::getProjectCheck(ProjectCheckKey key) {
  if (!isKnownEnumValue(key)) {
    fennik::server::getLogger(fennik::server::MODULE_LOGGER)
        ->error("Unknown ProjectCheckKey is used: {}", static_cast<int>(key));
    return nullptr;
  }
  for (ProjectCheck* check : all()) {
    if (check->getKey() == key) return check;
  }
  auto created = createDefaultInitialized(checkId(key));
  ProjectCheck* check = created.get();
  check->setKey(key, false);
  db()->add(std::move(created));
  return check;
}

void ProjectCheckService::projectCheckSetIgnore(ProjectCheckKey key, bool ignored) {
  if (ProjectCheck* check = getProjectCheck(key)) setIgnored(check, ignored, false);
}

void ProjectCheckService::report(ProjectCheckKey key, std::string_view message, bool active) {
  ProjectCheck* check = getProjectCheck(key);
  if (!check) return;
  if (check->getMessage() != message) setMessage(check, std::string(message), false);
  if (check->getActive() != active) setActive(check, active, false);
}

}  // namespace qor::server
