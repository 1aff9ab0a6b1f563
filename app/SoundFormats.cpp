// The table of output formats.
#include "app/SoundFormats.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>

namespace quom {

namespace {

constexpr std::array<SoundFormat, 5> kFormats = {{
    {"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, false},
    {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, false},
    {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, true},
    {"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, true},
    // libsndfile's Opus encoder takes 8, 12, 16, 24 or 48 kHz only.
    {"opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, true},
}};

bool SameName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

const SoundFormat* FindSoundFormat(std::string_view name) {
  for (const SoundFormat& f : kFormats) {
    if (SameName(name, f.name)) return &f;
  }
  return nullptr;
}

const SoundFormat* SoundFormatOfPath(const std::string& path) {
  const std::string ext = std::filesystem::path(path).extension().string();
  if (ext.size() < 2) return nullptr;
  return FindSoundFormat(std::string_view(ext).substr(1));
}

std::string SoundFormatNames(std::string_view prefix) {
  std::string names;
  for (size_t i = 0; i < kFormats.size(); ++i) {
    if (i > 0) names += i + 1 == kFormats.size() ? " or " : ", ";
    names += prefix;
    names += kFormats[i].name;
  }
  return names;
}

}  // namespace quom
