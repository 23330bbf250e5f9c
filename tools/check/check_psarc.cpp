// The PSARC half of the check: the header's tables, the manifest and the names found for
// the records, each record's digest against its name, and the strict block walk.
//
// The tables: tocLength counts the header, so the table of contents runs from byte 32 and
// the block-size table from the end of the table of contents to tocLength, where the
// blocks begin. The plug-in reads tocLength bytes from byte 32, so it sees the first blocks'
// bytes as 16 more table values; no record may use them here.
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "bytes/byte_order.h"
#include "digest/md5.h"
#include "psarc/psarc.h"
#include "reference/reference.h"
#include "tools/check/check_internal.h"

namespace {

typedef std::array<uint8_t, kMd5DigestBytes> Digest;

constexpr uint32_t kBlockValueWidth = 2;  // for the one block size recognition admits
// The size from which an entry is beyond the reader, which walks sizes as signed 32 bits.
constexpr uint64_t kReaderSizeLimit = uint64_t{1} << 31;

constexpr uint8_t kZlibMethodByte = 0x78;
// The zlib headers the plug-in inflates (0xDA always; the others when zlib takes the
// block whole).
bool IsZlibHeader(const uint8_t* in, uint64_t length) {
  return length >= 2 && in[0] == kZlibMethodByte &&
         (in[1] == 0xDA || in[1] == 0x01 || in[1] == 0x5E || in[1] == 0x9C);
}

std::string BlockOf(uint32_t k, uint32_t blocks) {
  return "block " + std::to_string(k + 1) + " of " + std::to_string(blocks);
}

Digest DigestOf(const std::string& s) {
  Digest d;
  Md5Digest(s.data(), s.size(), d.data());
  return d;
}

// The forms of a name whose digest a record may carry, most preferred first.
std::vector<std::string> DigestForms(const std::string& name, uint32_t flags) {
  std::vector<std::string> forms = {name};
  const bool slash = !name.empty() && name[0] == '/';
  if (slash) forms.push_back(name.substr(1));
  if ((flags & kPsarcFlagUpperCaseDigests) != 0) {
    std::string upper = name;
    for (char& c : upper) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    forms.push_back(upper);
    if (slash) forms.push_back(upper.substr(1));
  }
  return forms;
}

// The manifest's text as the listing splits it: [0, end) split at `separator`, a separator
// that ends the text ending the last name (first layout: the text ends at its first zero
// byte).
struct ManifestText {
  uint8_t separator;
  size_t end;
  size_t names;  // how many names it holds
};

ManifestText SplitManifest(const std::vector<uint8_t>& plain, uint32_t flags) {
  const bool byDigest = (flags & (kPsarcFlagTocByDigest | kPsarcFlagZeroSeparated)) != 0;
  const bool hasZero = std::find(plain.begin(), plain.end(), 0) != plain.end();
  const bool hasBreak = std::find(plain.begin(), plain.end(), '\n') != plain.end();
  const bool zeroSeparated =
      byDigest && hasZero && ((flags & kPsarcFlagZeroSeparated) != 0 || !hasBreak);
  ManifestText t;
  t.separator = zeroSeparated ? 0 : '\n';
  t.end = zeroSeparated ? plain.size() : std::find(plain.begin(), plain.end(), 0) - plain.begin();
  if (t.end != 0 && plain[t.end - 1] == t.separator) --t.end;
  t.names = t.end == 0 ? 0 : 1 + std::count(plain.begin(), plain.begin() + t.end, t.separator);
  return t;
}

// The first `most` names of the text.
std::vector<std::string> FirstNames(const std::vector<uint8_t>& plain, const ManifestText& t,
                                    size_t most) {
  std::vector<std::string> names;
  for (size_t at = 0; at < t.end && names.size() < most;) {
    const size_t stop =
        std::find(plain.begin() + at, plain.begin() + t.end, t.separator) - plain.begin();
    names.emplace_back(plain.begin() + at, plain.begin() + stop);
    at = stop + 1;
  }
  return names;
}

// Names the records as the listing names them and holds each record's digest to its name.
//
// The listing seeks each record's name among the first `sought` names only (and a record
// by position takes one of the first n - 1), so the text is cut after them: a manifest of
// millions of names, which a small archive can inflate to, costs no more than that.
void NameAndCheckDigests(ArchiveCheckState* a, const std::vector<uint8_t>& plain,
                         bool manifestWhole, uint32_t flags, const std::vector<Digest>& digests) {
  std::vector<CheckedRecord>& records = a->records;
  const uint64_t sought =
      std::max<uint64_t>(2 * uint64_t{records.size() - 1}, kPsarcDigestNamesAtLeast);
  const ManifestText text = SplitManifest(plain, flags);
  const std::vector<std::string> split = FirstNames(plain, text, static_cast<size_t>(sought));
  size_t cut = plain.size();
  if (text.names > sought) {
    // Where the sought-th name ends: the separator after it, which the cut text leaves out.
    cut = 0;
    for (const std::string& name : split) cut += name.size() + 1;
    --cut;
  }
  // The listing's names: the manifest as its work buffer holds it, zeros after its bytes.
  std::vector<uint8_t> buffer(plain.begin(), plain.begin() + cut);
  buffer.resize(cut + kPsarcWorkMargin, 0);
  const std::vector<std::string> names =
      PsarcNamesDefinition(buffer.data(), buffer.size(), cut, flags, digests);
  for (size_t i = 1; i < records.size() && i - 1 < names.size(); ++i)
    records[i].name = names[i - 1];
  if (!manifestWhole) return;

  const size_t named = a->count - 1;
  if (text.names != named) {
    AddFault(&a->faults, CheckFaultKind::kManifest,
             "the manifest holds " + std::to_string(text.names) + " names for " +
                 std::to_string(named) + " entries");
  }
  // Every form of every name, to say whose digest a record carries when not its own.
  std::vector<std::pair<Digest, uint32_t>> known;
  for (uint32_t j = 0; j < split.size(); ++j) {
    for (const std::string& form : DigestForms(split[j], flags))
      known.push_back({DigestOf(form), j});
  }
  std::sort(known.begin(), known.end());
  const Digest zero = {};
  for (size_t i = 1; i < records.size(); ++i) {
    CheckedRecord& r = records[i];
    if (digests[i] == zero) {
      AddFault(&r.found, CheckFaultKind::kNoDigest, "no name digest: the name is not checked");
      continue;
    }
    bool own = false;
    for (const std::string& form : DigestForms(r.name, flags))
      own = own || DigestOf(form) == digests[i];
    if (own) continue;
    const auto at = std::lower_bound(known.begin(), known.end(), std::make_pair(digests[i], 0u));
    if (at != known.end() && at->first == digests[i]) {
      AddFault(&r.found, CheckFaultKind::kDigest,
               "the digest is that of name " + std::to_string(at->second + 1) +
                   " of the manifest, \"" + split[at->second] + "\", not of this entry's name");
    } else {
      AddFault(&r.found, CheckFaultKind::kDigest,
               "the digest is the MD5 of no name in the manifest (named by position)");
    }
  }
}

// zlib's verdict on one compressed block: empty when whole, else why not.
std::string ZlibVerdict(EntryCheckerState* state, const uint8_t* in, uint32_t stored, uint8_t* out,
                        uint32_t due, bool* noMemory);

// The inflation of one compressed block: one complete zlib stream of exactly `stored`
// bytes making exactly `due` plain bytes, its Adler-32 verified. out has due + 1 bytes.
// Empty when whole, else why not.
//
// libdeflate's whole-stream decoder decides first, several times faster than zlib, as in
// the plug-in's walk: a stream it decodes to exactly the bytes due, with every stored byte
// used and its Adler-32 checked, is one zlib ends in the same place with the same bytes.
// (The one exception is a stream made for the purpose, with codes the format reserves,
// which zlib rejects and libdeflate reads; the plug-in hands over libdeflate's bytes for
// it, exactly the bytes due, so it passes here too.) Every other block goes to zlib, whose
// message says what is wrong.
std::string InflateBlock(EntryCheckerState* state, const uint8_t* in, uint32_t stored, uint8_t* out,
                         uint32_t due, bool* noMemory) {
  if (state->fast == nullptr) state->fast = libdeflate_alloc_decompressor();
  if (state->fast != nullptr) {
    size_t used = 0;
    size_t made = 0;
    const libdeflate_result rc =
        libdeflate_zlib_decompress_ex(state->fast, in, stored, out, due, &used, &made);
    if (rc == LIBDEFLATE_SUCCESS && used == stored && made == due) return std::string();
  }
  return ZlibVerdict(state, in, stored, out, due, noMemory);
}

std::string ZlibVerdict(EntryCheckerState* state, const uint8_t* in, uint32_t stored, uint8_t* out,
                        uint32_t due, bool* noMemory) {
  z_stream& z = state->zlib;
  if (!state->zlibReady) {
    z = z_stream();
    if (inflateInit(&z) != Z_OK) {
      *noMemory = true;
      return "cannot be inflated: out of memory";
    }
    state->zlibReady = true;
  } else if (inflateReset(&z) != Z_OK) {
    return "zlib cannot be reset";
  }
  z.next_in = const_cast<Bytef*>(in);
  z.avail_in = stored;
  z.next_out = out;
  z.avail_out = due + 1;
  const int rc = inflate(&z, Z_FINISH);
  const uint64_t made = z.total_out;
  if (rc == Z_STREAM_END) {
    if (z.avail_in != 0) {
      return "ends its zlib stream after " + std::to_string(stored - z.avail_in) + " of its " +
             std::to_string(stored) + " stored bytes";
    }
    if (made != due) {
      return "inflates to " + std::to_string(made) + " bytes, not the " + std::to_string(due) +
             " it stands for";
    }
    return std::string();
  }
  if (rc == Z_DATA_ERROR) {
    return std::string("does not inflate: ") + (z.msg != nullptr ? z.msg : "damaged stream");
  }
  if (rc == Z_NEED_DICT) return "does not inflate: it asks for a preset dictionary";
  if (rc == Z_MEM_ERROR) {
    *noMemory = true;
    return "cannot be inflated: out of memory";
  }
  if (z.avail_out == 0) {
    return "inflates to more than the " + std::to_string(due) + " plain bytes it stands for";
  }
  return "is cut: its " + std::to_string(stored) + " stored bytes end before its zlib stream does";
}

}  // namespace

