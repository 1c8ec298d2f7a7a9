// A bound workbook: window and sheet flags, cell writes, serialization.
#include "xls/book.h"

#include <algorithm>
#include <limits>

#include "xls/biff5.h"
#include "xls/workbook_stream.h"

namespace skov::xls {

namespace {
constexpr int kMaxRow = 65536;
constexpr int kMaxColumn = 256;
constexpr size_t kMaxText = 32767;
}  // namespace

Book::Book(std::shared_ptr<const Template> t) : t_(std::move(t)), strings_(t_->strings) {
  cells_.resize(t_->sheets.size());
  spareCells_.resize(t_->sheets.size());
  parsedCells_.resize(t_->sheets.size());
  changed_ = true;  // for Reset: nothing is loaded yet
  Reset();
}

void Book::Reset() {
  if (!changed_ && std::none_of(cells_.begin(), cells_.end(), [](const auto& sc) { return sc != nullptr; })) return;
  const uint8_t* s = t_->bytes.data();
  window1_.clear();
  for (size_t i : t_->window1) {
    const RecRef& r = t_->globals[i];
    std::array<uint8_t, window1::kSize> body;
    std::copy(s + r.body(), s + r.body() + window1::kSize, body.begin());
    window1_.push_back(body);
  }
  hsState_.clear();
  window2_.clear();
  for (const SheetInfo& sh : t_->sheets) {
    hsState_.push_back(s[t_->globals[sh.boundSheet].body() + boundsheet::kHsState]);
    window2_.push_back(sh.window2 >= 0 ? Get16(s + sh.records[size_t(sh.window2)].body() + window2::kFlags) : 0);
  }
  // Written sheets' tables wait for their next fill, storage and all.
  for (size_t i = 0; i < cells_.size(); ++i) {
    if (cells_[i]) spareCells_[i] = std::move(cells_[i]);
  }
  strings_.Clear();
  labelBytes_.clear();
  labelOffsets_.assign(1, 0);
  totalDelta_ = 0;
  recalc_ = {};
  changed_ = false;
}

Book::~Book() = default;
Book::Book(Book&&) noexcept = default;
Book& Book::operator=(Book&&) noexcept = default;

namespace {
// Kept out of line, so that the check before every cell write stays small.
[[noreturn]] [[gnu::noinline]] void MissingSheet(int sheet) {
  Fail(Fault::TooFewSheets, "Arbeitsblatt " + std::to_string(sheet) + " fehlt");
}
}  // namespace

size_t Book::Worksheet(int sheet) const {
  if (sheet < 1 || size_t(sheet) > t_->worksheets.size()) MissingSheet(sheet);
  return t_->worksheets[size_t(sheet) - 1];
}

void Book::ShowWindow(int window) {
  if (window < 1 || size_t(window) > window1_.size()) {
    Fail(Fault::NoSuchWindow, "Fenster " + std::to_string(window) + " fehlt");
  }
  uint8_t* body = window1_[size_t(window) - 1].data();
  uint16_t flags = Get16(body + window1::kFlags);
  if (flags & window1::kHidden) {
    Put16(body + window1::kFlags, flags & ~window1::kHidden);
    changed_ = true;
  }
}

void Book::ActivateSheet(int sheet) {
  const size_t tab = Worksheet(sheet);
  auto set16 = [this](uint8_t* p, uint16_t v) {
    if (Get16(p) != v) {
      Put16(p, v);
      changed_ = true;
    }
  };
  if (!window1_.empty()) {
    uint8_t* body = window1_[0].data();
    set16(body + window1::kTabCur, static_cast<uint16_t>(tab));
    if (Get16(body + window1::kTabFirst) > tab) set16(body + window1::kTabFirst, static_cast<uint16_t>(tab));
    set16(body + window1::kSelected, 1);
  }
  for (size_t i = 0; i < t_->sheets.size(); ++i) {
    if (t_->sheets[i].window2 < 0) continue;
    uint16_t want = i == tab ? (window2_[i] | window2::kSelectedShown) : (window2_[i] & ~window2::kSelectedShown);
    if (want != window2_[i]) {
      window2_[i] = want;
      changed_ = true;
    }
  }
}

void Book::ShowSheet(int sheet) {
  const size_t tab = Worksheet(sheet);
  if (hsState_[tab] & boundsheet::kHiddenMask) {
    hsState_[tab] &= ~boundsheet::kHiddenMask;
    changed_ = true;
  }
}

SheetCells& Book::Cells(size_t sheetIndex) {
  std::unique_ptr<SheetCells>& cells = cells_[sheetIndex];
  if (cells) return *cells;
  // The table as parsed is kept for the book's later fills.
  std::unique_ptr<SheetCells>& parsed = parsedCells_[sheetIndex];
  if (!parsed) parsed = BuildCells(*t_, t_->sheets[sheetIndex]);
  cells = spareCells_[sheetIndex] ? std::move(spareCells_[sheetIndex]) : std::make_unique<SheetCells>();
  CopyCells(*parsed, *cells);
  CheckCells(*t_, *cells);
  return *cells;
}

const char* Book::Refusal(int row, int column, std::u16string_view value) {
  if (row < 1 || row > kMaxRow || column < 1 || column > kMaxColumn) return "liegt ausserhalb des Tabellenblatts";
  if (value.size() > kMaxText) return "kann nicht mehr als 32767 Zeichen aufnehmen";
  if (t_->Biff5()) {
    label_.clear();
    EncodeLabel(*t_, value, label_);
    if (label_.size() > biff5::kMaxLabelBytes) {
      return "kann in Excel 5.0/95 nicht mehr als 255 Zeichen aufnehmen. Bitte die Vorlage als Excel 97-2003 "
             "speichern";
    }
  }
  return nullptr;
}

[[gnu::always_inline]] inline uint32_t Book::StringIndex(std::u16string_view value) {
  // BIFF5 has no string table: the pool numbers the texts of the LABELs,
  // whose bytes Refusal left in label_.
  const uint32_t isst = strings_.Index(value);
  if (t_->Biff5() && isst == labelOffsets_.size() - 1) {  // a text not seen before
    labelBytes_.insert(labelBytes_.end(), label_.begin(), label_.end());
    labelOffsets_.push_back(static_cast<uint32_t>(labelBytes_.size()));
  }
  return isst;
}

void Book::WriteCell(int sheet, int row, int column, std::u16string_view value) {
  const size_t si = Worksheet(sheet);
  // Checked before anything changes: a refused write leaves the sheet as it was.
  if (const char* why = Refusal(row, column, value)) RefuseWrite(row, column, why);
  SheetCells& sc = Cells(si);
  const auto r = static_cast<uint16_t>(row - 1);
  const auto c = static_cast<uint16_t>(column - 1);
  // Excel refuses to change a locked cell of a protected sheet (error 1004).
  if (sc.protectedSheet && IsLockedXf(*t_, WrittenXf(*t_, sc, r, c))) {
    RefuseWrite(row, column, "ist gesperrt, das Blatt ist geschuetzt");
  }
  CellItem* old = PrepareCellWrite(*t_, sc, r, c);
  const uint32_t isst = StringIndex(value);
  const int replaced = PutTextCell(*t_, sc, r, c, isst, old);
  CheckCells(*t_, sc, r);
  if (!t_->Biff5()) totalDelta_ += 1 - replaced;
  changed_ = true;
}

void Book::WriteRow(int sheet, int row, std::span<const CellText> cells) {
  if (cells.empty()) return;
  const size_t si = Worksheet(sheet);
  SheetCells& sc = Cells(si);
  auto oneByOne = [&] {
    for (const CellText& c : cells) WriteCell(sheet, row, c.column, c.value);
  };
  // A template with two records for one cell, or a protected sheet, takes
  // the cells one by one: only that path drops shadows and refuses locked cells.
  if (row < 1 || row > kMaxRow || sc.overlapping || sc.protectedSheet) return oneByOne();
  // The texts are numbered in the order written, as one by one, so the
  // string table comes out the same; then the last write to each column
  // goes into the row in one pass.
  rowWrites_.clear();
  size_t accepted = 0;
  const bool biff5 = t_->Biff5();
  for (; accepted < cells.size(); ++accepted) {
    const CellText& c = cells[accepted];
    // The row is in range; BIFF5 also needs the text's bytes.
    if (c.column < 1 || c.column > kMaxColumn || c.value.size() > kMaxText) break;
    if (biff5 && Refusal(row, c.column, c.value)) break;
    const RowWrite w{static_cast<uint16_t>(c.column - 1), StringIndex(c.value)};
    // By column, a later write replacing an earlier one; mostly appended.
    if (rowWrites_.empty() || rowWrites_.back().column < w.column) {
      rowWrites_.push_back(w);
      continue;
    }
    auto at = std::upper_bound(rowWrites_.begin(), rowWrites_.end(), w.column,
                               [](uint16_t column, const RowWrite& x) { return column < x.column; });
    if (at != rowWrites_.begin() && at[-1].column == w.column) {
      at[-1] = w;
    } else {
      rowWrites_.insert(at, w);
    }
  }
  // So does a write over a formula: only that path moves anchors. Numbering
  // the texts again finds the numbers just given.
  if (!RowTakesRun(sc, static_cast<uint16_t>(row - 1), rowWrites_)) return oneByOne();
  if (!rowWrites_.empty()) {
    const int replaced = PutTextRow(*t_, sc, static_cast<uint16_t>(row - 1), rowWrites_);
    CheckCells(*t_, sc, row - 1);
    if (!t_->Biff5()) totalDelta_ += static_cast<int64_t>(rowWrites_.size()) - replaced;
    changed_ = true;
  }
  // The refused cell throws as it would alone, the cells before it written.
  if (accepted < cells.size()) WriteCell(sheet, row, cells[accepted].column, cells[accepted].value);
}

const calc::RecalcReport& Book::Recalculate() {
  recalc_ = {};
  // Nothing written, nothing due: a template without formulas pays nothing more.
  if (!changed_ || std::none_of(cells_.begin(), cells_.end(), [](const auto& sc) { return sc != nullptr; })) {
    return recalc_;
  }
  if (!formulas_) formulas_ = calc::IndexFormulas(*t_);
  if (formulas_->cells.empty()) return recalc_;
  calc::BookAccess book;
  book.filled = [this](size_t s) { return cells_[s].get(); };
  book.parsed = [this](size_t s) {
    std::unique_ptr<SheetCells>& parsed = parsedCells_[s];
    if (!parsed) parsed = BuildCells(*t_, t_->sheets[s]);
    return parsed.get();
  };
  book.writable = [this](size_t s) -> SheetCells& { return Cells(s); };
  std::u16string label;
  book.newText = [this, &label](uint32_t isst) -> std::u16string_view {
    if (t_->Biff5()) {
      // As the LABEL holds it: in the code page, a character it lacks as '?'.
      label.clear();
      t_->codePage->Decode(std::span(labelBytes_).subspan(labelOffsets_[isst], labelOffsets_[isst + 1] - labelOffsets_[isst]),
                           label);
      return label;
    }
    if (isst < formulas_->strings.size()) return formulas_->strings[isst];
    return strings_.Added()[isst - t_->strings.unique];
  };
  calc::Recalculate(*t_, *formulas_, book, recalc_);
  return recalc_;
}

std::vector<uint8_t> Book::Serialize() const {
  std::vector<uint8_t> out;
  Serialize(out);
  return out;
}

void Book::Serialize(std::vector<uint8_t>& out) const {
  if (!changed_) {
    out.assign(t_->bytes.begin(), t_->bytes.end());
    return;
  }
  StreamEdits e;
  e.window1 = window1_;
  e.hsState = hsState_;
  e.window2 = window2_;
  e.cells = cells_;
  e.zeroRecalcId = recalc_.zeroRecalcId;
  if (t_->Biff5()) {
    e.labels = {labelBytes_, labelOffsets_};
    e.addCodePage = !t_->namesCodePage && std::any_of(labelBytes_.begin(), labelBytes_.end(),
                                                      [](uint8_t b) { return b >= 0x80; });
    SerializeWorkbookStream(*t_, e, out);
    return;
  }
  e.newStrings = strings_.Added();
  e.stringsChanged = !e.newStrings.empty() || totalDelta_ != 0;
  e.sstTotal = static_cast<uint32_t>(
      std::clamp<int64_t>(int64_t(t_->strings.total) + totalDelta_, 0, std::numeric_limits<uint32_t>::max()));
  e.cells = cells_;
  e.addCellXf = t_->addsCellXf && std::any_of(cells_.begin(), cells_.end(), [](const auto& sc) {
    return sc && sc->usesDefaultXf;
  });
  SerializeWorkbookStream(*t_, e, out);
}

}  // namespace skov::xls
