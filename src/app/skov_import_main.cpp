// skov-import: the import run from a shell, with the window's settings as options.
#include <iostream>

#include "app/batch_run.h"
#include "os/os.h"

int main(int argc, char** argv) {
  skov::os::PrepareProcess();
  std::vector<std::string> args(argv + 1, argv + argc);
  return skov::BatchMain(args, skov::os::GetEnv, std::cout, std::cerr, skov::os::IsTerminal(2));
}
