// BIFF8 record numbers and the offsets (within a record's body) of the fields this engine reads or writes.
#pragma once

#include <cstdint>

namespace skov::xls {

namespace rec {
constexpr uint16_t kFormula = 0x0006;
constexpr uint16_t kEof = 0x000A;
constexpr uint16_t kSelection = 0x001D;
constexpr uint16_t kFilePass = 0x002F;
constexpr uint16_t kContinue = 0x003C;
constexpr uint16_t kWindow1 = 0x003D;
constexpr uint16_t kDefColWidth = 0x0055;
constexpr uint16_t kColInfo = 0x007D;
constexpr uint16_t kWsBool = 0x0081;
constexpr uint16_t kBoundSheet = 0x0085;
constexpr uint16_t kMulRk = 0x00BD;
constexpr uint16_t kMulBlank = 0x00BE;
constexpr uint16_t kRString = 0x00D6;
constexpr uint16_t kDbCell = 0x00D7;
constexpr uint16_t kXf = 0x00E0;
constexpr uint16_t kSst = 0x00FC;
constexpr uint16_t kLabelSst = 0x00FD;
constexpr uint16_t kExtSst = 0x00FF;
constexpr uint16_t kDimensions = 0x0200;
constexpr uint16_t kBlank = 0x0201;
constexpr uint16_t kNumber = 0x0203;
constexpr uint16_t kLabel = 0x0204;
constexpr uint16_t kBoolErr = 0x0205;
constexpr uint16_t kString = 0x0207;
constexpr uint16_t kRow = 0x0208;
constexpr uint16_t kIndex = 0x020B;
constexpr uint16_t kArray = 0x0221;
constexpr uint16_t kDefaultRowHeight = 0x0225;
constexpr uint16_t kTable = 0x0236;
constexpr uint16_t kWindow2 = 0x023E;
constexpr uint16_t kRk = 0x027E;
constexpr uint16_t kStyle = 0x0293;
constexpr uint16_t kShrFmla = 0x04BC;
constexpr uint16_t kBof = 0x0809;
// Globals records the formulas read.
constexpr uint16_t kExternSheet = 0x0017;
constexpr uint16_t kName = 0x0018;
constexpr uint16_t kExternName = 0x0023;
constexpr uint16_t kSupBook = 0x01AE;
constexpr uint16_t kRecalcId = 0x01C1;
// Worksheet records that tell where a new cell table goes.
constexpr uint16_t kAutoFilter = 0x009E;
constexpr uint16_t kAutoFilter12 = 0x087E;
constexpr uint16_t kAutoFilterInfo = 0x009D;
constexpr uint16_t kBigName = 0x0418;
constexpr uint16_t kBkHim = 0x00E9;
constexpr uint16_t kBottomMargin = 0x0029;
constexpr uint16_t kCalcCount = 0x000C;
constexpr uint16_t kCalcMode = 0x000D;
constexpr uint16_t kCf = 0x01B1;
constexpr uint16_t kCf12 = 0x087B;
constexpr uint16_t kCodeName = 0x01BA;
constexpr uint16_t kCondFmt = 0x01B0;
constexpr uint16_t kContinueBigName = 0x043C;
constexpr uint16_t kContinueFrt12 = 0x087F;
constexpr uint16_t kDCon = 0x0050;
constexpr uint16_t kDVal = 0x01B2;
constexpr uint16_t kDelta = 0x0010;
constexpr uint16_t kDropDownObjIds = 0x0874;
constexpr uint16_t kDv = 0x01BE;
constexpr uint16_t kFeat = 0x0868;
constexpr uint16_t kFeatHdr = 0x0867;
constexpr uint16_t kFilterMode = 0x009B;
constexpr uint16_t kFooter = 0x0015;
constexpr uint16_t kGridSet = 0x0082;
constexpr uint16_t kGuts = 0x0080;
constexpr uint16_t kHCenter = 0x0083;
constexpr uint16_t kHLink = 0x01B8;
constexpr uint16_t kHLinkTooltip = 0x0800;
constexpr uint16_t kHPageBreaks = 0x001B;
constexpr uint16_t kHeader = 0x0014;
constexpr uint16_t kHeaderFooter = 0x089C;
constexpr uint16_t kIteration = 0x0011;
constexpr uint16_t kLRng = 0x015F;
constexpr uint16_t kLeftMargin = 0x0026;
constexpr uint16_t kLpr = 0x0098;
constexpr uint16_t kMergeCells = 0x00E5;
constexpr uint16_t kMsoDrawing = 0x00EC;
constexpr uint16_t kNote = 0x001C;
constexpr uint16_t kObj = 0x005D;
constexpr uint16_t kObjProtect = 0x0063;
constexpr uint16_t kPane = 0x0041;
constexpr uint16_t kPassword = 0x0013;
constexpr uint16_t kPhoneticInfo = 0x00EF;
constexpr uint16_t kPls = 0x004D;
constexpr uint16_t kPlv = 0x088B;
constexpr uint16_t kPrintGridlines = 0x002B;
constexpr uint16_t kPrintHeaders = 0x002A;
constexpr uint16_t kProtect = 0x0012;
constexpr uint16_t kRefMode = 0x000F;
constexpr uint16_t kRightMargin = 0x0027;
constexpr uint16_t kSaveRecalc = 0x005F;
constexpr uint16_t kScenMan = 0x00AE;
constexpr uint16_t kScenProtect = 0x00DD;
constexpr uint16_t kScenario = 0x00AF;
constexpr uint16_t kScl = 0x00A0;
constexpr uint16_t kSetup = 0x00A1;
constexpr uint16_t kSheetExt = 0x0862;
constexpr uint16_t kSort = 0x0090;
constexpr uint16_t kSortData = 0x0895;
constexpr uint16_t kStandardWidth = 0x0099;
constexpr uint16_t kSxView = 0x00B0;
constexpr uint16_t kSync = 0x0097;
constexpr uint16_t kTopMargin = 0x0028;
constexpr uint16_t kTxo = 0x01B6;
constexpr uint16_t kUncalced = 0x005E;
constexpr uint16_t kUserSViewBegin = 0x01AA;
constexpr uint16_t kVCenter = 0x0084;
constexpr uint16_t kVPageBreaks = 0x001A;
// Globals records that precede CODEPAGE.
constexpr uint16_t kFileSharing = 0x005B;
constexpr uint16_t kInterfaceHdr = 0x00E1;
constexpr uint16_t kMms = 0x00C1;
constexpr uint16_t kToolbarHdr = 0x00BF;
constexpr uint16_t kToolbarEnd = 0x00C0;
constexpr uint16_t kInterfaceEnd = 0x00E2;
constexpr uint16_t kWriteAccess = 0x005C;
}  // namespace rec

// Body limit of one record; longer data goes on in CONTINUE records.
constexpr uint32_t kMaxRecordBody = 8224;

namespace bof {
constexpr uint16_t kVersion = 0;
constexpr uint16_t kType = 2;
constexpr uint16_t kMinSize = 8;
constexpr uint16_t kBiff8 = 0x0600;
constexpr uint16_t kGlobals = 0x0005;
constexpr uint16_t kWorksheet = 0x0010;  // also dialog sheets, told apart by WSBOOL
}  // namespace bof

namespace boundsheet {
constexpr uint16_t kPos = 0;      // stream position of the sheet's BOF
constexpr uint16_t kHsState = 4;  // visibility: 0 shown, 1 hidden, 2 very hidden
constexpr uint16_t kDt = 5;       // 0 worksheet or dialog, 1 macro sheet, 2 chart, 6 VB module
constexpr uint16_t kCch = 6;      // the name's length, its characters after it
constexpr uint16_t kMinSize = 8;
constexpr uint8_t kHiddenMask = 0x03;
constexpr uint8_t kDtWorksheet = 0;
}  // namespace boundsheet

namespace window1 {
constexpr uint16_t kFlags = 8;
constexpr uint16_t kTabCur = 10;
constexpr uint16_t kTabFirst = 12;
constexpr uint16_t kSelected = 14;
constexpr uint16_t kSize = 18;
constexpr uint16_t kHidden = 0x0001;  // in kFlags
}  // namespace window1

namespace window2 {
constexpr uint16_t kFlags = 0;
constexpr uint16_t kMinSize = 2;
constexpr uint16_t kSelectedShown = 0x0600;  // fSelected | fPaged: the sheet shown in the window
}  // namespace window2

namespace wsbool {
constexpr uint16_t kFlags = 0;
constexpr uint16_t kDialog = 0x0010;
}  // namespace wsbool

// Every cell record starts with row, column and XF.
namespace cell {
constexpr uint16_t kRow = 0;
constexpr uint16_t kCol = 2;
constexpr uint16_t kXf = 4;
constexpr uint16_t kMinSize = 6;
}  // namespace cell

namespace blank {
constexpr uint16_t kSize = 6;
}

namespace labelsst {
constexpr uint16_t kIsst = 6;
constexpr uint16_t kSize = 10;
}  // namespace labelsst

namespace rk {
constexpr uint16_t kSize = 10;
}

namespace number {
constexpr uint16_t kSize = 14;
}

namespace boolerr {
constexpr uint16_t kSize = 8;
}

// MULBLANK and MULRK: row, first column, one item per column, last column.
namespace mul {
constexpr uint16_t kFirstCol = 2;
constexpr uint16_t kItems = 4;
constexpr uint16_t kLastColSize = 2;
constexpr uint16_t kBlankItem = 2;  // XF
constexpr uint16_t kRkItem = 6;     // XF, RK value
}  // namespace mul

namespace formula {
constexpr uint16_t kCce = 20;     // size of the parsed expression
constexpr uint16_t kTokens = 22;  // the parsed expression
constexpr uint16_t kMinSize = 22;
}  // namespace formula

// RECALCID: record type again, reserved, the calculation engine's build number.
namespace recalcid {
constexpr uint16_t kBuild = 4;
constexpr uint16_t kSize = 8;
}  // namespace recalcid

// Tokens of a formula that stands for a shared, array or table formula.
namespace ptg {
constexpr uint8_t kExp = 0x01;  // shared or array formula: the anchor's row and column follow
constexpr uint8_t kTbl = 0x02;  // data table
constexpr uint16_t kRefRow = 1;
constexpr uint16_t kRefCol = 3;
constexpr uint16_t kExpSize = 5;
}  // namespace ptg

namespace shrfmla {
constexpr uint16_t kRwFirst = 0;
constexpr uint16_t kRwLast = 2;
constexpr uint16_t kColFirst = 4;
constexpr uint16_t kColLast = 5;
constexpr uint16_t kCUse = 7;  // cells using it
constexpr uint16_t kMinSize = 8;
}  // namespace shrfmla

namespace row {
constexpr uint16_t kRow = 0;
constexpr uint16_t kColMic = 2;
constexpr uint16_t kColMac = 4;  // one past the last column
constexpr uint16_t kHeight = 6;
constexpr uint16_t kFlags = 12;
constexpr uint16_t kXf = 14;
constexpr uint16_t kSize = 16;
constexpr uint16_t kHasFormat = 0x0080;    // in kFlags: kXf applies to the row
constexpr uint16_t kFlagsAlways = 0x0100;  // in kFlags: a bit every writer sets
constexpr uint16_t kXfMask = 0x0FFF;       // in kXf
// In kHeight: the row is as high as the sheet's default, not set by hand
// (the published BIFF description; POI, LibreOffice, gnumeric and xlrd
// read it so). The low 15 bits still give a height.
constexpr uint16_t kDefaultHeight = 0x8000;
constexpr uint16_t kHeightStandard = 0x00FF;  // 12.75 pt, Excel's for a 10-point font
}  // namespace row

namespace dimensions {
constexpr uint16_t kRwMic = 0;
constexpr uint16_t kRwMac = 4;
constexpr uint16_t kColMic = 8;
constexpr uint16_t kColMac = 10;
constexpr uint16_t kSize = 14;
}  // namespace dimensions

namespace colinfo {
constexpr uint16_t kFirst = 0;
constexpr uint16_t kLast = 2;
constexpr uint16_t kXf = 6;
constexpr uint16_t kMinSize = 8;
}  // namespace colinfo

namespace defaultrowheight {
constexpr uint16_t kHeight = 2;
constexpr uint16_t kMinSize = 4;
}  // namespace defaultrowheight

namespace index {
constexpr uint16_t kRwMic = 4;
constexpr uint16_t kRwMac = 8;
constexpr uint16_t kDefColWidth = 12;  // stream position of DEFCOLWIDTH
constexpr uint16_t kDbCells = 16;      // stream positions of the DBCELLs
constexpr uint16_t kMinSize = 16;
}  // namespace index

namespace dbcell {
constexpr uint16_t kFirstRow = 0;      // distance back to the block's first ROW
constexpr uint16_t kCellOffsets = 4;   // per row: distance to its first cell
}  // namespace dbcell

namespace sst {
constexpr uint16_t kTotal = 0;
constexpr uint16_t kUnique = 4;
constexpr uint16_t kStrings = 8;
}  // namespace sst

// A string of the string table: character count, flags, [runs], [phonetic size], characters, ...
namespace xlstring {
constexpr uint16_t kHeader = 3;  // character count, flags
constexpr uint8_t kHighByte = 0x01;  // in the flags: 16-bit characters; repeated at a CONTINUE inside them
constexpr uint8_t kPhonetic = 0x04;  // a 4-byte size of phonetic data follows
constexpr uint8_t kRichText = 0x08;  // a 2-byte count of formatting runs follows
constexpr uint16_t kRunSize = 4;
}  // namespace xlstring

namespace extsst {
constexpr uint16_t kDsst = 0;
constexpr uint16_t kBuckets = 2;
constexpr uint16_t kBucketSize = 8;  // stream position of the string, its offset in its record, reserved
}  // namespace extsst

namespace protect {
constexpr uint16_t kLock = 0;  // nonzero: the sheet is protected
constexpr uint16_t kSize = 2;
}  // namespace protect

namespace xf {
constexpr uint16_t kType = 4;  // fLocked, fHidden, fStyle, f123Prefix, ixfParent
constexpr uint16_t kUsed = 9;  // fAtrNum .. fAtrProt: the attributes a cell XF sets itself
constexpr uint16_t kSize = 20;
constexpr uint16_t kLockedHidden = 0x0003;  // in kType
constexpr uint16_t kLocked = 0x0001;        // in kType: not to be changed while its sheet is protected
constexpr uint16_t kStyle = 0x0004;         // in kType
constexpr uint16_t kParentShift = 4;        // in kType
constexpr uint8_t kUsedMask = 0xFC;         // in kUsed
constexpr uint16_t kDefaultCell = 15;       // the first cell XF of a workbook Excel writes
}  // namespace xf

namespace style {
constexpr uint16_t kIxfe = 0;  // the style's XF, with kBuiltIn
constexpr uint16_t kBuiltInId = 2;
constexpr uint16_t kMinSize = 3;
constexpr uint16_t kBuiltIn = 0x8000;
constexpr uint16_t kXfMask = 0x0FFF;
constexpr uint8_t kNormal = 0;  // the style named "Standard" in a German Excel
}  // namespace style

}  // namespace skov::xls
