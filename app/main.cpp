// quom: synthesises a two-minute piece from an embedded note list and plays it.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "--version") == 0)) {
    std::printf("quom %s\n", QUOM_VERSION);
    return 0;
  }
  std::printf("quom %s: synthesis not wired yet\n", QUOM_VERSION);
  return 0;
}
