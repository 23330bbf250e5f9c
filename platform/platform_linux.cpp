// The Linux stand-in for the kernel32 and user32 calls the plug-in makes. It is a test seam,
// not a second product: just enough of each call's contract for the plug-in and its hosts,
// with live-block counters and an allocation-failure switch for tests. Like kernel32 it
// may be called from several threads at once: the counters are atomic, and a global
// block's lock count is changed atomically.
#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/platform_testing.h"

namespace {

std::atomic<uint32_t> allocationCount{0};
std::atomic<uint32_t> failAt{0};  // allocationCount value whose allocation fails; 0: none
std::atomic<int32_t> liveGlobal{0};
std::atomic<int32_t> liveHeap{0};
std::atomic<UINT> forcedCodePage{0};

// True when this allocation is the one the test asked to fail. With several threads
// allocating, exactly one of them meets the failure.
bool NextAllocationFails() {
  const uint32_t n = ++allocationCount;
  uint32_t target = failAt.load();
  return target != 0 && n == target && failAt.compare_exchange_strong(target, 0);
}

// A movable block: the handle is the address of this record.
struct GlobalBlock {
  uint32_t magic;
  std::atomic<uint32_t> lockCount;
  size_t size;
  unsigned char* data;  // NULL for a 0-byte block
};
constexpr uint32_t kGlobalMagic = 0x474C4F42;  // "GLOB"

GlobalBlock* FromHandle(HGLOBAL h) {
  auto* b = static_cast<GlobalBlock*>(h);
  return (b != nullptr && b->magic == kGlobalMagic) ? b : nullptr;
}

int FdFromHandle(HANDLE h) { return static_cast<int>(reinterpret_cast<intptr_t>(h)) - 1; }

}  // namespace

PLATFORM_API void PlatformFailAllocation(uint32_t n) {
  failAt = n == 0 ? 0 : allocationCount.load() + n;
}
PLATFORM_API uint32_t PlatformAllocationCount(void) { return allocationCount; }
PLATFORM_API int32_t PlatformLiveGlobalBlocks(void) { return liveGlobal; }
PLATFORM_API int32_t PlatformLiveHeapBlocks(void) { return liveHeap; }
PLATFORM_API void PlatformSetAnsiCodePage(UINT codePage) { forcedCodePage = codePage; }

// No 32-bit process gets 2 GiB in one block: such a request is refused here rather than
// asked of the C library (or a sanitizer's allocator). A 64-bit process refuses it too, so
// that the plug-in meets the heap it has in a 32-bit host.
constexpr size_t kRefusedBlockBytes = 0x7FFFFFFFu;

PLATFORM_API void* PlatformHeapAlloc(size_t bytes) {
  if (NextAllocationFails() || bytes >= kRefusedBlockBytes) return nullptr;
  void* p = std::calloc(bytes == 0 ? 1 : bytes, 1);
  if (p != nullptr) ++liveHeap;
  return p;
}

PLATFORM_API void PlatformHeapFree(void* block) {
  if (block == nullptr) return;
  --liveHeap;
  std::free(block);
}

PLATFORM_API HGLOBAL WINAPI GlobalAlloc(UINT flags, size_t bytes) {
  (void)flags;  // every block is movable and zero-filled
  if (NextAllocationFails() || bytes >= kRefusedBlockBytes) return nullptr;
  auto* b = new (std::nothrow) GlobalBlock();
  if (b == nullptr) return nullptr;
  if (bytes != 0) {
    b->data = static_cast<unsigned char*>(std::calloc(bytes, 1));
    if (b->data == nullptr) {
      delete b;
      return nullptr;
    }
  }
  b->magic = kGlobalMagic;
  b->lockCount = 0;
  b->size = bytes;
  ++liveGlobal;
  return b;
}

