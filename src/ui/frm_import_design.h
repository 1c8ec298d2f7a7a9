// FrmImport's design, the same for every toolkit: places in points, texts, colours, fonts.
#pragma once

#include <cmath>
#include <cstdint>

namespace skov::design {

// Points (1/72 inch) as pixels at `dpi`; the design is drawn at 96 dpi.
inline constexpr double kPointsPerInch = 72.0;
inline constexpr int kDesignDpi = 96;
inline int Px(double points, int dpi = kDesignDpi) {
  return static_cast<int>(std::lround(points * dpi / kPointsPerInch));
}

struct Rgb {
  uint8_t r, g, b;
};
inline constexpr Rgb kBlue{0, 0, 255};
inline constexpr Rgb kDarkBlue{0, 0, 64};
inline constexpr Rgb kWhite{255, 255, 255};

struct Rect {
  double left, top, width, height;  // points
};

inline constexpr char16_t kCaption[] = u"SKOV Import";
inline constexpr double kClientWidth = 288.75;  // 385 pixels at 96 dpi
inline constexpr double kClientHeight = 175.5;  // 234 pixels
// The frame fraImport, from the window's inside; every control lies in it.
inline constexpr Rect kFrame{6, 6, 276, 162};

enum class Kind : uint8_t { Button, TextBox, CheckBox, Label };

// The controls in tab-index order, placed from the frame's inside.
// `accelerator` is the letter Alt presses (0: none); it is marked in the
// caption as toolkits mark it, with a '&' before it. Inline, so that a
// control has one address in the whole program (windows look them up by it).
struct Control {
  const char* name;
  Kind kind;
  Rect place;
  const char16_t* text;  // caption or start text; a check box shows none
  char16_t accelerator;
};

inline constexpr Control kCmdImportPfad{"cmdImportPfad", Kind::Button, {18, 12, 72, 24}, u"Import&Pfad", u'P'};
inline constexpr Control kTxtTrennzeichen{"txtTrennzeichen", Kind::TextBox, {156, 78, 24, 18}, u";", 0};
inline constexpr Control kChkAnfzeichen{"chkAnfzeichen", Kind::CheckBox, {162, 98.25, 17.26, 15.76}, u"", 0};
inline constexpr Control kCmdImportieren{"cmdImportieren", Kind::Button, {48, 132, 72, 18}, u"&Importieren",
                                         u'I'};
inline constexpr Control kCmdBeenden{"cmdBeenden", Kind::Button, {156, 132, 72, 18}, u"&Beenden", u'B'};
inline constexpr Control kLblTrennzeichen{"lblTrennzeichen", Kind::Label, {18, 78, 72, 18}, u"Trennzeichen",
                                          0};
inline constexpr Control kLblImportPfad{"lblImportPfad", Kind::Label, {18, 42, 228, 18}, u"", 0};
inline constexpr Control kLblAnfzeichen{"lblanfzeichen", Kind::Label, {18, 102, 132, 18},
                                        u"Mit Anführungszeichen", 0};
inline constexpr Control kChkVerzImport{"chkVerzImport", Kind::CheckBox, {126, 18, 12, 12}, u"", 0};
inline constexpr Control kLblVerzImportieren{"lblVerzImportieren", Kind::Label, {144, 18, 114, 12},
                                      u"Verzeichnis importieren", 0};

inline constexpr const Control* kTabOrder[] = {
    &kCmdImportPfad,   &kTxtTrennzeichen, &kChkAnfzeichen, &kCmdImportieren, &kCmdBeenden,
    &kLblTrennzeichen, &kLblImportPfad,   &kLblAnfzeichen, &kChkVerzImport,  &kLblVerzImportieren};

// The separator box holds one character at most.
inline constexpr int kSeparatorMaxLength = 1;

// Buttons: blue on white; labels and check boxes: white on blue; the
// separator box: dark blue on white. Sans serif bold, the box fixed-pitch.
inline constexpr char16_t kSansFont[] = u"Tahoma";
inline constexpr char16_t kFixedFont[] = u"Terminal";
inline constexpr double kButtonFontPoints = 8.25;
inline constexpr double kLabelFontPoints = 9;
inline constexpr double kTextBoxFontPoints = 9;

// The messages of the window itself.
inline constexpr char16_t kMessageTitle[] = u"SKOV Import DDC";
inline constexpr char16_t kNoImportFile[] = u"Es ist keine Importdatei ausgewählt!";

}  // namespace skov::design
