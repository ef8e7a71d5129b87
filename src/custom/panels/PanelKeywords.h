#pragma once
// The keywords the live-sound module offers to panels: every field of every
// entity type, named "livesound.<Type>.<field>" (for example
// "livesound.FtAudio.levelInDb").

namespace fennik::server {
class KeywordService;
}

namespace qor::server {

inline constexpr const char* KEYWORD_OWNER = "livesound";

void registerLivesoundKeywords(fennik::server::KeywordService& keywords);
void deregisterLivesoundKeywords(fennik::server::KeywordService& keywords);

}  // namespace qor::server
