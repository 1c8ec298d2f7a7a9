// A run on Windows through the real host where Excel holds the output open, and with names Windows-1252 cannot hold.
#include <windows.h>

#include "host/xls_host.h"
#include "run_fixture.h"

namespace skov::testing {
namespace {

const std::string kExample = std::string(SKOV_SOURCE_DIR) + "/examples/SKOV_IMPORT.XLS";

class WindowsRun : public ImportRun {
 protected:
  WindowsRun()
      : realHost(MakeXlsHost(FromUtf8(dir / "std"))), real{state, *realHost, messages, pointer, files, {}, {}, {}} {
    std::filesystem::copy_file(FsPath(kExample), FsPath(Std("SKOV_IMPORT.XLS")),
                               std::filesystem::copy_options::overwrite_existing);
  }
  void RunReal(const std::string& name) {
    WriteFile(Imp(name), Drawing(3));
    Choose(Imp(name));
    ImportStarten(real);
  }
  std::unique_ptr<SpreadsheetHost> realHost;
  ImportContext real;
};

// Excel opens a workbook for writing and lets others only read it: the
// output stays as it is, and the log names the reason.
TEST_F(WindowsRun, OutputHeldOpenByAnotherProgram) {
  WriteFile(Imp("PLAN.XLS"), "Excel has it");
  const std::wstring held = FsPath(Imp("PLAN.XLS")).wstring();
  HANDLE excel = ::CreateFileW(held.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(excel, INVALID_HANDLE_VALUE);
  RunReal("PLAN.TXT");
  ::CloseHandle(excel);
  EXPECT_TRUE(LogHas("PLAN.LOG", Imp("PLAN.XLS") + " :Kein Zugriff auf diese Datei moeglich."));
  EXPECT_TRUE(
      LogHas("PLAN.LOG", "Grund: Die Ausgabedatei ist in einem anderen Programm geoeffnet: " + Imp("PLAN.XLS")));
  EXPECT_EQ(ReadFile(Imp("PLAN.XLS")), "Excel has it");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(FsPath(dir / "imp")), {}), 2) << "no leftovers";
}

// A name in Greek: the log shows '?' for it, the file is still read and
// saved under its own name, in a folder with an umlaut.
TEST_F(WindowsRun, NamesBeyondWindows1252) {
  const std::string greek = "\xCE\xA3\xCF\x87\xCE\xAD\xCE\xB4\xCE\xB9\xCE\xBF";
  RunReal("K\xC3\xA4ltetechnik/" + greek + ".TXT");
  EXPECT_TRUE(LogHas(greek + ".LOG", "Neue Excel-Datei:" + Imp("K\xC3\xA4ltetechnik/??????.XLS")));
  EXPECT_TRUE(std::filesystem::exists(FsPath(Imp("K\xC3\xA4ltetechnik/" + greek + ".XLS"))));
}

}  // namespace
}  // namespace skov::testing
