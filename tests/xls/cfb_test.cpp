// Tests for the compound file reader and writer: round trips, tree shape, damage.
#include "xls/cfb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "support/temp_dir.h"

namespace skov::xls {
namespace {

namespace fs = std::filesystem;

uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> d(size);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& c : d) {
    x = x * 1103515245u + 12345u;
    c = uint8_t(x >> 16);
  }
  return d;
}

CfbEntry Stream(std::u16string name, size_t size, uint32_t seed = 1) {
  CfbEntry e;
  e.name = std::move(name);
  e.type = CfbType::Stream;
  e.data = Pattern(size, seed);
  return e;
}

CfbEntry Storage(std::u16string name, std::vector<CfbEntry> children) {
  CfbEntry e;
  e.name = std::move(name);
  e.type = CfbType::Storage;
  e.children = std::move(children);
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

// The reader gives children in the file's order; written files order them.
void SortTree(CfbEntry& e) {
  std::stable_sort(e.children.begin(), e.children.end(),
                   [](const CfbEntry& a, const CfbEntry& b) { return CompareNames(a.name, b.name) < 0; });
  for (auto& c : e.children) SortTree(c);
}

// Raw view of a written file, independent of the reader: header, FAT and
// directory entries, for checking the tree's shape.
struct RawDir {
  uint32_t ss = 0;
  std::vector<uint32_t> fat;
  std::vector<size_t> entryOffsets;
};

RawDir ParseRaw(const std::vector<uint8_t>& b) {
  RawDir r;
  r.ss = 1u << (b[0x1E] | b[0x1F] << 8);
  const uint32_t numFat = Get32(b, 0x2C);
  std::vector<uint32_t> fatIds;
  for (uint32_t i = 0; i < 109 && fatIds.size() < numFat; ++i) fatIds.push_back(Get32(b, 0x4C + 4 * i));
  uint32_t difat = Get32(b, 0x44);
  while (fatIds.size() < numFat) {
    const size_t at = size_t(difat + 1) * r.ss;
    for (uint32_t i = 0; i < r.ss / 4 - 1 && fatIds.size() < numFat; ++i) fatIds.push_back(Get32(b, at + 4 * i));
    difat = Get32(b, at + r.ss - 4);
  }
  for (uint32_t id : fatIds)
    for (uint32_t i = 0; i < r.ss / 4; ++i) r.fat.push_back(Get32(b, size_t(id + 1) * r.ss + 4 * i));
  for (uint32_t s = Get32(b, 0x30); s != 0xFFFFFFFE; s = r.fat.at(s))
    for (uint32_t i = 0; i < r.ss / 128; ++i) r.entryOffsets.push_back(size_t(s + 1) * r.ss + 128 * i);
  return r;
}

std::u16string RawName(const std::vector<uint8_t>& b, size_t at) {
  std::u16string n;
  const size_t len = (b[at + 0x40] | b[at + 0x41] << 8) / 2;
  for (size_t i = 0; i + 1 < len; ++i) n.push_back(char16_t(b[at + 2 * i] | b[at + 2 * i + 1] << 8));
  return n;
}

// Checks one sibling tree: ordered, no red node with a red child, the same
// number of black nodes on every path. Returns the black height.
int CheckSiblings(const std::vector<uint8_t>& b, const RawDir& r, uint32_t sid, const std::u16string* lo,
                  const std::u16string* hi, bool parentRed, std::vector<uint32_t>& inOrder) {
  if (sid == 0xFFFFFFFF) return 1;
  const size_t at = r.entryOffsets.at(sid);
  const std::u16string name = RawName(b, at);
  if (lo) {
    EXPECT_LT(CompareNames(*lo, name), 0);
  }
  if (hi) {
    EXPECT_LT(CompareNames(name, *hi), 0);
  }
  const bool red = b[at + 0x43] == 0;
  EXPECT_FALSE(red && parentRed) << "red child of a red node";
  const int l = CheckSiblings(b, r, Get32(b, at + 0x44), lo, &name, red, inOrder);
  inOrder.push_back(sid);
  const int rh = CheckSiblings(b, r, Get32(b, at + 0x48), &name, hi, red, inOrder);
  EXPECT_EQ(l, rh) << "black heights differ below this node";
  return l + (red ? 0 : 1);
}

void CheckTreeShape(const std::vector<uint8_t>& bytes, const CfbEntry& root) {
  const RawDir r = ParseRaw(bytes);
  std::function<void(uint32_t, const CfbEntry&)> visit = [&](uint32_t sid, const CfbEntry& e) {
    const size_t at = r.entryOffsets.at(sid);
    std::vector<uint32_t> inOrder;
    CheckSiblings(bytes, r, Get32(bytes, at + 0x4C), nullptr, nullptr, false, inOrder);
    ASSERT_EQ(inOrder.size(), e.children.size());
    for (size_t i = 0; i < inOrder.size(); ++i) {
      EXPECT_EQ(RawName(bytes, r.entryOffsets.at(inOrder[i])), e.children[i].name);
      visit(inOrder[i], e.children[i]);
    }
  };
  visit(0, root);
}

struct RoundTripCase {
  std::string label;
  CompoundFile file;
};

std::vector<RoundTripCase> RoundTripCases() {
  std::vector<RoundTripCase> cases;
  for (uint16_t v : {3, 4}) {
    const std::string tag = v == 3 ? "v3 " : "v4 ";
    CfbEntry meta = Stream(u"\x05SummaryInformation", 300, 7);
    meta.clsid = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    meta.stateBits = 0xDEADBEEF;
    meta.created = 0x01D0000012345678ull;
    meta.modified = 0x01D9ABCDEF012345ull;
    CfbEntry store = Storage(u"_VBA_PROJECT_CUR", {Stream(u"PROJECT", 900, 3),
                                                   Storage(u"VBA", {Stream(u"dir", 5000, 4), Stream(u"_VBA_PROJECT", 7)})});
    store.clsid[0] = 0xAA;
    store.created = 42;
    store.modified = 43;
    store.stateBits = 1;
    cases.push_back({tag + "mini, regular, nested, metadata",
                     File(v, {Stream(u"Workbook", 20000, 1), meta, store})});
    CompoundFile empty = File(v, {});
    empty.root.clsid = {0x20, 0x08, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    empty.root.modified = 99;
    cases.push_back({tag + "root only", empty});
    cases.push_back({tag + "cutoff edges",
                     File(v, {Stream(u"e0", 0), Stream(u"e1", 1), Stream(u"m63", 63), Stream(u"m64", 64),
                              Stream(u"m4095", 4095), Stream(u"r4096", 4096), Stream(u"r4097", 4097),
                              Storage(u"emptyStorage", {})})});
    std::vector<CfbEntry> many;
    for (int i = 0; i < 300; ++i)
      many.push_back(Stream(u"s" + std::u16string(1, char16_t(u'A' + i % 26)) + char16_t(u'0' + i / 26), i * 13 % 5000,
                            uint32_t(i)));
    cases.push_back({tag + "300 siblings", File(v, std::move(many))});
    CfbEntry deep = Stream(u"leaf", 100);
    for (int i = 0; i < 20; ++i) deep = Storage(u"level" + std::u16string(1, char16_t(u'a' + i)), {deep});
    cases.push_back({tag + "20 nested storages", File(v, {deep})});
  }
  return cases;
}

TEST(CfbRoundTrip, WrittenFilesReadBackEqualAndWellFormed) {
  for (auto& c : RoundTripCases()) {
    SCOPED_TRACE(c.label);
    const std::vector<uint8_t> bytes = WriteCompoundFile(c.file);
    CompoundFile back = ReadCompoundFile(bytes);
    CompoundFile expected = c.file;
    SortTree(expected.root);
    EXPECT_EQ(back.majorVersion, c.file.majorVersion);
    EXPECT_TRUE(back == expected);
    EXPECT_EQ(WriteCompoundFile(back), bytes) << "writing is not deterministic";
    CheckTreeShape(bytes, back.root);
    EXPECT_EQ(bytes.size() % (c.file.majorVersion == 4 ? 4096 : 512), 0u);
  }
}

TEST(CfbRoundTrip, ManyFatSectorsNeedDifatSectors) {
  // 7 MB in 512-byte sectors takes 112 FAT sectors, three more than the header holds.
  const CompoundFile f = File(3, {Stream(u"big", 7 * 1024 * 1024, 9), Stream(u"small", 10)});
  const std::vector<uint8_t> bytes = WriteCompoundFile(f);
  EXPECT_GT(Get32(bytes, 0x2C), 109u);
  EXPECT_EQ(Get32(bytes, 0x48), 1u);
  const RawDir raw = ParseRaw(bytes);
  const uint32_t difat = Get32(bytes, 0x44);
  EXPECT_EQ(raw.fat.at(difat), 0xFFFFFFFCu);
  const uint32_t numFat = Get32(bytes, 0x2C);
  for (uint32_t i = 0; i < numFat; ++i) {
    const size_t at = i < 109 ? 0x4C + 4 * i : size_t(difat + 1) * 512 + 4 * (i - 109);
    EXPECT_EQ(raw.fat.at(Get32(bytes, at)), 0xFFFFFFFDu) << i;
  }
  EXPECT_TRUE(ReadCompoundFile(bytes) == f);
}

// FNV-1a over a file's bytes.
uint64_t Digest(const std::vector<uint8_t>& b) {
  uint64_t h = 14695981039346656037ull;
  for (uint8_t c : b) h = (h ^ c) * 1099511628211ull;
  return h;
}

TEST(CfbWrite, StreamGivenApartMakesTheSameFile) {
  // The digests are those of files written whole, before writing in pieces;
  // the workbook sits between two large streams and crosses the mini stream
  // cutoff and sector ends; 7 MB need DIFAT sectors.
  struct Case {
    uint16_t version;
    size_t size;
    uint64_t digest;
  };
  const Case cases[] = {
      {3, 7 * 1024 * 1024, 0x8DF819C08F417ACDull}, {3, 0, 0x766B2E3297A1800Dull},
      {3, 1, 0x512AAA96FF224E03ull},               {3, 4095, 0x0BF563CD5C5FAE36ull},
      {3, 4096, 0x1DD5490802098286ull},            {3, 4097, 0x0157FCDF74AC4101ull},
      {3, 8192, 0x41A2850B91404E3Full},            {3, 100000, 0xA5A75EA39FB55C4Full},
      {4, 4095, 0xA7643116910FF056ull},            {4, 4096, 0x93D02F02CF0F0FDEull},
      {4, 4097, 0xB7F5969969585D57ull},            {4, 100000, 0xD7005B8D100FDEBDull},
  };
  CfbImage image;  // one for all, as a run of saves has
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.version) + " " + std::to_string(c.size));
    CompoundFile f = File(c.version, {Stream(u"Ctls", 6000, 2), Stream(u"Workbook", c.size, 5),
                                      Stream(u"\x05SummaryInformation", 300, 7),
                                      Storage(u"_VBA_PROJECT_CUR", {Stream(u"dir", 5000, 4)})});
    const std::vector<uint8_t> whole = WriteCompoundFile(f);
    EXPECT_EQ(Digest(whole), c.digest);
    CfbEntry& workbook = f.root.children[1];
    const std::vector<uint8_t> data = std::move(workbook.data);
    workbook.data.clear();
    WriteCompoundFile(f, image, &workbook, data);
    std::vector<uint8_t> joined;
    for (std::span<const uint8_t> p : image.pieces) joined.insert(joined.end(), p.begin(), p.end());
    EXPECT_EQ(image.Size(), whole.size());
    EXPECT_TRUE(joined == whole);
  }
}

