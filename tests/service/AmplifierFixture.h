#pragma once
// The service tests' fixture: a hand-driven entity context with every entity
// service, and amplifiers built through those services.

#include "model/ModelFixture.h"
#include "service/AmplifierBuilder.h"

namespace qor::server::testing {

class AmplifierFixture : public ModelFixture, public AmplifierBuilder {
 protected:
  AmplifierFixture() : AmplifierBuilder(context()) {}

  // A group over the given entities of one type.
  template <class E>
  E* groupOver(const std::vector<E*>& members, bool owned) {
    auto s = serviceOf<E>(*context()->services());
    E* group = s->create();
    s->setIsGroup(group, true, false);
    for (E* m : members) s->addChild(group, m, owned);
    return group;
  }
};

}  // namespace qor::server::testing
