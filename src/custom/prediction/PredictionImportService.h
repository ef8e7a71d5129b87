#pragma once
// Imports the loudspeaker layout an acoustic-prediction tool computed: one
// speaker device per speaker of the file, with its speaker mode, placed and
// oriented on the canvas, and one PredictionDspSetting per DSP setting of
// the file (the delay and gain the prediction asked for and the devices they
// apply to). A file that is refused changes nothing; the user learns why
// from a notification (docs/prediction-import.md).

#include "fennik/server/service/Service.h"

#include <string>
#include <vector>

namespace qor::server {

class Device;
class PredictionDspSetting;

namespace prediction {
struct PredictionFile;
}

struct PredictionImportResult {
  bool imported = false;
  // Why the file was refused, naming the place in the file; empty when imported.
  std::string problem;
  std::vector<Device*> devices;                    // the speakers made, in file order
  std::vector<PredictionDspSetting*> dspSettings;  // in file order
};

class PredictionImportService : public fennik::server::Service {
 public:
  using Service::Service;
  std::string serviceName() const override { return "qor::server::PredictionImportService"; }

  // Imports one prediction file (its bytes); true when the import ran, false
  // when the file was refused.
  bool predictionImport(const std::string& file);
  // The same, with what was made or why the file was refused.
  PredictionImportResult importFile(const std::string& file);

 private:
  // The first speaker whose product is in no speaker database in use, as a
  // problem text; empty when every product is known.
  std::string unsupportedDatabase(const prediction::PredictionFile& file) const;
  void import010(const prediction::PredictionFile& file, PredictionImportResult& result);
  // Logs the message (unless logged already) and what is wrong, notifies
  // the user, and returns the refusal.
  PredictionImportResult refuse(const std::string& title, const std::string& message, std::string problem,
                                bool logMessage = true);
};

}  // namespace qor::server