TEST(CfbRoundTrip, HeaderFields) {
  for (uint16_t v : {3, 4}) {
    const std::vector<uint8_t> b = WriteCompoundFile(File(v, {Stream(u"a", 10)}));
    SCOPED_TRACE(v);
    EXPECT_EQ(b[0x18] | b[0x19] << 8, 0x3E);
    EXPECT_EQ(b[0x1A] | b[0x1B] << 8, v);
    EXPECT_EQ(Get32(b, 0x28), v == 4 ? 1u : 0u);  // directory sectors, v4 only
    EXPECT_EQ(Get32(b, 0x34), 0u);                // transaction signature
    EXPECT_EQ(Get32(b, 0x38), 4096u);
    EXPECT_EQ(Get32(b, 0x44), 0xFFFFFFFEu);  // no DIFAT sectors
    EXPECT_EQ(Get32(b, 0x4C + 4), 0xFFFFFFFFu);
  }
}

TEST(CfbNames, CompareAndFind) {
  struct Case {
    std::u16string a, b;
    int sign;
  } cases[] = {
      {u"B", u"AA", -1},       {u"abc", u"ABC", 0},      {u"Workbook", u"WORKBOOK", 0}, {u"a", u"b", -1},
      {u"\u00e9", u"\u00c9", 0}, {u"\u00ff", u"\u0178", 0}, {u"\u00f7", u"\u00d7", 1},     {u"", u"", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a.begin(), c.a.end()));
    const int r = CompareNames(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign);
    EXPECT_EQ(CompareNames(c.b, c.a) * -1 == r || (r == 0 && CompareNames(c.b, c.a) == 0), true);
  }
  CompoundFile f = File(3, {Stream(u"Workbook", 3), Storage(u"Sub", {})});
  EXPECT_EQ(FindChild(f.root, u"WORKBOOK"), &f.root.children[0]);
  EXPECT_EQ(FindChild(std::as_const(f.root), u"sub"), &f.root.children[1]);
  EXPECT_EQ(FindChild(f.root, u"Book"), nullptr);
}

