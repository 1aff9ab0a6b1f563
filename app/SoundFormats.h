// The containers and codecs the piece can be written in, found by a file's extension or by name.
#pragma once

#include <string>
#include <string_view>

namespace quom {

struct SoundFormat {
  const char* name;  // --format's name, and the file extension without its dot
  int sndfile;       // libsndfile's container | codec
  int sampleRate;    // what is written: the piece's 44,100 Hz, or 48,000 Hz for Opus
  bool lossy;        // takes --quality; outside the bit-exact guarantee
};

// The format called `name` (any case), or nullptr.
const SoundFormat* FindSoundFormat(std::string_view name);
// The format a file's extension names (any case), or nullptr.
const SoundFormat* SoundFormatOfPath(const std::string& path);
// "wav, flac, ogg, mp3 or opus", with `prefix` before each name (".", for example).
std::string SoundFormatNames(std::string_view prefix = "");

// libsndfile's compression level for a --quality from 0 (smallest file) to 10 (best sound). The
// level stops just short of 1: libsndfile hands the MP3 encoder ten times the level as its VBR
// quality, whose scale ends before 10.
constexpr double CompressionLevel(int quality) {
  constexpr double kMostCompression = 0.999;
  const double level = (10 - quality) / 10.0;
  return level < kMostCompression ? level : kMostCompression;
}

}  // namespace quom
