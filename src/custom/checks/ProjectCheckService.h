#pragma once
// The project checks: each problem kind a sound engineer should hear about
// before the show (duplicate device ids or names, mixed network or sample-rate
// settings, equal power-on delays, devices partly offline, loudspeakers not
// fully wired, wrong speaker settings, firmware updates needed, no audio
// network) has one ProjectCheck entity with a fixed id, whose `active` says
// whether the problem is there now. While a project is open, a 3000 ms timer
// runs the next three checks of a round-robin queue of ten, so each check
// runs about every ten seconds and a tick stays short on a large project.
// Clients may mark a check as ignored; the service only stores that.

#include "qor/server/services/ProjectCheckServiceBase.h"

#include "fennik/server/core/Uuid.h"

#include <deque>
#include <memory>
#include <string_view>

namespace fennik::devices {
class AudioNetworkService;
}

namespace qor::server {

class ProjectCheckService : public ProjectCheckServiceBase {
 public:
  static constexpr int TIMER_INTERVAL_MS = 3000;
  static constexpr int CHECKS_PER_TICK = 3;
  // Namespace of the checks' name-based (SHA-1) ids; the name is the key's name.
  static constexpr const char* CHECK_ID_NAMESPACE = "b43ce0a5-bf27-41b9-8909-7bbfe64c5f06";

  ProjectCheckService(std::shared_ptr<fennik::server::Database> db, std::shared_ptr<fennik::server::EntityLoop> loop,
                      std::shared_ptr<fennik::server::ServiceResolver> services);
  ~ProjectCheckService() override;

  // The id of a key's check: the same in every project and on every server.
  static fennik::server::Uuid checkId(ProjectCheckKey key);

  // The host's audio-network service, whose running state the last check
  // reads; without one the audio network counts as not running.
  void attachAudioNetwork(std::shared_ptr<const fennik::devices::AudioNetworkService> audioNetwork);

  // Starts the timer chain (running the first three checks at once).
  void loaded() override;
  // The checks pause while no project is open.
  void unload() override;

  // Runs the next three checks of the queue.
  void projectCheckRefresh();
  // Runs every check once, in queue order.
  void projectCheckRefreshAll();
  // Sets `ignored` of the key's check, creating the check when needed. A
  // value that is no ProjectCheckKey is logged and changes nothing.
  void projectCheckSetIgnore(ProjectCheckKey key, bool ignored);
  // The key's check, created (with its fixed id) on first use; null for a
  // value that is no ProjectCheckKey.
  ProjectCheck* getProjectCheck(ProjectCheckKey key);

  // The ten checks: each evaluates one rule and writes the check's message
  // and active flag.
  void checkSameDeviceId();
  void checkSameDeviceName();
  void checkDifferentNetwork();
  void checkDifferentSamplerate();
  void checkSamePowerOnDelay();
  void checkPartialOnline();
  void checkSpeakerUnconnected();
  void checkDeviceFirmwareUpdateRequired();
  void checkSpeakerSettingDifferent();
  void checkNetworkInterfaces();

 private:
  using Check = void (ProjectCheckService::*)();

  void timerExpired();
  void cancelTimer();
  // Takes the front check, puts it at the back and runs it.
  void runNext();
  // Writes what a check found; unchanged values are not written again, so
  // subscribed clients hear only of changes.
  void report(ProjectCheckKey key, std::string_view message, bool active);

  std::deque<Check> queue_;
  std::shared_ptr<const fennik::devices::AudioNetworkService> audioNetwork_;
  fennik::server::Uuid timer_{};
  // The timer's callback holds this weakly, so a service that is gone is
  // never called back.
  std::shared_ptr<ProjectCheckService*> self_ = std::make_shared<ProjectCheckService*>(this);
};

}  // namespace qor::server
