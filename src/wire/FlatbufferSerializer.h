#pragma once
// The machinery of every <T>FlatbufferSerializer: one reused builder
// (1024 bytes to start), force-defaults so every field is on the wire, and a
// copy of the finished table into the caller's output vector. The generated
// subclass only names the fields (build).

#include "fennik/server/entity/EntityFlatbufferSerializer.h"

#include <flatbuffers/flatbuffers.h>

#include <algorithm>
#include <string_view>

namespace qor::server::wire {

template <class E>
class FlatbufferSerializer : public fennik::server::EntityFlatbufferSerializer {
 public:
  std::string_view entityClassName() const override { return E::CLASS_NAME; }

  void serialize(const fennik::server::Entity* entity) override {
    builder_.Clear();
    builder_.ForceDefaults(true);
    auto* typed = dynamic_cast<const E*>(entity);
    auto* output = get_data();
    if (!typed || !output) return;
    build(builder_, *typed);
    output->resize(builder_.GetSize());
    std::copy(builder_.GetBufferPointer(), builder_.GetBufferPointer() + builder_.GetSize(), output->begin());
  }

 protected:
  // Creates the strings and vectors, adds every field and finishes the buffer.
  virtual void build(flatbuffers::FlatBufferBuilder& b, const E& entity) const = 0;

 private:
  flatbuffers::FlatBufferBuilder builder_{1024};
};

}  // namespace qor::server::wire
