// Shared string table: parsing, the new-string pool, writing across CONTINUE records.
#include "xls/string_table.h"

#include <algorithm>
#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace skov::xls {
namespace {

// Reads bytes of a record group as one sequence, stepping over record ends.
class GroupCursor {
 public:
  GroupCursor(std::span<const uint8_t> s, std::span<const RecRef> g) : s_(s), g_(g) {
    off_ = g_[0].body();
    end_ = g_[0].end();
  }
  bool AtGroupEnd() {
    SkipEmptyRecords();
    return off_ == end_;
  }
  uint32_t Position() {
    SkipEmptyRecords();
    return off_;
  }
  uint8_t Byte() {
    if (off_ == end_) NextRecord();
    return s_[off_++];
  }
  // Low part first: the operands of | may be evaluated in either order.
  uint16_t U16() {
    const uint8_t low = Byte();
    return static_cast<uint16_t>(low | (Byte() << 8));
  }
  uint32_t U32() {
    const uint16_t low = U16();
    return low | (static_cast<uint32_t>(U16()) << 16);
  }
  void Skip(uint64_t n) {
    while (n) {
      if (off_ == end_) NextRecord();
      uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(n, end_ - off_));
      off_ += take;
      n -= take;
    }
  }
  // cch characters; a record end inside them is followed by a new high-byte flag.
  void Chars(uint32_t cch, bool high, std::u16string* text) {
    while (cch) {
      if (off_ == end_) {
        NextRecord();
        if (off_ == end_) continue;
        high = s_[off_++] & xlstring::kHighByte;
        continue;
      }
      uint32_t width = high ? 2 : 1;
      uint32_t n = std::min<uint32_t>(cch, (end_ - off_) / width);
      if (n == 0) Fail(Fault::Damaged, "Zeichen ueber zwei Datensaetze geteilt");
      if (text) AppendChars(*text, &s_[off_], n, high);
      off_ += n * width;
      cch -= n;
    }
  }

 private:
  void NextRecord() {
    if (++ri_ >= g_.size()) Fail(Fault::Damaged, "Zeichenkettentabelle reicht ueber ihre Datensaetze hinaus");
    off_ = g_[ri_].body();
    end_ = g_[ri_].end();
  }
  void SkipEmptyRecords() {
    while (off_ == end_ && ri_ + 1 < g_.size()) NextRecord();
  }

  std::span<const uint8_t> s_;
  std::span<const RecRef> g_;
  size_t ri_ = 0;
  uint32_t off_ = 0;
  uint32_t end_ = 0;
};

// A record being filled; closed by patching its length.
class RecordWriter {
 public:
  explicit RecordWriter(std::vector<uint8_t>& out) : out_(out) {}
  void Begin(uint16_t type) {
    hdr_ = out_.size();
    PutRecordHeader(out_, type, 0);
  }
  // Goes on filling the record whose header is at `hdr`, the last one in `out`.
  void Resume(size_t hdr) { hdr_ = hdr; }
  void End() { Put16(&out_[hdr_ + 2], static_cast<uint16_t>(out_.size() - hdr_ - 4)); }
  void Next() {
    End();
    Begin(rec::kContinue);
  }
  size_t Room() const { return kMaxRecordBody - (out_.size() - hdr_ - 4); }
  size_t Header() const { return hdr_; }

 private:
  std::vector<uint8_t>& out_;
  size_t hdr_ = 0;
};

}  // namespace

