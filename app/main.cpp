// quom: synthesises a two-minute piece from an embedded note list and plays it.
#include <string>
#include <vector>

#include "app/Cli.h"
#include "app/Files.h"

int main(int argc, char** argv) {
  // As UTF-8 on every platform: on Windows the system hands them over in UTF-16.
  std::vector<std::string> args = quom::Utf8Arguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& arg : args)
    pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  return quom::RunCli(static_cast<int>(args.size()), pointers.data());
}
