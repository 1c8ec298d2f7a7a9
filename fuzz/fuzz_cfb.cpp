// Fuzz target: any input either fails with CfbError or survives read, write, read unchanged.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "xls/cfb.h"

namespace {

using skov::xls::CfbEntry;

// Children come back in the written file's sorted order.
void SortTree(CfbEntry& e) {
  std::stable_sort(e.children.begin(), e.children.end(), [](const CfbEntry& a, const CfbEntry& b) {
    return skov::xls::CompareNames(a.name, b.name) < 0;
  });
  for (auto& c : e.children) SortTree(c);
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_cfb: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  skov::xls::CompoundFile first;
  try {
    first = skov::xls::ReadCompoundFile({data, size});
  } catch (const skov::xls::CfbError&) {
    return 0;
  }
  std::vector<uint8_t> written;
  try {
    written = skov::xls::WriteCompoundFile(first);
  } catch (const skov::xls::CfbError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    Fail("a file we read cannot be written");
  }
  skov::xls::CompoundFile again;
  try {
    again = skov::xls::ReadCompoundFile(written);
  } catch (const skov::xls::CfbError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    Fail("our own output does not read back");
  }
  SortTree(first.root);
  if (!(again == first)) Fail("read, write, read changed the tree");
  if (skov::xls::WriteCompoundFile(again) != written) Fail("writing the same tree twice differs");
  return 0;
}
