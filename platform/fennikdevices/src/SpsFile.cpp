#include "fennik/devices/SpsFile.h"

#include "fennik/server/core/FileBytes.h"
#include "fennik/server/core/Utf8.h"

#include <fmt/format.h>
#include <boost/crc.hpp>

#include <bit>
#include <cmath>
#include <cstring>

namespace fennik::devices::sps {

namespace {

constexpr std::string_view MAGIC = "FSPS";
constexpr std::uint16_t FORMAT_VERSION = 1;
constexpr std::size_t HEADER_BYTES = 4 + 2 + 2 + 16 + 2;
constexpr std::size_t CRC_BYTES = 4;

std::uint32_t crc32(std::string_view bytes) {
  boost::crc_32_type crc;
  crc.process_bytes(bytes.data(), bytes.size());
  return crc.checksum();
}

struct Range {
  float lo;
  float hi;
};
constexpr Range BAND_GAIN{-60.0f, 24.0f};
constexpr Range BAND_DELAY{0.0f, 1000.0f};
constexpr Range FILTER_FREQUENCY{10.0f, 24000.0f};
constexpr Range FILTER_GAIN{-24.0f, 24.0f};
constexpr Range FILTER_Q{0.1f, 20.0f};

class Cursor {
 public:
  Cursor(std::string_view bytes, const std::string& source) : bytes_(bytes), source_(source) {}

  [[noreturn]] void fail(const std::string& what) const { throw SpsError(fmt::format("{}: {}", source_, what)); }
  std::string_view take(std::size_t n, const char* what) {
    if (bytes_.size() - pos_ < n) fail(fmt::format("ends inside {} (byte {})", what, bytes_.size()));
    std::string_view part = bytes_.substr(pos_, n);
    pos_ += n;
    return part;
  }
  std::uint8_t u8(const char* what) { return static_cast<std::uint8_t>(take(1, what)[0]); }
  std::uint16_t u16(const char* what) {
    auto p = take(2, what);
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(p[0]) | static_cast<std::uint8_t>(p[1]) << 8);
  }
  std::uint32_t u32(const char* what) {
    auto p = take(4, what);
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(p[static_cast<std::size_t>(i)]);
    return v;
  }
  float f32(const std::string& what, Range range) {
    const float v = std::bit_cast<float>(u32(what.c_str()));
    if (!std::isfinite(v) || v < range.lo || v > range.hi)
      fail(fmt::format("{} is {}, outside {}..{}", what, v, range.lo, range.hi));
    return v;
  }
  std::size_t pos() const { return pos_; }

 private:
  std::string_view bytes_;
  const std::string& source_;
  std::size_t pos_ = 0;
};

void putU16(std::string& out, std::uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}
void putU32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void putF32(std::string& out, float v) { putU32(out, std::bit_cast<std::uint32_t>(v)); }

void check(bool ok, const std::string& what) {
  if (!ok) throw SpsError("cannot write SPS file: " + what);
}

bool within(float v, Range r) { return std::isfinite(v) && v >= r.lo && v <= r.hi; }

}  // namespace

