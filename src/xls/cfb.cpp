// Compound File reader and writer over a plain in-memory tree of entries.
#include "xls/cfb.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "strings/case_fold.h"
#include "xls/bytes.h"

namespace skov::xls {
namespace {

constexpr uint32_t kMaxRegSect = 0xFFFFFFFA;
constexpr uint32_t kDifSect = 0xFFFFFFFC;
constexpr uint32_t kFatSect = 0xFFFFFFFD;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSect = 0xFFFFFFFF;
constexpr uint32_t kNoStream = 0xFFFFFFFF;
constexpr uint32_t kMaxRegSid = 0xFFFFFFFA;

constexpr uint32_t kMiniCutoff = 4096;
constexpr uint32_t kMiniSectorSize = 64;
constexpr uint32_t kDirEntrySize = 128;
constexpr uint32_t kHeaderDifatCount = 109;
constexpr const uint8_t (&kSignature)[8] = kCfbSignature;
// Real templates nest two or three levels; the limit keeps recursion (and the
// tree's destructor) shallow on hostile input.
constexpr int kMaxStorageDepth = 64;

[[noreturn]] void Damaged(const char* what) { throw CfbError(std::string("damaged compound file: ") + what); }

// ---------------------------------------------------------------- reading

// Sizes come from the file and may be near 2^64: no rounding up by addition.
uint64_t SectorsFor(uint64_t size, uint64_t sectorSize) { return size / sectorSize + (size % sectorSize != 0); }

struct DirEntry {
  std::u16string name;
  uint8_t type = 0;
  uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
  std::array<uint8_t, 16> clsid{};
  uint32_t stateBits = 0;
  uint64_t created = 0, modified = 0;
  uint32_t start = 0;
  uint64_t size = 0;
};

class Reader {
 public:
  explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  CompoundFile Read() {
    ReadHeader();
    ReadFat();
    ReadDirectory();
    CompoundFile file;
    file.majorVersion = major_;
    std::vector<uint8_t> seenEntry(dir_.size(), 0);
    seenEntry[0] = 1;
    file.root = MakeEntry(0, seenEntry, 0);
    return file;
  }

 private:
  void ReadHeader() {
    if (bytes_.size() < 512) Damaged("shorter than its header");
    const uint8_t* h = bytes_.data();
    if (std::memcmp(h, kSignature, 8) != 0) throw CfbError("not a compound file (signature)");
    major_ = Get16(h + 0x1A);
    if (Get16(h + 0x1C) != 0xFFFE) Damaged("byte order mark");
    const uint16_t shift = Get16(h + 0x1E);
    if (!((major_ == 3 && shift == 9) || (major_ == 4 && shift == 12))) Damaged("version or sector size");
    if (Get16(h + 0x20) != 6) Damaged("mini sector size");
    sectorSize_ = 1u << shift;
    if (Get32(h + 0x38) != kMiniCutoff) Damaged("mini stream cutoff");
    numFatSectors_ = Get32(h + 0x2C);
    firstDirSector_ = Get32(h + 0x30);
    firstMiniFatSector_ = Get32(h + 0x3C);
    firstDifatSector_ = Get32(h + 0x44);
    numDifatSectors_ = Get32(h + 0x48);
    // The header sector is padded to the sector size; sectors counted are
    // those that begin inside the file, the last one possibly short.
    const uint64_t body = bytes_.size() > sectorSize_ ? bytes_.size() - sectorSize_ : 0;
    const uint64_t count = (body + sectorSize_ - 1) / sectorSize_;
    sectorCount_ = uint32_t(std::min<uint64_t>(count, kMaxRegSect + uint64_t(1)));
  }

  // Bytes of sector `id` from `offset`, `length` long, all of which must lie
  // inside the file.
  const uint8_t* SectorBytes(uint32_t id, uint32_t offset, uint32_t length) const {
    if (id >= sectorCount_) Damaged("sector id out of range");
    const uint64_t pos = (uint64_t(id) + 1) * sectorSize_ + offset;
    if (pos + length > bytes_.size()) Damaged("sector past the end of the file");
    return bytes_.data() + pos;
  }