TEST(CfbWrite, RefusesTreesTheFormatCannotHold) {
  CompoundFile dup = File(3, {Stream(u"a", 1), Stream(u"A", 1)});
  CompoundFile longName = File(3, {Stream(std::u16string(32, u'x'), 1)});
  CompoundFile notRoot = File(3, {});
  notRoot.root.type = CfbType::Storage;
  CompoundFile streamKids = File(3, {Stream(u"s", 1)});
  streamKids.root.children[0].children.push_back(Stream(u"t", 1));
  CompoundFile rootChild = File(3, {File(3, {}).root});
  for (const CompoundFile* f : {&dup, &longName, &notRoot, &streamKids, &rootChild})
    EXPECT_THROW(WriteCompoundFile(*f), CfbError);
  EXPECT_NO_THROW(WriteCompoundFile(File(3, {Stream(std::u16string(31, u'x'), 1)})));
}

// A small valid file and where its parts lie, for damaging it.
struct Sample {
  std::vector<uint8_t> bytes;
  size_t entry(const std::u16string& name) const {
    const RawDir r = ParseRaw(bytes);
    for (size_t at : r.entryOffsets)
      if (bytes[at + 0x42] != 0 && RawName(bytes, at) == name) return at;
    ADD_FAILURE() << "no entry";
    return 0;
  }
  uint32_t sid(const std::u16string& name) const {
    const RawDir r = ParseRaw(bytes);
    const size_t at = entry(name);
    return uint32_t(std::find(r.entryOffsets.begin(), r.entryOffsets.end(), at) - r.entryOffsets.begin());
  }
  size_t sector(uint32_t id) const { return size_t(id + 1) * 512; }
};