SpsData parseSps(std::string_view bytes, const std::string& source) {
  Cursor whole(bytes, source);
  if (bytes.size() > MAX_SPS_BYTES)
    whole.fail(fmt::format("{} bytes is larger than an SPS file can be ({} bytes)", bytes.size(), MAX_SPS_BYTES));
  if (bytes.size() < MAGIC.size() || bytes.substr(0, MAGIC.size()) != MAGIC) whole.fail("is not an SPS file");
  if (bytes.size() < HEADER_BYTES + CRC_BYTES) whole.fail("is too short for an SPS file");
  // The checksum first: a damaged file is reported as damaged rather than by
  // whichever field the damage happens to hit.
  const std::string_view body = bytes.substr(0, bytes.size() - CRC_BYTES);
  Cursor trailer(bytes.substr(body.size()), source);
  if (trailer.u32("the checksum") != crc32(body)) whole.fail("is damaged (checksum mismatch)");

  Cursor in(body, source);
  in.take(MAGIC.size(), "the header");
  const std::uint16_t version = in.u16("the header");
  if (version != FORMAT_VERSION)
    in.fail(fmt::format("has format version {}, this reader reads version {}", version, FORMAT_VERSION));
  const std::uint16_t bandCount = in.u16("the header");
  if (bandCount < 1 || bandCount > MAX_SPS_BANDS)
    in.fail(fmt::format("has {} bands; an SPS file has 1 to {}", bandCount, MAX_SPS_BANDS));
  SpsData data;
  std::memcpy(data.settingId.data, in.take(16, "the header").data(), 16);
  if (data.settingId.is_nil()) in.fail("has the nil setting id");
  const std::uint16_t nameLength = in.u16("the header");
  if (nameLength < 1 || nameLength > 255)
    in.fail(fmt::format("has a name of {} bytes; names have 1 to 255", nameLength));
  data.name = std::string(in.take(nameLength, "the name"));
  if (!fennik::server::isValidUtf8(data.name)) in.fail("has a name that is not valid UTF-8 text");

  for (std::size_t b = 0; b < bandCount; ++b) {
    const std::string band = fmt::format("band {}", b + 1);
    SpsBand bd;
    bd.acousticRole = in.u8(band.c_str());
    if (bd.acousticRole > 8) in.fail(fmt::format("{} has acoustic role {}, outside 0..8", band, bd.acousticRole));
    const std::uint8_t polarity = in.u8(band.c_str());
    if (polarity > 1) in.fail(fmt::format("{} has polarity {}; 0 is normal, 1 inverted", band, polarity));
    bd.inverted = polarity == 1;
    const std::uint8_t filterCount = in.u8(band.c_str());
    if (filterCount > MAX_SPS_FILTERS)
      in.fail(fmt::format("{} has {} filters, more than {}", band, filterCount, MAX_SPS_FILTERS));
    if (in.u8(band.c_str()) != 0) in.fail(band + " has a reserved byte that is not 0");
    bd.gainDb = in.f32(band + " gain (dB)", BAND_GAIN);
    bd.delayMs = in.f32(band + " delay (ms)", BAND_DELAY);
    for (std::size_t f = 0; f < filterCount; ++f) {
      const std::string filter = fmt::format("{} filter {}", band, f + 1);
      SpsFilter ft;
      const std::uint8_t type = in.u8(filter.c_str());
      if (type < 1 || type > 5) in.fail(fmt::format("{} has type {}, outside 1..5", filter, type));
      ft.type = static_cast<FilterType>(type);
      if (in.take(3, filter.c_str()) != std::string_view("\0\0\0", 3))
        in.fail(filter + " has reserved bytes that are not 0");
      ft.frequencyHz = in.f32(filter + " frequency (Hz)", FILTER_FREQUENCY);
      ft.gainDb = in.f32(filter + " gain (dB)", FILTER_GAIN);
      ft.q = in.f32(filter + " Q", FILTER_Q);
      bd.filters.push_back(ft);
    }
    data.bands.push_back(std::move(bd));
  }
  if (in.pos() != body.size()) in.fail(fmt::format("has {} bytes after the last band", body.size() - in.pos()));
  return data;
}

SpsData readSpsFile(const std::filesystem::path& file) {
  std::string bytes;
  try {
    bytes = fennik::server::readFileBytes(file, MAX_SPS_BYTES);
  } catch (const fennik::server::FileReadError& e) {
    throw SpsError(e.what());
  }
  return parseSps(bytes, file.string());
}

std::string writeSps(const SpsData& data) {
  check(!data.settingId.is_nil(), "the setting id is nil");
  check(!data.name.empty() && data.name.size() <= 255, "the name must have 1 to 255 bytes");
  check(fennik::server::isValidUtf8(data.name), "the name is not valid UTF-8 text");
  check(!data.bands.empty() && data.bands.size() <= MAX_SPS_BANDS, "a setting has 1 to 8 bands");
  std::string out(MAGIC);
  putU16(out, FORMAT_VERSION);
  putU16(out, static_cast<std::uint16_t>(data.bands.size()));
  out.append(reinterpret_cast<const char*>(data.settingId.data), 16);
  putU16(out, static_cast<std::uint16_t>(data.name.size()));
  out += data.name;
  for (const SpsBand& b : data.bands) {
    check(b.acousticRole <= 8, "an acoustic role lies outside 0..8");
    check(b.filters.size() <= MAX_SPS_FILTERS, "a band has more than 16 filters");
    check(within(b.gainDb, BAND_GAIN) && within(b.delayMs, BAND_DELAY), "a band's gain or delay is out of range");
    out += static_cast<char>(b.acousticRole);
    out += static_cast<char>(b.inverted ? 1 : 0);
    out += static_cast<char>(b.filters.size());
    out += '\0';
    putF32(out, b.gainDb);
    putF32(out, b.delayMs);
    for (const SpsFilter& f : b.filters) {
      check(within(f.frequencyHz, FILTER_FREQUENCY) && within(f.gainDb, FILTER_GAIN) && within(f.q, FILTER_Q),
            "a filter's frequency, gain or Q is out of range");
      out += static_cast<char>(f.type);
      out.append(3, '\0');
      putF32(out, f.frequencyHz);
      putF32(out, f.gainDb);
      putF32(out, f.q);
    }
  }
  putU32(out, crc32(out));
  return out;
}

SpeakerSetting toSpeakerSetting(const SpsData& data) { return {data.name, fennik::server::UuidToS(data.settingId)}; }

}  // namespace fennik::devices::sps
