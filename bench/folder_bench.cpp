// Folder run benchmark: skov-import over a folder of drawings next to the safe-save floor, and instructions per file.
//
//   folder_bench [--files N] [--lines N] [--repeat N] [--template XLS] [--tool skov-import]
//                [--before skov-import] [--no-callgrind]
//
// The floor is what any tool that never leaves a half-written file must do
// for each drawing: read the input, copy the template into a new file beside
// the target, flush it to disk, rename it into place. Floor and folder run
// alternate --repeat times and the fastest of each counts: on a shared
// machine noise only ever adds time. Instructions per file come from
// callgrind over a fixed corpus: (run over 30 files - run over 10 files) / 20,
// so start-up and the run's fixed work cancel out. The second run goes over
// the same folder again with the first run's outputs beside the inputs, as
// re-running a folder does. --before names an earlier
// build of skov-import, run alternately with the others for a comparison
// under the same load.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "folder_bench: %s\n", what.c_str());
  std::exit(1);
}

// Deterministic, so every run and every machine gets the same corpus.
struct Lcg {
  unsigned long long s = 1;
  unsigned Next() {
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    return unsigned(s >> 33);
  }
};

// 61 fields a line: the title block's and the device's named fields, then the numbered 1..50.
void WriteCorpus(const fs::path& dir, int files, int lines) {
  static const char* const kDevices[] = {"Zuluftventilator", "Abluftventilator", "Au\xDF" "enluftklappe",
                                         "Frostschutzw\xE4" "chter", "R\xFC" "cklauftemperatur",
                                         "W\xE4" "rmer\xFC" "ckgewinnung", "Pumpe Heizkreis S\xFC" "d",
                                         "Filter\xFC" "berwachung", "Vorlauftemperatur", "Brandschutzklappe"};
  static const char* const kKinds[] = {"BM", "SM", "WM", "AM", "SB", "SW", "MW", "ZW", "DI", "DO", "AI", "AO"};
  Lcg rnd;
  fs::create_directories(dir);
  for (int i = 1; i <= files; ++i) {
    std::string text = "\"ZNAME\";\"PROJEKT1\";\"PROJEKT2\";\"PROJEKT3\";\"INFO1\";\"DWGNME\";\"GEWERK1\";\"ANLAGE1\";"
                       "\"GERAET\";\"GERBEZ\";\"GERBEM\"";
    for (int n = 1; n <= 50; ++n) text += ";\"" + std::to_string(n) + "\"";
    text += "\r\n";
    char zname[16];
    std::snprintf(zname, sizeof zname, "A-%03d", i);
    for (int j = 1; j <= lines; ++j) {
      char head[512];
      std::snprintf(head, sizeof head,
                    "\"%s\";\"Neubau Verwaltungsgeb\xE4ude %d\";\"Musterstra\xDF" "e %d\";\"12345 Musterstadt\";"
                    "\"Stand %02d/2024\";\"%s.DWG\";\"%s\";\"Anlage %d\";\"M%02d\";\"%s %d\";\"Bemerkung zu Ger\xE4t %d\"",
                    zname, i, i % 40 + 1, j % 12 + 1, zname, i % 2 ? "L\xFC" "ftung" : "Heizung", i, j,
                    kDevices[rnd.Next() % 10], j, j);
      text += head;
      for (int n = 1; n <= 50; ++n) {
        text += ";\"";
        if (rnd.Next() % 2) text += kKinds[rnd.Next() % 12];
        text += '"';
      }
      text += "\r\n";
    }
    std::ofstream(dir / ("ANLAGE" + std::to_string(i) + ".TXT"), std::ios::binary) << text;
  }
}

std::vector<fs::path> Inputs(const fs::path& dir) {
  std::vector<fs::path> v;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".TXT") v.push_back(e.path());
  std::sort(v.begin(), v.end());
  return v;
}

void RemoveOutputs(const fs::path& dir) {
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() != ".TXT") fs::remove(e.path());
}

void WriteAll(int fd, const char* p, size_t n) {
  while (n) {
    const ssize_t w = ::write(fd, p, n);
    if (w <= 0) Fail("write failed");
    p += w;
    n -= size_t(w);
  }
}