  // How many bytes of sector `id` the file holds (a short last sector).
  uint32_t SectorAvailable(uint32_t id) const {
    const uint64_t pos = (uint64_t(id) + 1) * sectorSize_;
    if (id >= sectorCount_ || pos >= bytes_.size()) Damaged("sector id out of range");
    return uint32_t(std::min<uint64_t>(sectorSize_, bytes_.size() - pos));
  }

  void ReadFat() {
    if (numFatSectors_ == 0 || numFatSectors_ > sectorCount_) Damaged("FAT sector count");
    // FAT and DIFAT sectors belong to no chain; a sector listed twice is damage.
    used_.assign(sectorCount_, 0);
    auto claim = [this](uint32_t id, const char* what) {
      if (id >= sectorCount_) Damaged(what);
      if (used_[id]) Damaged("sector listed twice in the FAT or DIFAT");
      used_[id] = 1;
    };
    std::vector<uint32_t> fatSectors;
    fatSectors.reserve(numFatSectors_);
    const uint8_t* h = bytes_.data();
    for (uint32_t i = 0; i < kHeaderDifatCount && fatSectors.size() < numFatSectors_; ++i)
      fatSectors.push_back(Get32(h + 0x4C + 4 * i));
    // Entries past the FAT sector count are padding, whatever they hold.
    const uint32_t perDifat = sectorSize_ / 4 - 1;
    uint32_t difat = firstDifatSector_;
    uint32_t difatRead = 0;
    while (fatSectors.size() < numFatSectors_) {
      if (difat > kMaxRegSect) Damaged("DIFAT chain ends early");
      if (++difatRead > numDifatSectors_) Damaged("DIFAT chain longer than its count");
      claim(difat, "DIFAT sector id out of range");
      const uint8_t* p = SectorBytes(difat, 0, sectorSize_);
      for (uint32_t i = 0; i < perDifat && fatSectors.size() < numFatSectors_; ++i)
        fatSectors.push_back(Get32(p + 4 * i));
      difat = Get32(p + 4 * perDifat);
    }
    const uint32_t perFat = sectorSize_ / 4;
    fat_.assign(size_t(numFatSectors_) * perFat, kFreeSect);
    for (size_t s = 0; s < fatSectors.size(); ++s) {
      const uint32_t id = fatSectors[s];
      claim(id, "FAT sector id out of range");
      const uint32_t avail = SectorAvailable(id);
      const uint8_t* p = SectorBytes(id, 0, avail);
      for (uint32_t i = 0; i < avail / 4; ++i) fat_[s * perFat + i] = Get32(p + 4 * i);
    }
  }

  // The sectors of the chain from `start`: all of it (`needed` empty), or
  // exactly `needed` sectors, which the chain must have. Every sector may
  // belong to one chain only, which also catches cycles.
  std::vector<uint32_t> Chain(uint32_t start, std::optional<uint64_t> needed) {
    std::vector<uint32_t> chain;
    if (needed) {
      if (*needed > sectorCount_) Damaged("stream larger than the file");
      chain.reserve(size_t(*needed));
    }
    uint32_t id = start;
    while (needed ? chain.size() < *needed : id != kEndOfChain) {
      if (id >= sectorCount_ || id >= fat_.size()) Damaged("chain leaves the file");
      if (used_[id]) Damaged("sector chains cross or loop");
      used_[id] = 1;
      chain.push_back(id);
      id = fat_[id];
    }
    return chain;
  }

  // A stream's bytes from its regular sectors; only the part of the last
  // sector inside the size has to be present in the file.
  std::vector<uint8_t> ReadRegular(uint32_t start, uint64_t size) {
    const std::vector<uint32_t> chain = Chain(start, SectorsFor(size, sectorSize_));
    std::vector<uint8_t> out(static_cast<size_t>(size));
    uint64_t pos = 0;
    for (uint32_t id : chain) {
      const uint32_t n = uint32_t(std::min<uint64_t>(sectorSize_, size - pos));
      std::memcpy(out.data() + pos, SectorBytes(id, 0, n), n);
      pos += n;
    }
    return out;
  }

