// Fill benchmark: bind + one import file's cells + save as, per file over a
// batch, next to the floor of copying the template and reading the input.
//
//   xls_fill_bench [template.xls] [files]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/xls_host.h"

namespace fs = std::filesystem;
using namespace skov;

namespace {

double CpuNow() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}
double WallNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Sample {
  double wall, cpu;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// 86 data lines of 55 short fields, as the export of one drawing gives them.
void WriteImportFile(const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out << "\"GERAET\";\"GERBEZ\";\"GERBEM\"";
  for (int n = 1; n <= 50; ++n) out << ";\"" << n << "\"";
  out << ";\"PROJEKT1\";\"ZNAME\"\r\n";
  for (int l = 0; l < 86; ++l) {
    out << "\"P" << l << "\";\"Pumpe " << l << "\";\"Bem.\"";
    for (int n = 1; n <= 50; ++n) out << ";\"" << (l * 50 + n) % 997 << "\"";
    out << ";\"Projekt\";\"ZEICHNUNG\"\r\n";
  }
}

std::vector<std::vector<Text>> ImportLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::vector<Text>> lines;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::vector<Text> fields;
    size_t start = 0;
    while (start <= line.size()) {
      size_t end = line.find(';', start);
      if (end == std::string::npos) end = line.size();
      std::string f = line.substr(start, end - start);
      if (!f.empty() && f.back() == '\r') f.pop_back();
      if (f.size() >= 2 && f.front() == '"') f = f.substr(1, f.size() - 2);
      fields.push_back(FromCp1252(f));
      start = end + 1;
    }
    lines.push_back(std::move(fields));
  }
  return lines;
}

// The cells the import writes for these lines: 5 sheets at most.
void Fill(Workbook& wb, const std::vector<std::vector<Text>>& lines) {
  wb.Activate();
  wb.ShowWindow(1);
  wb.ActivateSheet(1);
  wb.ShowSheet(1);
  int sheet = 1, row = 11;
  auto title = [&](const std::vector<Text>& f) {
    wb.WriteCell(sheet, 31, 22, f[53]);
    wb.WriteCell(sheet, 33, 42, f[54]);
  };
  title(lines[0]);
  for (const auto& f : lines) {
    wb.WriteCell(sheet, row, 2, f[0] + u"-" + f[1]);
    for (int n = 1; n <= 50; ++n) wb.WriteCell(sheet, row, 4 + n, f[size_t(2 + n)]);
    wb.WriteCell(sheet, row, 55, f[2]);
    if (row == 28) {
      if (++sheet > 5) break;
      wb.ActivateSheet(sheet);
      wb.ShowSheet(sheet);
      row = 12;
      title(f);
    } else {
      ++row;
    }
  }
  int reached = std::min(sheet, 5);
  for (int s = 1; s <= reached; ++s) {
    wb.ActivateSheet(s);
    wb.ShowSheet(s);
    wb.WriteCell(s, 33, 56, u" " + FromUtf8(std::to_string(reached + 1)));
  }
  wb.ActivateSheet(1);
  wb.ShowSheet(1);
}

}  // namespace

int main(int argc, char** argv) {
  std::string templ = argc > 1 ? argv[1] : std::string(SKOV_TEST_DATA) + "/xls/xlwt_template.xls";
  int files = argc > 2 ? std::atoi(argv[2]) : 200;
  std::string pattern = (fs::temp_directory_path() / "skov-bench-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return 1;
  fs::path dir = pattern;
  fs::copy_file(templ, dir / "SKOV_IMPORT.XLS");
  const std::string importPath = (dir / "ANLAGE.TXT").string();
  WriteImportFile(importPath);

  std::vector<Sample> floor, fill, parts[3];
  for (int i = 0; i < files; ++i) {
    double w0 = WallNow(), c0 = CpuNow();
    {
      std::ifstream in(importPath, std::ios::binary);
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      fs::copy_file(dir / "SKOV_IMPORT.XLS", dir / ("COPY" + std::to_string(i) + ".XLS"),
                    fs::copy_options::overwrite_existing);
    }
    floor.push_back({WallNow() - w0, CpuNow() - c0});
  }
  auto host = MakeXlsHost(FromUtf8(dir.string()));
  size_t cells = 0;
  for (int i = 0; i < files; ++i) {
    double w0 = WallNow(), c0 = CpuNow();
    auto lines = ImportLines(importPath);
    auto wb = host->BindToFile(FromUtf8((dir / "SKOV_IMPORT.XLS").string()));
    double w1 = WallNow(), c1 = CpuNow();
    Fill(*wb, lines);
    double w2 = WallNow(), c2 = CpuNow();
    wb->SaveAs(FromUtf8((dir / ("OUT" + std::to_string(i) + ".XLS")).string()));
    wb->Close(false);
    double w3 = WallNow(), c3 = CpuNow();
    fill.push_back({w3 - w0, c3 - c0});
    parts[0].push_back({w1 - w0, c1 - c0});
    parts[1].push_back({w2 - w1, c2 - c1});
    parts[2].push_back({w3 - w2, c3 - c2});
    cells = lines.size();
  }
  auto walls = [](const std::vector<Sample>& v) {
    std::vector<double> out;
    for (const Sample& s : v) out.push_back(s.wall);
    return out;
  };
  auto cpus = [](const std::vector<Sample>& v) {
    std::vector<double> out;
    for (const Sample& s : v) out.push_back(s.cpu);
    return out;
  };
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("template %s (%ju bytes), %d files, %zu data lines each\n", templ.c_str(),
              uintmax_t(fs::file_size(templ)), files, cells);
  std::printf("floor (read input + copy template): median wall %.3f ms, cpu %.3f ms\n", Median(walls(floor)) * 1e3,
              Median(cpus(floor)) * 1e3);
  std::printf("fill (read input + bind + write cells + save as, fdatasync included): median wall %.3f ms, cpu %.3f ms\n",
              Median(walls(fill)) * 1e3, Median(cpus(fill)) * 1e3);
  const char* names[] = {"read input + bind", "write cells", "save as"};
  for (int k = 0; k < 3; ++k) {
    std::printf("  %s: median wall %.3f ms, cpu %.3f ms\n", names[k], Median(walls(parts[k])) * 1e3,
                Median(cpus(parts[k])) * 1e3);
  }
  std::printf("output size %ju bytes, peak RSS %ld KiB\n", uintmax_t(fs::file_size(dir / "OUT0.XLS")), ru.ru_maxrss);
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
