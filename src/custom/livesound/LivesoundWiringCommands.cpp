// The wiring commands of the livesound route: the connector dialogue and
// amplifier modes.
#include "custom/livesound/LivesoundController.h"
#include "custom/livesound/LivesoundService.h"
#include "qor/server/entities/FtAmplifierMode.h"
#include "qor/server/entities/FtConnector.h"
#include "qor/server/fbs/LivesoundCommands_generated.h"
#include "wire/Command.h"

namespace qor::server {

using wire::addCommand;
using wire::CommandJob;
namespace cmd = fbs::cmd;

void addWiringCommands(fennik::server::IFennikController& controller) {
  addCommand<cmd::ConnectorStartArgs>(
      controller, "/connectorStart", {cmd::ConnectorStartArgs::VT_CONNECTOR},
      [](CommandJob& job, const cmd::ConnectorStartArgs& a) {
        job.service<LivesoundService>().connectorStart(job.entity<FtConnector>(a.connector()));
      });

  addCommand<cmd::ConnectorConnectArgs>(
      controller, "/connectorConnect", {cmd::ConnectorConnectArgs::VT_CONNECTOR},
      [](CommandJob& job, const cmd::ConnectorConnectArgs& a) {
        job.service<LivesoundService>().connectorSelect(job.entity<FtConnector>(a.connector()));
      });

  addCommand<cmd::ConnectorFinishArgs>(
      controller, "/connectorFinish", {},
      [](CommandJob& job, const cmd::ConnectorFinishArgs&) { job.service<LivesoundService>().connectorFinish(); });

  addCommand<cmd::AmplifierModeActivateArgs>(controller, "/amplifierModeActivate",
                                             {cmd::AmplifierModeActivateArgs::VT_AMPLIFIERMODE},
                                             [](CommandJob& job, const cmd::AmplifierModeActivateArgs& a) {
                                               job.service<LivesoundService>().amplifierModeActivate(
                                                   job.entity<FtAmplifierMode>(a.amplifierMode()), a.active());
                                             });
}

}  // namespace qor::server
