// A sheet's cell table: its rows and items looked up, and its invariants checked.
#include "xls/cell_table.h"

#include <algorithm>
#include <cassert>

namespace skov::xls {

// An emptied row's cell list for a new row, its storage kept; else a new one.
std::vector<CellItem> FreeCells(SheetCells& sc) {
  if (sc.freeCells.empty()) return {};
  std::vector<CellItem> cells = std::move(sc.freeCells.back());
  sc.freeCells.pop_back();
  return cells;
}

RowItem& FindOrAddRow(SheetCells& sc, uint16_t row) {
  std::vector<RowItem>& rows = sc.rows;
  if (!rows.empty() && rows.back().row == row) return rows.back();
  auto it = std::lower_bound(rows.begin(), rows.end(), row, [](const RowItem& r, uint16_t v) { return r.row < v; });
  if (it != rows.end() && it->row == row) return *it;
  RowItem item;
  item.row = row;
  item.cells = FreeCells(sc);
  return *rows.insert(it, std::move(item));
}

// The row's item past the hint, else searched; nullptr when it has none.
RowItem* FindRowAfterHint(SheetCells& sc, uint16_t row) {
  std::vector<RowItem>& rows = sc.rows;
  for (size_t i = sc.rowHint + 1; i < rows.size() && i < sc.rowHint + 2; ++i) {
    if (rows[i].row == row) {
      sc.rowHint = i;
      return &rows[i];
    }
  }
  auto it = std::lower_bound(rows.begin(), rows.end(), row, [](const RowItem& r, uint16_t v) { return r.row < v; });
  if (it == rows.end() || it->row != row) return nullptr;
  sc.rowHint = static_cast<size_t>(it - rows.begin());
  return &*it;
}

namespace {

// Of the items covering `column`, the one a reader shows: the last in the
// stream, a written one over any of the template's.
CellItem* ShownItem(std::vector<CellItem>& cells, uint16_t column) {
  CellItem* shown = nullptr;
  for (CellItem& c : cells) {
    if (c.first > column || c.last < column) continue;
    if (!shown || c.source == CellSource::New || (shown->source != CellSource::New && c.pos > shown->pos)) {
      shown = &c;
    }
  }
  return shown;
}

}  // namespace

CellItem* FindCell(SheetCells& sc, uint16_t row, uint16_t column) {
  RowItem* r = FindRow(sc, row);
  if (!r) return nullptr;
  std::vector<CellItem>& cells = r->cells;
  // Items sorted by first column need not be by last where two overlap.
  if (sc.overlapping) return ShownItem(cells, column);
  for (size_t i = sc.cellHint; i < cells.size() && i < sc.cellHint + 2; ++i) {
    if (cells[i].last >= column) {
      if (cells[i].first > column || (i > 0 && cells[i - 1].last >= column)) break;
      sc.cellHint = i;
      return &cells[i];
    }
  }
  auto cit = std::lower_bound(cells.begin(), cells.end(), column, [](const CellItem& c, uint16_t v) { return c.last < v; });
  sc.cellHint = static_cast<size_t>(cit - cells.begin());
  if (cit == cells.end() || cit->first > column) return nullptr;
  return &*cit;
}

std::span<const uint8_t> ItemBytes(const Template& t, const CellItem& c) {
  switch (c.source) {
    case CellSource::Template: return {t.bytes.data() + c.pos, c.len};
    case CellSource::Rebuilt: return *c.own;
    case CellSource::MulPart:
    case CellSource::New: break;
  }
  return {};
}

void CheckCells([[maybe_unused]] const Template& t, [[maybe_unused]] const SheetCells& sc,
                [[maybe_unused]] int onlyRow) {
#ifndef NDEBUG
  for (size_t r = 0; r < sc.rows.size(); ++r) {
    const RowItem& row = sc.rows[r];
    assert(r == 0 || sc.rows[r - 1].row < row.row);  // 1
    if (onlyRow >= 0 && row.row != onlyRow) continue;
    const std::vector<CellItem>& cells = row.cells;
    uint16_t reach = 0;  // the last column the items so far cover
    for (size_t i = 0; i < cells.size(); ++i) {
      const CellItem& c = cells[i];
      assert(c.first <= c.last);                           // 2
      assert(i == 0 || cells[i - 1].first <= c.first);     // 2
      if (i > 0 && c.first <= reach) {  // 2
        assert(sc.overlapping);
        for (size_t k = 0; k < i; ++k) {
          const bool shared = cells[k].last >= c.first;
          assert(!shared || (c.source != CellSource::New && cells[k].source != CellSource::New) ||
                 c.type == rec::kFormula || cells[k].type == rec::kFormula);
        }
      }
      reach = i == 0 ? c.last : std::max(reach, c.last);
      if (c.source == CellSource::Rebuilt) {  // 3
        assert(c.own && std::any_of(sc.rebuilt.begin(), sc.rebuilt.end(),
                                    [&](const std::vector<uint8_t>& b) { return &b == c.own; }));
      }
      if (c.source == CellSource::MulPart) {  // 4
        const uint8_t* body = t.bytes.data() + c.pos + 4;
        const uint16_t len = Get16(t.bytes.data() + c.pos + 2);
        assert(c.type == rec::kMulBlank || c.type == rec::kMulRk);
        assert(c.origFirst == Get16(body + mul::kFirstCol) && c.origFirst <= c.first);
        assert(c.last <= Get16(body + len - mul::kLastColSize));
      }
    }
  }
#endif
}

}  // namespace skov::xls
