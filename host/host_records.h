// The records the plug-in exchanges with its host. Their byte layout is a fixed contract
// with a host built elsewhere, and that contract is a 32-bit one: pointers and handles are
// 4 bytes on each side, and every offset below is pinned by a static_assert in the i386
// builds (Windows and 32-bit Linux). The 64-bit Linux build (varel and the tests) lays the
// records out naturally for 8-byte pointers; only the fields before the first pointer keep
// their offsets there.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32_api.h"

struct BlockTable;

// Type codes: the detection result and the `type` of a record.
constexpr int32_t kTypeNone = 0;
constexpr int32_t kTypePsarc = 1;
constexpr int32_t kTypePkg = 2;

// Result codes.
constexpr int32_t kResultOk = 0;
constexpr int32_t kResultNoMemory = 1;
constexpr int32_t kResultBadArgument = 10;

// Header bytes a host reads and hands in; the plug-in reads no more than these.
constexpr size_t kHostHeaderBytes = 84;

// Filled by the plug-in into a record the host provides (TZK_GetPluginInfo).
struct PluginInfo {
  int32_t infoCode0;
  int32_t infoCode1;
  char name[80];
  char author[20];
  char version[20];
  int32_t extCount1;  // rows in the kind-1 extension table
  int32_t extCount2;  // rows in the kind-2 extension table
};

// One row of a supported-extension table.
struct ExtensionRow {
  const char* description;
  const char* pattern;
};

// An archive the host has opened: its handle and its first bytes.
struct ArchiveSource {
  HANDLE file;
  const uint8_t* header;  // at least kHostHeaderBytes
};

// One entry of a listing; an array of these is handed to the host in one global block.
struct ArchiveEntry {
  char name[256];
  uint64_t offset;      // file position of the first stored byte
  uint64_t packedSize;  // stored bytes
  uint64_t size;        // plain bytes; its low 32 bits drive extraction
  uint8_t unused280[4];
  int32_t type;
  uint8_t unused288[8];
  char tag[8];             // "PSARC" or "PKG"
  uint32_t param;          // PSARC: first block index; PKG: compression word
  BlockTable* blockTable;  // PSARC: the listing's block table; PKG: null
  uint8_t unused312[256];
};

static_assert(sizeof(PluginInfo) == 136, "PluginInfo is 136 bytes");
static_assert(offsetof(PluginInfo, infoCode0) == 0, "");
static_assert(offsetof(PluginInfo, infoCode1) == 4, "");
static_assert(offsetof(PluginInfo, name) == 8, "");
static_assert(offsetof(PluginInfo, author) == 88, "");
static_assert(offsetof(PluginInfo, version) == 108, "");
static_assert(offsetof(PluginInfo, extCount1) == 128, "");
static_assert(offsetof(PluginInfo, extCount2) == 132, "");

static_assert(offsetof(ArchiveEntry, name) == 0, "");
static_assert(offsetof(ArchiveEntry, offset) == 256, "");
static_assert(offsetof(ArchiveEntry, packedSize) == 264, "");
static_assert(offsetof(ArchiveEntry, size) == 272, "");
static_assert(offsetof(ArchiveEntry, unused280) == 280, "");
static_assert(offsetof(ArchiveEntry, type) == 284, "");
static_assert(offsetof(ArchiveEntry, unused288) == 288, "");
static_assert(offsetof(ArchiveEntry, tag) == 296, "");
static_assert(offsetof(ArchiveEntry, param) == 304, "");

#if defined(__i386__)
static_assert(sizeof(void*) == 4, "i386: pointers and handles are 4 bytes");

static_assert(sizeof(ExtensionRow) == 8, "ExtensionRow is two pointers");
static_assert(sizeof(ArchiveSource) == 8, "ArchiveSource is a handle and a pointer");
static_assert(offsetof(ArchiveSource, file) == 0, "");
static_assert(offsetof(ArchiveSource, header) == 4, "");

static_assert(sizeof(ArchiveEntry) == 568, "ArchiveEntry is 568 bytes");
static_assert(offsetof(ArchiveEntry, blockTable) == 308, "");
static_assert(offsetof(ArchiveEntry, unused312) == 312, "");
#elif defined(__x86_64__)
// 8-byte pointers: blockTable moves to 312 behind 4 bytes of padding, and the record grows
// to 576 bytes. No host outside this build sees these records.
static_assert(sizeof(void*) == 8, "x86-64: pointers and handles are 8 bytes");
static_assert(offsetof(ArchiveEntry, blockTable) == 312, "");
static_assert(sizeof(ArchiveEntry) == 576, "");
#else
#error "the host records are laid out for i386 (the contract) or x86-64 (varel and tests)"
#endif

// The five exports, as a host sees them. Every one is stdcall and returns a 32-bit result.
// x86-64 has one calling convention, so there the attribute is left out (GCC would warn that
// it is ignored).
#if defined(_WIN32)
#define TZK_CALL __stdcall
#elif defined(__i386__)
#define TZK_CALL __attribute__((stdcall))
#else
#define TZK_CALL
#endif

typedef int32_t(TZK_CALL* TZK_GetPluginInfoFn)(PluginInfo* info);
typedef int32_t(TZK_CALL* TZK_GetSupportedExtFn)(int32_t kind, int32_t index, char* description,
                                                 int32_t* descriptionLength, char* pattern,
                                                 int32_t* patternLength);
typedef int32_t(TZK_CALL* TZK_IsSupportedFn)(const ArchiveSource* source, int32_t kind,
                                             int32_t* type);
typedef int32_t(TZK_CALL* TZK_GetArchiveInfoFn)(const ArchiveSource* source, HGLOBAL* entries,
                                                int32_t* count);
typedef int32_t(TZK_CALL* TZK_GetFileFn)(uint32_t unused, const uint8_t* stored,
                                         ArchiveEntry* entry, HGLOBAL* contents);
