// Test helpers: build small BIFF8 streams record by record, and read cells
// back with a reader written independently of the engine.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"
#include "xls/cfb.h"

namespace skov::testing {

using Bytes = std::vector<uint8_t>;

inline void Le(Bytes& b, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline uint32_t Rd(const Bytes& b, size_t at, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v |= uint32_t(b.at(at + i)) << (8 * i);
  return v;
}

struct Rec {
  uint16_t type;
  Bytes body;
};

inline Rec R(uint16_t type, std::initializer_list<std::pair<uint64_t, int>> fields) {
  Rec r{type, {}};
  for (auto [v, n] : fields) Le(r.body, v, n);
  return r;
}
inline Rec Bof(uint16_t dt, uint16_t version = 0x0600) {
  return R(0x0809, {{version, 2}, {dt, 2}, {0x0DBB, 2}, {0x07CC, 2}, {0, 4}, {0x0006, 4}});
}
inline Rec Eof() { return {0x000A, {}}; }
inline Rec Row(uint16_t row, uint16_t colMic, uint16_t colMac, uint16_t flags = 0x0100, uint16_t xf = 15) {
  return R(0x0208, {{row, 2}, {colMic, 2}, {colMac, 2}, {0xFF, 2}, {0, 2}, {0, 2}, {flags, 2}, {xf, 2}});
}
inline Rec Dimensions(uint32_t r0, uint32_t r1, uint16_t c0, uint16_t c1) {
  return R(0x0200, {{r0, 4}, {r1, 4}, {c0, 2}, {c1, 2}, {0, 2}});
}
inline Rec Window2(uint16_t flags) { return R(0x023E, {{flags, 2}, {0, 2}, {0, 2}, {0, 4}, {0, 4}, {0, 4}}); }
inline Rec LabelSst(uint16_t r, uint16_t c, uint16_t xf, uint32_t isst) {
  return R(0x00FD, {{r, 2}, {c, 2}, {xf, 2}, {isst, 4}});
}
inline Rec Blank(uint16_t r, uint16_t c, uint16_t xf) { return R(0x0201, {{r, 2}, {c, 2}, {xf, 2}}); }
inline Rec Number(uint16_t r, uint16_t c, uint16_t xf, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  return R(0x0203, {{r, 2}, {c, 2}, {xf, 2}, {bits, 8}});
}
// RK of an integer: value * 4 + 2.
inline Rec Rk(uint16_t r, uint16_t c, uint16_t xf, int v) {
  return R(0x027E, {{r, 2}, {c, 2}, {xf, 2}, {uint32_t(v) * 4 + 2, 4}});
}
inline Rec Label(uint16_t r, uint16_t c, uint16_t xf, const std::string& latin1) {
  Rec x = R(0x0204, {{r, 2}, {c, 2}, {xf, 2}, {latin1.size(), 2}, {0, 1}});
  x.body.insert(x.body.end(), latin1.begin(), latin1.end());
  return x;
}
inline Rec BoolErr(uint16_t r, uint16_t c, uint16_t xf, bool v) {
  return R(0x0205, {{r, 2}, {c, 2}, {xf, 2}, {v, 1}, {0, 1}});
}
// A formula whose tokens are `ptgs`; cached value a string when fString.
inline Rec Formula(uint16_t r, uint16_t c, uint16_t xf, const Bytes& ptgs, bool fString = false) {
  Rec x = R(0x0006, {{r, 2}, {c, 2}, {xf, 2}});
  if (fString) {
    Le(x.body, 0xFFFF000000000000ull, 8);
  } else {
    Le(x.body, 0, 8);
  }
  Le(x.body, 0, 2);
  Le(x.body, 0, 4);
  Le(x.body, ptgs.size(), 2);
  x.body.insert(x.body.end(), ptgs.begin(), ptgs.end());
  return x;
}
inline Bytes PtgExp(uint16_t r, uint16_t c) { return {0x01, uint8_t(r), uint8_t(r >> 8), uint8_t(c), uint8_t(c >> 8)}; }
inline Bytes PtgInt(uint16_t v) { return {0x1E, uint8_t(v), uint8_t(v >> 8)}; }
inline Rec StringRec(const std::string& latin1) {
  Rec x = R(0x0207, {{latin1.size(), 2}, {0, 1}});
  x.body.insert(x.body.end(), latin1.begin(), latin1.end());
  return x;
}
inline Rec MulBlank(uint16_t r, uint16_t c0, std::vector<uint16_t> xfs) {
  Rec x = R(0x00BE, {{r, 2}, {c0, 2}});
  for (uint16_t xf : xfs) Le(x.body, xf, 2);
  Le(x.body, c0 + xfs.size() - 1, 2);
  return x;
}
inline Rec MulRk(uint16_t r, uint16_t c0, std::vector<std::pair<uint16_t, int>> cells) {
  Rec x = R(0x00BD, {{r, 2}, {c0, 2}});
  for (auto [xf, v] : cells) {
    Le(x.body, xf, 2);
    Le(x.body, uint32_t(v) * 4 + 2, 4);
  }
  Le(x.body, c0 + cells.size() - 1, 2);
  return x;
}
inline Rec Sst(const std::vector<std::string>& latin1, uint32_t total) {
  Rec x = R(0x00FC, {{total, 4}, {latin1.size(), 4}});
  for (const std::string& s : latin1) {
    Le(x.body, s.size(), 2);
    Le(x.body, 0, 1);
    x.body.insert(x.body.end(), s.begin(), s.end());
  }
  return x;
}

struct SheetSource {
  std::string name;
  std::vector<Rec> records;  // between BOF and EOF
  uint16_t bofType = 0x0010;
  uint8_t boundType = 0;
  uint8_t hidden = 0;
};

inline void Put(Bytes& out, const Rec& r) {
  Le(out, r.type, 2);
  Le(out, r.body.size(), 2);
  out.insert(out.end(), r.body.begin(), r.body.end());
}

// A workbook stream: globals (BOF, `globals`, WINDOW1, BOUNDSHEETs, EOF),
// then the sheets. An INDEX among a sheet's records gets the positions of
// its DEFCOLWIDTH and DBCELLs, and each DBCELL its distance to the block's first ROW.
inline Bytes BuildStream(const std::vector<Rec>& globals, const std::vector<SheetSource>& sheets,
                         uint16_t window1Flags = 0x0038, uint16_t activeTab = 0) {
  Bytes out;
  Put(out, Bof(0x0005));
  Put(out, R(0x003D, {{0, 2}, {0, 2}, {0x3000, 2}, {0x2000, 2}, {window1Flags, 2}, {activeTab, 2}, {0, 2},
                      {1, 2}, {600, 2}}));
  std::vector<size_t> boundAt;
  for (const SheetSource& s : sheets) {
    boundAt.push_back(out.size());
    Rec b = R(0x0085, {{0, 4}, {s.hidden, 1}, {s.boundType, 1}, {s.name.size(), 1}, {0, 1}});
    b.body.insert(b.body.end(), s.name.begin(), s.name.end());
    Put(out, b);
  }
  for (const Rec& r : globals) Put(out, r);
  Put(out, Eof());
  for (size_t i = 0; i < sheets.size(); ++i) {
    uint32_t start = static_cast<uint32_t>(out.size());
    for (int k = 0; k < 4; ++k) out[boundAt[i] + 4 + k] = uint8_t(start >> (8 * k));
    Put(out, Bof(sheets[i].bofType));
    size_t index = 0, defCol = 0, blockRow = 0;
    std::vector<size_t> dbcells;
    for (const Rec& r : sheets[i].records) {
      size_t at = out.size();
      if (r.type == 0x020B) index = at;
      if (r.type == 0x0055) defCol = at;
      if (r.type == 0x0208 && !blockRow) blockRow = at;
      Put(out, r);
      if (r.type == 0x00D7) {
        for (int k = 0; k < 4; ++k) out[at + 4 + k] = uint8_t((at - blockRow) >> (8 * k));
        dbcells.push_back(at);
        blockRow = 0;
      }
    }
    Put(out, Eof());
    if (index) {
      for (int k = 0; k < 4; ++k) out[index + 16 + k] = uint8_t(defCol >> (8 * k));
      for (size_t d = 0; d < dbcells.size() && 20 + 4 * d + 4 <= 4 + Rd(out, index + 2, 2); ++d) {
        for (int k = 0; k < 4; ++k) out[index + 20 + 4 * d + k] = uint8_t(dbcells[d] >> (8 * k));
      }
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// Reading back.

struct RawRec {
  uint16_t type;
  size_t pos;  // header position
  Bytes body;
};

inline std::vector<RawRec> Records(const Bytes& s, size_t pos, bool oneSubstream) {
  std::vector<RawRec> out;
  int depth = 0;
  while (pos + 4 <= s.size()) {
    uint16_t type = uint16_t(Rd(s, pos, 2)), len = uint16_t(Rd(s, pos + 2, 2));
    if (pos + 4 + len > s.size()) break;
    out.push_back({type, pos, Bytes(s.begin() + long(pos) + 4, s.begin() + long(pos) + 4 + len)});
    pos += 4 + len;
    if (type == 0x0809) ++depth;
    if (type == 0x000A && --depth == 0 && oneSubstream) break;
  }
  return out;
}

struct CellValue {
  uint16_t type = 0;  // record type holding it; MULBLANK/MULRK cells read as BLANK/RK
  uint16_t xf = 0;
  std::u16string text;  // strings; numbers and others as their raw body
  bool operator==(const CellValue& o) const { return type == o.type && xf == o.xf && text == o.text; }
};

struct ReadSheet {
  std::string name;
  uint8_t hsState = 0;
  uint16_t bofType = 0;
  uint16_t window2 = 0;
  std::map<std::pair<int, int>, CellValue> cells;  // (row, column) from 0
  std::vector<RawRec> records;
};

struct ReadBook {
  std::vector<std::u16string> sst;
  uint32_t sstTotal = 0;
  Bytes window1;
  std::vector<ReadSheet> sheets;
};

// SST strings through CONTINUE records, the simple way: concatenate the
// bodies and remember where each record began.
inline std::vector<std::u16string> ReadSst(const std::vector<RawRec>& group, uint32_t* total) {
  Bytes all;
  std::vector<size_t> bounds;
  for (const RawRec& r : group) {
    bounds.push_back(all.size());
    all.insert(all.end(), r.body.begin(), r.body.end());
  }
  bounds.push_back(all.size());
  auto atBound = [&](size_t p) {
    for (size_t b : bounds) if (b == p && p != 0) return true;
    return false;
  };
  *total = Rd(all, 0, 4);
  uint32_t n = Rd(all, 4, 4);
  size_t p = 8;
  std::vector<std::u16string> out;
  for (uint32_t i = 0; i < n; ++i) {
    uint16_t cch = uint16_t(Rd(all, p, 2));
    uint8_t f = all.at(p + 2);
    p += 3;
    uint32_t runs = (f & 8) ? Rd(all, p, 2) : 0;
    if (f & 8) p += 2;
    uint32_t ext = (f & 4) ? Rd(all, p, 4) : 0;
    if (f & 4) p += 4;
    bool high = f & 1;
    std::u16string s;
    while (s.size() < cch) {
      if (atBound(p) && !s.empty()) high = all.at(p++) & 1;
      s.push_back(high ? char16_t(Rd(all, p, 2)) : char16_t(all.at(p)));
      p += high ? 2 : 1;
    }
    p += 4 * runs + ext;
    out.push_back(s);
  }
  return out;
}

inline ReadBook ReadStream(const Bytes& s) {
  ReadBook book;
  std::vector<RawRec> globals = Records(s, 0, true);
  // Excel 5.0/95: sheet names and LABEL texts are byte strings (read as Latin-1 here).
  const bool biff5 = !globals.empty() && Rd(globals[0].body, 0, 2) == 0x0500;
  std::vector<std::pair<size_t, ReadSheet>> sheets;
  for (size_t i = 0; i < globals.size(); ++i) {
    const RawRec& r = globals[i];
    if (r.type == 0x003D) book.window1 = r.body;
    if (r.type == 0x0085) {
      ReadSheet sh;
      sh.hsState = r.body[4];
      sh.name.assign(r.body.begin() + (biff5 ? 7 : 8), r.body.end());
      sheets.emplace_back(Rd(r.body, 0, 4), sh);
    }
    if (r.type == 0x00FC) {
      std::vector<RawRec> group{r};
      while (i + 1 < globals.size() && globals[i + 1].type == 0x003C) group.push_back(globals[++i]);
      book.sst = ReadSst(group, &book.sstTotal);
    }
  }
  for (auto& [pos, sh] : sheets) {
    sh.records = Records(s, pos, true);
    sh.bofType = uint16_t(Rd(sh.records.at(0).body, 2, 2));
    for (const RawRec& r : sh.records) {
      const Bytes& b = r.body;
      auto put = [&](int col, uint16_t xf, std::u16string v) {
        uint16_t type = r.type == 0x00BE ? 0x0201 : r.type == 0x00BD ? 0x027E : r.type;
        sh.cells[{int(Rd(b, 0, 2)), col}] = CellValue{type, xf, std::move(v)};
      };
      auto raw = [&](size_t from, size_t to) {
        std::u16string v;
        for (size_t k = from; k < to; ++k) v.push_back(b.at(k));
        return v;
      };
      switch (r.type) {
        case 0x023E: sh.window2 = uint16_t(Rd(b, 0, 2)); break;
        case 0x00FD: put(int(Rd(b, 2, 2)), uint16_t(Rd(b, 4, 2)), book.sst.at(Rd(b, 6, 4))); break;
        case 0x0204:
          if (biff5) {
            put(int(Rd(b, 2, 2)), uint16_t(Rd(b, 4, 2)), raw(8, 8 + Rd(b, 6, 2)));
            break;
          }
          [[fallthrough]];
        case 0x0201: case 0x0203: case 0x027E: case 0x0205: case 0x0006:
          put(int(Rd(b, 2, 2)), uint16_t(Rd(b, 4, 2)), raw(6, b.size()));
          break;
        case 0x00BE:
          for (size_t k = 0; 4 + 2 * k + 2 < b.size(); ++k) put(int(Rd(b, 2, 2) + k), uint16_t(Rd(b, 4 + 2 * k, 2)), u"");
          break;
        case 0x00BD:
          for (size_t k = 0; 4 + 6 * k + 2 < b.size(); ++k) {
            put(int(Rd(b, 2, 2) + k), uint16_t(Rd(b, 4 + 6 * k, 2)), raw(6 + 6 * k, 10 + 6 * k));
          }
          break;
        default: break;
      }
    }
    book.sheets.push_back(std::move(sh));
  }
  return book;
}


inline Bytes WorkbookStreamOf(const Bytes& file) {
  xls::CompoundFile cf = xls::ReadCompoundFile(file);
  const xls::CfbEntry* e = xls::FindChild(cf.root, u"Workbook");
  if (!e) e = xls::FindChild(cf.root, u"Book");
  return e ? e->data : Bytes{};
}

}  // namespace skov::testing
