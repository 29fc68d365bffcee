// The same-bytes path of the match loop: while both inputs go on with the same bytes, lines are
// taken from the source alone and written as one block.
#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/bytes.h"
#include "run.h"

namespace vesmer::detail {
namespace {

// How much of the first `same` bytes of `bytes` is whole lines whose line ends are known from
// those bytes alone: up to the line end of the last CR that is followed by one of them (that
// byte decides whether an LF belongs to the line end).
std::size_t WholeLinesIn(std::string_view bytes, std::size_t same) {
  if (same < 2) return 0;
  const void* cr = ::memrchr(bytes.data(), '\r', same - 1);
  if (cr == nullptr) return 0;
  const auto at = static_cast<std::size_t>(static_cast<const char*>(cr) - bytes.data());
  return at + (bytes[at + 1] == '\n' ? 2 : 1);
}

// Whether the short key of words `high`, `low` (KeyText::Words) comes after the one of
// `before_high`, `before_low`.
[[gnu::always_inline]] inline bool KeyFollows(std::uint64_t high, std::uint64_t low,
                                              std::uint64_t before_high, std::uint64_t before_low) {
  return high > before_high || (high == before_high && low > before_low);
}

// The bits set in `x` (without a call, where the processor may lack an instruction for it).
std::size_t CountBits(std::uint64_t x) {
  x -= (x >> 1) & 0x5555555555555555ull;
  x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
  x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0full;
  return static_cast<std::size_t>((x * 0x0101010101010101ull) >> 56);
}

// The CRs of the first `limit` bytes of `bytes` in order, found 64 bytes at a time: lines one
// after another without a chain of loads from one line end to the next. The bytes past `limit`
// are read, where there are 64, but never taken.
class CrFinder {
 public:
  CrFinder(std::string_view bytes, std::size_t limit, std::size_t start = 0)
      : bytes_(bytes), limit_(limit), block_(start) {}
  // The position of the next CR; `limit` when there is none.
  [[gnu::always_inline]] std::size_t Next() {
    while (mask_ == 0) {
      if (block_ >= limit_) return limit_;
      mask_ = Mask(block_);
      block_ += 64;
    }
    const auto at = block_ - 64 + static_cast<std::size_t>(__builtin_ctzll(mask_));
    mask_ &= mask_ - 1;
    return at;
  }

  // Moves past the CRs before `to` (at most `limit`), `most` of them at most, counted 64 bytes
  // at a time; returns how many, and leaves the position of the last of them in `last`.
  std::size_t SkipBefore(std::size_t to, std::size_t most, std::size_t& last) {
    std::size_t skipped = 0;
    while (skipped < most) {
      if (mask_ != 0) {
        const std::size_t base = block_ - 64;
        std::uint64_t below = mask_;
        if (to < block_) below &= to <= base ? 0 : (std::uint64_t{1} << (to - base)) - 1;
        const std::size_t count = CountBits(below);
        if (skipped + count > most) {
          for (; skipped < most; ++skipped) {
            last = base + static_cast<std::size_t>(__builtin_ctzll(mask_));
            mask_ &= mask_ - 1;
          }
          return skipped;
        }
        if (count != 0) last = base + 63 - static_cast<std::size_t>(__builtin_clzll(below));
        skipped += count;
        mask_ &= ~below;
        if (mask_ != 0) return skipped;  // the CRs left are at `to` or past it
      }
      if (block_ >= to || block_ >= limit_) return skipped;
      mask_ = Mask(block_);
      block_ += 64;
    }
    return skipped;
  }

 private:
  // Bit i: a CR at `from` + i, before `limit`.
  [[nodiscard]] std::uint64_t Mask(std::size_t from) const {
    const char* p = bytes_.data() + from;
    const std::size_t n = std::min<std::size_t>(64, limit_ - from);
    std::uint64_t mask = 0;
#if defined(__SSE2__)
    if (bytes_.size() - from >= 64) {
      const __m128i cr = _mm_set1_epi8('\r');
      for (int i = 0; i < 4; ++i) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        mask |=
            std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, cr)))}
            << (16 * i);
      }
      return n == 64 ? mask : mask & ((std::uint64_t{1} << n) - 1);
    }