  void ReadDirectory() {
    const std::vector<uint32_t> chain = Chain(firstDirSector_, std::nullopt);
    if (chain.empty()) Damaged("no directory");
    const uint32_t perSector = sectorSize_ / kDirEntrySize;
    dir_.reserve(chain.size() * perSector);
    for (uint32_t id : chain) {
      // Entries the file cut off are taken as unused; they only matter if
      // something points at them.
      const uint32_t avail = SectorAvailable(id);
      const uint8_t* p = SectorBytes(id, 0, avail);
      for (uint32_t i = 0; i < perSector; ++i) {
        DirEntry& e = dir_.emplace_back();
        if ((i + 1) * kDirEntrySize > avail) continue;
        ParseEntry(p + i * kDirEntrySize, e);
      }
    }
    if (dir_[0].type != uint8_t(CfbType::Root)) Damaged("first directory entry is not the root");
    if (major_ == 3) dir_[0].size &= 0xFFFFFFFF;
  }

  void ParseEntry(const uint8_t* p, DirEntry& e) {
    e.type = p[0x42];
    if (e.type == 0) return;
    if (e.type != 1 && e.type != 2 && e.type != 5) Damaged("directory entry type");
    const uint16_t nameBytes = Get16(p + 0x40);
    if (nameBytes < 2 || nameBytes > 64 || nameBytes % 2 != 0) Damaged("directory entry name length");
    e.name.resize(nameBytes / 2 - 1);
    for (size_t i = 0; i < e.name.size(); ++i) e.name[i] = char16_t(Get16(p + 2 * i));
    e.left = Get32(p + 0x44);
    e.right = Get32(p + 0x48);
    e.child = Get32(p + 0x4C);
    std::memcpy(e.clsid.data(), p + 0x50, 16);
    e.stateBits = Get32(p + 0x60);
    e.created = Get64(p + 0x64);
    e.modified = Get64(p + 0x6C);
    e.start = Get32(p + 0x74);
    e.size = Get64(p + 0x78);
  }

  const DirEntry& Referenced(uint32_t sid, std::vector<uint8_t>& seen) const {
    if (sid > kMaxRegSid || sid >= dir_.size()) Damaged("directory entry id out of range");
    if (seen[sid]) Damaged("directory entry reached twice");
    seen[sid] = 1;
    const DirEntry& e = dir_[sid];
    if (e.type != uint8_t(CfbType::Storage) && e.type != uint8_t(CfbType::Stream))
      Damaged("sibling is not a storage or stream");
    return e;
  }

  CfbEntry MakeEntry(uint32_t sid, std::vector<uint8_t>& seen, int depth) {
    const DirEntry& d = dir_[sid];
    CfbEntry out;
    out.name = d.name;
    out.type = CfbType(d.type);
    out.clsid = d.clsid;
    out.stateBits = d.stateBits;
    out.created = d.created;
    out.modified = d.modified;
    if (out.type == CfbType::Stream) {
      out.data = StreamData(d);
      return out;
    }
    if (depth >= kMaxStorageDepth) Damaged("storages nested too deep");
    // In-order walk of the sibling tree without recursion: a degenerate
    // tree may be as deep as it has entries.
    std::vector<uint32_t> order;
    std::vector<uint32_t> stack;
    uint32_t cur = d.child;
    while (cur != kNoStream || !stack.empty()) {
      while (cur != kNoStream) {
        Referenced(cur, seen);
        stack.push_back(cur);
        cur = dir_[cur].left;
      }
      cur = stack.back();
      stack.pop_back();
      order.push_back(cur);
      cur = dir_[cur].right;
    }
    std::vector<std::u16string_view> names;
    names.reserve(order.size());
    for (uint32_t c : order) names.push_back(dir_[c].name);
    std::sort(names.begin(), names.end(), [](auto a, auto b) { return CompareNames(a, b) < 0; });
    for (size_t i = 1; i < names.size(); ++i)
      if (CompareNames(names[i - 1], names[i]) == 0) Damaged("two siblings with one name");
    out.children.reserve(order.size());
    for (uint32_t c : order) out.children.push_back(MakeEntry(c, seen, depth + 1));
    return out;
  }