// The safe-save floor over the folder; seconds for the whole folder.
double FloorRun(const fs::path& dir, const std::vector<char>& templ) {
  const std::vector<fs::path> inputs = Inputs(dir);
  std::vector<char> buf(1 << 16);
  const double t0 = Now();
  for (const fs::path& in : inputs) {
    const int fd = ::open(in.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) Fail("cannot open " + in.string());
    while (::read(fd, buf.data(), buf.size()) > 0) {
    }
    ::close(fd);
    fs::path target = in;
    target.replace_extension(".XLS");
    const std::string temp = (dir / ".floor-temp").string();
    const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) Fail("cannot create " + temp);
    WriteAll(out, templ.data(), templ.size());
    if (::fdatasync(out) != 0) Fail("fdatasync failed");
    ::close(out);
    if (::rename(temp.c_str(), target.c_str()) != 0) Fail("rename failed");
  }
  return Now() - t0;
}

struct Spawned {
  double seconds = 0;
  double cpu = 0;  // user + system
  long maxRssKib = 0;
  int status = 0;
};

Spawned Spawn(std::vector<std::string> argv) {
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  Spawned r;
  const double t0 = Now();
  pid_t pid = 0;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) Fail("cannot start " + argv[0]);
  rusage ru{};
  if (::wait4(pid, &r.status, 0, &ru) != pid) Fail("wait failed");
  r.seconds = Now() - t0;
  r.maxRssKib = ru.ru_maxrss;
  r.cpu = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
  posix_spawn_file_actions_destroy(&actions);
  return r;
}

std::vector<std::string> RunArgs(const std::string& tool, const fs::path& defaultFolder, const fs::path& corpus) {
  return {tool, "--default-folder", defaultFolder.string(), Inputs(corpus).front().string()};
}

// The program's instructions over a folder, as callgrind counts them.
unsigned long long Instructions(const std::string& tool, const fs::path& defaultFolder, const fs::path& corpus,
                                const fs::path& outFile) {
  RemoveOutputs(corpus);
  std::vector<std::string> argv = {"/usr/bin/valgrind", "--tool=callgrind", "--callgrind-out-file=" + outFile.string()};
  for (const std::string& a : RunArgs(tool, defaultFolder, corpus)) argv.push_back(a);
  const Spawned r = Spawn(argv);
  if (r.status != 0) Fail("callgrind run failed");
  std::ifstream in(outFile);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("totals:", 0) == 0 || line.rfind("summary:", 0) == 0) return std::stoull(line.substr(line.find(':') + 1));
  Fail("no totals in " + outFile.string());
}

}  // namespace