Sample MakeSample() {
  return {WriteCompoundFile(File(3, {Stream(u"Big", 5000, 2), Stream(u"Small", 100, 3), Storage(u"Sub", {}), Stream(u"Nil", 0)}))};
}

TEST(CfbRead, DamagedInputsThrow) {
  static const std::map<std::string, std::string> kWhy = {
      {"empty", "shorter than its header"},
      {"shorter than the header", "shorter than its header"},
      {"header only", "FAT sector count"},
      {"cut in the middle", "stream larger than the file"},
      {"last stream sector cut too far", "sector past the end of the file"},
      {"signature", "not a compound file (signature)"},
      {"byte order", "byte order mark"},
      {"version 5", "version or sector size"},
      {"v3 with 4096-byte sectors", "version or sector size"},
      {"mini sector shift", "mini sector size"},
      {"mini stream cutoff", "mini stream cutoff"},
      {"no FAT sectors", "FAT sector count"},
      {"absurd FAT sector count", "FAT sector count"},
      {"FAT sector id out of range", "FAT sector id out of range"},
      {"FAT sector id is ENDOFCHAIN", "FAT sector id out of range"},
      {"more FAT sectors than the DIFAT lists", "DIFAT chain ends early"},
      {"directory start out of range", "chain leaves the file"},
      {"directory start free", "chain leaves the file"},
      {"directory chain loops", "sector chains cross or loop"},
      {"stream chain loops", "sector chains cross or loop"},
      {"stream chain too short", "chain leaves the file"},
      {"stream chain crosses the directory", "sector chains cross or loop"},
      {"stream chain hits a FAT sector", "sector chains cross or loop"},
      {"stream start out of range", "chain leaves the file"},
      {"absurd stream size", "stream larger than the file"},
      {"mini stream past its end", "mini chain leaves the mini FAT"},
      {"mini chain loops", "mini chains cross or loop"},
      {"no mini FAT", "mini stream chain too short"},
      {"root mini stream size zero", "mini sector past the mini stream"},
      {"sibling loops to itself", "directory entry reached twice"},
      {"child points at the root", "directory entry reached twice"},
      {"sibling id out of range", "directory entry id out of range"},
      {"sibling is unused entry", "sibling is not a storage or stream"},
      {"first entry not the root", "first directory entry is not the root"},
      {"entry type 3", "directory entry type"},
      {"name length 66", "directory entry name length"},
      {"name length odd", "directory entry name length"},
      {"name length zero", "directory entry name length"},
      {"two siblings one name", "two siblings with one name"},
      {"DIFAT sector loops", "sector listed twice in the FAT or DIFAT"},
      {"one sector listed twice as FAT", "sector listed twice in the FAT or DIFAT"},
      {"more FAT sectors than the FAT count covers", "FAT sector count"},
      {"DIFAT chain longer than its count", "DIFAT chain longer than its count"},
  };
  using Mutate = std::function<void(Sample&)>;
  const Sample base = MakeSample();
  const uint32_t bigStart = Get32(base.bytes, base.entry(u"Big") + 0x74);
  const uint32_t smallStart = Get32(base.bytes, base.entry(u"Small") + 0x74);
  struct Case {
    const char* label;
    Mutate mutate;
  } cases[] = {
      {"empty", [](Sample& s) { s.bytes.clear(); }},
      {"shorter than the header", [](Sample& s) { s.bytes.resize(511); }},
      {"header only", [](Sample& s) { s.bytes.resize(512); }},
      {"cut in the middle", [](Sample& s) { s.bytes.resize(s.bytes.size() / 2); }},
      {"last stream sector cut too far", [](Sample& s) { s.bytes.resize(s.bytes.size() - 121); }},
      {"signature", [](Sample& s) { s.bytes[0] = 0xD1; }},
      {"byte order", [](Sample& s) { Put16(s.bytes, 0x1C, 0xFEFF); }},
      {"version 5", [](Sample& s) { Put16(s.bytes, 0x1A, 5); }},
      {"v3 with 4096-byte sectors", [](Sample& s) { Put16(s.bytes, 0x1E, 12); }},
      {"mini sector shift", [](Sample& s) { Put16(s.bytes, 0x20, 7); }},
      {"mini stream cutoff", [](Sample& s) { Put32(s.bytes, 0x38, 8192); }},
      {"no FAT sectors", [](Sample& s) { Put32(s.bytes, 0x2C, 0); }},
      {"absurd FAT sector count", [](Sample& s) { Put32(s.bytes, 0x2C, 0x7FFFFFFF); }},
      {"FAT sector id out of range", [](Sample& s) { Put32(s.bytes, 0x4C, 0x00FFFFFF); }},
      {"FAT sector id is ENDOFCHAIN", [](Sample& s) { Put32(s.bytes, 0x4C, 0xFFFFFFFE); }},
      {"more FAT sectors than the FAT count covers", [](Sample& s) { Put32(s.bytes, 0x2C, 110); }},
      {"more FAT sectors than the DIFAT lists",
       [](Sample& s) {
         s.bytes.resize(s.bytes.size() + 300 * 512);
         for (uint32_t i = 0; i < 109; ++i) Put32(s.bytes, 0x4C + 4 * i, 100 + i);
         Put32(s.bytes, 0x2C, 110);
       }},
      {"DIFAT chain longer than its count",
       [](Sample& s) {
         s.bytes.resize(s.bytes.size() + 600 * 512);
         for (uint32_t i = 0; i < 109; ++i) Put32(s.bytes, 0x4C + 4 * i, 100 + i);
         Put32(s.bytes, 0x2C, 109 + 127 * 2);
         Put32(s.bytes, 0x44, 400);
         Put32(s.bytes, 0x48, 1);
         for (uint32_t i = 0; i < 127; ++i) Put32(s.bytes, s.sector(400) + 4 * i, 250 + i);
         Put32(s.bytes, s.sector(400) + 508, 401);
       }},
      {"directory start out of range", [](Sample& s) { Put32(s.bytes, 0x30, 0xFFFF0); }},
      {"directory start free", [](Sample& s) { Put32(s.bytes, 0x30, 0xFFFFFFFF); }},
      {"directory chain loops",
       [](Sample& s) {
         const uint32_t d = Get32(s.bytes, 0x30);
         Put32(s.bytes, s.sector(0) + 4 * d, d);
       }},
      {"stream chain loops", [=](Sample& s) { Put32(s.bytes, s.sector(0) + 4 * bigStart, bigStart); }},
      {"stream chain too short", [=](Sample& s) { Put32(s.bytes, s.sector(0) + 4 * (bigStart + 3), 0xFFFFFFFE); }},
      {"stream chain crosses the directory",
       [=](Sample& s) { Put32(s.bytes, s.sector(0) + 4 * bigStart, Get32(s.bytes, 0x30)); }},
      {"stream chain hits a FAT sector", [=](Sample& s) { Put32(s.bytes, s.sector(0) + 4 * bigStart, 0); }},
      {"stream start out of range", [&](Sample& s) { Put32(s.bytes, s.entry(u"Big") + 0x74, 0x00FFFFFF); }},
      {"absurd stream size", [&](Sample& s) { Put32(s.bytes, s.entry(u"Big") + 0x78, 0xFFFFFF00); }},
      {"mini stream past its end", [&](Sample& s) { Put32(s.bytes, s.entry(u"Small") + 0x74, 500); }},
      {"mini chain loops",
       [=](Sample& s) { Put32(s.bytes, s.sector(Get32(s.bytes, 0x3C)) + 4 * smallStart, smallStart); }},
      {"no mini FAT", [](Sample& s) { Put32(s.bytes, 0x3C, 0xFFFFFFFE); }},
      {"root mini stream size zero", [&](Sample& s) { Put32(s.bytes, s.entry(u"Root Entry") + 0x78, 0); }},
      {"sibling loops to itself",
       [&](Sample& s) {
         Put32(s.bytes, s.entry(u"Big") + 0x44, s.sid(u"Big"));
       }},
      {"child points at the root", [&](Sample& s) { Put32(s.bytes, s.entry(u"Sub") + 0x4C, 0); }},
      {"sibling id out of range", [&](Sample& s) { Put32(s.bytes, s.entry(u"Big") + 0x48, 1000); }},
      {"sibling is unused entry", [&](Sample& s) { Put32(s.bytes, s.entry(u"Big") + 0x48, 6); }},
      {"first entry not the root", [&](Sample& s) { s.bytes[s.entry(u"Root Entry") + 0x42] = 1; }},
      {"entry type 3", [&](Sample& s) { s.bytes[s.entry(u"Small") + 0x42] = 3; }},
      {"name length 66", [&](Sample& s) { Put16(s.bytes, s.entry(u"Small") + 0x40, 66); }},
      {"name length odd", [&](Sample& s) { Put16(s.bytes, s.entry(u"Small") + 0x40, 5); }},
      {"name length zero", [&](Sample& s) { Put16(s.bytes, s.entry(u"Small") + 0x40, 0); }},
      {"two siblings one name",
       [&](Sample& s) {
         const size_t at = s.entry(u"Big");
         for (int i = 0; i < 3; ++i) Put16(s.bytes, at + 2 * i, u"SUB"[i]);
       }},
      {"DIFAT sector loops",
       [](Sample& s) {
         s.bytes.resize(s.bytes.size() + 600 * 512);
         for (uint32_t i = 0; i < 109; ++i) Put32(s.bytes, 0x4C + 4 * i, 100 + i);
         Put32(s.bytes, 0x2C, 109 + 127 * 3);
         Put32(s.bytes, 0x44, 400);
         Put32(s.bytes, 0x48, 3);
         for (uint32_t i = 0; i < 127; ++i) Put32(s.bytes, s.sector(400) + 4 * i, 250 + i);
         Put32(s.bytes, s.sector(400) + 508, 400);
       }},
      {"one sector listed twice as FAT", [](Sample& s) {
         s.bytes.resize(s.bytes.size() + 512);
         Put32(s.bytes, 0x2C, 2);
         Put32(s.bytes, 0x4C + 4, 0);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Sample s = base;
    c.mutate(s);
    EXPECT_THROW(ReadCompoundFile(s.bytes), CfbError);
    try {
      ReadCompoundFile(s.bytes);
    } catch (const CfbError& e) {
      // The damage must be caught for the reason the case is about.
      ASSERT_TRUE(kWhy.count(c.label)) << c.label;
      EXPECT_NE(std::string(e.what()).find(kWhy.at(c.label)), std::string::npos) << e.what();
    }
  }
}

TEST(CfbRead, ToleratedQuirks) {
  const Sample base = MakeSample();
  const CompoundFile expected = ReadCompoundFile(base.bytes);
  struct Case {
    const char* label;
    std::function<void(Sample&)> mutate;
  } cases[] = {
      {"last sector short by its unused tail", [](Sample& s) { s.bytes.resize(s.bytes.size() - 120); }},
      {"trailing junk", [](Sample& s) { s.bytes.resize(s.bytes.size() + 100, 0xAB); }},
      {"ENDOFCHAIN in DIFAT padding", [](Sample& s) { Put32(s.bytes, 0x4C + 4 * 5, 0xFFFFFFFE); }},
      {"junk in DIFAT padding", [](Sample& s) { Put32(s.bytes, 0x4C + 4 * 108, 12345); }},
      {"v3 size with high bits set", [&](Sample& s) { Put32(s.bytes, s.entry(u"Big") + 0x7C, 0x1234); }},
      {"v3 root size with high bits set", [&](Sample& s) { Put32(s.bytes, s.entry(u"Root Entry") + 0x7C, 1); }},
      {"empty stream with start 0", [&](Sample& s) { Put32(s.bytes, s.entry(u"Nil") + 0x74, 0); }},
      {"garbage in an unused entry",
       [&](Sample& s) {
         const RawDir r = ParseRaw(s.bytes);
         const size_t at = r.entryOffsets.back();
         ASSERT_EQ(s.bytes[at + 0x42], 0);
         for (int i = 0; i < 0x40; ++i) s.bytes[at + i] = 0x5A;
       }},
      {"stream chain longer than its size",
       [&](Sample& s) {
         // "Big" takes 10 sectors; make it claim 9.
         Put32(s.bytes, s.entry(u"Big") + 0x78, 4500);
       }},
      {"transaction signature set", [](Sample& s) { Put32(s.bytes, 0x34, 7); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Sample s = base;
    c.mutate(s);
    CompoundFile got;
    ASSERT_NO_THROW(got = ReadCompoundFile(s.bytes));
    CompoundFile want = expected;
    if (std::string(c.label) == "stream chain longer than its size") FindChild(want.root, u"Big")->data.resize(4500);
    EXPECT_TRUE(got == want);
  }
}

std::string GuidText(const std::array<uint8_t, 16>& c) {
  if (std::all_of(c.begin(), c.end(), [](uint8_t b) { return b == 0; })) return "";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", c[3], c[2],
                c[1], c[0], c[5], c[4], c[7], c[6], c[8], c[9], c[10], c[11], c[12], c[13], c[14], c[15]);
  return buf;
}

uint32_t Crc32(const std::vector<uint8_t>& d) {
  uint32_t crc = 0xFFFFFFFF;
  for (uint8_t b : d) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

// What the olefile script should print for this tree (names ASCII here).
void Expect(const CfbEntry& e, const std::string& path, std::vector<std::string>& out) {
  const std::string name(e.name.begin(), e.name.end());
  char buf[200];
  const char kind = e.type == CfbType::Root ? 'R' : e.type == CfbType::Storage ? 'D' : 'S';
  std::snprintf(buf, sizeof buf, "E %c %s [%s] %08x %016llx %016llx", kind, name.c_str(), GuidText(e.clsid).c_str(),
                e.stateBits, (unsigned long long)e.created, (unsigned long long)e.modified);
  out.push_back(buf);
  const std::string here = e.type == CfbType::Root ? "" : path + (path.empty() ? "" : "/") + name;
  if (e.type == CfbType::Stream) {
    std::snprintf(buf, sizeof buf, "P %s %zu %08x", here.c_str(), e.data.size(), Crc32(e.data));
    out.push_back(buf);
  }
  for (const auto& c : e.children) Expect(c, here, out);
}

#ifndef _WIN32  // olefile is a Python module of the build machine
// The olefile script's listing of a file; exit status 77 means olefile is missing.
struct Listing {
  int status;
  std::string text;
};

Listing Olefile(const fs::path& file) {
  // The Debian package installs for the system interpreter, not for one
  // that may come first on PATH.
  const std::string python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3 " : "python3 ";
  const std::string cmd = python + SKOV_SOURCE_DIR "/tests/xls/cfb_olefile_check.py '" + file.string() + "' 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return {-1, "popen failed"};
  std::string text;
  char buf[4096];
  while (size_t n = fread(buf, 1, sizeof buf, p)) text.append(buf, n);
  const int status = pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

void Save(const fs::path& file, const std::vector<uint8_t>& bytes) {
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
#endif

std::vector<fs::path> OtherWritersFiles() {
  std::vector<fs::path> files;
  const fs::path dir = fs::path(SKOV_TEST_DATA) / "xls";
  if (fs::is_directory(dir))
    for (const auto& f : fs::directory_iterator(dir)) {
      std::string ext = f.path().extension().string();
      std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
      if (ext == ".xls") files.push_back(f.path());
    }
  std::sort(files.begin(), files.end());
  return files;
}

#ifndef _WIN32
class CfbOlefile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("cfb_test_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    if (Olefile(SKOV_SOURCE_DIR "/tests/xls/cfb_olefile_check.py").status == 77)
      GTEST_SKIP() << "python3-olefile not installed";
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(CfbOlefile, ReadsWhatWeWrite) {
  std::vector<RoundTripCase> cases = RoundTripCases();
  cases.push_back({"v3 with DIFAT sectors", File(3, {Stream(u"big", 7 * 1024 * 1024, 9), Stream(u"small", 10)})});
  for (auto& c : cases) {
    SCOPED_TRACE(c.label);
    Save(dir_ / "t.cfb", WriteCompoundFile(c.file));
    const Listing got = Olefile(dir_ / "t.cfb");
    ASSERT_EQ(got.status, 0) << got.text;
    std::vector<std::string> want;
    Expect(c.file.root, "", want);
    std::sort(want.begin(), want.end());
    std::string wantText;
    for (const auto& l : want) wantText += l + "\n";
    EXPECT_EQ(got.text, wantText);
  }
}

// Rewritten files of other writers list exactly as the originals do.
TEST_F(CfbOlefile, RewrittenFilesOfOtherWritersListTheSame) {
  for (const fs::path& f : OtherWritersFiles()) {
    SCOPED_TRACE(f.string());
    Save(dir_ / "t.xls", WriteCompoundFile(ReadCompoundFile(testing::ReadFileBytes(f.string()))));
    const Listing original = Olefile(f), rewritten = Olefile(dir_ / "t.xls");
    ASSERT_EQ(original.status, 0) << original.text;
    ASSERT_EQ(rewritten.status, 0) << rewritten.text;
    EXPECT_EQ(rewritten.text, original.text);
  }
}
#endif

TEST(CfbRoundTrip, FilesFromOtherWriters) {
  const std::vector<fs::path> files = OtherWritersFiles();
  if (files.empty()) GTEST_SKIP() << "no .xls files in the test data";
  for (const fs::path& f : files) {
    SCOPED_TRACE(f.string());
    CompoundFile first;
    ASSERT_NO_THROW(first = ReadCompoundFile(testing::ReadFileBytes(f.string())));
    EXPECT_TRUE(FindChild(first.root, u"Workbook") || FindChild(first.root, u"Book"));
    CompoundFile again = ReadCompoundFile(WriteCompoundFile(first));
    SortTree(first.root);
    EXPECT_TRUE(again == first);
  }
}

}  // namespace
}  // namespace skov::xls
