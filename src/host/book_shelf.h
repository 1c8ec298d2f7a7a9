// The book of the last closed workbook, emptied, for the next bind of the same template.
#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "host/template_cache.h"
#include "xls/book.h"

namespace skov {

// A folder run fills one template hundreds of times; each fill then reuses
// the storage the one before grew. Thread-safe.
class BookShelf {
 public:
  xls::Book Take(const std::shared_ptr<const ParsedFile>& of) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (book_ && file_ == of) {
      xls::Book taken = std::move(*book_);
      book_.reset();
      return taken;
    }
    return xls::Book(of->book);
  }
  void Put(const std::shared_ptr<const ParsedFile>& of, xls::Book&& done) {
    done.Reset();
    std::lock_guard<std::mutex> lock(mutex_);
    file_ = of;
    book_.emplace(std::move(done));
  }

 private:
  std::mutex mutex_;
  std::shared_ptr<const ParsedFile> file_;
  std::optional<xls::Book> book_;
};

}  // namespace skov
