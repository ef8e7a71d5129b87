// The amplifier family: the QA-4 and QA-8 models.

#include "amplifiers/AmplifierModels.h"
#include "amplifiers/SimAmplifier.h"
#include "common/DeviceTypeModule.h"

extern "C" __attribute__((visibility("default"))) fennik::server::IFennikModule* fennikCreateModule(
    const std::shared_ptr<fennik::server::SingletonRegistry>* globals) {
  auto* module =
      new qor::devicetypes::DeviceTypeModule(globals ? *globals : nullptr, qor::devicetypes::AMPLIFIERS_MODULE_ID);
  module->addModel<qor::devicetypes::Qa4Amplifier>(qor::devicetypes::qa4Descriptor(), qor::devicetypes::qa4Model());
  module->addModel<qor::devicetypes::Qa8Amplifier>(qor::devicetypes::qa8Descriptor(), qor::devicetypes::qa8Model());
  return module;
}
