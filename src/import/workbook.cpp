// The template workbook bound from the default folder, and the filled one
// saved next to the import file.
#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

#include "import/handler.h"

namespace skov {
namespace {

// Threads that flush a batch of saves side by side, kept for the process:
// starting a thread per save cost a folder run more than its flushes.
// The caller takes tasks too, so a batch also finishes without any worker.
class Flusher {
 public:
  static Flusher& Instance() {
    static Flusher flusher;
    return flusher;
  }
  ~Flusher() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    work_.notify_all();
    for (std::thread& t : workers_) t.join();
  }

  // Runs every task, at most workers + 1 at once; returns when all are done.
  // Tasks must not throw.
  void RunAll(std::vector<std::function<void()>>& tasks) {
    std::lock_guard<std::mutex> oneBatch(batch_);
    std::unique_lock<std::mutex> lock(mutex_);
    while (workers_.size() + 1 < tasks.size()) {
      try {
        workers_.emplace_back([this] { Work(); });
      } catch (const std::system_error&) {
        break;  // no thread to spare: fewer at once
      }
    }
    tasks_ = &tasks;
    next_ = 0;
    finished_ = 0;
    work_.notify_all();
    while (next_ < tasks.size()) RunNext(lock);
    done_.wait(lock, [&] { return finished_ == tasks.size(); });
    tasks_ = nullptr;
  }

 private:
  Flusher() = default;

  void RunNext(std::unique_lock<std::mutex>& lock) {
    std::function<void()>& task = (*tasks_)[next_++];
    lock.unlock();
    task();
    lock.lock();
    if (++finished_ == tasks_->size()) done_.notify_all();
  }

  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      work_.wait(lock, [&] { return stop_ || (tasks_ && next_ < tasks_->size()); });
      if (stop_) return;
      RunNext(lock);
    }
  }

  std::mutex batch_;  // one batch at a time
  std::mutex mutex_;
  std::condition_variable work_, done_;
  std::vector<std::thread> workers_;
  std::vector<std::function<void()>>* tasks_ = nullptr;
  size_t next_ = 0, finished_ = 0;
  bool stop_ = false;
};

}  // namespace

void MappeVerwerfen(ImportContext& ctx) {
  if (!ctx.state.Mappe) return;
  try {
    ctx.state.Mappe->Close(false);
  } catch (...) {
    // Discarding an unsaved workbook cannot fail in a way that matters.
  }
  ctx.state.Mappe.reset();
}

bool VorlageOeffnen(ImportContext& ctx) {
  ImportState& s = ctx.state;
  return WithHandler(
      [&] {
        s.StandardPfad = ctx.host.DefaultFilePath();
        const Text path = s.StandardPfad + u"/" + u"SKOV_IMPORT.XLS";
        MappeVerwerfen(ctx);  // one left by an earlier failed pass
        s.Mappe = ctx.host.BindToFile(path);
        s.Mappe->Activate();
        s.Mappe->ShowWindow(1);
        s.Mappe->ActivateSheet(1);
        s.Mappe->ShowSheet(1);
        return true;
      },
      [&](int number, const Text& reason) {
        Protokoll(ctx, u"SKOV_IMPORT.XLS :",
                  number == kHostRefused ? u"Kein Zugriff auf diese Datei moeglich."
                                         : u"Exceldatei kann nicht zugewiesen werden.");
        GrundMelden(ctx, reason);
        return false;
      });
}

// The file the output was first saved from in this run, empty when none.
Text SchonGeschriebenAus(const ImportContext& ctx, const Text& ausgabe) {
  const ImportState& s = ctx.state;
  for (const PassRecord& pass : ctx.summary.passes)
    if (pass.saved && pass.output == ausgabe) return s.VerzeichnisImport ? s.Importverzeichnis + pass.file : pass.file;
  return {};
}

namespace {

// The log line of a failed save, with the output and drawing name the save
// was made under.
void SpeichernGescheitert(ImportContext& ctx, int number, const Text& ausgabedatei, const Text& zeichnungsname) {
  if (number == kHostRefused)
    Protokoll(ctx, ausgabedatei + u" :", u"Kein Zugriff auf diese Datei moeglich.");
  else
    Protokoll(ctx, zeichnungsname + u".XLS :", u"Exceldatei kann nicht geschrieben werden.");
}

}  // namespace

bool SpeicherungOffen(const ImportContext& ctx, const Text& path) {
  return std::any_of(ctx.offen.begin(), ctx.offen.end(),
                     [&](const OffeneSpeicherung& o) { return o.ausgabedatei == path; });
}

