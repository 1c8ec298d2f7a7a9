// Writes into a sheet's cell table: shadowed records dropped, MULBLANK/MULRK split, formats kept.
#include "xls/cell_table_edit.h"

#include <algorithm>

#include "xls/shared_formula.h"

namespace skov::xls {
namespace {

// The format a cell item gives `column`.
uint16_t ItemXf(const Template& t, const CellItem& c, uint16_t column) {
  switch (c.source) {
    case CellSource::New:
      return c.xf;
    case CellSource::MulPart: {
      const uint8_t* body = t.bytes.data() + c.pos + 4;
      const size_t width = c.type == rec::kMulBlank ? mul::kBlankItem : mul::kRkItem;
      return Get16(body + mul::kItems + width * (column - c.origFirst));
    }
    case CellSource::Template:
    case CellSource::Rebuilt:
      break;
  }
  const uint8_t* body = ItemBytes(t, c).data() + 4;
  if (c.type == rec::kMulBlank) return Get16(body + mul::kItems + mul::kBlankItem * (column - c.first));
  if (c.type == rec::kMulRk) return Get16(body + mul::kItems + mul::kRkItem * (column - c.first));
  return Get16(body + cell::kXf);
}

// Columns [a, b] of a template MULBLANK or MULRK item (whole or a part).
CellItem SplitPart(const CellItem& c, uint16_t a, uint16_t b) {
  CellItem part = c;
  if (part.source == CellSource::Template) part.origFirst = c.first;
  part.source = CellSource::MulPart;
  part.first = a;
  part.last = b;
  part.len = 0;
  return part;
}

// A new row item, the hint on it.
RowItem& AddRow(SheetCells& sc, uint16_t row) {
  RowItem& added = FindOrAddRow(sc, row);
  sc.rowHint = static_cast<size_t>(&added - sc.rows.data());
  return added;
}

inline RowItem& RowFor(SheetCells& sc, uint16_t row) {
  if (RowItem* found = FindRow(sc, row)) return *found;
  return AddRow(sc, row);
}

// The format of a new cell: the row's when it has one, else the column's;
// never a style XF, the default cell XF instead.
uint16_t NewCellXf(const Template& t, const SheetCells& sc, const RowItem* rowItem, uint16_t c, bool& isDefault) {
  int given = -1;
  isDefault = false;
  if (rowItem && rowItem->record == RowRecord::Template && (Get16(&rowItem->body[row::kFlags]) & row::kHasFormat)) {
    given = Get16(&rowItem->body[row::kXf]) & row::kXfMask;
  } else {
    for (const SheetCells::Col& col : sc.colInfo) {
      if (col.first <= c && c <= col.last) {
        given = col.xf;
        break;
      }
    }
  }
  if (given >= 0 && IsCellXf(t, static_cast<uint16_t>(given))) return static_cast<uint16_t>(given);
  isDefault = true;
  return t.defaultCellXf;
}

uint16_t NewCellXf(const Template& t, SheetCells& sc, const RowItem& rowItem, uint16_t c) {
  bool isDefault;
  const uint16_t xf = NewCellXf(t, sc, &rowItem, c, isDefault);
  sc.usesDefaultXf |= isDefault;
  return xf;
}

// DIMENSIONS grown to a new cell.
void GrowDimensions(SheetCells& sc, uint16_t r, uint16_t c) {
  if (sc.dims < 0) return;
  if (sc.rwMic >= sc.rwMac || sc.colMic >= sc.colMac) {
    sc.rwMic = r;
    sc.rwMac = r + 1u;
    sc.colMic = c;
    sc.colMac = c + 1;
    sc.dimsChanged = true;
  } else {
    if (r < sc.rwMic) sc.rwMic = r, sc.dimsChanged = true;
    if (r + 1u > sc.rwMac) sc.rwMac = r + 1u, sc.dimsChanged = true;
    if (c < sc.colMic) sc.colMic = c, sc.dimsChanged = true;
    if (c + 1 > sc.colMac) sc.colMac = c + 1, sc.dimsChanged = true;
  }
}


}  // namespace

uint16_t WrittenXf(const Template& t, SheetCells& sc, uint16_t r, uint16_t c) {
  if (const CellItem* old = FindCell(sc, r, c)) return ItemXf(t, *old, c);
  bool isDefault;
  return NewCellXf(t, sc, FindRow(sc, r), c, isDefault);
}

CellItem* PrepareCellWrite(const Template& t, SheetCells& sc, uint16_t r, uint16_t c) {
  CellItem* old = FindCell(sc, r, c);
  if (!old || old->type != rec::kFormula) return old;
  const uint16_t kind = AnchorKind(t, *old);
  const bool ok = kind == rec::kShrFmla ? MoveSharedAnchor(t, sc, *old, r, c)
                  : kind == 0           ? FormulaWritable(t, sc, *old, r, c)
                                        : false;
  if (ok) return old;  // moving an anchor changes the members' bytes, not where the items lie
  const bool table = kind == rec::kTable || (kind == 0 && ItemBytes(t, *old)[4 + formula::kTokens] == ptg::kTbl);
  RefuseWrite(r + 1, c + 1, kind == rec::kShrFmla ? "gehoert zu einer beschaedigten gemeinsamen Formel"
                            : table               ? "gehoert zu einer Datentabelle (Mehrfachoperation)"
                                                  : "gehoert zu einer Matrixformel");
}

namespace {

// Some writers leave two records for one cell, and readers show the later
// one. Whatever else covers the cell being written goes (a MULBLANK/MULRK
// loses that column), so the written text is what every reader shows. A
// shared or array formula's anchor stays: members depend on it. Returns the
// LABELSST cells dropped, for the string table's total; `keep` is the index
// of the item being written over, kept up to date.
int DropShadowedCells(const Template& t, RowItem& rowItem, uint16_t c, size_t& keep) {
  int dropped = 0;
  for (size_t i = 0; i < rowItem.cells.size();) {
    const CellItem& other = rowItem.cells[i];
    if (i == keep || other.first > c || other.last < c ||
        (other.type == rec::kFormula && AnchorKind(t, other) != 0)) {
      ++i;
      continue;
    }
    CellItem parts[2];
    size_t count = 0;
    if (other.first < c) parts[count++] = SplitPart(other, other.first, c - 1);
    if (c < other.last) parts[count++] = SplitPart(other, c + 1, other.last);
    if (count == 0) dropped += other.type == rec::kLabelSst;
    const auto at = rowItem.cells.begin() + static_cast<std::ptrdiff_t>(i);
    rowItem.cells.insert(rowItem.cells.erase(at), std::make_move_iterator(parts), std::make_move_iterator(parts + count));
    if (keep > i) keep = keep + count - 1;
    i += count;
  }
  // A part right of the cell may now stand before the item kept there.
  std::vector<CellItem>& cells = rowItem.cells;
  auto byFirst = [](const CellItem& a, const CellItem& b) { return a.first < b.first; };
  if (!std::is_sorted(cells.begin(), cells.end(), byFirst)) {
    const CellItem kept = cells[keep];
    std::stable_sort(cells.begin(), cells.end(), byFirst);
    keep = static_cast<size_t>(std::find_if(cells.begin(), cells.end(), [&](const CellItem& x) {
                                 return x.source == kept.source && x.pos == kept.pos && x.first == kept.first &&
                                        x.last == kept.last;
                               }) - cells.begin());
  }
  return dropped;
}

}  // namespace

int PutTextCell(const Template& t, SheetCells& sc, uint16_t r, uint16_t c, uint32_t isst, CellItem* old) {
  CellItem written;
  written.source = CellSource::New;
  written.first = written.last = c;
  written.type = rec::kLabelSst;
  written.isst = isst;

  if (old) {
    RowItem& rowItem = RowFor(sc, r);
    size_t keep = static_cast<size_t>(old - rowItem.cells.data());
    // Only a template with overlapping records has anything to drop.
    int replaced = sc.overlapping ? DropShadowedCells(t, rowItem, c, keep) : 0;
    old = &rowItem.cells[keep];
    written.xf = ItemXf(t, *old, c);
    replaced += old->type == rec::kLabelSst;
    if (old->first == old->last) {
      *old = std::move(written);
      return replaced;
    }
    const auto offset = static_cast<std::ptrdiff_t>(keep);
    // Filling a row splits one MULBLANK cell by cell: grow once, not per split.
    if (rowItem.cells.capacity() < rowItem.cells.size() + 2) {
      rowItem.cells.reserve(std::max<size_t>(64, 2 * rowItem.cells.size()));
      old = rowItem.cells.data() + offset;
    }
    auto at = rowItem.cells.begin() + offset;
    if (old->first == c) {
      // Left to right, the usual way: the part keeps the rest, the cell goes before it.
      *old = SplitPart(*old, c + 1, old->last);
      rowItem.cells.insert(at, std::move(written));
      return replaced;
    }
    CellItem parts[3];
    size_t count = 0;
    if (old->first < c) parts[count++] = SplitPart(*old, old->first, c - 1);
    parts[count++] = std::move(written);
    if (c < old->last) parts[count++] = SplitPart(*old, c + 1, old->last);
    at = rowItem.cells.erase(at);
    rowItem.cells.insert(at, std::make_move_iterator(parts), std::make_move_iterator(parts + count));
    return replaced;
  }

  RowItem& rowItem = RowFor(sc, r);
  written.xf = NewCellXf(t, sc, rowItem, c);
  if (rowItem.cells.capacity() == 0) rowItem.cells.reserve(64);  // a device row has ~55 cells
  if (rowItem.cells.empty() || rowItem.cells.back().first < c) {
    rowItem.cells.push_back(std::move(written));
  } else {
    auto at = std::lower_bound(rowItem.cells.begin(), rowItem.cells.end(), c,
                               [](const CellItem& ci, uint16_t v) { return ci.first < v; });
    rowItem.cells.insert(at, std::move(written));
  }
  GrowDimensions(sc, r, c);
  return 0;
}

bool RowTakesRun(SheetCells& sc, uint16_t row, std::span<const RowWrite> writes) {
  if (sc.overlapping) return false;
  const RowItem* item = FindRow(sc, row);
  if (!item) return true;
  // Both by column: one pass over the row's items and the writes.
  size_t w = 0;
  for (const CellItem& c : item->cells) {
    if (c.type != rec::kFormula) continue;
    while (w < writes.size() && writes[w].column < c.first) ++w;
    if (w < writes.size() && writes[w].column <= c.last) return false;
  }
  return true;
}

int PutTextRow(const Template& t, SheetCells& sc, uint16_t r, std::span<const RowWrite> writes) {
  RowItem& rowItem = RowFor(sc, r);
  const std::vector<CellItem>& in = rowItem.cells;
  std::vector<CellItem>& out = sc.spare;
  out.clear();
  out.reserve(in.size() + 2 * writes.size() + 1);
  int replaced = 0;
  size_t i = 0;
  uint16_t from = in.empty() ? 0 : in[0].first;  // the first column of in[i] not placed yet
  auto placeRest = [&] {
    out.push_back(from == in[i].first ? in[i] : SplitPart(in[i], from, in[i].last));
    if (++i < in.size()) from = in[i].first;
  };
  CellItem written;
  written.source = CellSource::New;
  written.type = rec::kLabelSst;
  for (size_t k = 0; k < writes.size();) {
    uint16_t c = writes[k].column;
    while (i < in.size() && in[i].last < c) placeRest();
    written.first = written.last = c;
    written.isst = writes[k].isst;
    if (i == in.size() || from > c) {
      written.xf = NewCellXf(t, sc, rowItem, c);
      GrowDimensions(sc, r, c);
      out.push_back(written);
      ++k;
      continue;
    }
    const CellItem& old = in[i];
    if (old.type != rec::kMulBlank && old.type != rec::kMulRk) {
      written.xf = ItemXf(t, old, c);
      replaced += old.type == rec::kLabelSst;
      out.push_back(written);
      ++k;
      if (++i < in.size()) from = in[i].first;
      continue;
    }
    // A MULBLANK or MULRK, split left to right: the part before the cell,
    // then the cell and any that follow it without a gap, the rest later.
    if (from < c) out.push_back(SplitPart(old, from, c - 1));
    const size_t width = old.type == rec::kMulBlank ? mul::kBlankItem : mul::kRkItem;
    const uint8_t* xfs = t.bytes.data() + old.pos + 4 + mul::kItems;
    const uint16_t base = old.source == CellSource::MulPart ? old.origFirst : old.first;
    for (;;) {
      written.xf = Get16(xfs + width * (c - base));
      out.push_back(written);
      from = static_cast<uint16_t>(c + 1);
      if (++k == writes.size() || writes[k].column != from || from > old.last) break;
      c = from;
      written.first = written.last = c;
      written.isst = writes[k].isst;
    }
    if (from > old.last && ++i < in.size()) from = in[i].first;
  }
  while (i < in.size()) placeRest();
  std::swap(rowItem.cells, out);
  sc.cellHint = 0;
  return replaced;
}

}  // namespace skov::xls
