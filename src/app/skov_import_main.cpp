// skov-import: the import run from a shell, with the window's settings as options.
#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "app/batch_run.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return skov::BatchMain(args, [](const char* name) { return std::getenv(name); }, std::cout, std::cerr,
                         ::isatty(2) != 0);
}