void SpeicherungenAbschliessen(ImportContext& ctx) {
  if (ctx.offen.empty()) return;
  std::vector<OffeneSpeicherung> offen = std::move(ctx.offen);
  ctx.offen.clear();
  std::vector<std::exception_ptr> fehler(offen.size());
  // All on disk before any is renamed, flushed side by side: they share the
  // journal commit, and the disk merges their cache flushes.
  std::vector<std::function<void()>> flushes;
  for (size_t i = 0; i < offen.size(); ++i) {
    flushes.emplace_back([&, i] {
      try {
        offen[i].save->Flush();
      } catch (...) {
        fehler[i] = std::current_exception();
      }
    });
  }
  Flusher::Instance().RunAll(flushes);
  for (size_t i = 0; i < offen.size(); ++i) {
    if (fehler[i]) continue;
    try {
      offen[i].save->Finish();
    } catch (...) {
      fehler[i] = std::current_exception();
    }
  }
  for (OffeneSpeicherung& o : offen) o.save.reset();
  ctx.host.FlushSavedFolders();
  // Each save's line where it belonged, then what the run logged after it.
  for (size_t i = 0; i < offen.size(); ++i) {
    PassRecord& pass = ctx.summary.passes[offen[i].pass];
    if (!fehler[i]) {
      Protokoll(ctx, u"Neue Excel-Datei:", offen[i].ausgabedatei);
    } else {
      SpeichernGescheitert(ctx, ErrorNumberOf(fehler[i]), offen[i].ausgabedatei, offen[i].zeichnungsname);
      pass.saved = false;
      pass.output.clear();
      pass.reason = ctx.state.Meldung;
      pass.reasonDetail = ctx.state.MeldungDetail;
      GrundMelden(ctx, ErrorReasonOf(fehler[i]), pass);
    }
    if (ctx.state.LogNr != 0 && ctx.files.IsOpen(ctx.state.LogNr) && !offen[i].danach.empty()) {
      try {
        ctx.files.PrintLines(ctx.state.LogNr, offen[i].danach);
      } catch (...) {
        SchreibfehlerMelden(ctx, ctx.state.LogPfad, ErrorNumberOf(std::current_exception()));
      }
    }
  }
}

bool MappeSpeichern(ImportContext& ctx) {
  ImportState& s = ctx.state;
  return WithHandler(
      [&] {
        if (!s.Mappe) Raise(kObjectVariableNotSet, "no workbook");
        s.Mappe->ActivateSheet(1);
        s.Mappe->ShowSheet(1);
        if (s.Importdatei.size() < 4) Raise(kInvalidArgument, "import file name shorter than four characters");
        s.Basisname = s.Importdatei.substr(0, s.Importdatei.size() - 4);
        s.Ausgabedatei = s.VerzeichnisImport ? s.Importverzeichnis + s.Basisname + u".XLS" : s.Basisname + u".XLS";
        // Cutting four characters off a short name can reach into the folder
        // part: only a named file in the import file's own folder is written.
        const TextView ordner(s.Importverzeichnis);
        const TextView name = TextView(s.Ausgabedatei).substr(std::min(ordner.size(), s.Ausgabedatei.size()));
        if (!TextView(s.Ausgabedatei).starts_with(ordner) || name.find(u'/') != TextView::npos)
          Raise(kHostRefused, "output outside the import folder",
                u"Die Ausgabedatei laege nicht im Ordner der Importdatei:" + s.Importverzeichnis);
        if (name == u".XLS")
          Raise(kHostRefused, "output without a name", u"Die Ausgabedatei haette keinen Namen vor .XLS.");
        // Whether an earlier save of this output succeeded decides the next check.
        if (SpeicherungOffen(ctx, s.Ausgabedatei)) SpeicherungenAbschliessen(ctx);
        // PLAN.TXT and PLAN.CSV both give PLAN.XLS: the later one would replace the earlier.
        if (const Text erste = SchonGeschriebenAus(ctx, s.Ausgabedatei); !erste.empty())
          Raise(kHostRefused, "output already written in this run", u"In diesem Lauf schon geschrieben aus:" + erste);
        // An import file whose name ends in .XLS would be replaced by its own
        // workbook; the file is open for reading, so saving over it is refused.
        if (ctx.files.HoldsOpen(s.Ausgabedatei))
          Raise(kHostRefused, "output is the open import file", u"Die Ausgabedatei waere die Importdatei selbst.");
        std::unique_ptr<PendingSave> save = s.Mappe->BeginSaveAs(s.Ausgabedatei);
        if (!ctx.summary.passes.empty()) ctx.summary.passes.back().output = s.Ausgabedatei;
        if (save && !ctx.summary.passes.empty()) {
          // Logged once it is on disk; the pass counts as saved until then.
          ctx.offen.push_back({std::move(save), ctx.summary.passes.size() - 1, s.Ausgabedatei, s.Zeichnungsname, {}});
        } else {
          if (save) {
            save->Finish();
            ctx.host.FlushSavedFolders();
          }
          Protokoll(ctx, u"Neue Excel-Datei:", s.Ausgabedatei);
        }
        s.Mappe->Close(false);
        s.Mappe.reset();
        return true;
      },
      [&](int number, const Text& reason) {
        SpeichernGescheitert(ctx, number, s.Ausgabedatei, s.Zeichnungsname);
        GrundMelden(ctx, reason);
        return false;
      });
}

}  // namespace skov
