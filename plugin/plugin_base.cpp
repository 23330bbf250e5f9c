#include <cstring>

#include "plugin/plugin.h"
#include "text/ansi_text.h"

namespace {

const char kPluginName[] = "Varel Archive";
const char kPluginAuthor[] = "Tobrel";
const char kPluginVersion[] = "0.2";
const char kPattern[] = "*.psarc;*.pkg";

const ExtensionRow kExtensionTable1[] = {{kPluginName, kPattern}};

// A zero-terminated copy that stops after the terminator; the host's bytes after it stay.
void CopyTerminated(char* dst, const char* src, size_t width) {
  size_t i = 0;
  for (; i < width && src[i] != 0; ++i) dst[i] = src[i];
  if (i < width) dst[i] = 0;
}

// Copies one text of an extension row as the query asks: without a buffer, its length
// without terminator; with one, as many bytes as fit (terminator included), and the count.
void AnswerText(const char* text, char* buffer, int32_t* length) {
  const int32_t textLength = static_cast<int32_t>(std::strlen(text));
  if (buffer == nullptr) {
    *length = textLength;
    return;
  }
  int32_t n = textLength + 1;
  // A negative capacity copies nothing, like a capacity of 0: taken as a count it would
  // be a huge copy into the host's buffer.
  const int32_t capacity = *length < 0 ? 0 : *length;
  if (capacity < n) n = capacity;
  std::memcpy(buffer, text, static_cast<size_t>(n));
  *length = n;
}

}  // namespace

CPluginBase::CPluginBase() : info(), extTable1(kExtensionTable1), extTable2(nullptr) {
  // The system code page is read here, while the module loads and before any export can
  // be called; every later call, on any thread, only reads what was fixed now.
  (void)CAnsiCodePage::System();
  info.infoCode0 = 2;
  info.infoCode1 = 1;
  CopyAnsiField(info.name, sizeof(info.name), kPluginName, sizeof(kPluginName));
  CopyAnsiField(info.author, sizeof(info.author), kPluginAuthor, sizeof(kPluginAuthor));
  CopyAnsiField(info.version, sizeof(info.version), kPluginVersion, sizeof(kPluginVersion));
  info.extCount1 = 1;
  info.extCount2 = 0;
}

CPluginBase::~CPluginBase() = default;

int32_t CPluginBase::GetPluginInfo(PluginInfo* out) {
  if (out == nullptr) return kResultBadArgument;
  CopyTerminated(out->name, info.name, sizeof(out->name));
  CopyTerminated(out->author, info.author, sizeof(out->author));
  CopyTerminated(out->version, info.version, sizeof(out->version));
  out->infoCode0 = info.infoCode0;
  out->infoCode1 = info.infoCode1;
  out->extCount1 = info.extCount1;
  out->extCount2 = info.extCount2;
  return kResultOk;
}

int32_t CPluginBase::GetSupportedExt(int32_t kind, int32_t index, char* description,
                                     int32_t* descriptionLength, char* pattern,
                                     int32_t* patternLength) {
  const ExtensionRow* table;
  int32_t rows;
  if (kind == 1) {
    table = extTable1;
    rows = info.extCount1;
  } else if (kind == 2) {
    table = extTable2;
    rows = info.extCount2;
  } else {
    return kResultBadArgument;  // no table for any other kind
  }
  if (index < 0 || index >= rows || table == nullptr || descriptionLength == nullptr ||
      patternLength == nullptr) {
    return kResultBadArgument;
  }
  AnswerText(table[index].description, description, descriptionLength);
  AnswerText(table[index].pattern, pattern, patternLength);
  return kResultOk;
}

int32_t CPluginBase::IsSupported(const ArchiveSource*, int32_t*) { return kResultOk; }

int32_t CPluginBase::GetArchiveInfo(const ArchiveSource*, HGLOBAL*, int32_t*) { return kResultOk; }

int32_t CPluginBase::GetFile(uint32_t, const uint8_t* stored, ArchiveEntry* entry,
                             HGLOBAL* contents) {
  return ExtractRecord(kRawCopy, stored, entry, contents);
}

int32_t CPluginBase::ReservedA(uint32_t, uint32_t) { return kResultOk; }
int32_t CPluginBase::ReservedB(uint32_t, uint32_t) { return kResultOk; }
int32_t CPluginBase::ReservedC(uint32_t, uint32_t, uint32_t, uint32_t) { return kResultOk; }
int32_t CPluginBase::ReservedD(uint32_t, uint32_t, uint32_t) { return kResultOk; }
int32_t CPluginBase::ReservedE(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {
  return kResultOk;
}
int32_t CPluginBase::ReservedF(uint32_t) { return kResultOk; }
