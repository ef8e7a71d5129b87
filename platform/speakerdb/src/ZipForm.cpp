// A speaker database shipped as a ZIP archive: the archive's only file entry
// is the JSON text.

#include "fennik/common/speakerdb/JsonSpeakerDatabase.h"

#include <fmt/format.h>
#include <zip.h>

#include <memory>

namespace fennik::common::speakerdb {

namespace {

struct ArchiveCloser {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct FileCloser {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};

}  // namespace

std::string JsonSpeakerDatabase::jsonFromZip(std::string_view bytes, const std::string& source) {
  auto fail = [&](const std::string& what) -> SpeakerDatabaseError {
    return SpeakerDatabaseError(fmt::format("{}: {}", source, what));
  };
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* src = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  if (!src) {
    zip_error_fini(&error);
    throw fail("cannot be opened as a ZIP archive");
  }
  std::unique_ptr<zip_t, ArchiveCloser> archive(zip_open_from_source(src, ZIP_RDONLY | ZIP_CHECKCONS, &error));
  if (!archive) {
    zip_source_free(src);
    const std::string reason = zip_error_strerror(&error);
    zip_error_fini(&error);
    throw fail("is not a readable ZIP archive: " + reason);
  }
  zip_error_fini(&error);

  const zip_int64_t entries = zip_get_num_entries(archive.get(), 0);
  zip_int64_t found = -1;
  for (zip_int64_t i = 0; i < entries; ++i) {
    const char* name = zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), 0);
    if (!name) throw fail(fmt::format("entry {} of the archive has no readable name", i));
    const std::string_view n(name);
    if (!n.empty() && n.back() == '/') continue;  // folders
    if (found >= 0) throw fail("the archive holds more than one file; a speaker database archive holds exactly one");
    found = i;
  }
  if (found < 0) throw fail("the archive holds no file");

  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat_index(archive.get(), static_cast<zip_uint64_t>(found), 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE))
    throw fail("the archive's entry has no readable size");
  if (stat.size > MAX_INPUT_BYTES)
    throw fail(
        fmt::format("the archive's entry unpacks to {} bytes, more than the {} bytes a speaker database may have",
                    stat.size, MAX_INPUT_BYTES));

  std::unique_ptr<zip_file_t, FileCloser> file(zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(found), 0));
  if (!file) throw fail(std::string("the archive's entry cannot be opened: ") + zip_strerror(archive.get()));
  // Read in pieces and stop just past the stated size, so a header that lies
  // about the size can neither make the entry unpack to more nor cost memory.
  std::string text;
  char buffer[64 * 1024];
  while (text.size() <= stat.size) {
    const zip_int64_t n = zip_fread(file.get(), buffer, sizeof buffer);
    if (n < 0) throw fail(std::string("the archive's entry is damaged: ") + zip_file_strerror(file.get()));
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  const std::size_t have = text.size();
  if (have != stat.size)
    throw fail(fmt::format("the archive's entry holds {} bytes, but its header says {}", have, stat.size));
  return text;
}

}  // namespace fennik::common::speakerdb
