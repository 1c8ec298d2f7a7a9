// An in-memory spreadsheet host that records every call, for the engine tests.
#pragma once

#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "host/platform.h"
#include "host/spreadsheet_host.h"
#include "strings/runtime_error.h"

namespace skov::testing {

using CellKey = std::tuple<int, int, int>;  // sheet, row, column
using Cells = std::map<CellKey, Text>;

struct HostScript {
  int worksheets = 5;      // worksheets the template has
  int bindError = 0;       // raise this on BindToFile (0: bind when the file exists)
  int saveError = 0;       // raise this on SaveAs
  int cellError = 0;       // raise this on every WriteCell
  bool deferSaves = false;  // saves begun, finished later (BeginSaveAs)
  bool readablePending = false;  // a begun save's bytes readable beside its target until Finish
  std::string failingSave = {};  // the save of the output path ending so fails with 1004, at SaveAs or Finish
  Text saveNote = {};            // what SaveNote tells after each save
};

struct HostLog {
  std::vector<std::string> calls;         // "bind <path>", "activate-sheet 2", ...
  std::map<Text, Cells> saved;             // output path -> cells at save time
  int closedUnsaved = 0;
};

class RecordingWorkbook : public Workbook {
 public:
  RecordingWorkbook(HostLog& log, const HostScript& script) : log_(log), script_(script) {}
  void Activate() override { log_.calls.push_back("activate"); }
  void ShowWindow(int n) override { log_.calls.push_back("show-window " + std::to_string(n)); }
  void ActivateSheet(int n) override {
    Check(n);
    log_.calls.push_back("activate-sheet " + std::to_string(n));
  }
  void ShowSheet(int n) override {
    Check(n);
    log_.calls.push_back("show-sheet " + std::to_string(n));
  }
  void WriteCell(int sheet, int row, int column, TextView value) override {
    Check(sheet);
    if (script_.cellError) Raise(script_.cellError);
    cells_[{sheet, row, column}] = Text(value);
  }
  void SaveAs(const Text& path) override {
    log_.calls.push_back("save " + ToUtf8(path));
    if (script_.saveError) Raise(script_.saveError);
    Write(log_, script_, path, cells_);
  }
  std::unique_ptr<PendingSave> BeginSaveAs(const Text& path) override {
    if (!script_.deferSaves) return Workbook::BeginSaveAs(path);
    log_.calls.push_back("begin save " + ToUtf8(path));
    if (script_.saveError) Raise(script_.saveError);
    return std::make_unique<Pending>(log_, script_, path, cells_);
  }
  Text SaveNote() const override { return script_.saveNote; }
  void Close(bool save) override {
    log_.calls.push_back(save ? "close save" : "close");
    closed_ = true;
  }
  ~RecordingWorkbook() override {
    if (!closed_) ++log_.closedUnsaved;
  }

 private:
  static void Write(HostLog& log, const HostScript& script, const Text& path, const Cells& cells) {
    const std::string p = ToUtf8(path);
    if (!script.failingSave.empty() && p.ends_with(script.failingSave))
      Raise(1004, "save failed", u"Kein Speicherplatz mehr (Datentraeger voll oder Dateigroesse begrenzt).");
    std::ofstream out(p, std::ios::binary);
    if (!out) Raise(1004, "cannot write");
    out << "workbook";
    log.saved[path] = cells;
  }
  struct Pending : PendingSave {
    Pending(HostLog& log, const HostScript& script, Text path, Cells cells)
        : log(log), script(script), path(std::move(path)), cells(std::move(cells)) {
      if (script.readablePending) std::ofstream(ToUtf8(this->path) + ".pending", std::ios::binary) << "workbook";
    }
    ~Pending() override {
      if (script.readablePending) std::remove((ToUtf8(path) + ".pending").c_str());
    }
    Text ReadableAs() const override { return script.readablePending ? path + u".pending" : Text(); }
    void Flush() override {
      // A batch's saves are flushed side by side.
      static std::mutex flushing;
      std::lock_guard<std::mutex> lock(flushing);
      log.calls.push_back("flush " + ToUtf8(path));
    }
    void Finish() override {
      log.calls.push_back("finish " + ToUtf8(path));
      Write(log, script, path, cells);
    }
    HostLog& log;
    const HostScript& script;
    Text path;
    Cells cells;
  };
  void Check(int sheet) const {
    if (sheet < 1 || sheet > script_.worksheets) Raise(9, "no such worksheet");
  }
  HostLog& log_;
  const HostScript& script_;
  Cells cells_;
  bool closed_ = false;
};

class RecordingHost : public SpreadsheetHost {
 public:
  explicit RecordingHost(Text folder) : folder_(std::move(folder)) {}
  Text DefaultFilePath() override { return folder_; }
  std::unique_ptr<Workbook> BindToFile(const Text& path) override {
    log.calls.push_back("bind " + ToUtf8(path));
    if (script.bindError) Raise(script.bindError);
    if (!std::ifstream(ToUtf8(path))) Raise(432, "no such file");
    return std::make_unique<RecordingWorkbook>(log, script);
  }
  HostScript script;
  HostLog log;

 private:
  Text folder_;
};

class RecordingMessages : public MessageService {
 public:
  void Show(const Text& prompt, const Text& title) override { shown.push_back({prompt, title}); }
  std::vector<std::pair<Text, Text>> shown;
};

class RecordingPointer : public BusyPointer {
 public:
  void Set(MousePointer p) override { states.push_back(p); }
  std::vector<MousePointer> states;
};

}  // namespace skov::testing