#endif
    for (std::size_t i = 0; i < n; ++i) mask |= std::uint64_t{p[i] == '\r'} << i;
    return mask;
  }

  std::string_view bytes_;
  std::size_t limit_;
  std::size_t block_;  // where the next 64 bytes to look at begin
  std::uint64_t mask_ = 0;
};

}  // namespace

std::uint64_t OrderedLineMarks::Inspect(std::string_view bytes) noexcept {
  constexpr unsigned kUnaskedChunks = 2 * LineReader::kObservedReadAheadChunks;
  if (wanted_.exchange(false, std::memory_order_relaxed)) {
    unasked_ = 0;
  } else if (unasked_ < kUnaskedChunks) {
    ++unasked_;
  } else {
    return 0;
  }
  if (keyed_ && !short_keys_) return 0;
  if (bytes.size() > kPositionMask) return 0;  // where the note cannot say
  const void* first = std::memchr(bytes.data(), '\r', bytes.size());
  if (first == nullptr) return 0;
  const auto cr = static_cast<std::size_t>(static_cast<const char*>(first) - bytes.data());
  if (cr + 1 >= bytes.size()) return 0;
  const std::size_t from = cr + (bytes[cr + 1] == '\n' ? 2 : 1);
  // Kept at hand: the loops look at nothing else.
  const KeyBuilder::ShortKeyShape shape = shape_;
  const bool keyed = keyed_;
  const char* const p = bytes.data();
  const std::size_t size = bytes.size();
  std::size_t to = from;
  // (A first key of NUL bytes alone starts no stretch: it is only not looked at ahead.)
  std::uint64_t high = 0, low = 0;
  std::size_t lines = 0;
  std::size_t same_length = 0;  // of every line taken, while they have one; 0 once they differ
#if defined(__SSE2__)
  // Lines of one length, as fixed-layout records are, of at most 16 bytes before their CR LF:
  // each is looked at where the one before says it ends, 16 bytes at once, without finding its
  // CR first. The first line that is not such a line, or not one in order, is left to the loop
  // below, which looks at it again.
  if (const void* line_cr = std::memchr(p + from, '\r', std::min<std::size_t>(size - from, 17))) {
    const std::size_t body = static_cast<std::size_t>(static_cast<const char*>(line_cr) - p) - from;
    const std::size_t length = body + 2;
    if (!keyed || body >= shape.last) {
      const unsigned body_bits = body >= 16 ? 0xFFFFu : (1u << body) - 1;
      const unsigned head_bits = keyed ? (1u << shape.last) - 1 : 0u;  // `last` is 16 at most
      const __m128i cr16 = _mm_set1_epi8('\r');
      const std::size_t reach = std::max<std::size_t>(16, length);
      while (to + reach <= size) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + to));
        if ((static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr16))) & body_bits) != 0 ||
            p[to + body] != '\r' || p[to + body + 1] != '\n') {
          break;
        }
        if (keyed) {
          // KeyBuilder::ShortKeyWordsOf: the head up to the key's last column is ASCII (the
          // sign bits of its bytes), and the key is the bytes at `start`.
          if ((static_cast<unsigned>(_mm_movemask_epi8(v)) & head_bits) != 0) break;
          std::uint64_t h, l;
          KeyText::Words(std::string_view(p + to + shape.start, shape.length), h, l);
          if (!KeyFollows(h, l, high, low)) break;
          high = h;
          low = l;
        }
        to += length;
        ++lines;
      }
      if (lines != 0) same_length = length;
    }
  }
#endif
  CrFinder crs(bytes, size, to);
  // Longer lines cost the run's thread little each, and looking at them here costs more than
  // it saves there: the first lines of a chunk tell. (Lines the loop above took are short.)
  constexpr std::size_t kSampleLines = 16, kLongLine = 48;
  for (;; ++lines) {
    if (lines == kSampleLines && to - from >= kSampleLines * kLongLine) return 0;
    const std::size_t end = crs.Next();
    if (end + 1 >= size || p[end + 1] != '\n') break;
    if (keyed) {
      std::uint64_t h, l;
      if (!KeyBuilder::ShortKeyWordsOf(std::string_view(p + to, end - to), shape, h, l) ||
          !KeyFollows(h, l, high, low)) {
        break;
      }
      high = h;
      low = l;
    }
    if (lines == 0) {
      same_length = end + 2 - to;
    } else if (end + 2 - to != same_length) {
      same_length = 0;
    }
    to = end + 2;
  }
  const std::size_t length = same_length <= kLongestLength ? same_length : 0;
  return std::uint64_t{length} << (2 * kPositionBits) | std::uint64_t{to} << kPositionBits | from;
}