PLATFORM_API LPVOID WINAPI GlobalLock(HGLOBAL block) {
  GlobalBlock* b = FromHandle(block);
  if (b == nullptr || b->data == nullptr) return nullptr;  // a 0-byte block gives no memory
  // The count stops at 0xFF, as GMEM_LOCKCOUNT does.
  uint32_t count = b->lockCount.load();
  while (count < 0xFF && !b->lockCount.compare_exchange_weak(count, count + 1)) {
  }
  return b->data;
}

PLATFORM_API BOOL WINAPI GlobalUnlock(HGLOBAL block) {
  GlobalBlock* b = FromHandle(block);
  if (b == nullptr) return FALSE;
  uint32_t count = b->lockCount.load();
  do {
    if (count == 0) return FALSE;
  } while (!b->lockCount.compare_exchange_weak(count, count - 1));
  return count - 1 != 0;
}

PLATFORM_API HGLOBAL WINAPI GlobalFree(HGLOBAL block) {
  GlobalBlock* b = FromHandle(block);
  if (b == nullptr) return block;
  b->magic = 0;
  std::free(b->data);
  delete b;
  --liveGlobal;
  return nullptr;
}

PLATFORM_API size_t WINAPI GlobalSize(HGLOBAL block) {
  GlobalBlock* b = FromHandle(block);
  return b == nullptr ? 0 : b->size;
}

PLATFORM_API UINT WINAPI GlobalFlags(HGLOBAL block) {
  GlobalBlock* b = FromHandle(block);
  if (b == nullptr) return 0x8000u;  // GMEM_INVALID_HANDLE
  return b->lockCount.load() | (b->data == nullptr ? GMEM_DISCARDED : 0u);
}

PLATFORM_API HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, void* security,
                                       DWORD disposition, DWORD attributes, HANDLE templ) {
  (void)share;
  (void)security;
  (void)attributes;
  (void)templ;
  int mode = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
  if (disposition == CREATE_ALWAYS) mode |= O_CREAT | O_TRUNC;
  int fd = open(path, mode | O_CLOEXEC, 0644);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) + 1);
}

PLATFORM_API BOOL WINAPI CloseHandle(HANDLE file) { return close(FdFromHandle(file)) == 0; }

PLATFORM_API DWORD WINAPI SetFilePointer(HANDLE file, LONG distanceLow, PLONG distanceHigh,
                                         DWORD method) {
  if (method != FILE_BEGIN) return INVALID_SET_FILE_POINTER;
  // Without a high part the low part is a signed 32-bit distance, as on Windows.
  int64_t pos = distanceHigh != nullptr
                    ? static_cast<int64_t>(
                          (static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                          static_cast<uint32_t>(distanceLow))
                    : static_cast<int64_t>(distanceLow);
  if (pos < 0) return INVALID_SET_FILE_POINTER;
  off64_t got = lseek64(FdFromHandle(file), pos, SEEK_SET);
  if (got < 0) return INVALID_SET_FILE_POINTER;
  if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(got) >> 32);
  return static_cast<DWORD>(got);
}

PLATFORM_API BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                                  void* overlapped) {
  (void)overlapped;
  DWORD done = 0;
  auto* out = static_cast<unsigned char*>(buffer);
  while (done < toRead) {
    ssize_t got = ::read(FdFromHandle(file), out + done, toRead - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (read != nullptr) *read = done;
      return got == 0;  // end of file is success with fewer bytes
    }
    done += static_cast<DWORD>(got);
  }
  if (read != nullptr) *read = done;
  return TRUE;
}

PLATFORM_API BOOL WINAPI SetEndOfFile(HANDLE file) {
  const int fd = FdFromHandle(file);
  const off64_t at = lseek64(fd, 0, SEEK_CUR);
  return at >= 0 && ftruncate64(fd, at) == 0;
}