SstTable ParseSst(std::span<const uint8_t> stream, std::span<const RecRef> group, std::vector<std::u16string>* texts) {
  SstTable t;
  if (group.empty() || group[0].len < sst::kStrings) Fail(Fault::Damaged, "Zeichenkettentabelle zu kurz");
  for (const RecRef& r : group) t.records.push_back(r.pos);
  t.total = Get32(&stream[group[0].body() + sst::kTotal]);
  t.unique = Get32(&stream[group[0].body() + sst::kUnique]);
  uint64_t bytes = 0;
  for (const RecRef& r : group) bytes += r.len;
  if (t.unique > bytes / 3) Fail(Fault::Damaged, "Zeichenkettentabelle zaehlt mehr, als sie fasst");
  t.starts.reserve(t.unique);
  t.plain.Reserve(t.unique);

  GroupCursor c(stream, group);
  c.Skip(sst::kStrings);
  std::u16string text;
  for (uint32_t i = 0; i < t.unique; ++i) {
    if (c.AtGroupEnd()) Fail(Fault::Damaged, "Zeichenkettentabelle haelt weniger Zeichenketten als gezaehlt");
    t.starts.push_back(c.Position());
    uint16_t cch = c.U16();
    uint8_t flags = c.Byte();
    uint16_t runs = (flags & xlstring::kRichText) ? c.U16() : 0;
    uint32_t ext = (flags & xlstring::kPhonetic) ? c.U32() : 0;
    text.clear();
    bool plain = runs == 0 && ext == 0;
    c.Chars(cch, flags & xlstring::kHighByte, plain || texts ? &text : nullptr);
    c.Skip(uint64_t{xlstring::kRunSize} * runs + ext);
    if (plain) t.plain.Add(text, i);
    if (texts) texts->push_back(text);
  }
  if (!c.AtGroupEnd()) Fail(Fault::Damaged, "Zeichenkettentabelle haelt mehr Daten als gezaehlt");
  return t;
}

void TextIndex::Reserve(size_t texts) {
  number_.reserve(texts);
  hashes_.reserve(texts);
  begin_.reserve(texts + 1);
}

uint32_t TextIndex::Find(std::u16string_view text, size_t hash) const {
  if (slots_.empty()) return kNone;
  const size_t mask = slots_.size() - 1;
  for (size_t at = hash & mask; slots_[at] != 0; at = (at + 1) & mask) {
    const uint32_t k = slots_[at] - 1;
    if (hashes_[k] == hash && Text(k) == text) return number_[k];
  }
  return kNone;
}

namespace {

// An open-addressed index's slots (text k at the slot holding k + 1) grown
// to twice their number, at least `least`, and refilled from the stored
// hashes: kept at most half full, a probe stays short.
void Regrow(std::vector<uint32_t>& slots, const std::vector<size_t>& hashes, size_t least) {
  std::vector<uint32_t> grown(std::max(least, slots.size() * 2), 0);
  const size_t mask = grown.size() - 1;
  for (uint32_t k = 0; k < hashes.size(); ++k) {
    size_t at = hashes[k] & mask;
    while (grown[at] != 0) at = (at + 1) & mask;
    grown[at] = k + 1;
  }
  slots = std::move(grown);
}

}  // namespace

void TextIndex::Add(std::u16string_view text, uint32_t number) {
  const size_t hash = TextHash{}(text);
  if (Find(text, hash) != kNone) return;
  if (number_.size() * 2 >= slots_.size()) Regrow(slots_, hashes_, 64);
  const size_t mask = slots_.size() - 1;
  size_t at = hash & mask;
  while (slots_[at] != 0) at = (at + 1) & mask;
  slots_[at] = static_cast<uint32_t>(number_.size()) + 1;
  chars_.append(text);
  begin_.push_back(static_cast<uint32_t>(chars_.size()));
  number_.push_back(number);
  hashes_.push_back(hash);
}

uint32_t StringPool::Lookup(std::u16string_view value) {
  const size_t hash = TextHash{}(value);
  if (const uint32_t old = table_->plain.Find(value, hash); old != TextIndex::kNone) return old;
  if (added_.size() * 2 >= slots_.size()) {
    Regrow(slots_, hashes_, 2048);  // at most half full
    added_.reserve(slots_.size() / 2);
    hashes_.reserve(slots_.size() / 2);
  }
  const size_t mask = slots_.size() - 1;
  size_t at = hash & mask;
  for (; slots_[at] != 0; at = (at + 1) & mask) {
    const uint32_t k = slots_[at] - 1;
    if (hashes_[k] == hash && added_[k] == value) return table_->unique + k;
  }
  const auto k = static_cast<uint32_t>(added_.size());
  slots_[at] = k + 1;
  added_.push_back(Store(value));
  hashes_.push_back(hash);
  return table_->unique + k;
}

