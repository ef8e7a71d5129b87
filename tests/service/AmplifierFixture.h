#pragma once
// The service tests' fixture: a hand-driven entity context with every entity
// service, and amplifiers built through those services.

#include "model/ModelFixture.h"
#include "service/AmplifierBuilder.h"

namespace qor::server::testing {

class AmplifierFixture : public ModelFixture, public AmplifierBuilder {
 protected:
  AmplifierFixture() : AmplifierBuilder(context()) {}
};

}  // namespace qor::server::testing