// After a pair, equal or not. While both files go on with the same bytes, as most of a migration
// check does, the destination's records are taken from the source's: lines, keys and their order
// are worked out on one side only, the pairs need no comparing, and the matching lines go to
// their result file as one block. The pair's keys are equal (keys that compare equal even where
// their bytes do not), so the same lines after them repeat or follow them alike on both sides.
// Only whole lines within the same bytes of both chunks at hand are taken so, so the
// destination's reader is moved past exactly the lines it would have handed out.
bool Run::AdvanceOverSameBytes(bool after_unequal) {
  InputSide& src = side(Side::kSource);
  InputSide& dst = side(Side::kDestination);
  const bool from_files = src.reads_file() && dst.reads_file();
  const std::string_view a = from_files ? src.file().Ahead() : std::string_view();
  const std::string_view b = from_files ? dst.file().Ahead() : std::string_view();
  std::size_t end = 0;
  if (!a.empty() && !b.empty()) {
    end = WholeLinesIn(a, CommonPrefixLength(a, b));
  }
  if (after_unequal && end == 0) skip_same_bytes_ = kUnequalPairsNotLookedAfter;
  std::size_t done = 0;     // bytes of `a` whose lines are read or looked at
  std::size_t paired = 0;   // bytes of `a` whose pairs are made
  std::size_t written = 0;  // bytes of `a` whose matching lines are in their file
  std::int64_t unwritten = 0;
  // Before the source's reader moves on from `a`, or the run stops.
  const auto write_matching = [&] {
    if (unwritten != 0) files_.PutMatching(a.substr(written, paired - written), unwritten);
    written = paired;
    unwritten = 0;
  };
  // The destination reads its records only when something looks at them: sinks where a key
  // repeats or that want every pair, progress, and the end.
  std::size_t taken = 0;  // bytes of `b` the destination has read
  std::int64_t behind = 0;
  const auto catch_up = [&] {
    if (behind == 0) return;
    const auto at = static_cast<std::size_t>(src.record().raw().data() - a.data());
    ReadSameRecord(dst, src, b.substr(at, src.record().raw().size()), done - taken, behind);
    // The records passed over repeat no key: a repeat is caught up with at once.
    if (behind > 1) previous_repeated_[Index(Side::kDestination)] = false;
    NoteRepeatedKey(dst);
    taken = done;
    behind = 0;
  };
  // Nor does the source, for lines that end with CR LF and whose short keys (or none, in line
  // mode) go up: those are looked at here, from their bytes alone. Its record is made when a
  // line needs more.
  const bool each_pair = !equal_sinks_.empty();
  const KeyBuilder& keys = src.key_builder();
  const std::size_t key_size = keys.short_key_size();
  KeyBuilder::ShortKeyShape shape;  // kept at hand for the loops below
  const bool short_keys = keys.ShortKeys(shape);
  const auto short_key_words = [&](std::string_view line, std::uint64_t& h, std::uint64_t& l) {
    return short_keys && KeyBuilder::ShortKeyWordsOf(line, shape, h, l);
  };
  std::uint64_t high = 0, low = 0;  // the source's last key
  bool short_key = !job_.UseKey || src.record().key_text().WordsOfSize(key_size, high, low);
  std::size_t read = 0;  // bytes of `a` the source's reader has been moved past
  std::int64_t looked_at = 0;
  std::string_view last;  // the last of them
  const auto make_source = [&] {
    if (looked_at == 0) return;
    ReadRecordsAhead(src, last, done - read, looked_at);
    NoteRepeatedKey(src);
    read = done;
    looked_at = 0;
  };
  // The stretch of `a` that the source's read-ahead found to be lines in order (see
  // OrderedLineMarks), counted from the start of `a`; `a` starts at a line start.
  std::size_t marked_from = 0, marked_to = 0;
  std::size_t marked_length = 0;  // of each of those lines, when they have one
  if (line_marks_ && end != 0) {
    line_marks_->Want();
    const std::uint64_t note = src.file().chunk_note();
    const std::size_t offset = src.file().ahead_offset();
    if (OrderedLineMarks::To(note) > offset) {
      marked_from = OrderedLineMarks::From(note) - std::min(OrderedLineMarks::From(note), offset);
      marked_to = OrderedLineMarks::To(note) - offset;
      marked_length = OrderedLineMarks::Length(note);
    }
  }
  CrFinder crs(a, end);
  const bool keyed = job_.UseKey;
  while (done < end) {
    std::size_t cr = crs.Next();
    if (cr >= end) break;  // (never: `end` is a line end)
    // Nothing in here lists a pair, so no stop can be asked for while it runs.
    if (short_key && !each_pair && until_check_ > 1 && !(list_ && list_->stop_requested())) {
      // Equal pairs, in order, with no repeated key, of lines that end with CR LF: counted, and
      // written with the others. A loop of their own that keeps what they change at hand, up to
      // the next check; the first line that is not such a pair goes on below.
      const std::uint32_t most = until_check_ - 1;
      // Lines the read-ahead found in order: once the first is seen to follow the source's last
      // key, those after it are only counted, 64 bytes at a time (or from their one length).
      if (done >= marked_from && done < marked_to) {
        std::uint64_t h = 0, l = 0;
        if (!keyed ||
            (short_key_words(a.substr(done, cr - done), h, l) && KeyFollows(h, l, high, low))) {
          std::size_t last_cr = cr;
          std::uint32_t lines;
          std::size_t start;  // of the last of them
          if (marked_length != 0 && cr + 2 - done == marked_length) {
            // Lines of one length: counted from where they end, no CR looked for.
            const std::size_t fit = (std::min(end, marked_to) - done) / marked_length;
            lines = static_cast<std::uint32_t>(std::min<std::size_t>(fit, most));
            start = done + (lines - 1) * marked_length;
            last_cr = start + marked_length - 2;
            crs = CrFinder(a, end, last_cr + 2);
          } else {
            lines = static_cast<std::uint32_t>(
                1 + crs.SkipBefore(std::min(end, marked_to), most - 1, last_cr));
            const void* before = ::memrchr(a.data() + done, '\r', last_cr - done);
            start = before == nullptr
                        ? done
                        : static_cast<std::size_t>(static_cast<const char*>(before) - a.data()) + 2;
          }
          last = a.substr(start, last_cr - start);
          if (keyed && !short_key_words(last, high, low)) short_key = false;
          looked_at += lines;
          behind += lines;
          until_check_ -= lines;
          found_[OutputKind::kMatching] += lines;
          unwritten += lines;
          done = last_cr + 2;
          paired = done;
          continue;
        }
      }
      std::uint32_t pairs = 0;
      std::size_t at = done;  // where the line ending at `cr` begins
      bool other = false;     // that line is no such pair
      for (;;) {
        if (a[cr + 1] != '\n') {
          other = true;
          break;
        }
        const std::string_view line = a.substr(at, cr - at);
        if (keyed) {
          std::uint64_t h, l;
          if (!short_key_words(line, h, l) || !KeyFollows(h, l, high, low)) {
            other = true;
            break;
          }
          high = h;
          low = l;
        }
        last = line;
        at = cr + 2;
        // Where the lines the read-ahead found in order begin, they are counted as above.
        if (++pairs == most || at == marked_from) break;
        cr = crs.Next();
        if (cr >= end) break;  // at `end`
      }
      looked_at += pairs;
      behind += pairs;
      until_check_ -= pairs;
      found_[OutputKind::kMatching] += pairs;
      unwritten += pairs;
      done = at;
      if (pairs != 0) paired = at;
      if (!other) continue;
    }
    const std::size_t used = cr + (a[cr + 1] == '\n' ? 2 : 1);
    const std::string_view line = a.substr(done, cr - done);
    const bool crlf = used - cr == 2;
    make_source();
    ReadRecordAhead(src, line, used - done, out_of_order_);
    NoteRepeatedKey(src);
    done = used;
    read = used;
    ++behind;
    short_key = !job_.UseKey || src.record().key_text().WordsOfSize(key_size, high, low);
    if (each_pair || src.repeated_key) catch_up();
    // What MatchAll does between two pairs; the keys are equal, the lines the same.
    if (list_ && list_->stop_requested()) stop_ = true;
    if (out_of_order_ || stop_) {
      catch_up();
      write_matching();
      return true;
    }
    if (--until_check_ == 0) {
      catch_up();
      if (!Check()) {
        write_matching();
        return false;
      }
    }
    // A line ended otherwise than with CR LF is written as result files write lines.
    if (!crlf) write_matching();
    PairEqual(PairVerdict::kEqual, !crlf);
    paired = used;
    if (crlf) {
      ++unwritten;
    } else {
      written = paired;
    }
  }
  make_source();
  catch_up();
  write_matching();
  Advance(src);
  Advance(dst);
  return true;
}

