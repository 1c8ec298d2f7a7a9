// FrmImport's handlers apart from their toolkit: the dialog call and the run.
#include "ui/frm_import_actions.h"

#include "import/import.h"
#include "import/run_summary.h"
#include "strings/runtime_error.h"
#include "ui/frm_import_design.h"

namespace skov {

const Text kImportFilter = Text(u"All files (*.*)") + u'\0' + u"*.*" + u'\0' + u'\0';

namespace {

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

void ImportdateiWaehlen(ImportState& state, PlatformFileDialog& platform) {
  int32_t flags = kOfnFileMustExist | kOfnPathMustExist | kOfnHideReadOnly;
  state.Importdatei = ShowFileDialog(Text(), kImportFilter, 1, Text(), Text(), u"Importdatei", kActiveWindow, true,
                                     flags, state.LetzterDialog, platform);
}

bool Importieren(ImportContext& ctx) {
  if (ctx.state.Importdatei.empty()) {
    ctx.messages.Show(design::kNoImportFile, design::kMessageTitle);
    return false;
  }
  ClosingWithSummary closing(ctx.messages, ctx.state);
  ImportContext run{ctx.state, ctx.host, closing, ctx.pointer, ctx.files, ctx.progress, {}, {}};
  closing.Follow(run.summary);
  try {
    ImportStarten(run);
    ctx.summary = run.summary;
  } catch (const RuntimeError& e) {
    ctx.pointer.Set(MousePointer::Default);
    const std::string digits = std::to_string(e.Number());
    ctx.messages.Show(u"Laufzeitfehler " + Text(digits.begin(), digits.end()) + u": " + ErrorDescription(e.Number()),
                      design::kMessageTitle);
  } catch (...) {
    ctx.pointer.Set(MousePointer::Default);
    ctx.messages.Show(u"Unerwarteter Fehler beim Import.", design::kMessageTitle);
  }
  return true;
}

}  // namespace skov