int main(int argc, char** argv) {
  int files = 200, lines = 86, repeat = 5;
  bool callgrind = true;
  std::string templ = SKOV_EXAMPLE_TEMPLATE, tool = SKOV_IMPORT_TOOL, before;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&] {
      if (i + 1 >= argc) Fail(a + " needs a value");
      return std::string(argv[++i]);
    };
    if (a == "--files") files = std::atoi(value().c_str());
    else if (a == "--lines") lines = std::atoi(value().c_str());
    else if (a == "--repeat") repeat = std::atoi(value().c_str());
    else if (a == "--template") templ = value();
    else if (a == "--tool") tool = value();
    else if (a == "--before") before = value();
    else if (a == "--no-callgrind") callgrind = false;
    else Fail("unknown option " + a);
  }
  if (files < 1 || repeat < 1) Fail("--files and --repeat must be at least 1");

  std::string pattern = (fs::temp_directory_path() / "skov-folder-bench-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) Fail("cannot make a scratch folder");
  const fs::path work = pattern;
  const fs::path corpus = work / "corpus", floorDir = work / "floor", defaultFolder = work / "default";
  WriteCorpus(corpus, files, lines);
  fs::create_directories(floorDir);
  fs::create_directories(defaultFolder);
  fs::copy_file(templ, defaultFolder / "SKOV_IMPORT.XLS");
  for (const fs::path& in : Inputs(corpus)) fs::copy_file(in, floorDir / in.filename());
  std::ifstream tin(templ, std::ios::binary);
  const std::vector<char> templBytes((std::istreambuf_iterator<char>(tin)), std::istreambuf_iterator<char>());

  struct Best {
    std::string name, tool;
    double run = 1e9, cpu = 1e9, second = 1e9;
    long peakKib = 0;
  };
  std::vector<Best> tools = {{"skov-import --folder", tool}};
  if (!before.empty()) tools.insert(tools.begin(), {"before: skov-import --folder", before});
  double bestFloor = 1e9, bestFloorAgain = 1e9;
  for (int r = 0; r < repeat; ++r) {
    RemoveOutputs(floorDir);
    bestFloor = std::min(bestFloor, FloorRun(floorDir, templBytes));
    // Replacing the outputs of the run before costs the file system more than making them.
    bestFloorAgain = std::min(bestFloorAgain, FloorRun(floorDir, templBytes));
    for (Best& b : tools) {
      RemoveOutputs(corpus);
      const Spawned run = Spawn(RunArgs(b.tool, defaultFolder, corpus));
      if (run.status != 0) Fail(b.tool + " failed (status " + std::to_string(run.status) + ")");
      size_t outputs = 0;
      for (const auto& e : fs::directory_iterator(corpus)) outputs += e.path().extension() == ".XLS";
      if (outputs != size_t(files)) Fail(b.tool + " wrote " + std::to_string(outputs) + " workbooks");
      b.run = std::min(b.run, run.seconds);
      b.cpu = std::min(b.cpu, run.cpu);
      b.peakKib = std::max(b.peakKib, run.maxRssKib);
      const Spawned again = Spawn(RunArgs(b.tool, defaultFolder, corpus));
      if (again.status != 0) Fail(b.tool + " failed on the second run (status " + std::to_string(again.status) + ")");
      b.second = std::min(b.second, again.seconds);
    }
  }

  std::printf("Corpus: %d import files x %d lines x 61 fields, template %s; fastest of %d runs\n", files, lines,
              templ.c_str(), repeat);
  std::printf("| | whole run | per file | x floor | CPU per file | peak RSS | second run | per file | x floor |\n"
              "|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  std::printf("| safe-save floor | %.3f s | %.2f ms | 1.0 | | | %.3f s | %.2f ms | 1.0 |\n", bestFloor,
              bestFloor / files * 1e3, bestFloorAgain, bestFloorAgain / files * 1e3);
  for (const Best& b : tools) {
    std::printf("| %s | %.3f s | %.2f ms | %.2f | %.2f ms | %.1f MB | %.3f s | %.2f ms | %.2f |\n", b.name.c_str(),
                b.run, b.run / files * 1e3, b.run / bestFloor, b.cpu / files * 1e3, b.peakKib / 1024.0, b.second,
                b.second / files * 1e3, b.second / bestFloorAgain);
  }

  if (callgrind) {
    if (::access("/usr/bin/valgrind", X_OK) != 0) Fail("valgrind is not installed (or pass --no-callgrind)");
    constexpr int kFew = 10, kMany = 30;
    const fs::path few = work / "few", many = work / "many";
    fs::create_directories(few);
    fs::create_directories(many);
    const std::vector<fs::path> inputs = Inputs(corpus);
    if (inputs.size() < size_t(kMany)) Fail("callgrind needs --files 30 or more");
    // The same drawings in both: the first ones of the corpus, in list order.
    for (int i = 0; i < kMany; ++i) {
      if (i < kFew) fs::copy_file(inputs[size_t(i)], few / inputs[size_t(i)].filename());
      fs::copy_file(inputs[size_t(i)], many / inputs[size_t(i)].filename());
    }
    for (size_t k = 0; k < tools.size(); ++k) {
      const std::string tag = k + 1 == tools.size() ? "" : ".before";
      const unsigned long long a = Instructions(tools[k].tool, defaultFolder, few, work / ("callgrind.few" + tag));
      const unsigned long long b = Instructions(tools[k].tool, defaultFolder, many, work / ("callgrind.many" + tag));
      std::printf("%s: instructions per file (callgrind, (%d files - %d files) / %d): %.2f M; whole run of %d files %.1f M\n",
                  tools[k].name.c_str(), kMany, kFew, kMany - kFew, double(b - a) / (kMany - kFew) / 1e6, kMany,
                  double(b) / 1e6);
    }
    if (std::getenv("SKOV_BENCH_KEEP")) {
      std::printf("kept: %s (callgrind_annotate %s)\n", work.c_str(), (work / "callgrind.many").c_str());
      return 0;
    }
  }
  std::error_code ec;
  fs::remove_all(work, ec);
  return 0;
}
