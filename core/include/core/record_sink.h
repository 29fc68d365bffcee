// Record sinks: the run classifies every record; what becomes of a classified record (a line in
// a result file, an entry in the result list, a figure in a report) is a sink's business.
#pragma once

#include "core/record_reader.h"
#include "platform/status.h"

namespace vesmer {

class PairDiff;

enum class PairVerdict {
  kEqual,     // the comparison texts are equal
  kExpected,  // they differ, but only where the rules accept it
  kDiffers,
};

class RecordSink {
 public:
  virtual ~RecordSink() = default;

  // Key mode: a record whose key finds no partner on the other side.
  virtual void OnUnmatched(const Record& /*record*/) {}
  // A pair: equal keys, or the same line number. Equal and expected pairs reach only sinks that
  // want them (below). `diff`: what differs, for a pair that is not equal; null for an equal
  // one.
  virtual void OnPair(const Record& /*source*/, const Record& /*destination*/,
                      PairVerdict /*verdict*/, const PairDiff* /*diff*/) {}
  // Line mode: a line past the end of the other file, without a partner; `diff` lists it
  // against an empty line.
  virtual void OnLoneLine(const Record& /*record*/, const PairDiff& /*diff*/) {}
  // Key mode: a record read whose key equals the key of the record before it on its side.
  virtual void OnRepeatedKey(const Record& /*record*/) {}
  // Whether OnPair wants pairs whose texts are equal (kEqual), and pairs the rules accept
  // (kExpected). Pairs of the same bytes make up most of a migration check: a sink that does
  // not want them lets the run take such lines together without making records of them.
  [[nodiscard]] virtual bool WantsEqualPairs() const { return false; }
  [[nodiscard]] virtual bool WantsExpectedPairs() const { return WantsEqualPairs(); }
  // Once, when the run ends on whatever path: flush what is held. A failure ends a run that
  // would otherwise complete as failed.
  [[nodiscard]] virtual Status Finish() { return {}; }
};

// Decides, for a pair whose comparison texts differ, whether every difference is one the user
// accepts (an expected difference).
class PairJudge {
 public:
  virtual ~PairJudge() = default;
  // `diff` holds both records.
  [[nodiscard]] virtual bool Accepts(const PairDiff& diff) = 0;
};

}  // namespace vesmer
