#pragma once
// HostInterface::unzip with a say in where each entry goes: into its file in
// the folder, or, piece by piece as it is inflated, to a sink (kept in
// memory, read while it arrives, or passed over). The limits, the checks of
// names and the messages are unzip's.

#include "fennik/server/project/HostInterface.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace fennik::server::detail {

// Takes an entry's bytes in order, a piece at a time.
using EntrySink = std::function<void(std::string_view)>;
// For an entry (its name relative to the folder, and its size as the zip
// declares it, believed up to what its compressed size can hold): a sink, or
// null to write its file.
using ChooseEntrySink = std::function<EntrySink*(const std::string& name, std::uint64_t declared)>;

void unzipEntries(const std::filesystem::path& zipFile, const std::filesystem::path& folder, const UnpackLimits& limits,
                  const ChooseEntrySink& choose);

}  // namespace fennik::server::detail
