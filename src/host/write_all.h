// Writing a file's bytes given as pieces, with as few system calls as the kernel allows.
#pragma once

#include <cstdint>
#include <span>

namespace skov {

using Pieces = std::span<const std::span<const uint8_t>>;

// Every byte of `pieces` written to `fd` in order, up to 64 pieces a writev:
// short writes are resumed and interrupted ones retried. 0 when all is
// written, else the errno of the failed write (ENOSPC for one that wrote
// nothing).
int WriteAll(int fd, Pieces pieces);

}  // namespace skov
