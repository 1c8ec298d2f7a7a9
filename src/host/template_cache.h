// The template read and parsed once, shared by every bind until it changes on disk.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "os/os.h"
#include "xls/cfb.h"
#include "xls/workbook_stream.h"

namespace skov {

// A workbook file as read: its container, its parsed workbook stream, and
// what tells the file and its place.
struct ParsedFile {
  Text path;
  os::FileInfo info;               // identity, size and time when read
  Text name;                       // the file's name, and its folder's identity
  os::FileId folder;
  std::vector<uint8_t> fileBytes;  // the container as read, written back when nothing changed
  xls::CompoundFile container;     // with the Workbook stream's data moved into `book`
  size_t workbookChild = 0;
  std::shared_ptr<const xls::Template> book;
};

// The last file bound, kept while it is unchanged. Thread-safe.
class TemplateCache {
 public:
  // The parsed file at `path`, read again when it changed. Raises 1004 when
  // it may not be read, 432 with a reason when it is no workbook.
  std::shared_ptr<const ParsedFile> Bind(const Text& path);

 private:
  std::mutex mutex_;
  std::shared_ptr<const ParsedFile> last_;
};

}  // namespace skov
