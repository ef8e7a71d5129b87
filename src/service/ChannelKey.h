#pragma once
// The key under which a channel feature joins a group: bridged and lettered
// channel names map onto the first plain channel number they cover.

#include <string>
#include <string_view>

namespace qor::server {

std::string channelKey(std::string_view shortName);

}  // namespace qor::server
