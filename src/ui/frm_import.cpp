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

#include "import/import.h"
#include "import/run_summary.h"
#include "strings/runtime_error.h"

namespace skov {

const Text kImportFilter = Text(u"All files (*.*)") + u'\0' + u"*.*" + u'\0' + u'\0';

namespace {

const QColor kBlue(0, 0, 255);
const QColor kDarkBlue(0, 0, 64);

// The design is in points; the window is drawn at 96 dpi.
int Px(double points) { return static_cast<int>(std::lround(points * 96.0 / 72.0)); }

void Place(QWidget* w, int frameInset, double left, double top, double width, double height) {
  w->setGeometry(frameInset + Px(left), frameInset + Px(top), Px(width), Px(height));
}

// Tahoma and Terminal are Windows fonts; when absent the nearest Debian
// fonts stand in (DejaVu Sans Condensed keeps Tahoma's narrow labels inside
// their boxes).
QFont SansFont(double points) {
  QFont f;
  f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")});
  f.setStyleHint(QFont::SansSerif);
  f.setPixelSize(Px(points));
  f.setBold(true);
  return f;
}

QFont FixedFont(double points) {
  QFont f;
  f.setFamilies({QStringLiteral("Terminal"), QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Monospace")});
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

QPushButton* Button(QWidget* parent, const char* name, const QString& caption) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setAutoDefault(false);
  b->setDefault(false);
  b->setFocusPolicy(Qt::StrongFocus);
  b->setFont(SansFont(8.25));
  QPalette p = b->palette();
  p.setColor(QPalette::Button, Qt::white);
  p.setColor(QPalette::ButtonText, kBlue);
  b->setPalette(p);
  return b;
}

QLabel* Label(QWidget* parent, const char* name, const QString& caption) {
  auto* l = new QLabel(caption, parent);
  l->setObjectName(QString::fromLatin1(name));
  l->setTextFormat(Qt::PlainText);  // a path is never markup
  l->setFocusPolicy(Qt::NoFocus);
  l->setFont(SansFont(9));
  WhiteOnBlue(l);
  return l;
}

QCheckBox* CheckBox(QWidget* parent, const char* name) {
  auto* c = new QCheckBox(parent);
  c->setObjectName(QString::fromLatin1(name));
  c->setChecked(true);
  c->setFocusPolicy(Qt::StrongFocus);
  WhiteOnBlue(c);
  return c;
}

// The platform dialog's answer for a dropped file: OK with its path, as if
// the user had picked it there; the owner is the one the dialog would get.
class DroppedFile : public PlatformFileDialog {
 public:
  DroppedFile(PlatformFileDialog& dialog, const QString& path) : dialog_(dialog), path_(path) {}
  PlatformDialogAnswer Show(const OpenFileName& record, bool) override {
    return {true, path_.toStdU16String(), record.Flags};
  }
  int32_t ActiveWindow() override { return dialog_.ActiveWindow(); }

 private:
  PlatformFileDialog& dialog_;
  QString path_;
};

// The run's closing message with the summary below "Log-Datei: ...". The
// other messages of a run (a file that could not be written) stay as they are.
class ClosingWithSummary : public MessageService {
 public:
  ClosingWithSummary(MessageService& inner, const ImportState& state) : inner_(inner), state_(state) {}
  void Follow(const RunSummary& summary) { summary_ = &summary; }
  void Show(const Text& prompt, const Text& title) override {
    if (!summary_ || !summary_->logClosed) return inner_.Show(prompt, title);
    Text full = prompt;
    for (const Text& line : SummaryLines(*summary_, state_.VerzeichnisImport)) full += u'\n' + line;
    inner_.Show(full, title);
  }

 private:
  MessageService& inner_;
  const ImportState& state_;
  const RunSummary* summary_ = nullptr;
};

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
  setWindowTitle(QStringLiteral("SKOV Import"));
  setFixedSize(385, 234);
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
  fraImport_->setGeometry(Px(6), Px(6), Px(276), Px(162));
  const int in = fraImport_->frameWidth();

  // Created in tab-index order, so the focus chain needs no reordering.
  cmdImportPfad_ = Button(fraImport_, "cmdImportPfad", QStringLiteral("Import&Pfad"));
  Place(cmdImportPfad_, in, 18, 12, 72, 24);
  txtTrennzeichen_ = new QLineEdit(QStringLiteral(";"), fraImport_);
  txtTrennzeichen_->setObjectName(QStringLiteral("txtTrennzeichen"));
  txtTrennzeichen_->setMaxLength(1);
  txtTrennzeichen_->setFont(FixedFont(9));
  QPalette edit = txtTrennzeichen_->palette();
  edit.setColor(QPalette::Base, Qt::white);
  edit.setColor(QPalette::Text, kDarkBlue);
  txtTrennzeichen_->setPalette(edit);
  Place(txtTrennzeichen_, in, 156, 78, 24, 18);
  chkAnfzeichen_ = CheckBox(fraImport_, "chkAnfzeichen");
  Place(chkAnfzeichen_, in, 162, 98.25, 17.26, 15.76);
  cmdImportieren_ = Button(fraImport_, "cmdImportieren", QStringLiteral("&Importieren"));
  Place(cmdImportieren_, in, 48, 132, 72, 18);
  cmdBeenden_ = Button(fraImport_, "cmdBeenden", QStringLiteral("&Beenden"));
  Place(cmdBeenden_, in, 156, 132, 72, 18);
  lblTrennzeichen_ = Label(fraImport_, "lblTrennzeichen", QStringLiteral("Trennzeichen"));
  Place(lblTrennzeichen_, in, 18, 78, 72, 18);
  lblImportPfad_ = Label(fraImport_, "lblImportPfad", QString());
  Place(lblImportPfad_, in, 18, 42, 228, 18);
  lblanfzeichen_ = Label(fraImport_, "lblanfzeichen", QString::fromUtf16(u"Mit Anführungszeichen"));
  Place(lblanfzeichen_, in, 18, 102, 132, 18);
  chkVerzImport_ = CheckBox(fraImport_, "chkVerzImport");
  Place(chkVerzImport_, in, 126, 18, 12, 12);
  lblVerzImportieren_ = Label(fraImport_, "lblVerzImportieren", QStringLiteral("Verzeichnis importieren"));
  Place(lblVerzImportieren_, in, 144, 18, 114, 12);

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
  int32_t flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  ctx_.state.Importdatei = ShowFileDialog(Text(), kImportFilter, 1, Text(), Text(), u"Importdatei", kActiveWindow, true,
                                          flags, ctx_.state.LetzterDialog, platform);
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
  DroppedFile dropped(dialog_, path);
  ImportdateiWaehlen(dropped);
}

void FrmImport::cmdImportieren_Click() {
  // The run's own message boxes spin the event loop; a second press there
  // must not start a second run.
  if (running_) return;
  if (ctx_.state.Importdatei.empty()) {
    ctx_.messages.Show(u"Es ist keine Importdatei ausgewählt!", u"SKOV Import DDC");
    return;
  }
  running_ = true;
  ClosingWithSummary closing(ctx_.messages, ctx_.state);
  ImportContext run{ctx_.state, ctx_.host, closing, ctx_.pointer, ctx_.files, ctx_.progress, {}, {}};
  closing.Follow(run.summary);
  try {
    ImportStarten(run);
    ctx_.summary = run.summary;
  } catch (const RuntimeError& e) {
    ctx_.pointer.Set(MousePointer::Default);
    const std::string digits = std::to_string(e.Number());
    ctx_.messages.Show(u"Laufzeitfehler " + Text(digits.begin(), digits.end()) + u": " + ErrorDescription(e.Number()),
                       u"SKOV Import DDC");
  } catch (...) {
    ctx_.pointer.Set(MousePointer::Default);
    ctx_.messages.Show(u"Unerwarteter Fehler beim Import.", u"SKOV Import DDC");
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
