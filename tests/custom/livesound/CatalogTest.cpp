// Clients look devices up in the catalog by words: what an engineer types
// into a search box.

#include "custom/catalog/CatalogService.h"
#include "custom/livesound/ProjectFixture.h"
#include "custom/panels/PanelService.h"

namespace qor::server::testing {
namespace {

class CatalogTest : public ProjectFixture {
 protected:
  // A project as the server opens it: the panel types are in it too.
  CatalogTest() { service<PanelService>()->ensureDeviceTypes(); }

  // The models each query finds, in the order the catalog lists them.
  std::vector<std::vector<std::string>> models(const std::vector<std::string>& queries) const {
    std::vector<CatalogTokens> tokens;
    for (const auto& q : queries) tokens.push_back(CatalogService::tokenize(q));
    const auto result = service<CatalogService>()->deviceCatalogQuery(tokens);
    std::vector<std::vector<std::string>> out;
    for (const auto& t : tokens) {
      std::vector<std::string> found;
      auto it = result.find(t);
      if (it != result.end()) {
        for (const auto& item : it->second) found.push_back(item.model);
      }
      out.push_back(found);
    }
    return out;
  }
};

TEST_F(CatalogTest, WordsMatchKindVendorModelAndLabelIgnoringCase) {
  using V = std::vector<std::string>;
  EXPECT_EQ(models({""})[0], (V{"QA-4", "QA-8", "QM-16", "Panel", "Panel RLX", "Panel RLX"}));
  EXPECT_EQ(models({"amplifier"})[0], (V{"QA-4", "QA-8"}));
  EXPECT_EQ(models({"MATRIX"})[0], (V{"QM-16"}));
  EXPECT_EQ(models({"qor eight"})[0], (V{"QA-8"}));
  EXPECT_EQ(models({"  qa   -qa-4 "})[0], (V{"QA-8"}));
  EXPECT_EQ(models({"model:16"})[0], (V{"QM-16"}));
  EXPECT_EQ(models({"label:sixteen kind:amplifier"})[0], V{});
  EXPECT_EQ(models({"nothing-like-it"})[0], V{});
  // An unknown field name is part of the word.
  EXPECT_EQ(models({"colour:red"})[0], V{});
}

TEST_F(CatalogTest, EachDistinctQueryGetsOneEntryWithTheItemsAddableByDeviceAdd) {
  const auto q = CatalogService::tokenize("QA-8");
  const auto same = CatalogService::tokenize("qa-8");
  const auto result = service<CatalogService>()->deviceCatalogQuery({q, same, CatalogService::tokenize("qm")});
  ASSERT_EQ(result.size(), 2u);
  const auto& items = result.at(q);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].kind, "Amplifier");
  EXPECT_EQ(items[0].vendor, "Qor Audio");
  EXPECT_EQ(items[0].label, "QA-8 eight-channel amplifier");

  // What the catalog lists, "/deviceAdd" adds.
  const auto added = livesound().deviceAdd(items[0].kind, items[0].id, 1, 0, 0, true);
  ASSERT_EQ(added.size(), 1u);
  EXPECT_EQ(added[0]->getType()->getModel(), "QA-8");
}

TEST_F(CatalogTest, PanelsAreOfferedByTemplateAndAddedAsPanelsWithThatTemplate) {
  const auto q = CatalogService::tokenize("kind:panel");
  const auto result = service<CatalogService>()->deviceCatalogQuery({q});
  std::vector<std::string> ids, models;
  for (const auto& item : result.at(q)) {
    ids.push_back(item.id);
    models.push_back(item.model);
    EXPECT_EQ(item.vendor, "Panel");
  }
  // The templates shipped in data/panels, each of its panel type.
  EXPECT_EQ(ids, (std::vector<std::string>{"MZD/Basic", "RLX/Basic", "RLX/Presets"}));
  EXPECT_EQ(models, (std::vector<std::string>{"Panel", "Panel RLX", "Panel RLX"}));

  const auto presets = service<CatalogService>()->deviceCatalogQuery({CatalogService::tokenize("rlx presets")});
  const auto& found = presets.begin()->second;
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].label, "RLX panel, Presets");
  const auto added = livesound().deviceAdd(found[0].kind, found[0].id, 1, 0, 0, true);
  ASSERT_EQ(added.size(), 1u);
  EXPECT_EQ(added[0]->getType()->getModel(), "Panel RLX");
  ASSERT_NE(added[0]->getPanel(), nullptr);
  // The chosen template, not only its family: the "Presets" layout is titled "Scenes".
  EXPECT_NE(added[0]->getPanel()->getJson().find("Scenes"), std::string::npos) << added[0]->getPanel()->getJson();
}

}  // namespace
}  // namespace qor::server::testing