void OpenPsarc(ArchiveCheckState* a, const uint8_t* header) {
  const uint64_t tocLength = be32(header + kPsarcHeaderTocLengthAt);
  const uint32_t n = be32(header + kPsarcHeaderTocEntryCountAt);
  const uint32_t flags = be32(header + kPsarcHeaderFlagsAt);
  a->count = n;
  a->blockSize = be32(header + kPsarcHeaderBlockSizeAt);
  const uint64_t fileSize = a->fileSize;

  // The records the tables hold, and those the file holds.
  const uint64_t tocEnd = kPsarcHeaderSize + uint64_t{kPsarcTocEntrySize} * n;
  const uint64_t tablesRoom =
      tocLength > kPsarcHeaderSize ? (tocLength - kPsarcHeaderSize) / kPsarcTocEntrySize : 0;
  const uint64_t fileRoom =
      fileSize > kPsarcHeaderSize ? (fileSize - kPsarcHeaderSize) / kPsarcTocEntrySize : 0;
  uint64_t held = n;
  if (tablesRoom < held) {
    held = tablesRoom;
    AddFault(&a->faults, CheckFaultKind::kTables,
             "the header counts " + std::to_string(n) + " entries; its tables (" +
                 std::to_string(tocLength) + " bytes with the header) hold " +
                 std::to_string(tablesRoom));
    a->pastFault = CheckFault{CheckFaultKind::kRecord,
                              "record past the end of the table (the header counts more entries "
                              "than its table holds)"};
  }
  if (tocLength > fileSize) {
    AddFault(&a->faults, CheckFaultKind::kTables,
             "the tables run past the end of the file: they end at " + std::to_string(tocLength) +
                 FileEndsAt(fileSize));
  }
  if (fileRoom < held) {
    held = fileRoom;
    a->pastFault = CheckFault{CheckFaultKind::kRecord,
                              "record past the end of the file" + FileEndsAt(fileSize)};
  }

  // The table of contents and the block-size table, as far as the file holds them.
  const uint64_t tablesEnd = std::min(tocLength, fileSize);
  std::vector<uint8_t> tables;
  if (tablesEnd > kPsarcHeaderSize) {
    tables.resize(static_cast<size_t>(tablesEnd - kPsarcHeaderSize));
    if (!a->read(kPsarcHeaderSize, tables.data(), tables.size())) {
      AddFault(&a->faults, CheckFaultKind::kRead, "the tables cannot be read");
      a->pastFault = CheckFault{CheckFaultKind::kRead, "the tables cannot be read"};
      return;
    }
  }
  if (tocEnd < tablesEnd) {
    const uint64_t values = (tablesEnd - tocEnd) / kBlockValueWidth;
    a->blockValues.resize(static_cast<size_t>(values));
    const uint8_t* p = tables.data() + (tocEnd - kPsarcHeaderSize);
    for (size_t k = 0; k < a->blockValues.size(); ++k)
      a->blockValues[k] = be16(p + k * kBlockValueWidth);
  }
  // Values the header declares but the file does not hold are counted, so that an entry
  // whose blocks lie there is cut by the file's end, not said to be past the table.
  const uint64_t declaredValues = tocLength > tocEnd ? (tocLength - tocEnd) / kBlockValueWidth : 0;

  a->records.resize(static_cast<size_t>(held));
  std::vector<Digest> digests(a->records.size());
  for (size_t i = 0; i < a->records.size(); ++i) {
    const uint8_t* e = tables.data() + i * kPsarcTocEntrySize;
    CheckedRecord& r = a->records[i];
    std::memcpy(digests[i].data(), e + kPsarcTocDigestAt, kMd5DigestBytes);
    r.param = be32(e + kPsarcTocFirstBlockAt);
    r.size = be40(e + kPsarcTocPlainSizeAt);
    r.offset = be40(e + kPsarcTocOffsetAt);
    r.walk = true;
    if (i == 0) r.name = "NamesBlock.bin";
    if (r.size >= kReaderSizeLimit) {
      AddFault(
          &r.found, CheckFaultKind::kRecord,
          "its size, " + std::to_string(r.size) + " bytes, is 2 GiB or more: beyond the reader");
      r.walk = false;
      continue;
    }
    const uint64_t blocks = (r.size + a->blockSize - 1) / a->blockSize;
    if (blocks == 0) continue;
    if (r.param + blocks > declaredValues) {
      AddFault(&r.found, CheckFaultKind::kBlockTable,
               "its blocks " + std::to_string(r.param) + " to " +
                   std::to_string(r.param + blocks - 1) +
                   " run past the end of the block table, which holds " +
                   std::to_string(declaredValues));
      r.walk = false;
      continue;
    }
    if (r.param + blocks > a->blockValues.size()) {
      AddFault(&r.found, CheckFaultKind::kBlockTable,
               "its block sizes lie past the end of the file" + FileEndsAt(fileSize));
      r.walk = false;
      continue;
    }
    for (uint64_t k = 0; k < blocks; ++k) {
      const uint32_t s = a->blockValues[static_cast<size_t>(r.param + k)];
      r.packedSize += s == 0 ? a->blockSize : s;
    }
    CheckStoredBounds(*a, tocLength, &r);
  }
  if (a->records.empty()) return;

  // The manifest, decoded strictly; its names, found as the listing finds them.
  CheckedRecord& manifest = a->records[0];
  std::vector<uint8_t> plain;
  bool whole = manifest.walk;
  if (manifest.walk) {
    EntryCheckerState state;
    std::vector<CheckFault> faults;
    try {
      WalkPsarc(*a, manifest, &state, &faults, &plain);
    } catch (const std::bad_alloc&) {
      // A manifest too large to hold: the entries are still checked, their names are not.
      plain.clear();
      plain.shrink_to_fit();
      AddFault(&faults, CheckFaultKind::kNoMemory, "too large to hold in memory");
    }
    whole = faults.empty();
    if (!whole) {
      AddFault(&a->faults, CheckFaultKind::kManifest,
               "the manifest is damaged (" + faults.front().message +
                   "): names and digests are not checked");
    }
  } else if (n > 1) {
    AddFault(&a->faults, CheckFaultKind::kManifest,
             "the manifest cannot be read: names and digests are not checked");
  }
  if (a->records.size() > 1) NameAndCheckDigests(a, plain, whole, flags, digests);
}