namespace {

// The ANSI code page of the locale: the double-byte code page of the four locales that have
// one, 1252 for every other.
UINT CodePageFromLocale() {
  const char* names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
  const char* locale = nullptr;
  for (const char* n : names) {
    const char* v = std::getenv(n);
    if (v != nullptr && *v != '\0') {
      locale = v;
      break;
    }
  }
  if (locale == nullptr) return 1252;
  struct Map {
    const char* prefix;
    UINT codePage;
  };
  static const Map kMaps[] = {{"ja_JP", 932}, {"zh_CN", 936}, {"ko_KR", 949}, {"zh_TW", 950}};
  for (const Map& m : kMaps) {
    if (std::strncmp(locale, m.prefix, std::strlen(m.prefix)) == 0) return m.codePage;
  }
  return 1252;
}

}  // namespace

PLATFORM_API UINT WINAPI GetACP(void) {
  const UINT forced = forcedCodePage.load();
  return forced != 0 ? forced : CodePageFromLocale();
}

PLATFORM_API BOOL WINAPI GetCPInfo(UINT codePage, LPCPINFO info) {
  if (info == nullptr) return FALSE;
  if (codePage == CP_ACP) codePage = GetACP();
  std::memset(info, 0, sizeof(*info));
  info->DefaultChar[0] = '?';
  // Lead-byte ranges as pairs; the rest of LeadByte stays zero, which ends the list.
  struct DoubleByte {
    UINT codePage;
    BYTE ranges[4];
  };
  static const DoubleByte kDoubleByte[] = {
      {932, {0x81, 0x9F, 0xE0, 0xFC}},
      {936, {0x81, 0xFE}},
      {949, {0x81, 0xFE}},
      {950, {0x81, 0xFE}},
  };
  for (const DoubleByte& d : kDoubleByte) {
    if (d.codePage != codePage) continue;
    info->MaxCharSize = 2;
    std::memcpy(info->LeadByte, d.ranges, sizeof(d.ranges));
    return TRUE;
  }
  if (codePage != 1252) return FALSE;
  info->MaxCharSize = 1;
  return TRUE;
}

PLATFORM_API int wsprintfA(LPSTR out, LPCSTR format, ...) {
  // wsprintfA writes at most 1024 bytes. The tests hold the listing's generated names to it.
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(out, 1024, format, args);
  va_end(args);
  return n;
}

PLATFORM_API LPSTR WINAPI lstrcpyA(LPSTR out, LPCSTR in) { return std::strcpy(out, in); }

PLATFORM_API void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section) {
  // Windows lets the owner enter again; a recursive mutex does the same.
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&section->mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

PLATFORM_API void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section) {
  pthread_mutex_destroy(&section->mutex);
}

PLATFORM_API void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section) {
  pthread_mutex_lock(&section->mutex);
}

PLATFORM_API void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section) {
  pthread_mutex_unlock(&section->mutex);
}

namespace {

// Code page 1252 is ISO 8859-1 but for 0x80-0x9F. The five bytes that hold no character
// there stand for the C1 control codes of the same value.
const WCHAR k1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                             0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                             0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                             0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The byte of code page 1252 for c; false when it has none.
bool Byte1252(WCHAR c, char* b) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
    *b = static_cast<char>(c);
    return true;
  }
  for (unsigned i = 0; i < 32; ++i) {
    if (k1252High[i] == c) {
      *b = static_cast<char>(0x80 + i);
      return true;
    }
  }
  return false;
}

// The C library's name of a double-byte code page; nullptr for 1252 and unknown pages.
const char* IconvName(UINT codePage) {
  switch (codePage) {
    case 932: return "CP932";
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "CP950";
    default: return nullptr;
  }
}

// The character a double-byte code page gives a sequence that is none of its characters.
constexpr WCHAR kDoubleByteDefault = 0x30FB;

bool KnownCodePage(UINT codePage) { return codePage == 1252 || IconvName(codePage) != nullptr; }

