// The matrix family: the QM-16 model.

#include "common/DeviceTypeModule.h"
#include "matrices/MatrixModels.h"
#include "matrices/SimMatrix.h"

extern "C" __attribute__((visibility("default"))) fennik::server::IFennikModule* fennikCreateModule(
    const std::shared_ptr<fennik::server::SingletonRegistry>* globals) {
  auto* module =
      new qor::devicetypes::DeviceTypeModule(globals ? *globals : nullptr, qor::devicetypes::MATRICES_MODULE_ID);
  module->addModel<qor::devicetypes::Qm16Matrix>(qor::devicetypes::qm16Descriptor(), qor::devicetypes::qm16Model());
  return module;
}
