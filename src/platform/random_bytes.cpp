#include "platform/random_bytes.h"

#if defined(_WIN32)

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <bcrypt.h>

bool random_bytes(std::span<uint8_t> out) {
  // BCryptGenRandom takes a 32-bit count; larger requests go in pieces.
  constexpr size_t kMostPerCall = 0x40000000;
  uint8_t *p = out.data();
  size_t left = out.size();
  while (left > 0) {
    const size_t take = left < kMostPerCall ? left : kMostPerCall;
    const NTSTATUS status = BCryptGenRandom(nullptr, p, static_cast<ULONG>(take),
                                            BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0) return false;  // a failure code is negative
    p += take;
    left -= take;
  }
  return true;
}

#else

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#if defined(__linux__) && defined(__has_include)
#if __has_include(<sys/random.h>)
#include <sys/random.h>
#define FOLIMARK_HAS_GETRANDOM 1
#endif
#endif

namespace {

// Fills out from /dev/urandom, where the kernel has no getrandom or the C
// library does not offer it.
bool read_urandom(uint8_t *p, size_t left) {
  int fd;
  do {
    fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  while (left > 0) {
    const ssize_t n = ::read(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    p += n;
    left -= static_cast<size_t>(n);
  }
  ::close(fd);
  return left == 0;
}

}  // namespace

bool random_bytes(std::span<uint8_t> out) {
  uint8_t *p = out.data();
  size_t left = out.size();
#if defined(FOLIMARK_HAS_GETRANDOM)
  // getrandom may return fewer bytes than asked (a signal, or a request of
  // more than 32 MiB), so it is called until all are there.
  while (left > 0) {
    const ssize_t n = ::getrandom(p, left, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == ENOSYS) break;  // a kernel older than getrandom
    if (n <= 0) return false;
    p += n;
    left -= static_cast<size_t>(n);
  }
#endif
  return left == 0 || read_urandom(p, left);
}

#endif
