// The project checks on a show-size project: a thousand amplifiers in hangs
// of fifty, offline, with distinct names, device ids and power-on delays and
// no loudspeakers, so that no check finds anything and stops early (the
// worst case: every check passes over every device). One timer tick runs
// three checks; the goal is a tick under 1 ms, so that a show-size project
// never delays a fader move. The baseline is one bare pass over the devices
// reading each one's name, the least any device check must do.
// Run: build/default/bin/check_bench

#include "ShowProject.h"

#include "custom/checks/ProjectCheckService.h"
#include "qor/server/entities/All.h"
#include "qor/server/services/FtDeviceInfoService.h"
#include "qor/server/services/FtPowerService.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"

#include <string>

namespace {

using namespace qor::server;

struct Show {
  Show() {
    rig.build();
    rig.context->loop()->work([&](const std::shared_ptr<fennik::server::EntityContext>& c) {
      auto infos = c->services()->get<FtDeviceInfoService>();
      auto powers = c->services()->get<FtPowerService>();
      int n = 0;
      for (Device* amp : rig.amplifiers) {
        ++n;
        infos->setName(amp->getDeviceInfo(), "Amp" + std::to_string(n), false);
        infos->setDeviceId(amp->getDeviceInfo(), std::to_string(n), false);
        powers->setDelayInSec(amp->getPower(), n * 0.001, false);
      }
    });
    rig.context->loop()->runUntilIdle();
    checks = rig.context->services()->get<ProjectCheckService>();
    checks->projectCheckRefreshAll();
  }
  void counters(benchmark::State& state) const {
    state.counters["devices"] = static_cast<double>(rig.context->db()->all<Device>().size());
    int active = 0;
    for (const ProjectCheck* c : rig.context->db()->all<ProjectCheck>()) active += c->getActive() ? 1 : 0;
    state.counters["activeChecks"] = active;
  }

  qor::bench::ShowRig rig;
  std::shared_ptr<ProjectCheckService> checks;
};

Show& show() {
  static Show s;
  return s;
}

void BM_DevicePass(benchmark::State& state) {
  auto& s = show();
  for (auto _ : state) {
    std::size_t length = 0;
    for (const Device* d : s.rig.context->db()->all<Device>()) {
      if (const FtDeviceInfo* info = d->getDeviceInfo()) length += info->getName().size();
    }
    benchmark::DoNotOptimize(length);
  }
  s.counters(state);
}
BENCHMARK(BM_DevicePass)->Unit(benchmark::kMicrosecond);

// One tick: the next three checks of the queue; over many iterations every
// check takes its turn equally often.
void BM_CheckTick(benchmark::State& state) {
  auto& s = show();
  for (auto _ : state) s.checks->projectCheckRefresh();
  s.counters(state);
}
BENCHMARK(BM_CheckTick)->Unit(benchmark::kMicrosecond);

// Each check on its own, to see where a tick's time goes.
void BM_OneCheck(benchmark::State& state, void (ProjectCheckService::*check)()) {
  auto& s = show();
  for (auto _ : state) ((*s.checks).*check)();
  s.counters(state);
}
BENCHMARK_CAPTURE(BM_OneCheck, sameDeviceId, &ProjectCheckService::checkSameDeviceId)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_OneCheck, sameDeviceName, &ProjectCheckService::checkSameDeviceName)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_OneCheck, differentNetwork, &ProjectCheckService::checkDifferentNetwork)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_OneCheck, differentSamplerate, &ProjectCheckService::checkDifferentSamplerate)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_OneCheck, samePowerOnDelay, &ProjectCheckService::checkSamePowerOnDelay)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_OneCheck, partialOnline, &ProjectCheckService::checkPartialOnline)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_OneCheck, speakerUnconnected, &ProjectCheckService::checkSpeakerUnconnected)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_OneCheck, firmwareUpdateRequired, &ProjectCheckService::checkDeviceFirmwareUpdateRequired)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_OneCheck, speakerSettingDifferent, &ProjectCheckService::checkSpeakerSettingDifferent)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_OneCheck, networkInterfaces, &ProjectCheckService::checkNetworkInterfaces)
    ->Unit(benchmark::kMicrosecond);

void BM_CheckRefreshAll(benchmark::State& state) {
  auto& s = show();
  for (auto _ : state) s.checks->projectCheckRefreshAll();
  s.counters(state);
}
BENCHMARK(BM_CheckRefreshAll)->Unit(benchmark::kMicrosecond);

}  // namespace
