// FrmImport: layout, start values and the handlers that feed the import state.
#include "ui/frm_import.h"

#include <QApplication>
#include <QCheckBox>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <cmath>

#include "ui/frm_import_design.h"

namespace skov {

namespace {

using design::Px;

QColor Colour(design::Rgb c) { return QColor(c.r, c.g, c.b); }
const QColor kBlue = Colour(design::kBlue);
const QColor kDarkBlue = Colour(design::kDarkBlue);

QString Q(const char16_t* text) { return QString::fromUtf16(text); }

// The design is in points; the window is drawn at 96 dpi.
void Place(QWidget* w, int frameInset, const design::Control& control) {
  const design::Rect& r = control.place;
  w->setGeometry(frameInset + Px(r.left), frameInset + Px(r.top), Px(r.width), Px(r.height));
}

// Tahoma and Terminal are Windows fonts; when absent the nearest Debian
// fonts stand in (DejaVu Sans Condensed keeps Tahoma's narrow labels inside
// their boxes).
QFont SansFont(double points) {
  QFont f;
  f.setFamilies({Q(design::kSansFont), QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")});
  f.setStyleHint(QFont::SansSerif);
  f.setPixelSize(Px(points));
  f.setBold(true);
  return f;
}

QFont FixedFont(double points) {
  QFont f;
  f.setFamilies({Q(design::kFixedFont), QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Monospace")});
  f.setStyleHint(QFont::TypeWriter);
  f.setFixedPitch(true);
  f.setPixelSize(Px(points));
  f.setBold(true);
  return f;
}

// Labels and check boxes: white on the window's blue.
void WhiteOnBlue(QWidget* w) {
  QPalette p = w->palette();
  p.setColor(QPalette::Window, kBlue);
  p.setColor(QPalette::WindowText, Qt::white);
  w->setPalette(p);
}

QPushButton* Button(QWidget* parent, const design::Control& control) {
  auto* b = new QPushButton(Q(control.text), parent);
  b->setObjectName(QString::fromLatin1(control.name));
  b->setAutoDefault(false);
  b->setDefault(false);
  b->setFocusPolicy(Qt::StrongFocus);
  b->setFont(SansFont(design::kButtonFontPoints));
  QPalette p = b->palette();
  p.setColor(QPalette::Button, Qt::white);
  p.setColor(QPalette::ButtonText, kBlue);
  b->setPalette(p);
  return b;
}

QLabel* Label(QWidget* parent, const design::Control& control) {
  auto* l = new QLabel(Q(control.text), parent);
  l->setObjectName(QString::fromLatin1(control.name));
  l->setTextFormat(Qt::PlainText);  // a path is never markup
  l->setFocusPolicy(Qt::NoFocus);
  l->setFont(SansFont(design::kLabelFontPoints));
  WhiteOnBlue(l);
  return l;
}

QCheckBox* CheckBox(QWidget* parent, const design::Control& control) {
  auto* c = new QCheckBox(parent);
  c->setObjectName(QString::fromLatin1(control.name));
  c->setChecked(true);
  c->setFocusPolicy(Qt::StrongFocus);
  WhiteOnBlue(c);
  return c;
}

}  // namespace

QString DroppedImportFile(const QMimeData* mime) {
  if (!mime || !mime->hasUrls()) return QString();
  const QList<QUrl> urls = mime->urls();
  if (urls.size() != 1 || !urls.front().isLocalFile()) return QString();
  const QFileInfo file(urls.front().toLocalFile());
  return file.isFile() ? file.absoluteFilePath() : QString();
}

FrmImport::FrmImport(ImportContext& ctx, PlatformFileDialog& dialog, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      ctx_(ctx),
      dialog_(dialog),
      programEnd_([] { QCoreApplication::exit(0); }) {
  setObjectName(QStringLiteral("FrmImport"));
  setWindowTitle(Q(design::kCaption));
  setFixedSize(Px(design::kClientWidth), Px(design::kClientHeight));
  QPalette blue = palette();
  blue.setColor(QPalette::Window, kBlue);
  setPalette(blue);
  setAutoFillBackground(true);
  setAcceptDrops(true);

  fraImport_ = new QFrame(this);
  fraImport_->setObjectName(QStringLiteral("fraImport"));
  fraImport_->setFrameStyle(QFrame::Box | QFrame::Sunken);  // etched
  QPalette framePalette = blue;
  framePalette.setColor(QPalette::Light, QColor(255, 255, 255));
  framePalette.setColor(QPalette::Dark, QColor(128, 128, 128));
  fraImport_->setPalette(framePalette);
  fraImport_->setAutoFillBackground(true);
  const design::Rect& frame = design::kFrame;
  fraImport_->setGeometry(Px(frame.left), Px(frame.top), Px(frame.width), Px(frame.height));
  const int in = fraImport_->frameWidth();

  // Created in tab-index order, so the focus chain needs no reordering.
  cmdImportPfad_ = Button(fraImport_, design::kCmdImportPfad);
  Place(cmdImportPfad_, in, design::kCmdImportPfad);
  txtTrennzeichen_ = new QLineEdit(Q(design::kTxtTrennzeichen.text), fraImport_);
  txtTrennzeichen_->setObjectName(QString::fromLatin1(design::kTxtTrennzeichen.name));
  txtTrennzeichen_->setMaxLength(design::kSeparatorMaxLength);
  txtTrennzeichen_->setFont(FixedFont(design::kTextBoxFontPoints));
  QPalette edit = txtTrennzeichen_->palette();
  edit.setColor(QPalette::Base, Qt::white);
  edit.setColor(QPalette::Text, kDarkBlue);
  txtTrennzeichen_->setPalette(edit);
  Place(txtTrennzeichen_, in, design::kTxtTrennzeichen);
  chkAnfzeichen_ = CheckBox(fraImport_, design::kChkAnfzeichen);
  Place(chkAnfzeichen_, in, design::kChkAnfzeichen);
  cmdImportieren_ = Button(fraImport_, design::kCmdImportieren);
  Place(cmdImportieren_, in, design::kCmdImportieren);
  cmdBeenden_ = Button(fraImport_, design::kCmdBeenden);
  Place(cmdBeenden_, in, design::kCmdBeenden);
  lblTrennzeichen_ = Label(fraImport_, design::kLblTrennzeichen);
  Place(lblTrennzeichen_, in, design::kLblTrennzeichen);
  lblImportPfad_ = Label(fraImport_, design::kLblImportPfad);
  Place(lblImportPfad_, in, design::kLblImportPfad);
  lblanfzeichen_ = Label(fraImport_, design::kLblAnfzeichen);
  Place(lblanfzeichen_, in, design::kLblAnfzeichen);
  chkVerzImport_ = CheckBox(fraImport_, design::kChkVerzImport);
  Place(chkVerzImport_, in, design::kChkVerzImport);
  lblVerzImportieren_ = Label(fraImport_, design::kLblVerzImportieren);
  Place(lblVerzImportieren_, in, design::kLblVerzImportieren);

  setTabOrder(cmdImportPfad_, txtTrennzeichen_);
  setTabOrder(txtTrennzeichen_, chkAnfzeichen_);
  setTabOrder(chkAnfzeichen_, cmdImportieren_);
  setTabOrder(cmdImportieren_, cmdBeenden_);
  setTabOrder(cmdBeenden_, chkVerzImport_);

  UserForm_Initialize();

  // Connected after the start values, so only the user's changes reach them.
  connect(txtTrennzeichen_, &QLineEdit::textChanged, this, [this] { txtTrennzeichen_Change(); });
  connect(chkAnfzeichen_, &QCheckBox::toggled, this, [this] { chkAnfzeichen_Change(); });
  connect(chkVerzImport_, &QCheckBox::toggled, this, [this] { chkVerzImport_Change(); });
  connect(cmdImportPfad_, &QPushButton::clicked, this, [this] { cmdImportPfad_Click(); });
  connect(cmdImportieren_, &QPushButton::clicked, this, [this] { cmdImportieren_Click(); });
  connect(cmdBeenden_, &QPushButton::clicked, this, [this] { cmdBeenden_Click(); });

  cmdImportPfad_->setFocus(Qt::OtherFocusReason);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

void FrmImport::UserForm_Initialize() {
  ctx_.state.MitAnfuehrungszeichen = chkAnfzeichen_->isChecked();
  ctx_.state.Trennzeichen = txtTrennzeichen_->text().toStdU16String();
  ctx_.state.VerzeichnisImport = chkVerzImport_->isChecked();
}

void FrmImport::txtTrennzeichen_Change() { ctx_.state.Trennzeichen = txtTrennzeichen_->text().toStdU16String(); }

void FrmImport::chkAnfzeichen_Change() { ctx_.state.MitAnfuehrungszeichen = chkAnfzeichen_->isChecked(); }

void FrmImport::chkVerzImport_Change() { ctx_.state.VerzeichnisImport = chkVerzImport_->isChecked(); }

void FrmImport::cmdImportPfad_Click() {
  if (running_) return;
  ImportdateiWaehlen(dialog_);
}

void FrmImport::ImportdateiWaehlen(PlatformFileDialog& platform) {
  skov::ImportdateiWaehlen(ctx_.state, platform);
  lblImportPfad_->setText(QString::fromStdU16String(ctx_.state.Importdatei));
}

void FrmImport::dragEnterEvent(QDragEnterEvent* event) {
  if (!running_ && !DroppedImportFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void FrmImport::dragMoveEvent(QDragMoveEvent* event) {
  if (!running_ && !DroppedImportFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void FrmImport::dropEvent(QDropEvent* event) {
  const QString path = DroppedImportFile(event->mimeData());
  if (running_ || path.isEmpty()) return;
  event->acceptProposedAction();
  DroppedFile dropped(dialog_, path.toStdU16String());
  ImportdateiWaehlen(dropped);
}

void FrmImport::cmdImportieren_Click() {
  // The run's own message boxes spin the event loop; a second press there
  // must not start a second run.
  if (running_) return;
  running_ = true;
  if (!Importieren(ctx_)) {
    running_ = false;
    return;
  }
  EndProgram();
}

void FrmImport::cmdBeenden_Click() {
  if (running_) return;
  EndProgram();
}

void FrmImport::EndProgram() {
  setEnabled(false);  // nothing of the window runs after this
  close();
  if (programEnd_) programEnd_();
}

}  // namespace skov