  std::vector<uint8_t> StreamData(const DirEntry& d) {
    // Version 3 files may hold garbage in the size's high half.
    const uint64_t size = major_ == 3 ? (d.size & 0xFFFFFFFF) : d.size;
    if (size == 0) return {};
    if (size >= kMiniCutoff) return ReadRegular(d.start, size);
    LoadMini();
    const uint64_t needed = (size + kMiniSectorSize - 1) / kMiniSectorSize;
    if (needed > miniFat_.size()) Damaged("mini stream chain too short");
    std::vector<uint8_t> out(static_cast<size_t>(size));
    uint32_t id = d.start;
    uint64_t pos = 0;
    for (uint64_t n = 0; n < needed; ++n) {
      if (id >= miniFat_.size()) Damaged("mini chain leaves the mini FAT");
      if (miniUsed_[id]) Damaged("mini chains cross or loop");
      miniUsed_[id] = 1;
      const uint64_t at = uint64_t(id) * kMiniSectorSize;
      const uint64_t len = std::min<uint64_t>(kMiniSectorSize, size - pos);
      if (at + len > miniStream_.size()) Damaged("mini sector past the mini stream");
      std::memcpy(out.data() + pos, miniStream_.data() + at, size_t(len));
      pos += len;
      id = miniFat_[id];
    }
    return out;
  }

  void LoadMini() {
    if (miniLoaded_) return;
    miniLoaded_ = true;
    const DirEntry& root = dir_[0];
    // Sectors of the root chain are read whole where the file has them: the
    // root's size may stop inside the last one.
    const std::vector<uint32_t> chain = Chain(root.start, SectorsFor(root.size, sectorSize_));
    miniStream_.reserve(chain.size() * sectorSize_);
    for (uint32_t id : chain) {
      const uint32_t avail = SectorAvailable(id);
      const uint8_t* p = SectorBytes(id, 0, avail);
      miniStream_.insert(miniStream_.end(), p, p + avail);
      if (avail < sectorSize_) break;
    }
    if (miniStream_.size() > root.size) miniStream_.resize(size_t(root.size));
    const std::vector<uint32_t> mfChain =
        firstMiniFatSector_ == kEndOfChain ? std::vector<uint32_t>{} : Chain(firstMiniFatSector_, std::nullopt);
    miniFat_.reserve(mfChain.size() * (sectorSize_ / 4));
    for (uint32_t id : mfChain) {
      const uint8_t* p = SectorBytes(id, 0, sectorSize_);
      for (uint32_t i = 0; i < sectorSize_ / 4; ++i) miniFat_.push_back(Get32(p + 4 * i));
    }
    miniUsed_.assign(miniFat_.size(), 0);
  }

  std::span<const uint8_t> bytes_;
  uint16_t major_ = 3;
  uint32_t sectorSize_ = 512;
  uint32_t sectorCount_ = 0;
  uint32_t numFatSectors_ = 0, firstDirSector_ = 0, firstMiniFatSector_ = 0;
  uint32_t firstDifatSector_ = 0, numDifatSectors_ = 0;
  std::vector<uint32_t> fat_;
  std::vector<uint8_t> used_;
  std::vector<DirEntry> dir_;
  bool miniLoaded_ = false;
  std::vector<uint8_t> miniStream_;
  std::vector<uint32_t> miniFat_;
  std::vector<uint8_t> miniUsed_;
};

// ---------------------------------------------------------------- writing

struct Placed {
  const CfbEntry* entry;
  std::span<const uint8_t> data;  // streams only
  uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
  uint8_t colour = 1;  // 0 red, 1 black
  uint32_t start = kEndOfChain;
  uint64_t size = 0;
};

size_t Ceil(uint64_t n, uint64_t d) { return size_t((n + d - 1) / d); }

// Zeros for the padding of a large stream's last sector.
constexpr uint8_t kZeroSector[4096] = {};

class Writer {
 public:
  Writer(const CompoundFile& file, const CfbEntry* replaced, std::span<const uint8_t> data)
      : file_(file),
        replaced_(replaced),
        replacedData_(data),
        major_(file.majorVersion == 4 ? 4 : 3),
        ss_(major_ == 4 ? 4096 : 512) {}

  void Write(CfbImage& image) {
    const CfbEntry& root = file_.root;
    if (root.type != CfbType::Root) throw CfbError("compound file tree: top entry is not the root");
    CheckName(root);
    entries_.push_back(Placed{&root, {}});
    PlaceChildren(0, 0);
    LayOut();
    Emit(image);
  }

 private:
  static void CheckName(const CfbEntry& e) {
    if (e.name.size() > 31) throw CfbError("compound file tree: name longer than 31 characters");
  }

