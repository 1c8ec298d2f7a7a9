// skov-import.exe: the import run from cmd.exe or PowerShell, with the window's settings as options.
#include <iostream>
#include <string_view>

#include "app/batch_run.h"
#include "os/os.h"

int wmain(int argc, wchar_t** argv) {
  skov::os::PrepareProcess();
  // The arguments come as UTF-16, so every file name arrives whole; the
  // command takes them as the file-name bytes it takes on Linux.
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view arg = argv[i];
    args.push_back(skov::ToFileName(skov::Text(arg.begin(), arg.end())));
  }
  return skov::BatchMain(args, skov::os::GetEnv, std::cout, std::cerr, skov::os::IsTerminal(2));
}
