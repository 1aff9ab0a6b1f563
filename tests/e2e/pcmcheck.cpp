// Checks that a recording of a playback holds the rendered piece exactly once (or TIMES times, each
// pass straight after the one before), byte for byte: silence, the piece, silence. Both files are
// raw 16-bit stereo or WAV files of it.
//
//   pcmcheck RENDERED PLAYED [TIMES]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> ReadAll(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t Le32(const unsigned char* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24;
}

// The sample bytes of a WAV file's data chunk; a file without a RIFF header is taken as raw.
bool Samples(const char* path, std::vector<unsigned char>& out) {
  std::vector<unsigned char> file = ReadAll(path);
  if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0) {
    out = std::move(file);
    return true;
  }
  for (size_t at = 12; at + 8 <= file.size();) {
    const uint32_t size = Le32(&file[at + 4]);
    if (std::memcmp(&file[at], "data", 4) == 0) {
      // A recorder stopped by a signal may leave the size unset: take what is there.
      const size_t end = (size == 0 || size == 0xFFFFFFFFu || at + 8 + size > file.size())
                             ? file.size()
                             : at + 8 + size;
      out.assign(file.begin() + at + 8, file.begin() + end);
      return true;
    }
    at += 8 + size + (size & 1);
  }
  std::fprintf(stderr, "pcmcheck: %s has no data chunk\n", path);
  return false;
}

size_t LeadingSilence(const std::vector<unsigned char>& b) {
  size_t n = 0;
  while (n < b.size() && b[n] == 0)
    ++n;
  return n - n % 4;  // whole frames
}

}  // namespace

int main(int argc, char** argv) {
  const int times = argc == 4 ? std::atoi(argv[3]) : 1;
  if ((argc != 3 && argc != 4) || times < 1) {
    std::fprintf(stderr, "usage: pcmcheck RENDERED PLAYED [TIMES]\n");
    return 2;
  }
  std::vector<unsigned char> once, played;
  if (!Samples(argv[1], once) || !Samples(argv[2], played)) return 2;
  if (once.empty()) {
    std::fprintf(stderr, "pcmcheck: %s holds no samples\n", argv[1]);
    return 1;
  }
  std::vector<unsigned char> piece;
  for (int i = 0; i < times; ++i)
    piece.insert(piece.end(), once.begin(), once.end());
  // Silence that opens the piece cannot be told from silence before it.
  const size_t pieceLead = LeadingSilence(piece);
  const size_t playedLead = LeadingSilence(played);
  const size_t body = piece.size() - pieceLead;
  if (playedLead < pieceLead || played.size() < playedLead + body) {
    std::fprintf(stderr,
                 "pcmcheck: %s is too short: %zu bytes, %zu of them leading silence; "
                 "the piece has %zu bytes\n",
                 argv[2], played.size(), playedLead, piece.size());
    return 1;
  }
  for (size_t i = 0; i < body; ++i) {
    if (played[playedLead + i] != piece[pieceLead + i]) {
      std::fprintf(stderr, "pcmcheck: first difference at byte %zu of the piece (frame %zu)\n",
                   pieceLead + i, (pieceLead + i) / 4);
      return 1;
    }
  }
  for (size_t i = playedLead + body; i < played.size(); ++i) {
    if (played[i] != 0) {
      std::fprintf(stderr, "pcmcheck: sound after the end of the piece, at byte %zu\n", i);
      return 1;
    }
  }
  std::printf(
      "pcmcheck: the piece (%zu bytes) is there %d time(s), after %zu bytes of silence, with "
      "%zu bytes of silence after it\n",
      once.size(), times, playedLead - pieceLead, played.size() - playedLead - body);
  return 0;
}
