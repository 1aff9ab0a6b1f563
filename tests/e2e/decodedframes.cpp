// Prints how many frames libsndfile decodes from a sound file, by decoding all of it (a lossy
// file's header may promise a length its stream does not hold), and the file's sample rate.
//
//   decodedframes FILE      prints "FRAMES RATE"
#include <sndfile.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: decodedframes FILE\n");
    return 2;
  }
  SF_INFO info{};
  SNDFILE* file = sf_open(argv[1], SFM_READ, &info);
  if (file == nullptr) {
    std::fprintf(stderr, "decodedframes: %s: %s\n", argv[1], sf_strerror(nullptr));
    return 1;
  }
  std::vector<float> block(4096 * static_cast<size_t>(info.channels));
  long long frames = 0;
  for (sf_count_t n; (n = sf_readf_float(file, block.data(), 4096)) > 0;)
    frames += n;
  const bool failed = sf_error(file) != SF_ERR_NO_ERROR;
  if (failed) std::fprintf(stderr, "decodedframes: %s: %s\n", argv[1], sf_strerror(file));
  sf_close(file);
  std::printf("%lld %d\n", frames, info.samplerate);
  return failed ? 1 : 0;
}
