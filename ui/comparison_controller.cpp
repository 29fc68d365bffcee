#include "ui/comparison_controller.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include "app/run_plan.h"
#include "core/messages.h"
#include "core/result_list.h"
#include "platform/files.h"
#include "platform/process.h"
#include "ui/form_support.h"
#include "ui/main_window.h"

namespace vesmer {
namespace {

constexpr qint64 kDisplayIntervalMs = 40;
// How often a run takes in the desktop's input (clicks, keys, the close box) and runs due
// timers: a person notices nothing under a tenth of a second.
constexpr qint64 kEventIntervalMs = 10;
// The clock is read once for about this many segments.
constexpr int kSegmentsPerClockRead = 16;

QString FromStd(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

std::string FindEditor(const std::string& editor_name) {
  const bool bare = editor_name.find('/') == std::string::npos;
  if (bare) {
    const std::string found = FindOnPath(editor_name);
    if (!found.empty() && FileExists(found)) return found;
  }
  if (!FileExists(editor_name)) return {};
  // A bare name found in the current folder keeps a "/": the program is started without a
  // shell, and a name without one would be looked up on PATH again, where it is not.
  return bare ? "./" + editor_name : editor_name;
}

void ComparisonController::KeyTextNormalised(const std::string& text) {
  form_.txtKeyRange->setText(FromStd(text));
  LetEventsRun();
}

void ComparisonController::OmitTextNormalised(const std::string& text) {
  form_.txtOmitRange->setText(FromStd(text));
  LetEventsRun();
}

void ComparisonController::Start() {
  form_.SetStatusText("");
  const SettingsStore values = form_.CollectValues();
  RunPlan plan;
  if (const auto refusal = plan.Prepare(RunRequestFromSettings(values), this)) {
    form_.SetStatusText(FromStd(refusal->message));
    QWidget* focus = nullptr;
    switch (refusal->item) {
      case StartItem::kSource:
        focus = form_.cmdSelInput[0];
        break;
      case StartItem::kDestination:
        focus = form_.cmdSelInput[1];
        break;
      case StartItem::kKeyRange:
        focus = form_.txtKeyRange;
        break;
      case StartItem::kOmitRange:
        focus = form_.txtOmitRange;
        break;
      case StartItem::kNone:
        break;
    }
    if (focus != nullptr) focus->setFocus();
    return;
  }
  if (form_.unloaded()) return;  // the window was closed while the checks let events run

  running_ = true;
  stop_ = false;
  form_.prgProgress->setValue(0);
  form_.prgProgress->show();
  form_.SetStatusText(messages::kRunning);
  form_.ApplyControlStates(false);
  const ComparisonJob& job = plan.job();
  options_.display = IsOn(values.Display);
  options_.open_result = IsOn(values.OpenResult);
  // Anything but "0" opens the list with the named editor.
  options_.editor = values.Editor != "0";
  options_.editor_name = values.EditorName;
  for (QLabel* l : form_.lblFileICount) l->setText("");
  for (QLabel* l : form_.lblFileOCount) l->setText("");
  for (QLabel* l : form_.lblRecord) l->setText("");
  segment_pending_ = false;
  // The first segment shows its pair and runs the full loop.
  run_clock_.start();
  shown_at_ = -1;
  events_at_ = -1;
  segments_until_clock_ = 0;
  odd_stride_ = false;

  const RunSummary summary = plan.Run(*this);

  form_.prgProgress->hide();
  // The last listed pair stays shown.
  if (segment_pending_) ShowSegment();
  if (const std::string_view status = StatusText(summary); !status.empty()) {
    form_.SetStatusText(FromStd(status));
  }
  ShowCounts(summary);
  form_.ApplyControlStates(true);
  running_ = false;
  if ((summary.outcome == RunOutcome::kDifferences ||
       summary.outcome == RunOutcome::kNoDifferences) &&
      summary.DifferencesWritten() && options_.open_result &&
      job.OutputSelected[OutputKind::kResultList]) {
    OpenResultList(job.Result(OutputKind::kResultList));
  }
}

void ComparisonController::ShowCounts(const RunSummary& summary) {
  for (const Side s : kSides) {
    form_.lblFileICount[Index(s)]->setText(QString::number(summary.inputs[Index(s)].lines));
  }
  for (const OutputKind kind : kAllOutputKinds) {
    form_.lblFileOCount[Index(kind)]->setText(QString::number(summary.outputs[kind].written));
  }
}

void ComparisonController::OpenResultList(const std::string& list) {
  const QString path = FromStd(list);
  if (!options_.editor) {
    form_.desktop().OpenDocument(path);
    return;
  }
  const std::string editor = FindEditor(options_.editor_name);
  if (!editor.empty()) {
    (void)form_.desktop().StartProgram({FromStd(editor), path});
    return;
  }
  form_.SetStatusText(messages::kEditorNotFound);
  form_.desktop().OpenDocument(path);
}

void ComparisonController::OnProgress(const RunProgress& progress) {
  const std::uint64_t total = progress.bytes_total[0] + progress.bytes_total[1];
  if (total > 0) {
    const std::uint64_t done = std::min(progress.bytes_read[0] + progress.bytes_read[1], total);
    form_.prgProgress->setValue(static_cast<int>(done * 1000 / total));
  }
  LetAllEventsRun();
}

void ComparisonController::LetAllEventsRun() {
  LetEventsRun();
  events_at_ = run_clock_.elapsed();
}

// Kept, not shown yet: the labels are set from OnSegmentWritten, which reads the clock.
void ComparisonController::OnListedSegment(std::string_view source, std::string_view destination,
                                           std::string_view marker) {
  segments_[0].assign(source);
  segments_[1].assign(destination);
  segments_[2].assign(marker);
  segment_pending_ = true;
}

void ComparisonController::ShowSegment() {
  for (int i = 0; i < 3; ++i) {
    form_.lblRecord[i]->setText(FromStd(DisplayText(segments_[i], i < 2)));
  }
  segment_pending_ = false;
  shown_at_ = run_clock_.elapsed();
}

// Each segment yields, in two steps. The events the window has posted to itself (the repaint
// of changed display lines, deferred layout, queued calls) run every time: that takes tens of
// nanoseconds. Fetching the desktop's input means polling the event sources, some microseconds
// on its own, longer than writing a segment: done for every one of two million segments it
// made a run several times slower than the batch tool. So the full loop runs for the first
// segment and then at most every kEventIntervalMs, which a person clicking cannot tell apart.
// The display lines follow the same clock, read once for kSegmentsPerClockRead segments.
void ComparisonController::OnSegmentWritten() {
  QCoreApplication::sendPostedEvents();
  if (--segments_until_clock_ > 0) return;
  // Strides of 16 and 17 in turn: with a fixed stride the clock would be read at the same
  // segment of every pair when pairs have two segments, and the display would never show the
  // second one, where their differences may be.
  odd_stride_ = !odd_stride_;
  segments_until_clock_ = kSegmentsPerClockRead + (odd_stride_ ? 1 : 0);
  const qint64 now = run_clock_.elapsed();
  if (segment_pending_ && (shown_at_ < 0 || now - shown_at_ >= kDisplayIntervalMs)) {
    ShowSegment();
  }
  if (events_at_ < 0 || now - events_at_ >= kEventIntervalMs) LetAllEventsRun();
}

}  // namespace vesmer