  void PlaceChildren(uint32_t parent, int depth) {
    const CfbEntry& storage = *entries_[parent].entry;
    if (storage.children.empty()) return;
    if (depth >= kMaxStorageDepth) throw CfbError("compound file tree: storages nested too deep");
    std::vector<const CfbEntry*> sorted;
    sorted.reserve(storage.children.size());
    for (const CfbEntry& c : storage.children) {
      if (c.type != CfbType::Storage && c.type != CfbType::Stream)
        throw CfbError("compound file tree: child is not a storage or stream");
      if (c.type == CfbType::Stream && !c.children.empty())
        throw CfbError("compound file tree: stream with children");
      CheckName(c);
      sorted.push_back(&c);
    }
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const CfbEntry* a, const CfbEntry* b) { return CompareNames(a->name, b->name) < 0; });
    for (size_t i = 1; i < sorted.size(); ++i)
      if (CompareNames(sorted[i - 1]->name, sorted[i]->name) == 0)
        throw CfbError("compound file tree: two siblings with one name");
    const uint32_t first = uint32_t(entries_.size());
    for (const CfbEntry* c : sorted) entries_.push_back(Placed{c, c == replaced_ ? replacedData_ : c->data});
    // A tree built by halving has all its empty links on the last two levels;
    // its nodes on the deepest level, when that level is incomplete, are red.
    int height = 0;
    while ((size_t(2) << height) - 1 < sorted.size()) ++height;
    const bool full = (size_t(2) << height) - 1 == sorted.size();
    entries_[parent].child = Build(first, 0, uint32_t(sorted.size()), 0, height, full);
    for (uint32_t i = 0; i < sorted.size(); ++i) PlaceChildren(first + i, depth + 1);
  }

  uint32_t Build(uint32_t first, uint32_t lo, uint32_t hi, int depth, int height, bool full) {
    if (lo >= hi) return kNoStream;
    const uint32_t mid = lo + (hi - lo) / 2;
    Placed& p = entries_[first + mid];
    p.colour = (depth == height && !full) ? 0 : 1;
    const uint32_t left = Build(first, lo, mid, depth + 1, height, full);
    const uint32_t right = Build(first, mid + 1, hi, depth + 1, height, full);
    entries_[first + mid].left = left;
    entries_[first + mid].right = right;
    return first + mid;
  }

  void LayOut() {
    // Small streams go to the mini stream, each padded to whole mini sectors.
    uint64_t bigSectors = 0;
    for (Placed& p : entries_) {
      if (p.entry->type != CfbType::Stream) continue;
      p.size = p.data.size();
      if (major_ == 3 && p.size > 0x7FFFFFFF) throw CfbError("compound file tree: stream too large");
      if (p.size == 0) continue;
      if (p.size < kMiniCutoff) {
        p.start = miniSectors_;
        miniSectors_ += uint32_t(Ceil(p.size, kMiniSectorSize));
      } else {
        bigSectors += Ceil(p.size, ss_);
      }
    }
    dirSectors_ = uint32_t(Ceil(uint64_t(entries_.size()) * kDirEntrySize, ss_));
    miniFatSectors_ = uint32_t(Ceil(uint64_t(miniSectors_) * 4, ss_));
    miniStreamSectors_ = uint32_t(Ceil(uint64_t(miniSectors_) * kMiniSectorSize, ss_));
    const uint64_t data = dirSectors_ + miniFatSectors_ + miniStreamSectors_ + bigSectors;
    // FAT and DIFAT sectors count themselves: grow until they cover all.
    const uint64_t perFat = ss_ / 4, perDifat = ss_ / 4 - 1;
    uint64_t fat = 0, difat = 0;
    for (;;) {
      const uint64_t total = data + fat + difat;
      const uint64_t needFat = Ceil(total, perFat);
      const uint64_t needDifat = needFat > kHeaderDifatCount ? Ceil(needFat - kHeaderDifatCount, perDifat) : 0;
      if (needFat == fat && needDifat == difat) break;
      fat = std::max(fat, needFat);
      difat = std::max(difat, needDifat);
    }
    if (data + fat + difat > kMaxRegSect) throw CfbError("compound file tree: too large");
    fatSectors_ = uint32_t(fat);
    difatSectors_ = uint32_t(difat);
    // Order: FAT, DIFAT, directory, mini FAT, mini stream, large streams.
    uint32_t next = fatSectors_ + difatSectors_;
    dirStart_ = next;
    next += dirSectors_;
    miniFatStart_ = miniFatSectors_ ? next : kEndOfChain;
    next += miniFatSectors_;
    entries_[0].start = miniStreamSectors_ ? next : kEndOfChain;
    entries_[0].size = uint64_t(miniSectors_) * kMiniSectorSize;
    next += miniStreamSectors_;
    madeSectors_ = next;
    for (Placed& p : entries_) {
      if (p.entry->type != CfbType::Stream || p.size < kMiniCutoff) continue;
      p.start = next;
      next += uint32_t(Ceil(p.size, ss_));
    }
  }

