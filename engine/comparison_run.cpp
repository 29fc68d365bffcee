#include "engine/comparison_run.h"

#include <chrono>
#include <memory>
#include <optional>

#include "engine/messages.h"
#include "engine/record_reader.h"
#include "engine/result_list.h"
#include "engine/utf8_input.h"
#include "platform/cp932.h"
#include "platform/files.h"

namespace vesmer {
namespace {

constexpr std::uint32_t kRecordsPerClockCheck = 4096;
constexpr auto kKeepAliveInterval = std::chrono::milliseconds(100);

class Run {
 public:
  explicit Run(RunHost& host) : host_(host) {}
  RunSummary Execute();

 private:
  bool SetUp();
  bool MatchAll();
  void WriteResultRecord(int kind, bool partnered = true);
  void Advance(int side);
  void CloseStep();
  void OpenResultList();
  bool CheckClock();

  RunHost& host_;
  ComparisonJob job_;
  std::array<InputSide, 2> sides_;
  std::array<OutputFile, kOutputKinds> outputs_;
  std::array<std::int64_t, kOutputKinds> counts_{};
  std::optional<ResultListWriter> list_;
  bool out_of_order_ = false;
  bool stop_ = false;
  bool write_failed_ = false;
  std::string status_;
  std::uint32_t until_clock_check_ = kRecordsPerClockCheck;
  std::chrono::steady_clock::time_point next_keep_alive_;
};

void Run::Advance(int side) { ReadRecord(sides_[side], job_, out_of_order_); }

bool Run::CheckClock() {
  if (--until_clock_check_ != 0) return true;
  until_clock_check_ = kRecordsPerClockCheck;
  // A full disk ends the run now rather than after the whole input has been read.
  for (const OutputFile& out : outputs_) {
    if (!out.status().ok()) write_failed_ = true;
  }
  if (write_failed_) return false;
  const auto now = std::chrono::steady_clock::now();
  if (now < next_keep_alive_) return true;
  next_keep_alive_ = now + kKeepAliveInterval;
  return host_.KeepAlive(sides_[0].reader.consumed(), sides_[0].reader.size());
}

bool Run::SetUp() {
  for (int side = 0; side < 2; ++side) {
    const std::string& path = job_.InputData[side];
    if (job_.Utf8[side] && !ConvertUtf8Input(path).ok()) return false;
    if (!sides_[side].reader.Open(path).ok()) return false;
    sides_[side].lines_read = 0;
    host_.SetInputCount(side, "");
  }
  // A result file that is one of the inputs would be destroyed by creating it: refuse before
  // any file is created or truncated.
  for (int kind = 0; kind < kOutputKinds; ++kind) {
    if (!job_.OutputSelected[kind]) continue;
    const FileId id = IdOfPath(job_.ResultPath[kind]);
    if (id == sides_[0].reader.id() || id == sides_[1].reader.id()) return false;
  }
  for (int kind = 0; kind < kOutputKinds; ++kind) {
    if (job_.OutputSelected[kind] && !outputs_[kind].Create(job_.ResultPath[kind]).ok()) {
      return false;
    }
    counts_[kind] = 0;
    host_.SetOutputCount(kind, "");
  }
  if (job_.OutputSelected[kResultList]) {
    list_.emplace(outputs_[kResultList], cp932::FromUtf8(job_.Scale), job_.Display, host_);
  }
  for (int line = 0; line < 3; ++line) host_.SetRecordLine(line, "");
  out_of_order_ = false;
  sides_[0].ClearKeys();
  sides_[1].ClearKeys();
  Advance(0);
  Advance(1);
  // Each pair is aligned when it is compared (ComparisonTextsEqual).
  return !sides_[0].read_failed && !sides_[1].read_failed;
}

void Run::WriteResultRecord(int kind, bool partnered) {
  if (!job_.OutputSelected[kind]) return;
  const InputSide& side = sides_[kind % 2];
  outputs_[kind].AppendLine(side.raw);
  ++counts_[kind];

  if (!list_) return;
  const bool listed = partnered ? (kind == kSourceDiffers || (kind == kDestinationDiffers &&
                                                              !job_.OutputSelected[kSourceDiffers]))
                                : (kind == kSourceDiffers || kind == kDestinationDiffers);
  if (!listed) return;
  ListedPair pair;
  if (partnered || kind == kSourceDiffers) {
    pair.source_line = sides_[0].raw;
    pair.source_comparison = sides_[0].ComparisonBytes(job_);
  }
  if (partnered || kind == kDestinationDiffers) {
    pair.destination_line = sides_[1].raw;
    pair.destination_comparison = sides_[1].ComparisonBytes(job_);
  }
  pair.number = sides_[partnered ? 0 : kind % 2].lines_read;
  if (!list_->Write(pair)) stop_ = true;
  ++counts_[kResultList];
}

// Returns false when a read or write failed.
bool Run::MatchAll() {
  InputSide& src = sides_[0];
  InputSide& dst = sides_[1];
  while (src.has_record || dst.has_record) {
    if (out_of_order_) return true;
    if (stop_ || !CheckClock()) {
      if (write_failed_) return false;
      stop_ = true;
      return true;
    }
    if (job_.UseKey && src.has_record && dst.has_record) {
      const int order = CompareKeys(src.key(), dst.key());
      if (order > 0) {
        WriteResultRecord(kDestinationUnmatched);
        Advance(1);
      } else if (order < 0) {
        WriteResultRecord(kSourceUnmatched);
        Advance(0);
      } else {
        if (!ComparisonTextsEqual(src, dst, job_)) {
          WriteResultRecord(kSourceDiffers);
          WriteResultRecord(kDestinationDiffers);
        } else {
          WriteResultRecord(kMatching);
        }
        Advance(0);
        Advance(1);
      }
    } else if (job_.UseKey) {
      const int side = src.has_record ? 0 : 1;
      WriteResultRecord(side == 0 ? kSourceUnmatched : kDestinationUnmatched);
      Advance(side);
    } else if (src.has_record && dst.has_record) {
      if (!ComparisonTextsEqual(src, dst, job_)) {
        WriteResultRecord(kSourceDiffers);
        WriteResultRecord(kDestinationDiffers);
      } else {
        WriteResultRecord(kMatching);
      }
      Advance(0);
      Advance(1);
    } else {
      // Line mode past the end of one file: the other's lines have no partner.
      const int side = src.has_record ? 0 : 1;
      WriteResultRecord(side == 0 ? kSourceDiffers : kDestinationDiffers, false);
      Advance(side);
    }
    if (src.read_failed || dst.read_failed) return false;
  }
  return true;
}

void Run::CloseStep() {
  for (InputSide& side : sides_) side.reader.Close();
  bool failed = false;
  for (OutputFile& out : outputs_) {
    if (out.is_open() && !out.Close().ok()) failed = true;
  }
  if (failed) {
    status_ = messages::kReadWriteFailed;
    host_.SetStatus(status_);
  }
  for (int side = 0; side < 2; ++side) {
    host_.SetInputCount(side, std::to_string(sides_[side].lines_read));
  }
  for (int kind = 0; kind < kOutputKinds; ++kind) {
    host_.SetOutputCount(kind, std::to_string(counts_[kind]));
  }
  host_.ApplyControlStates(true);
}

void Run::OpenResultList() {
  const std::string& path = job_.ResultPath[kResultList];
  if (!job_.Editor) {
    host_.OpenDocument(path);
  } else if (FileExists(job_.EditorName)) {
    host_.StartProgram({job_.EditorName, path});
  } else {
    status_ = messages::kEditorNotFound;
    host_.SetStatus(status_);
    host_.OpenDocument(path);
  }
}

RunSummary Run::Execute() {
  status_ = messages::kRunning;
  host_.SetStatus(status_);
  host_.ApplyControlStates(false);
  job_ = host_.TakeJob();
  next_keep_alive_ = std::chrono::steady_clock::now() + kKeepAliveInterval;

  RunSummary summary;
  if (!SetUp()) {
    summary.outcome = RunOutcome::kSetupFailed;
    status_ = messages::kCannotOpen;
    host_.SetStatus(status_);
  } else if (!MatchAll()) {
    summary.outcome = RunOutcome::kIoFailed;
    status_ = messages::kReadWriteFailed;
    host_.SetStatus(status_);
  } else if (out_of_order_) {
    summary.outcome = RunOutcome::kOutOfOrder;
    status_ = messages::kOutOfOrder;
    host_.SetStatus(status_);
  } else if (stop_) {
    summary.outcome = RunOutcome::kStopped;
  } else {
    // Flush before claiming success: a full disk must not end as a completed run.
    bool flushed = true;
    for (OutputFile& out : outputs_) {
      if (out.is_open() && !out.Flush().ok()) flushed = false;
    }
    const bool differences = counts_[0] + counts_[1] + counts_[2] + counts_[3] + counts_[5] != 0;
    if (!flushed) {
      summary.outcome = RunOutcome::kIoFailed;
      status_ = messages::kReadWriteFailed;
    } else {
      summary.outcome = differences ? RunOutcome::kDifferences : RunOutcome::kNoDifferences;
      status_ = differences ? messages::kCompleted : messages::kCompletedNoDifferences;
    }
    host_.SetStatus(status_);
  }
  const std::string before_close = status_;
  CloseStep();
  if (status_ != before_close) summary.outcome = RunOutcome::kIoFailed;
  if (summary.outcome == RunOutcome::kDifferences && job_.OpenResult &&
      job_.OutputSelected[kResultList]) {
    OpenResultList();
  }
  summary.status = status_;
  summary.lines_read = {sides_[0].lines_read, sides_[1].lines_read};
  summary.counts = counts_;
  summary.job = std::move(job_);
  return summary;
}

}  // namespace

RunSummary RunComparison(RunHost& host) { return Run(host).Execute(); }

}  // namespace vesmer
