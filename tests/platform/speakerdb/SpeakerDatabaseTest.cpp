// The sample databases in data/speakerdb read through every form, and the
// lookups the speaker services rely on.

#include "fennik/common/speakerdb/JsonSpeakerDatabase.h"

#include "fennik/server/core/FileBytes.h"

#include <gtest/gtest.h>

namespace {

using namespace fennik::common::speakerdb;

const std::string DATA = std::string(QOR_SOURCE_DIR) + "/data/speakerdb/";

std::string readFile(const std::string& path) { return fennik::server::readFileBytes(path, 1u << 30); }

const Product* productByModel(const ISpeakerDatabase& db, const std::string& model) {
  for (const Product& p : db.products())
    if (p.model == model) return &p;
  return nullptr;
}

std::vector<std::string> modeNames(const ISpeakerDatabase& db, const Product& product) {
  std::vector<std::string> names;
  for (const ProductMode& m : db.modesOf(product)) names.push_back(m.preset->name + " / " + m.variant->name);
  return names;
}

TEST(SpeakerDatabaseTest, ReadsTheSampleDatabasesInTheirForms) {
  auto older = JsonSpeakerDatabase::fromFile(DATA + "fennik-demo-point-source-1.2.sdb");
  auto newer = JsonSpeakerDatabase::fromFile(DATA + "fennik-demo-point-source-1.10.sdb");
  auto lineArray = JsonSpeakerDatabase::fromFile(DATA + "fennik-demo-line-array-2.1.sdb");
  auto zipped = JsonSpeakerDatabase::fromFile(DATA + "fennik-demo-installation-1.0.sdb");
  ASSERT_TRUE(JsonSpeakerDatabase::isZip(readFile(DATA + "fennik-demo-installation-1.0.sdb")));

  EXPECT_EQ(older->name(), "Fennik Demo Point Source");
  EXPECT_EQ(newer->name(), older->name());
  EXPECT_EQ(older->version().toString(), "1.2");
  EXPECT_EQ(newer->version().toString(), "1.10");
  EXPECT_GT(newer->version(), older->version());
  EXPECT_EQ(older->products().size(), 4u);
  EXPECT_EQ(newer->products().size(), 5u);  // 1.10 adds the stage monitor
  EXPECT_EQ(productByModel(*older, "DM15"), nullptr);
  EXPECT_NE(productByModel(*newer, "DM15"), nullptr);

  EXPECT_EQ(lineArray->name(), "Fennik Demo Line Array");
  EXPECT_EQ(lineArray->version().toString(), "2.1");
  EXPECT_EQ(zipped->name(), "Fennik Demo Installation");
  EXPECT_EQ(zipped->products().size(), 2u);
}

TEST(SpeakerDatabaseTest, ProductsOfferTheirModesWithOneChainPerBand) {
  auto db = JsonSpeakerDatabase::fromFile(DATA + "fennik-demo-point-source-1.2.sdb");
  const Product* dp12 = productByModel(*db, "DP12");
  ASSERT_NE(dp12, nullptr);
  EXPECT_EQ(dp12->vendor, "Fennik Demo");
  EXPECT_EQ(dp12->label, "DP12 two-way 12 inch");
  EXPECT_EQ(modeNames(*db, *dp12), (std::vector<std::string>{"Standard / Passive", "Standard / Bi-amped",
                                                             "Speech / Passive", "Speech / Bi-amped"}));

  // The bi-amped DP12 takes two amplifier channels: high, then low.
  const ProductMode biamp = db->modesOf(*dp12)[1];
  auto chains = db->dspChainsFor(*biamp.preset, *biamp.variant);
  ASSERT_EQ(chains.size(), 2u);
  EXPECT_EQ(chains[0]->name, "HF standard");
  EXPECT_EQ(chains[0]->acousticRole, static_cast<int>(SpeakerBandAcousticRole::HIGH_FREQ));
  EXPECT_EQ(chains[1]->name, "LF standard");
  EXPECT_EQ(chains[1]->acousticRole, static_cast<int>(SpeakerBandAcousticRole::LOW_FREQ));
  // Lookups by id find the same records.
  EXPECT_EQ(db->findDspChain(chains[1]->id), chains[1]);
  EXPECT_EQ(db->findPreset(biamp.preset->id), biamp.preset);
  EXPECT_EQ(db->findVariant(biamp.variant->id), biamp.variant);
  EXPECT_EQ(db->findProduct(dp12->id), dp12);
  EXPECT_EQ(db->findProduct(biamp.preset->id), nullptr);

  const fennik::devices::SpeakerSetting setting = db->dspChainToFennikSpeakerSetting(*chains[0]);
  EXPECT_EQ(setting.name, "HF standard");
  EXPECT_EQ(setting.dspChainId, fennik::server::UuidToS(chains[0]->id));

  // The column offers only the passive variant; the subwoofer one mode.
  EXPECT_EQ(modeNames(*db, *productByModel(*db, "DC4")),
            (std::vector<std::string>{"Standard / Passive", "Speech / Passive"}));
  EXPECT_EQ(modeNames(*db, *productByModel(*db, "DS18")), (std::vector<std::string>{"Sub standard / Subwoofer"}));

  // Sizes in metres, as the file states them.
  EXPECT_EQ(productByModel(*db, "DC4")->size, (Size{0.12, 0.36}));
  EXPECT_EQ(productByModel(*db, "DS18")->size, (Size{0.5, 0.3}));

  // The discontinued product stays readable but is not offered.
  EXPECT_FALSE(db->isProductVisible(productByModel(*db, "DP10")->id));
  EXPECT_TRUE(db->isProductVisible(dp12->id));
  EXPECT_FALSE(db->isProductVisible(biamp.preset->id));

  auto installation = JsonSpeakerDatabase::fromFile(DATA + "fennik-demo-installation-1.0.sdb");
  EXPECT_FALSE(productByModel(*installation, "IC6")->size.has_value());
  EXPECT_EQ(productByModel(*installation, "IW5")->size, (Size{0.2, std::nullopt}));

  auto lineArray = JsonSpeakerDatabase::fromFile(DATA + "fennik-demo-line-array-2.1.sdb");
  const Product* sub = productByModel(*lineArray, "LS21");
  const ProductMode cardioid = lineArray->modesOf(*sub).at(1);
  EXPECT_EQ(cardioid.variant->name, "Cardioid");
  auto subChains = lineArray->dspChainsFor(*cardioid.preset, *cardioid.variant);
  ASSERT_EQ(subChains.size(), 2u);
  EXPECT_EQ(subChains[0]->acousticRole, static_cast<int>(SpeakerBandAcousticRole::GRADIENT_FRONT));
  EXPECT_EQ(subChains[1]->acousticRole, static_cast<int>(SpeakerBandAcousticRole::GRADIENT_REAR));
}

TEST(SpeakerDatabaseTest, PrecompiledFormHoldsTheSameDatabase) {
  for (const char* file :
       {"fennik-demo-point-source-1.10.sdb", "fennik-demo-line-array-2.1.sdb", "fennik-demo-installation-1.0.sdb"}) {
    auto fromText = JsonSpeakerDatabase::fromFile(DATA + file);
    const std::string binary = fromText->toFlatbufferData();
    EXPECT_TRUE(JsonSpeakerDatabase::isFlatbuffer(binary));
    EXPECT_FALSE(JsonSpeakerDatabase::isZip(binary));
    auto fromBinary = JsonSpeakerDatabase::fromFlatbuffer(binary, file);
    EXPECT_EQ(fromBinary->speakerDb(), fromText->speakerDb()) << file;
    // fromBytes picks the form by itself.
    EXPECT_EQ(JsonSpeakerDatabase::fromBytes(binary)->speakerDb(), fromText->speakerDb()) << file;
    // A string's data need not be aligned: the reader copies when it must.
    const std::string shifted = " " + binary;
    EXPECT_EQ(JsonSpeakerDatabase::fromFlatbuffer(std::string_view(shifted).substr(1))->speakerDb(),
              fromText->speakerDb());
  }
}

TEST(SpeakerDatabaseTest, UnknownAcousticRolesAreKeptForTheCallerToJudge) {
  auto db = JsonSpeakerDatabase::fromFile(DATA + "fennik-demo-point-source-1.2.sdb");
  SpeakerDB records = db->speakerDb();
  // A newer database may know a role this server does not: chain and band
  // both say 12.
  records.variants[0].bands[0].role = 12;
  for (auto& chain : records.dspChains)
    if (chain.acousticRole == 1) chain.acousticRole = 12;
  auto reread = JsonSpeakerDatabase::fromFlatbuffer(speakerDbToFlatbuffer(records));
  EXPECT_EQ(reread->speakerDb().variants[0].bands[0].role, 12);
}

}  // namespace