  // Everything but the large streams goes into `made`, the sectors before
  // the streams'; the streams' data and padding are only referenced.
  void Emit(CfbImage& image) {
    std::vector<uint8_t>& out = image.made;
    out.clear();
    out.resize((size_t(madeSectors_) + 1) * ss_);  // zeroed: padding needs no writes
    image.pieces.clear();
    image.pieces.push_back(out);
    uint8_t* h = out.data();
    std::memcpy(h, kSignature, 8);
    Put16(h + 0x18, 0x3E);
    Put16(h + 0x1A, major_);
    Put16(h + 0x1C, 0xFFFE);
    Put16(h + 0x1E, major_ == 4 ? 12 : 9);
    Put16(h + 0x20, 6);
    Put32(h + 0x28, major_ == 4 ? dirSectors_ : 0);
    Put32(h + 0x2C, fatSectors_);
    Put32(h + 0x30, dirStart_);
    Put32(h + 0x38, kMiniCutoff);
    Put32(h + 0x3C, miniFatStart_);
    Put32(h + 0x40, miniFatSectors_);
    Put32(h + 0x44, difatSectors_ ? fatSectors_ : kEndOfChain);
    Put32(h + 0x48, difatSectors_);
    auto sector = [&](uint32_t id) { return out.data() + (size_t(id) + 1) * ss_; };
    // DIFAT: 109 in the header, the rest in the DIFAT sectors that follow
    // the FAT; unused slots are free.
    const uint32_t perDifat = ss_ / 4 - 1;
    for (uint32_t i = 0; i < kHeaderDifatCount; ++i) Put32(h + 0x4C + 4 * i, i < fatSectors_ ? i : kFreeSect);
    for (uint32_t d = 0; d < difatSectors_; ++d) {
      uint8_t* p = sector(fatSectors_ + d);
      for (uint32_t i = 0; i < perDifat; ++i) {
        const uint64_t fatIndex = kHeaderDifatCount + uint64_t(d) * perDifat + i;
        Put32(p + 4 * i, fatIndex < fatSectors_ ? uint32_t(fatIndex) : kFreeSect);
      }
      Put32(p + 4 * perDifat, d + 1 < difatSectors_ ? fatSectors_ + d + 1 : kEndOfChain);
    }
    // FAT: fill with free, then mark each region.
    uint8_t* fat = sector(0);
    const uint32_t fatEntries = fatSectors_ * (ss_ / 4);
    std::memset(fat, 0xFF, size_t(fatEntries) * 4);
    auto chain = [&](uint32_t start, uint32_t count) {
      for (uint32_t i = 0; i < count; ++i) Put32(fat + 4 * size_t(start + i), i + 1 < count ? start + i + 1 : kEndOfChain);
    };
    for (uint32_t i = 0; i < fatSectors_; ++i) Put32(fat + 4 * size_t(i), kFatSect);
    for (uint32_t i = 0; i < difatSectors_; ++i) Put32(fat + 4 * size_t(fatSectors_ + i), kDifSect);
    chain(dirStart_, dirSectors_);
    if (miniFatSectors_) chain(miniFatStart_, miniFatSectors_);
    if (miniStreamSectors_) chain(entries_[0].start, miniStreamSectors_);
    // Mini FAT, mini stream and large stream data.
    uint8_t* miniFat = miniFatSectors_ ? sector(miniFatStart_) : nullptr;
    if (miniFat) std::memset(miniFat, 0xFF, size_t(miniFatSectors_) * ss_);
    uint8_t* mini = miniStreamSectors_ ? sector(entries_[0].start) : nullptr;
    for (const Placed& p : entries_) {
      if (p.entry->type != CfbType::Stream || p.size == 0) continue;
      if (p.size < kMiniCutoff) {
        const uint32_t n = uint32_t(Ceil(p.size, kMiniSectorSize));
        for (uint32_t i = 0; i < n; ++i) Put32(miniFat + 4 * size_t(p.start + i), i + 1 < n ? p.start + i + 1 : kEndOfChain);
        std::memcpy(mini + size_t(p.start) * kMiniSectorSize, p.data.data(), size_t(p.size));
      } else {
        chain(p.start, uint32_t(Ceil(p.size, ss_)));
        // Laid out in directory order, one after another: so are the pieces.
        image.pieces.push_back(p.data);
        if (const size_t tail = size_t(p.size % ss_)) image.pieces.push_back({kZeroSector, ss_ - tail});
      }
    }
    // Directory; free entries are zero but for their three links.
    uint8_t* dir = sector(dirStart_);
    const size_t slots = size_t(dirSectors_) * ss_ / kDirEntrySize;
    for (size_t i = 0; i < slots; ++i) {
      uint8_t* e = dir + i * kDirEntrySize;
      if (i >= entries_.size()) {
        Put32(e + 0x44, kNoStream);
        Put32(e + 0x48, kNoStream);
        Put32(e + 0x4C, kNoStream);
        continue;
      }
      const Placed& p = entries_[i];
      const CfbEntry& c = *p.entry;
      for (size_t k = 0; k < c.name.size(); ++k) Put16(e + 2 * k, c.name[k]);
      Put16(e + 0x40, uint16_t((c.name.size() + 1) * 2));
      e[0x42] = uint8_t(c.type);
      e[0x43] = p.colour;
      Put32(e + 0x44, p.left);
      Put32(e + 0x48, p.right);
      Put32(e + 0x4C, p.child);
      std::memcpy(e + 0x50, c.clsid.data(), 16);
      Put32(e + 0x60, c.stateBits);
      Put64(e + 0x64, c.created);
      Put64(e + 0x6C, c.modified);
      const bool hasData = c.type == CfbType::Root || c.type == CfbType::Stream;
      Put32(e + 0x74, hasData ? p.start : 0);
      Put64(e + 0x78, hasData ? p.size : 0);
    }
  }

