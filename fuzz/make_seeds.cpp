// Writes a few small compound files into the given folder as fuzzing seeds.
#include <cstdio>
#include <fstream>
#include <string>

#include "xls/cfb.h"

using skov::xls::CfbEntry;
using skov::xls::CfbType;
using skov::xls::CompoundFile;

namespace {

CfbEntry Stream(std::u16string name, size_t size) {
  CfbEntry e;
  e.name = std::move(name);
  e.data.resize(size);
  for (size_t i = 0; i < size; ++i) e.data[i] = uint8_t(i * 7 + size);
  return e;
}

CompoundFile File(uint16_t version, std::vector<CfbEntry> children) {
  CompoundFile f;
  f.majorVersion = version;
  f.root.name = u"Root Entry";
  f.root.type = CfbType::Root;
  f.root.children = std::move(children);
  return f;
}

void Save(const std::string& dir, const char* name, const CompoundFile& f) {
  const std::vector<uint8_t> bytes = skov::xls::WriteCompoundFile(f);
  std::ofstream(dir + "/" + name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_make_seeds FOLDER\n");
    return 2;
  }
  const std::string dir = argv[1];
  Save(dir, "seed_root_only", File(3, {}));
  Save(dir, "seed_v3_mixed", File(3, {Stream(u"Workbook", 5000), Stream(u"\x05SummaryInformation", 200)}));
  CfbEntry storage;
  storage.name = u"Sub";
  storage.type = CfbType::Storage;
  storage.children = {Stream(u"a", 10), Stream(u"B", 4096)};
  Save(dir, "seed_v3_storage", File(3, {storage, Stream(u"Workbook", 600), Stream(u"x", 0)}));
  Save(dir, "seed_v4_mixed", File(4, {Stream(u"Workbook", 9000), Stream(u"small", 100), storage}));
  return 0;
}