void StringPool::Clear() {
  // A file adds a few hundred texts to a table that may have grown far
  // larger: only their slots are emptied, each found from its hash.
  if (added_.size() * 8 < slots_.size()) {
    const size_t mask = slots_.size() - 1;
    for (uint32_t k = 0; k < added_.size(); ++k) {
      size_t at = hashes_[k] & mask;
      while (slots_[at] != k + 1) at = (at + 1) & mask;
      slots_[at] = 0;
    }
  } else {
    std::fill(slots_.begin(), slots_.end(), 0);
  }
  added_.clear();
  hashes_.clear();
  recent_.fill(Recent{});
  if (!chunks_.empty()) {
    // The last chunk is the one chunkSize_ describes.
    std::swap(chunks_.front(), chunks_.back());
    chunks_.resize(1);
    chunkRoom_ = chunkSize_;
  }
}

std::u16string_view StringPool::Store(std::u16string_view value) {
  constexpr size_t kChunk = 1 << 16;
  if (value.empty()) return {};
  if (value.size() > chunkRoom_) {
    chunkSize_ = std::max(kChunk, value.size());
    chunks_.push_back(std::unique_ptr<char16_t[]>(new char16_t[chunkSize_]));
    chunkRoom_ = chunkSize_;
  }
  char16_t* at = chunks_.back().get() + (chunkSize_ - chunkRoom_);
  std::copy(value.begin(), value.end(), at);
  chunkRoom_ -= value.size();
  return {at, value.size()};
}

namespace {

static_assert(std::endian::native == std::endian::little, "texts are copied as stored, low byte first");

// Whether any character needs two bytes; eight or four at a time.
bool NeedsHighBytes(std::u16string_view s) {
  const char16_t* p = s.data();
  size_t n = s.size();
  uint64_t any = 0;
#if defined(__SSE2__)
  if (n >= 8) {
    __m128i all = _mm_setzero_si128();
    for (; n >= 8; p += 8, n -= 8) all = _mm_or_si128(all, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    uint64_t halves[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(halves), all);
    any = halves[0] | halves[1];
  }
#endif
  for (; n >= 4; p += 4, n -= 4) {
    uint64_t four;
    std::memcpy(&four, p, sizeof four);
    any |= four;
  }
  for (; n; ++p, --n) any |= *p;
  return any & 0xFF00FF00FF00FF00ull;
}

// Characters below U+0100 as one byte each; eight or four at a time.
void Narrow(uint8_t* out, const char16_t* p, size_t n) {
#if defined(__SSE2__)
  // Packing saturates above 0xFF, which none of these characters is.
  for (; n >= 8; p += 8, n -= 8, out += 8) {
    const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(eight, eight));
  }
#endif
  for (; n >= 4; p += 4, n -= 4, out += 4) {
    uint64_t four;
    std::memcpy(&four, p, sizeof four);
    four = (four | four >> 8) & 0x0000FFFF0000FFFFull;  // the low bytes in pairs
    const auto bytes = static_cast<uint32_t>(four | four >> 16);
    std::memcpy(out, &bytes, sizeof bytes);
  }
  for (; n; --n) *out++ = static_cast<uint8_t>(*p++);
}

// Strings written into the open record of `w` and, when it is full, into
// CONTINUE records. A string's header and its first character stay in one
// record; characters split at a record end are preceded by their high-byte
// flag again. Each part grows `out` once.
void AppendStrings(RecordWriter& w, std::vector<uint8_t>& out, std::span<const std::u16string_view> strings,
                   std::vector<SstStart>& starts) {
  for (std::u16string_view s : strings) {
    const bool high = NeedsHighBytes(s);
    const size_t width = high ? 2 : 1;
    const uint8_t flags = high ? xlstring::kHighByte : 0;
    if (w.Room() < xlstring::kHeader + (s.empty() ? 0 : width)) w.Next();
    starts.push_back({static_cast<uint32_t>(out.size()), static_cast<uint32_t>(w.Header())});
    size_t head = xlstring::kHeader;  // then the flag alone, in a CONTINUE
    for (size_t i = 0;;) {
      const size_t n = std::min(s.size() - i, (w.Room() - head) / width);
      const size_t at = out.size();
      out.resize(at + head + n * width);
      uint8_t* p = &out[at];
      if (head == xlstring::kHeader) Put16(p, static_cast<uint16_t>(s.size()));
      p[head - 1] = flags;
      if (high) {
        std::memcpy(p + head, s.data() + i, n * 2);
      } else {
        Narrow(p + head, s.data() + i, n);
      }
      i += n;
      if (i == s.size()) break;
      w.Next();
      head = 1;
    }
  }
}

}  // namespace