// Appends to a converted text, counting what does not fit (so that a length query and a
// short output are told apart from a full one).
template <typename T>
struct Output {
  T* data;
  size_t capacity;  // 0: only count
  size_t count = 0;
  bool overflow = false;
  void Put(T unit) {
    if (capacity != 0) {
      if (count < capacity) {
        data[count] = unit;
      } else {
        overflow = true;
      }
    }
    ++count;
  }
  int Result() const { return overflow || count > 0x7FFFFFFF ? 0 : static_cast<int>(count); }
};

// Converts between a double-byte code page and UTF-16LE with iconv. onBad is called for
// each input unit that starts no character (and for a character cut off by the end of the
// input), which is then skipped; false from it fails the conversion.
template <typename Unit, typename OnBad>
bool ConvertWithIconv(const char* from, const char* to, const void* in, size_t inBytes,
                      size_t inUnit, Output<Unit>* out, OnBad onBad) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  char* next = static_cast<char*>(const_cast<void*>(in));
  size_t left = inBytes;
  bool ok = true;
  while (ok && left > 0) {
    char buffer[256];
    char* put = buffer;
    size_t room = sizeof(buffer);
    const size_t r = iconv(cd, &next, &left, &put, &room);
    const int why = errno;
    for (const char* p = buffer; p + sizeof(Unit) <= put; p += sizeof(Unit)) {
      Unit unit;
      std::memcpy(&unit, p, sizeof(unit));
      out->Put(unit);
    }
    if (r != static_cast<size_t>(-1) || why == E2BIG) continue;  // done, or more to come
    ok = onBad();
    const size_t skip = why == EINVAL ? left : std::min(left, inUnit);
    next += skip;
    left -= skip;
  }
  iconv_close(cd);
  return ok;
}

}  // namespace

PLATFORM_API int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR in, int inLength,
                                            LPWSTR out, int outLength) {
  if (codePage == CP_ACP) codePage = GetACP();
  if (in == nullptr || outLength < 0 || !KnownCodePage(codePage)) return 0;
  const size_t n = inLength < 0 ? std::strlen(in) + 1 : static_cast<size_t>(inLength);
  Output<WCHAR> o{out, static_cast<size_t>(outLength)};
  if (codePage == 1252) {
    for (size_t i = 0; i < n; ++i) {
      const uint8_t b = static_cast<uint8_t>(in[i]);
      o.Put(b >= 0x80 && b < 0xA0 ? k1252High[b - 0x80] : b);
    }
    return o.Result();
  }
  const bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
  const bool ok = ConvertWithIconv(IconvName(codePage), "UTF-16LE", in, n, 1, &o, [&]() {
    o.Put(kDoubleByteDefault);
    return !strict;
  });
  return ok ? o.Result() : 0;
}

PLATFORM_API int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR in, int inLength,
                                            LPSTR out, int outLength, LPCSTR defaultChar,
                                            LPBOOL usedDefaultChar) {
  (void)flags;  // never a best fit
  if (codePage == CP_ACP) codePage = GetACP();
  if (in == nullptr || outLength < 0 || !KnownCodePage(codePage)) return 0;
  size_t n = static_cast<size_t>(inLength);
  if (inLength < 0) {
    n = 0;
    while (in[n] != 0) ++n;
    ++n;
  }
  const char substitute = defaultChar != nullptr ? *defaultChar : '?';
  bool usedDefault = false;
  Output<char> o{out, static_cast<size_t>(outLength)};
  if (codePage == 1252) {
    for (size_t i = 0; i < n; ++i) {
      char b;
      if (!Byte1252(in[i], &b)) {
        b = substitute;
        usedDefault = true;
      }
      o.Put(b);
    }
  } else if (!ConvertWithIconv("UTF-16LE", IconvName(codePage), in, n * 2, 2, &o, [&]() {
               o.Put(substitute);
               usedDefault = true;
               return true;
             })) {
    return 0;
  }
  if (usedDefaultChar != nullptr) *usedDefaultChar = usedDefault ? TRUE : FALSE;
  return o.Result();
}
