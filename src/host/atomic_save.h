// The safe save: an output replaced only by a complete file on disk, and the
// batch that brings saves to the disk together.
//
// Design note
// ===========
// One save (AtomicSave) goes through these states:
//
//   kWritten    the bytes are in a file of ours beside the target: named
//               with this program's mark, locked by this process
//               (os::WriteReplacement)
//   kFlushed    that file's data is on the disk (os::FlushReplacement)
//   kCommitted  it carries the target's name (os::CommitReplacement); the
//               rename is durable once SaveFolders::FlushAll flushed its folder
//   kDropped    it is gone and the target unchanged (os::DropReplacement)
//
//   kWritten -> kFlushed -> kCommitted
//   kWritten -> kDropped, kFlushed -> kDropped  (a flush or rename failed, or
//                                                the save was let go unfinished)
//
// kCommitted and kDropped are final. A save that cannot be written never
// exists: its constructor throws and leaves no file.
//
// Invariants (asserted where marked; the tests named check them):
//  1. An existing output is replaced only by a complete file that is on the
//     disk: the commit is reached only from kFlushed, and the folder is
//     flushed before a save is told final.  [assert; XlsHost.
//     BegunSavesReplaceOnlyWhenFinished, SaveBatch.FinalOnlyOnceInPlaceAndInOrder]
//  2. No name of ours is left after a crash that a later save cannot prove
//     was ours: a file is named with our mark only once it is locked (and,
//     where the file system allows, filled), and the first save into a
//     folder removes a file of that name only when nobody holds its lock
//     and it is empty or a compound file. A file of another shape is never
//     removed.  [XlsHost.SavesLeaveNoTemporaryFilesAndRemoveOnlyTheirOwn]
//  3. The log order stays as if every save were done at once: the batch
//     tells each save's end in the order the saves were added, each
//     followed at once by the bytes held behind it.  [SaveBatch.
//     FinalOnlyOnceInPlaceAndInOrder, SavesInBatches.
//     LogAndSummaryAsIfEachSaveWereDoneAtOnce]
//  4. Each save is told its end exactly once.  [assert; SaveBatch.
//     FinalOnlyOnceInPlaceAndInOrder]
//  5. An output of this run is not replaced by a later save of the run
//     under another name of the same file (a case-blind folder, a link to
//     its folder): before a commit, the entry the rename would replace is
//     compared with the outputs committed so far.  [SaveBatch.
//     SecondNameOfAnOutputIsRefused]
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/spreadsheet_host.h"
#include "os/os.h"

namespace skov {

// The folders one host's saves go into. Thread-safe.
class SaveFolders {
 public:
  // Before the first save into `folder`: removes what crashed saves left
  // there (files of our mark that start with `signature` or are empty).
  void Prepare(const os::Path& folder, std::span<const uint8_t> signature);
  void Renamed(const os::Path& folder);
  // Flushes every folder renamed into since the last call.
  void FlushAll();

 private:
  std::mutex mutex_;
  std::set<os::Path> prepared_, unflushed_;
};

// One save of `bytes` in place of `target`; see the design note.
class AtomicSave : public PendingSave {
 public:
  // Written beside the target now; throws RuntimeError 1004 (a full disk
  // with its reason) when it cannot be, leaving nothing behind.
  AtomicSave(std::shared_ptr<SaveFolders> folders, const Text& target, os::Pieces bytes,
             std::span<const uint8_t> signature);
  ~AtomicSave() override;
  void Flush() override;
  void Finish() override;
  Text ReadableAs() const override;
  os::FileId Identity() const override { return id_; }

 private:
  enum class State { kWritten, kFlushed, kCommitted, kDropped };
  void Drop() noexcept;

  std::shared_ptr<SaveFolders> folders_;
  os::Replacement replacement_;
  os::FileId id_;
  State state_ = State::kWritten;
};

// A failure of the system's save primitives as the runtime error a save
// raises: 1004, with the disk-full reason where it is one, and for a
// `target` that another program holds open, that reason.
[[noreturn]] void RaiseSaveFailure(const os::Failure& failure, const Text& target = {});

// How a save of a batch ended.
struct SaveEnd {
  std::exception_ptr error;      // null: in place and durable
  std::optional<size_t> sameAs;  // refused: its target is the output of the save with this tag
};

// Saves begun one after another and made final together: flushed side by
// side (they share the journal commit, and the disk merges their cache
// flushes), renamed in order, their folders flushed once.
class SaveBatch {
 public:
  // Told once the save is final, with the bytes held behind it meanwhile.
  using Final = std::function<void(const SaveEnd& end, std::string_view following)>;
  static constexpr size_t kMaxPending = 8;  // two journal commits a batch instead of two a file

  SaveBatch();
  ~SaveBatch();
  SaveBatch(const SaveBatch&) = delete;
  SaveBatch& operator=(const SaveBatch&) = delete;

  // A begun save; `tag` names it to later saves (invariant 5).
  void Add(std::unique_ptr<PendingSave> save, const Text& target, size_t tag, Final final);
  bool Empty() const { return pending_.empty(); }
  bool Full() const { return pending_.size() >= kMaxPending; }
  // The begun save to `target` (spelled the same), null when none.
  const PendingSave* Find(const Text& target) const;
  // Where bytes go that must follow the last begun save; null when none is
  // begun.
  std::string* Following();
  // The tag of a committed save whose output `target` names now, if any.
  std::optional<size_t> WrittenAs(const Text& target) const;
  // Every begun save made final, then each told in order (invariant 3).
  void Finish(SpreadsheetHost& host);
  // A new run: no save of an earlier one counts.
  void Reset();

 private:
  struct Pending {
    std::unique_ptr<PendingSave> save;
    Text target;
    size_t tag = 0;
    Final final;
    std::string following;
  };
  std::vector<Pending> pending_;  // in the order begun
  std::unordered_multimap<uint64_t, std::pair<os::FileId, size_t>> committed_;  // by file index: id, tag
};

}  // namespace skov
