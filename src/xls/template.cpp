// The template parsed: the globals, each sheet substream and the records the engine looks up.
#include "xls/template.h"

#include <algorithm>

#include "xls/cell_records.h"

namespace skov::xls {
namespace {

constexpr int kMaxNesting = 32;

// BOF record numbers of Excel 2.x, 3.0 and 4.0, whose files hold no substreams.
constexpr uint16_t kBofBiff2 = 0x0009;
constexpr uint16_t kBofBiff3 = 0x0209;
constexpr uint16_t kBofBiff4 = 0x0409;

// The globals' BOF decides the dialect of the whole stream: Excel 5.0 and
// 95 (Windows and Mac) give every sheet the BIFF8 number all the same,
// and Excel, LibreOffice, gnumeric and xlrd read those sheets as BIFF5.
void CheckBof(std::span<const uint8_t> s, const RecRef& r, uint16_t version) {
  if (r.type != rec::kBof) Fail(Fault::Damaged, "Teilstrom beginnt nicht mit BOF");
  if (r.len < bof::kMinSize) Fail(Fault::Damaged, "BOF zu kurz");
  const uint16_t v = Get16(&s[r.body() + bof::kVersion]);
  if (v != version && !(version == biff5::kVersion && v == bof::kBiff8)) {
    Fail(Fault::Damaged, "Teilstrom einer anderen Excel-Version");
  }
}

void ParseSheet(const Template& t, SheetInfo& sh) {
  std::span<const uint8_t> s = t.bytes;
  uint32_t pos = sh.start;
  int depth = 0;
  for (;;) {
    RecRef r = ReadRecordAt(s, pos);
    int d = depth;
    // Some writers repeat a chart's BOF right after it, with one EOF for both.
    const bool repeated = r.type == rec::kBof && !sh.records.empty() && sh.records.back().type == rec::kBof;
    if (r.type == rec::kBof && !repeated) {
      CheckBof(s, r, t.version);
      if (++depth > kMaxNesting) Fail(Fault::Damaged, "Teilstroeme zu tief verschachtelt");
      d = depth;
    } else if (depth == 0) {
      Fail(Fault::Damaged, "Blatt beginnt nicht mit BOF");
    }
    sh.records.push_back(r);
    sh.depth.push_back(static_cast<uint8_t>(d));
    pos = r.end();
    if (r.type == rec::kEof && --depth == 0) break;
  }
  sh.end = pos;
  sh.bofType = Get16(&s[sh.records[0].body() + bof::kType]);
  bool dialog = false;
  for (size_t i = 0; i < sh.records.size(); ++i) {
    const RecRef& r = sh.records[i];
    if (sh.depth[i] != 1) continue;
    const uint8_t* body = &s[r.body()];
    if (r.type == rec::kWsBool && r.len >= 2) dialog = Get16(body + wsbool::kFlags) & wsbool::kDialog;
    if (r.type == rec::kWindow2 && r.len >= window2::kMinSize && sh.window2 < 0) sh.window2 = static_cast<int>(i);
    if (r.type == rec::kIndex && sh.index < 0) {
      if (r.len < (t.Biff5() ? biff5::index::kMinSize : index::kMinSize)) Fail(Fault::Damaged, "INDEX zu kurz");
      sh.index = static_cast<int>(i);
    }
    uint16_t first, last;
    if (IsCellRecord(r.type) && !CellColumns(r.type, body, r.len, first, last)) {
      Fail(Fault::Damaged, "Zelldatensatz mit falscher Laenge");
    }
    if (r.type == rec::kRow && r.len < row::kSize) Fail(Fault::Damaged, "ROW zu kurz");
    if (r.type == rec::kDimensions && r.len < (t.Biff5() ? biff5::dimensions::kSize : dimensions::kSize)) {
      Fail(Fault::Damaged, "DIMENSIONS zu kurz");
    }
  }
  uint8_t boundType = s[t.globals[sh.boundSheet].body() + boundsheet::kDt];
  sh.worksheet = boundType == boundsheet::kDtWorksheet && sh.bofType == bof::kWorksheet && !dialog;
}

// The default cell format: the first cell XF, else a new one made from the
// Normal style's XF.
void ChooseDefaultCellXf(Template& t, int normalStyleXf) {
  if (t.styleXf.empty()) return;
  for (size_t i = 0; i < t.styleXf.size(); ++i) {
    if (!t.styleXf[i]) {
      t.defaultCellXf = static_cast<uint16_t>(i);
      return;
    }
  }
  size_t parent = normalStyleXf >= 0 && size_t(normalStyleXf) < t.styleXf.size() ? size_t(normalStyleXf) : 0;
  // The XF records lie together, the parent among them.
  size_t count = 0, at = 0;
  for (size_t i = 0; i < t.globals.size(); ++i) {
    if (t.globals[i].type != rec::kXf) continue;
    if (count++ == parent) at = i;
  }
  const RecRef& r = t.globals[at];
  const size_t size = XfSize(t);
  std::copy(t.bytes.begin() + r.body(), t.bytes.begin() + r.body() + std::min<size_t>(r.len, size),
            t.newCellXf.begin());
  const uint16_t type = Get16(&t.newCellXf[xf::kType]);
  Put16(&t.newCellXf[xf::kType],
        static_cast<uint16_t>((type & xf::kLockedHidden) | (parent << xf::kParentShift)));
  t.newCellXf[t.Biff5() ? biff5::xf::kUsed : xf::kUsed] &= static_cast<uint8_t>(~xf::kUsedMask);
  t.defaultCellXf = static_cast<uint16_t>(t.styleXf.size());
  t.addsCellXf = true;
}

}  // namespace

void EncodeLabel(const Template& t, std::u16string_view text, std::vector<uint8_t>& out) {
  const size_t from = out.size();
  t.codePage->Encode(text, out);
  const uint16_t id = t.codePage->Id();
  if (id != biff5::kWindows1252 && id != biff5::kWindows1252Biff && id != biff5::kUtf16) return;
  // Windows maps the bytes 1252 leaves undefined to U+0081 etc. and back,
  // but a reader with a strict table (xlrd) then refuses the whole workbook.
  for (size_t i = from; i < out.size(); ++i) {
    uint8_t& b = out[i];
    if (b >= 0x81 && b <= 0x9D &&
        std::find(std::begin(biff5::kUndefined1252), std::end(biff5::kUndefined1252), b) !=
            std::end(biff5::kUndefined1252)) {
      b = '?';
    }
  }
}

bool IsLockedXf(const Template& t, uint16_t index) {
  return index >= t.lockedXf.size() || t.lockedXf[index];
}

bool IsCellXf(const Template& t, uint16_t index) {
  if (t.styleXf.empty()) return true;
  return index < t.styleXf.size() && !t.styleXf[index];
}

std::shared_ptr<const Template> ParseWorkbookStream(std::vector<uint8_t> stream) {
  auto t = std::make_shared<Template>();
  t->bytes = std::move(stream);
  std::span<const uint8_t> s = t->bytes;

  RecRef first = ReadRecordAt(s, 0);
  if (first.type == kBofBiff2 || first.type == kBofBiff3 || first.type == kBofBiff4) {
    Fail(Fault::OldVersion, "Excel 2.x bis 4.0");
  }
  if (first.type != rec::kBof || first.len < bof::kMinSize) Fail(Fault::NotAWorkbook, "kein BOF am Anfang");
  t->version = Get16(&s[first.body() + bof::kVersion]);
  if (t->version != bof::kBiff8 && t->version != biff5::kVersion) Fail(Fault::NotAWorkbook, "unbekannte Version");
  if (Get16(&s[first.body() + bof::kType]) != bof::kGlobals) {
    Fail(Fault::NotAWorkbook, "Strom beginnt nicht mit den Arbeitsmappendaten");
  }
  uint16_t codePage = biff5::kWindows1252;
  uint32_t pos = 0;
  for (;;) {
    RecRef r = ReadRecordAt(s, pos);
    if (r.type == rec::kBof && !t->globals.empty()) Fail(Fault::Damaged, "Arbeitsmappendaten ohne EOF");
    if (r.type == rec::kFilePass) Fail(Fault::Encrypted, "verschluesselt");
    if (r.type == biff5::kCodePageRecord && r.len >= biff5::codepage::kSize) {
      codePage = Get16(&s[r.body() + biff5::codepage::kId]);
      t->namesCodePage = true;
    }
    // CODEPAGE's place: after the interface, user-name and file-sharing records at the top.
    const bool top = t->globals.size() == t->codePageAfter + 1;
    if (top && (r.type == rec::kInterfaceHdr || r.type == rec::kMms || r.type == rec::kToolbarHdr ||
                r.type == rec::kToolbarEnd || r.type == rec::kInterfaceEnd || r.type == rec::kWriteAccess ||
                r.type == rec::kFileSharing)) {
      t->codePageAfter = t->globals.size();
    }
    t->globals.push_back(r);
    pos = r.end();
    if (r.type == rec::kEof) break;
  }
  const uint32_t globalsEnd = pos;
  int normalStyleXf = -1;
  if (t->Biff5()) t->codePage = std::make_unique<const CodePage>(codePage);

  for (size_t i = 0; i < t->globals.size(); ++i) {
    const RecRef& r = t->globals[i];
    switch (r.type) {
      case rec::kBoundSheet: {
        if (r.len < boundsheet::kMinSize) Fail(Fault::Damaged, "BOUNDSHEET zu kurz");
        SheetInfo sh;
        sh.boundSheet = i;
        sh.start = Get32(&s[r.body() + boundsheet::kPos]);
        if (sh.start < globalsEnd || sh.start >= s.size()) Fail(Fault::Damaged, "Blattposition ausserhalb des Stroms");
        t->sheets.push_back(std::move(sh));
        break;
      }
      case rec::kWindow1:
        if (r.len < window1::kSize) Fail(Fault::Damaged, "WINDOW1 zu kurz");
        t->window1.push_back(i);
        break;
      case rec::kSst: {
        if (t->Biff5()) break;  // no string table before Excel 97
        if (t->sst >= 0) Fail(Fault::Damaged, "zwei Zeichenkettentabellen");
        size_t e = i + 1;
        while (e < t->globals.size() && t->globals[e].type == rec::kContinue) ++e;
        t->sst = static_cast<int>(i);
        t->sstEnd = static_cast<int>(e);
        t->strings = ParseSst(s, std::span(t->globals).subspan(i, e - i));
        break;
      }
      case rec::kExtSst:
        if (t->Biff5()) break;
        if (t->sst < 0 || t->extSst >= 0) Fail(Fault::Damaged, "EXTSST ohne Zeichenkettentabelle davor");
        t->extSst = static_cast<int>(i);
        break;
      case rec::kXf:
        // One too short to tell counts as a cell XF: it is not ours to judge.
        t->styleXf.push_back(r.len >= xf::kType + 2 && (Get16(&s[r.body() + xf::kType]) & xf::kStyle));
        t->lockedXf.push_back(r.len < xf::kType + 2 || (Get16(&s[r.body() + xf::kType]) & xf::kLocked));
        t->lastXf = static_cast<int>(i);
        break;
      case rec::kStyle:
        if (r.len >= style::kMinSize && (Get16(&s[r.body() + style::kIxfe]) & style::kBuiltIn) &&
            s[r.body() + style::kBuiltInId] == style::kNormal && normalStyleXf < 0) {
          normalStyleXf = Get16(&s[r.body() + style::kIxfe]) & style::kXfMask;
        }
        break;
      default:
        break;
    }
  }

  ChooseDefaultCellXf(*t, normalStyleXf);
  for (SheetInfo& sh : t->sheets) ParseSheet(*t, sh);
  for (size_t i = 0; i < t->sheets.size(); ++i) {
    t->streamOrder.push_back(i);
    if (t->sheets[i].worksheet) t->worksheets.push_back(i);
  }
  std::sort(t->streamOrder.begin(), t->streamOrder.end(),
            [&](size_t a, size_t b) { return t->sheets[a].start < t->sheets[b].start; });
  for (size_t k = 1; k < t->streamOrder.size(); ++k) {
    if (t->sheets[t->streamOrder[k]].start < t->sheets[t->streamOrder[k - 1]].end) {
      Fail(Fault::Damaged, "Blaetter ueberlappen sich");
    }
  }
  return t;
}

}  // namespace skov::xls
