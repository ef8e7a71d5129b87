#pragma once
// A speaker database read from one of its three forms: JSON text, a ZIP
// archive holding that text, or the precompiled FlatBuffers form that
// toFlatbufferData writes. Every reader checks the whole database before it
// returns one; a damaged or hostile input throws SpeakerDatabaseError naming
// the source and what is wrong, and yields nothing.

#include "fennik/common/speakerdb/ISpeakerDatabase.h"

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace fennik::common::speakerdb {

class JsonSpeakerDatabase : public ISpeakerDatabase {
 public:
  // Larger inputs (files, or the text inside an archive) are refused.
  static constexpr std::size_t MAX_INPUT_BYTES = 256u * 1024 * 1024;
  // Deeper JSON nesting than this is refused (the format needs five levels).
  static constexpr std::size_t MAX_JSON_DEPTH = 32;

  // `source` names the input in error messages (usually the file name).
  static std::shared_ptr<JsonSpeakerDatabase> fromJson(std::string_view text, const std::string& source = "<memory>");
  static std::shared_ptr<JsonSpeakerDatabase> fromZip(std::string_view bytes, const std::string& source = "<memory>");
  static std::shared_ptr<JsonSpeakerDatabase> fromFlatbuffer(std::string_view bytes,
                                                             const std::string& source = "<memory>");
  // Picks the form by the first bytes: a ZIP archive, the precompiled form,
  // otherwise JSON text.
  static std::shared_ptr<JsonSpeakerDatabase> fromBytes(std::string_view bytes, const std::string& source = "<memory>");
  static std::shared_ptr<JsonSpeakerDatabase> fromFile(const std::filesystem::path& file);

  static bool isZip(std::string_view bytes);
  static bool isFlatbuffer(std::string_view bytes);
  // The JSON text inside an archive: its only file entry.
  static std::string jsonFromZip(std::string_view bytes, const std::string& source);

  // The precompiled form of this database.
  std::string toFlatbufferData() const;

  explicit JsonSpeakerDatabase(SpeakerDB db);

  const Uuid& id() const override { return db_.id; }
  const std::string& name() const override { return db_.name; }
  const Version& version() const override { return db_.version; }
  const SpeakerDB& speakerDb() const override { return db_; }
  const std::vector<Product>& products() const override { return db_.products; }
  const Product* findProduct(const Uuid& id) const override;
  const ElectroacousticVariant* findVariant(const Uuid& id) const override;
  const Preset* findPreset(const Uuid& id) const override;
  const DspChain* findDspChain(const Uuid& id) const override;
  bool isProductVisible(const Uuid& productId) const override;
  std::vector<ProductMode> modesOf(const Product& product) const override;
  std::vector<const DspChain*> dspChainsFor(const Preset& preset, const ElectroacousticVariant& variant) const override;
  fennik::devices::SpeakerSetting dspChainToFennikSpeakerSetting(const DspChain& chain) const override;

 private:
  using Index = std::unordered_map<Uuid, std::size_t, fennik::server::UuidHash>;
  SpeakerDB db_;
  Index products_, variants_, presets_, chains_;
};

// The readers of the single forms; JsonSpeakerDatabase calls them and checks
// the result with validate().
SpeakerDB speakerDbFromJson(std::string_view text, const std::string& source);
SpeakerDB speakerDbFromFlatbuffer(std::string_view bytes, const std::string& source);
std::string speakerDbToFlatbuffer(const SpeakerDB& db);

}  // namespace fennik::common::speakerdb
