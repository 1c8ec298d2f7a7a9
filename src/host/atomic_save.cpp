// The safe save and the batch of saves; the design note is in the header.
#include "host/atomic_save.h"

#include <cassert>
#include <condition_variable>
#include <system_error>
#include <thread>

#include "strings/runtime_error.h"

namespace skov {
namespace {

os::Path FolderOfTarget(const Text& target) {
  const TextView folder = os::FolderOf(target);
  return folder.empty() ? os::Path(u".") : os::Path(folder);
}

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

// ---- SaveFolders ----------------------------------------------------------

void SaveFolders::Prepare(const os::Path& folder, std::span<const uint8_t> signature) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!prepared_.insert(folder).second) return;
  }
  os::RemoveLeftovers(folder, signature);
}

void SaveFolders::Renamed(const os::Path& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  unflushed_.insert(folder);
}

void SaveFolders::FlushAll() {
  std::set<os::Path> folders;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    folders.swap(unflushed_);
  }
  for (const os::Path& folder : folders) os::FlushFolder(folder);
}

// ---- AtomicSave -----------------------------------------------------------

void RaiseSaveFailure(const os::Failure& failure, const Text& target) {
  if (failure.fault() == os::Fault::kNoSpace) Raise(kHostRefused, failure.what(), DiskFullReason());
  // Windows keeps a file that a program (Excel) holds open from being replaced.
  if (failure.fault() == os::Fault::kInUse && !target.empty())
    Raise(kHostRefused, failure.what(), u"Die Ausgabedatei ist in einem anderen Programm geoeffnet: " + target);
  Raise(kHostRefused, failure.what());
}

AtomicSave::AtomicSave(std::shared_ptr<SaveFolders> folders, const Text& target, os::Pieces bytes,
                       std::span<const uint8_t> signature)
    : folders_(std::move(folders)) {
  folders_->Prepare(FolderOfTarget(target), signature);
  try {
    replacement_ = os::WriteReplacement(target, bytes);
    id_ = os::Info(replacement_.file).id;
  } catch (const os::Failure& e) {
    os::DropReplacement(replacement_);
    RaiseSaveFailure(e);
  }
}

AtomicSave::~AtomicSave() { Drop(); }

void AtomicSave::Flush() {
  if (state_ == State::kFlushed) return;
  if (state_ != State::kWritten) Raise(kHostRefused, "save finished already");
  try {
    os::FlushReplacement(replacement_);
  } catch (const os::Failure& e) {
    Drop();
    RaiseSaveFailure(e);
  }
  state_ = State::kFlushed;
}

void AtomicSave::Finish() {
  Flush();
  assert(state_ == State::kFlushed && replacement_.flushed);  // invariant 1
  try {
    os::CommitReplacement(replacement_);
  } catch (const os::Failure& e) {
    Drop();
    RaiseSaveFailure(e, replacement_.target);
  }
  state_ = State::kCommitted;
  folders_->Renamed(FolderOfTarget(replacement_.target));
}

Text AtomicSave::ReadableAs() const { return state_ == State::kCommitted ? Text() : replacement_.temp; }

void AtomicSave::Drop() noexcept {
  if (state_ == State::kCommitted || state_ == State::kDropped) return;
  os::DropReplacement(replacement_);
  state_ = State::kDropped;
}

// ---- SaveBatch ------------------------------------------------------------

SaveBatch::SaveBatch() = default;
SaveBatch::~SaveBatch() = default;

void SaveBatch::Add(std::unique_ptr<PendingSave> save, const Text& target, size_t tag, Final final) {
  pending_.push_back({std::move(save), target, tag, std::move(final), {}});
}

const PendingSave* SaveBatch::Find(const Text& target) const {
  for (const Pending& p : pending_)
    if (p.target == target) return p.save.get();
  return nullptr;
}

std::string* SaveBatch::Following() { return pending_.empty() ? nullptr : &pending_.back().following; }

std::optional<size_t> SaveBatch::WrittenAs(const Text& target) const {
  os::FileInfo entry;
  if (committed_.empty() || !os::StatEntry(target, entry)) return std::nullopt;
  auto [from, to] = committed_.equal_range(entry.id.index);
  for (auto it = from; it != to; ++it)
    if (it->second.first == entry.id) return it->second.second;
  return std::nullopt;
}

void SaveBatch::Finish(SpreadsheetHost& host) {
  if (pending_.empty()) return;
  // Taken out first: what the saves' ends log is written at once, not held.
  std::vector<Pending> batch = std::move(pending_);
  pending_.clear();
  std::vector<SaveEnd> ends(batch.size());
  std::vector<std::function<void()>> flushes;
  for (size_t i = 0; i < batch.size(); ++i) {
    flushes.emplace_back([&, i] {
      try {
        batch[i].save->Flush();
      } catch (...) {
        ends[i].error = std::current_exception();
      }
    });
  }
  // All on disk before any is renamed: one journal commit carries them.
  Flusher::Instance().RunAll(flushes);
  for (size_t i = 0; i < batch.size(); ++i) {
    if (ends[i].error) continue;
    Pending& p = batch[i];
    if (std::optional<size_t> earlier = WrittenAs(p.target)) {  // invariant 5
      ends[i].sameAs = earlier;
      ends[i].error = std::make_exception_ptr(RuntimeError(kHostRefused, "output already written in this run"));
      continue;
    }
    try {
      p.save->Finish();
      if (const os::FileId id = p.save->Identity(); id.Known()) committed_.emplace(id.index, std::make_pair(id, p.tag));
    } catch (...) {
      ends[i].error = std::current_exception();
    }
  }
  for (Pending& p : batch) p.save.reset();  // the refused and failed ones dropped
  host.FlushSavedFolders();
  for (size_t i = 0; i < batch.size(); ++i) {
    Final final = std::move(batch[i].final);
    batch[i].final = nullptr;
    assert(final);  // invariant 4: told once
    final(ends[i], batch[i].following);
  }
}

void SaveBatch::Reset() {
  pending_.clear();
  committed_.clear();
}

}  // namespace skov
