#pragma once
// One loaded speaker database and the lookups the speaker services make.

#include "fennik/common/speakerdb/SpeakerDB.h"

#include "fennik/devices/FennikDevice.h"

#include <vector>

namespace fennik::common::speakerdb {

// One choice a product offers: a preset together with an electro-acoustic
// variant for which the preset has DSP chains.
struct ProductMode {
  const Preset* preset = nullptr;
  const ElectroacousticVariant* variant = nullptr;
};

class ISpeakerDatabase {
 public:
  virtual ~ISpeakerDatabase() = default;

  virtual const Uuid& id() const = 0;
  virtual const std::string& name() const = 0;
  virtual const Version& version() const = 0;
  // The underlying records (stable for the database's lifetime).
  virtual const SpeakerDB& speakerDb() const = 0;
  virtual const std::vector<Product>& products() const = 0;

  // Lookups by id; null when this database has no such record.
  virtual const Product* findProduct(const Uuid& id) const = 0;
  virtual const ElectroacousticVariant* findVariant(const Uuid& id) const = 0;
  virtual const Preset* findPreset(const Uuid& id) const = 0;
  virtual const DspChain* findDspChain(const Uuid& id) const = 0;

  // False for hidden and for unknown products.
  virtual bool isProductVisible(const Uuid& productId) const = 0;
  // Every preset/variant pair the product offers for which the preset holds
  // chains, presets first in the product's order, then variants.
  virtual std::vector<ProductMode> modesOf(const Product& product) const = 0;
  // The chains, one per band, that a preset loads for a variant; empty when
  // the preset has none for it.
  virtual std::vector<const DspChain*> dspChainsFor(const Preset& preset,
                                                    const ElectroacousticVariant& variant) const = 0;
  // The setting an amplifier channel loads to run a chain.
  virtual fennik::devices::SpeakerSetting dspChainToFennikSpeakerSetting(const DspChain& chain) const = 0;
};

}  // namespace fennik::common::speakerdb