// The same-bytes path of fixed-length records of one code page on both sides, after an equal
// pair. While both files go on with the same bytes, the records there are equal pairs: none is
// decoded, only looked at for bytes that are no character (such a record is counted, so it goes
// the records' own way), and the source's keys decoded from the bytes that hold them, to see
// that they go up. The destination takes its records and keys from the source, and the
// matching records go to their file as one block.
bool Run::AdvanceOverSameRecords() {
  InputSide& src = side(Side::kSource);
  InputSide& dst = side(Side::kDestination);
  const std::size_t length = same_records_;
  const std::string_view a = framed_[0]->Ahead();
  const std::string_view b = framed_[1]->Ahead();
  // Whole records both have read ahead; each is seen to be the same on both sides as it is
  // taken (the bytes both share are never looked at further than the records taken: a stretch
  // that stops at every repeated key would look at them again and again).
  std::size_t end = 0;
  if (!a.empty() && !b.empty() && equal_sinks_.empty() &&
      src.record().raw() == dst.record().raw()) {
    end = std::min(a.size(), b.size()) / length * length;
  }
  RecordDecoder& decoder = *src.decoder();
  // A record taken is the same bytes on both sides: what either side knows of it holds for both.
  const std::size_t clean = std::max(framed_[0]->AheadKnownClean(), framed_[1]->AheadKnownClean());
  const KeyBuilder& keys = src.key_builder();
  std::array<KeyText, 2> built;
  const KeyText* last_key = &src.record().key_text();
  std::size_t done = 0;
  std::int64_t taken = 0;
  while (done < end && until_check_ > 1 && !(list_ && list_->stop_requested())) {
    const std::string_view record = a.substr(done, length);
    if (std::memcmp(record.data(), b.data() + done, length) != 0) break;
    if (done + length > clean && !decoder.KnownClean(record, false)) break;
    if (job_.UseKey) {
      // A repeated key, or one that falls: the records' own path says what it is.
      const std::string_view before =
          done == 0 ? src.record().raw() : a.substr(done - length, length);
      int order = 0;
      if (keys.OrderOfRecordKeys(decoder, before, record, order)) {
        if (order >= 0) break;
        last_key = nullptr;  // made when it is needed
      } else {
        if (last_key == nullptr) {
          KeyText& made = built[static_cast<std::size_t>(taken & 1) ^ 1];
          keys.BuildOfCleanRecord(decoder, before, false, made);
          last_key = &made;
        }
        KeyText& key = built[static_cast<std::size_t>(taken & 1)];
        keys.BuildOfCleanRecord(decoder, record, false, key);
        if (key.empty() || Compare(*last_key, key) >= 0) break;
        last_key = &key;
      }
    }
    done += length;
    ++taken;
    --until_check_;
  }
  if (taken > 0) {
    if (job_.UseKey && last_key == nullptr) {
      keys.BuildOfCleanRecord(decoder, a.substr(done - length, length), false, built[0]);
      last_key = &built[0];
    }
    found_[OutputKind::kMatching] += taken;
    files_.PutMatchingRecords(a.substr(0, done), taken, length);
    framed_[0]->Skip(taken);
    framed_[1]->Skip(taken);
    HoldRecordsAhead(src, a.substr(done - length, length), taken, job_.UseKey ? last_key : nullptr);
    HoldRecordsAhead(dst, b.substr(done - length, length), taken, job_.UseKey ? last_key : nullptr);
    NoteRepeatedKey(src);
    NoteRepeatedKey(dst);
  }
  Advance(src);
  Advance(dst);
  return true;
}

}  // namespace vesmer::detail
