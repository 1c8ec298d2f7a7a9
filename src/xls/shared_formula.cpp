// Shared formula anchors and members; array and table formulas left whole.
#include "xls/shared_formula.h"

#include <algorithm>

namespace skov::xls {
namespace {

// Offset within the item of its SHRFMLA, ARRAY or TABLE record, or 0.
size_t AnchorRecord(const Template& t, const CellItem& c, uint16_t* kind) {
  std::span<const uint8_t> b = ItemBytes(t, c);
  if (b.size() < 4) return 0;
  size_t off = 4u + Get16(&b[2]);
  while (off + 4 <= b.size()) {
    uint16_t type = Get16(&b[off]);
    if (type == rec::kShrFmla || type == rec::kArray || type == rec::kTable) {
      if (kind) *kind = type;
      return off;
    }
    off += 4u + Get16(&b[off + 2]);
  }
  return 0;
}

// The cell a formula refers to with a PtgExp as its only token, if so.
bool ExpTarget(const Template& t, const CellItem& c, uint16_t* row, uint16_t* column) {
  std::span<const uint8_t> b = ItemBytes(t, c);
  if (c.type != rec::kFormula || b.size() < 4 || Get16(&b[2]) < formula::kTokens + ptg::kExpSize) return false;
  const uint8_t* body = b.data() + 4;
  if (Get16(body + formula::kCce) < ptg::kExpSize || body[formula::kTokens] != ptg::kExp) return false;
  *row = Get16(body + formula::kTokens + ptg::kRefRow);
  *column = Get16(body + formula::kTokens + ptg::kRefCol);
  return true;
}

}  // namespace

uint16_t AnchorKind(const Template& t, const CellItem& c) {
  uint16_t kind = 0;
  AnchorRecord(t, c, &kind);
  return kind;
}

bool FormulaWritable(const Template& t, SheetCells& sc, const CellItem& c, uint16_t row, uint16_t column) {
  std::span<const uint8_t> b = ItemBytes(t, c);
  const uint8_t* body = b.data() + 4;
  uint16_t len = Get16(&b[2]);
  uint16_t cce = Get16(body + formula::kCce);
  if (cce == 0 || len < formula::kTokens + 1) return true;
  if (body[formula::kTokens] == ptg::kTbl) return false;
  if (body[formula::kTokens] != ptg::kExp) return true;
  uint16_t ar, ac;
  if (!ExpTarget(t, c, &ar, &ac) || (ar == row && ac == column)) return false;
  const CellItem* anchor = FindCell(sc, ar, ac);
  return anchor && anchor->type == rec::kFormula && AnchorKind(t, *anchor) == rec::kShrFmla;
}

// The first remaining member becomes the anchor, with the SHRFMLA after it
// and every member pointing at it. The formula's tokens are relative to the
// cell they are evaluated in, so they stay as they are. When the first
// member is not the top left of the rest, each row of members gets a
// SHRFMLA of its own.
bool MoveSharedAnchor(const Template& t, SheetCells& sc, const CellItem& anchor, uint16_t ar, uint16_t ac) {
  std::span<const uint8_t> a = ItemBytes(t, anchor);
  const size_t so = AnchorRecord(t, anchor, nullptr);
  const uint16_t slen = Get16(&a[so + 2]);
  if (slen < shrfmla::kMinSize) return false;
  const uint8_t* shr = &a[so + 4];
  const uint16_t rwFirst = Get16(shr + shrfmla::kRwFirst), rwLast = Get16(shr + shrfmla::kRwLast);
  const uint8_t colFirst = shr[shrfmla::kColFirst], colLast = shr[shrfmla::kColLast];
  std::vector<CellItem*> members;
  for (RowItem& row : sc.rows) {
    if (row.row < rwFirst || row.row > rwLast) continue;
    for (CellItem& c : row.cells) {
      uint16_t er, ec;
      if (&c == &anchor || c.first != c.last || c.first < colFirst || c.first > colLast) continue;
      if (ExpTarget(t, c, &er, &ec) && er == ar && ec == ac && !AnchorKind(t, c)) members.push_back(&c);
    }
  }
  if (members.empty()) return true;
  std::vector<uint16_t> memberRows;
  for (RowItem& row : sc.rows) {
    for (CellItem& c : row.cells) {
      if (std::find(members.begin(), members.end(), &c) != members.end()) memberRows.push_back(row.row);
    }
  }
  // One group when the first member is the top left of them all, else one per row.
  bool oneGroup = true;
  for (CellItem* m : members) oneGroup = oneGroup && m->first >= members.front()->first;
  constexpr size_t kTokenRow = 4 + formula::kTokens + ptg::kRefRow;  // in a FORMULA with its header
  constexpr size_t kTokenCol = 4 + formula::kTokens + ptg::kRefCol;
  for (size_t g = 0; g < members.size();) {
    size_t e = g + 1;
    while (e < members.size() && (oneGroup || memberRows[e] == memberRows[g])) ++e;
    const uint16_t nr = memberRows[g], nc = members[g]->first;
    uint16_t lastRow = nr, lastCol = nc;
    for (size_t i = g; i < e; ++i) {
      lastRow = std::max(lastRow, memberRows[i]);
      lastCol = std::max(lastCol, members[i]->first);
    }
    std::vector<uint8_t> moved(a.begin() + long(so), a.begin() + long(so) + 4 + slen);
    uint8_t* body = moved.data() + 4;
    Put16(body + shrfmla::kRwFirst, nr);
    Put16(body + shrfmla::kRwLast, lastRow);
    body[shrfmla::kColFirst] = static_cast<uint8_t>(nc);
    body[shrfmla::kColLast] = static_cast<uint8_t>(lastCol);
    if (!t.Biff5()) body[shrfmla::kCUse] = static_cast<uint8_t>(std::min<size_t>(e - g, 255));  // unused in BIFF5
    for (size_t i = g; i < e; ++i) {
      std::span<const uint8_t> b = ItemBytes(t, *members[i]);
      std::vector<uint8_t> bytes(b.begin(), b.end());
      Put16(&bytes[kTokenRow], nr);
      Put16(&bytes[kTokenCol], nc);
      if (i == g) bytes.insert(bytes.begin() + 4 + Get16(&bytes[2]), moved.begin(), moved.end());
      members[i]->own = &sc.rebuilt.emplace_back(std::move(bytes));
      members[i]->source = CellSource::Rebuilt;
    }
    g = e;
  }
  return true;
}

}  // namespace skov::xls
