// Writing a file's bytes given as pieces.
#include "host/write_all.h"

#include <sys/uio.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace skov {

int WriteAll(int fd, Pieces pieces) {
  size_t next = 0, done = 0;  // the piece being written, and how much of it is
  for (;;) {
    while (next < pieces.size() && done == pieces[next].size()) {
      ++next;
      done = 0;
    }
    if (next == pieces.size()) return 0;
    std::array<iovec, 64> iov;
    size_t n = 0;
    for (size_t k = next; k < pieces.size() && n < iov.size(); ++k) {
      const size_t from = k == next ? done : 0;
      iov[n++] = {const_cast<uint8_t*>(pieces[k].data() + from), pieces[k].size() - from};
    }
    const ssize_t w = ::writev(fd, iov.data(), static_cast<int>(n));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return w < 0 ? errno : ENOSPC;
    for (auto left = static_cast<size_t>(w); left;) {
      const size_t step = std::min(left, pieces[next].size() - done);
      left -= step;
      done += step;
      if (done == pieces[next].size()) {
        ++next;
        done = 0;
      }
    }
  }
}

}  // namespace skov
