// quom: synthesises a two-minute piece from an embedded note list and plays it.
#include "app/Cli.h"

int main(int argc, char** argv) {
  return quom::RunCli(argc, argv);
}