  const CompoundFile& file_;
  const CfbEntry* replaced_;
  std::span<const uint8_t> replacedData_;
  uint16_t major_;
  uint32_t ss_;
  std::vector<Placed> entries_;
  uint32_t miniSectors_ = 0, dirSectors_ = 0, miniFatSectors_ = 0, miniStreamSectors_ = 0;
  uint32_t fatSectors_ = 0, difatSectors_ = 0, madeSectors_ = 0;
  uint32_t dirStart_ = 0, miniFatStart_ = kEndOfChain;
};

}  // namespace

int CompareNames(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (size_t i = 0; i < a.size(); ++i) {
    const char16_t x = FoldCase(a[i]), y = FoldCase(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

CompoundFile ReadCompoundFile(std::span<const uint8_t> bytes) { return Reader(bytes).Read(); }

size_t CfbImage::Size() const {
  size_t n = 0;
  for (std::span<const uint8_t> p : pieces) n += p.size();
  return n;
}

void WriteCompoundFile(const CompoundFile& file, CfbImage& image, const CfbEntry* replaced,
                       std::span<const uint8_t> data) {
  Writer(file, replaced, data).Write(image);
}

std::vector<uint8_t> WriteCompoundFile(const CompoundFile& file) {
  CfbImage image;
  WriteCompoundFile(file, image);
  std::vector<uint8_t> out;
  out.reserve(image.Size());
  for (std::span<const uint8_t> p : image.pieces) out.insert(out.end(), p.begin(), p.end());
  return out;
}

CfbEntry* FindChild(CfbEntry& storage, std::u16string_view name) {
  for (CfbEntry& c : storage.children)
    if (CompareNames(c.name, name) == 0) return &c;
  return nullptr;
}

const CfbEntry* FindChild(const CfbEntry& storage, std::u16string_view name) {
  for (const CfbEntry& c : storage.children)
    if (CompareNames(c.name, name) == 0) return &c;
  return nullptr;
}

}  // namespace skov::xls