void WalkPsarc(const ArchiveCheckState& a, const CheckedRecord& r, EntryCheckerState* state,
               std::vector<CheckFault>* faults, std::vector<uint8_t>* plain) {
  const uint32_t blockSize = a.blockSize;
  const uint32_t blocks = static_cast<uint32_t>((r.size + blockSize - 1) / blockSize);
  if (blocks == 0) return;
  // Open held the blocks to the table and the stored bytes to the file.
  if (state->in.size() < blockSize) state->in.resize(blockSize);
  if (state->out.size() < uint64_t{blockSize} + 1) state->out.resize(uint64_t{blockSize} + 1);
  uint8_t* in = state->in.data();
  uint8_t* out = state->out.data();
  uint64_t pos = r.offset;
  uint64_t remaining = r.size;
  for (uint32_t k = 0; k < blocks; ++k) {
    const uint32_t s = a.blockValues[r.param + k];
    const uint32_t stored = s == 0 ? blockSize : s;
    const uint32_t due = static_cast<uint32_t>(std::min<uint64_t>(remaining, blockSize));
    if (!a.read(pos, in, stored)) {
      AddFault(faults, CheckFaultKind::kRead,
               BlockOf(k, blocks) + " cannot be read at " + std::to_string(pos));
      return;
    }
    const uint8_t* made = in;
    if (s == 0) {
      if (due != blockSize) {
        AddFault(faults, CheckFaultKind::kBlock,
                 BlockOf(k, blocks) + " is stored whole (" + std::to_string(blockSize) +
                     " bytes) but stands for " + std::to_string(due) + " plain bytes");
        return;
      }
    } else if (stored == due) {
      // A block kept plain: as long as its plain bytes. One that happens to be a whole zlib
      // stream making them is what the plug-in inflates.
      bool noMemory = false;
      if (plain != nullptr && IsZlibHeader(in, stored) &&
          InflateBlock(state, in, stored, out, due, &noMemory).empty()) {
        made = out;
      }
    } else if (IsZlibHeader(in, stored)) {
      bool noMemory = false;
      const std::string why = InflateBlock(state, in, stored, out, due, &noMemory);
      if (!why.empty()) {
        AddFault(faults, noMemory ? CheckFaultKind::kNoMemory : CheckFaultKind::kBlock,
                 BlockOf(k, blocks) + " " + why);
        return;
      }
      made = out;
    } else {
      AddFault(faults, CheckFaultKind::kBlock,
               BlockOf(k, blocks) + " is a plain block of " + std::to_string(stored) +
                   " bytes but stands for " + std::to_string(due) + " plain bytes");
      return;
    }
    if (plain != nullptr) plain->insert(plain->end(), made, made + due);
    pos += stored;
    remaining -= due;
  }
}