void WriteSst(std::vector<uint8_t>& out, std::span<const uint8_t> stream, std::span<const RecRef> group,
              const SstTable& table, uint32_t total, std::span<const std::u16string_view> added,
              std::vector<SstStart>& starts) {
  const uint32_t unique = table.unique + static_cast<uint32_t>(added.size());
  starts.reserve(unique);
  RecordWriter w(out);
  if (group.empty()) {
    w.Begin(rec::kSst);
    const size_t at = out.size();
    out.resize(at + sst::kStrings);
    Put32(&out[at + sst::kTotal], total);
    Put32(&out[at + sst::kUnique], unique);
    AppendStrings(w, out, added, starts);
    w.End();
    return;
  }
  const uint32_t oldStart = group.front().pos;
  const auto newStart = static_cast<uint32_t>(out.size());
  for (const RecRef& r : group) AppendBytes(out, stream.data() + r.pos, 4u + r.len);
  Put32(&out[newStart + 4 + sst::kTotal], total);
  Put32(&out[newStart + 4 + sst::kUnique], unique);
  // Both ascending: the record a string begins in is the last one starting before it.
  const std::vector<uint32_t>& recs = table.records;
  size_t r = 0;
  for (uint32_t p : table.starts) {
    while (r + 1 < recs.size() && recs[r + 1] <= p) ++r;
    starts.push_back({p - oldStart + newStart, recs[r] - oldStart + newStart});
  }
  if (added.empty()) return;
  // As Excel does: new strings go on in the free room of the last record.
  const RecRef& last = group.back();
  if (last.len < kMaxRecordBody) {
    w.Resume(last.pos - oldStart + newStart);
  } else {
    w.Begin(rec::kContinue);
  }
  AppendStrings(w, out, added, starts);
  w.End();
}

void WriteExtSst(std::vector<uint8_t>& out, std::span<const SstStart> starts) {
  // Buckets of n / 128 + 1 strings, at least 8: at most 128 buckets.
  constexpr size_t kMinBucket = 8;
  constexpr size_t kMaxBuckets = 128;
  const size_t n = starts.size();
  const size_t per = std::max(kMinBucket, n / kMaxBuckets + 1);
  const size_t buckets = (n + per - 1) / per;
  const auto len = static_cast<uint16_t>(extsst::kBuckets + extsst::kBucketSize * buckets);
  PutRecordHeader(out, rec::kExtSst, len);
  const size_t at = out.size();
  out.resize(at + len);
  uint8_t* body = &out[at];
  Put16(body + extsst::kDsst, static_cast<uint16_t>(per));
  for (size_t b = 0; b < buckets; ++b) {
    const SstStart& s = starts[b * per];
    uint8_t* bucket = body + extsst::kBuckets + extsst::kBucketSize * b;
    Put32(bucket, s.pos);
    Put16(bucket + 4, static_cast<uint16_t>(s.pos - s.recordPos));
    Put16(bucket + 6, 0);
  }
}

}  // namespace skov::xls
