// Compound File (OLE2 structured storage) container: read into a tree of
// storages and streams, write back keeping every entry's metadata.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace skov::xls {

// The first bytes of every compound file.
inline constexpr uint8_t kCfbSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// A file that is not a compound file, or whose structure is damaged.
class CfbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class CfbType : uint8_t { Storage = 1, Stream = 2, Root = 5 };

struct CfbEntry {
  std::u16string name;  // without the terminating NUL
  CfbType type = CfbType::Stream;
  std::array<uint8_t, 16> clsid{};
  uint32_t stateBits = 0;
  uint64_t created = 0;   // FILETIME as stored
  uint64_t modified = 0;  // FILETIME as stored
  std::vector<uint8_t> data;        // streams only
  std::vector<CfbEntry> children;   // storages and the root only, in the file's sibling-tree order (in-order walk)

  friend bool operator==(const CfbEntry&, const CfbEntry&) = default;
};

struct CompoundFile {
  uint16_t majorVersion = 3;  // 3: 512-byte sectors, 4: 4096-byte sectors
  CfbEntry root;              // type Root; its data is not kept separately (the mini stream is rebuilt)

  friend bool operator==(const CompoundFile&, const CompoundFile&) = default;
};

// Throws CfbError for anything that is not a sound compound file; never reads
// out of bounds, never loops on cyclic chains.
CompoundFile ReadCompoundFile(std::span<const uint8_t> bytes);

// A valid container holding every storage and stream of `file`, with their
// names, CLSIDs, state bits and times.
std::vector<uint8_t> WriteCompoundFile(const CompoundFile& file);

// The same container as pieces to be written one after another: what the
// writer makes (header, FAT, directory, mini stream) in `made`, then each
// large stream's data where it lies and its last sector's padding. Kept from
// one write to the next, so that a writer in a loop allocates nothing.
struct CfbImage {
  std::vector<uint8_t> made;
  std::vector<std::span<const uint8_t>> pieces;  // valid while `made` and the streams' data are
  size_t Size() const;
};

// `file` written into `image`; when `replaced` (an entry of `file`) is given,
// its data is `data` instead of its own, and is not copied either.
void WriteCompoundFile(const CompoundFile& file, CfbImage& image, const CfbEntry* replaced = nullptr,
                       std::span<const uint8_t> data = {});

// The direct child of `storage` with this name (compared as the format does:
// case-insensitively), or nullptr.
CfbEntry* FindChild(CfbEntry& storage, std::u16string_view name);
const CfbEntry* FindChild(const CfbEntry& storage, std::u16string_view name);

// The format's order of sibling names: shorter first, then by upper-cased
// UTF-16 code units (ASCII and Latin-1 letters folded). 0 means the same name.
int CompareNames(std::u16string_view a, std::u16string_view b);

}  // namespace skov::xls
