#pragma once
// The panel template files of data/panels, built into the module by CMake.

#include <string>
#include <vector>

namespace qor::server {

struct PanelTemplateFile {
  std::string name;  // the file's name, e.g. "panels/rlx.json"
  std::string text;
};

const std::vector<PanelTemplateFile>& panelTemplateFiles();

}  // namespace qor::server
