// What the main window's start button sets going: the start checks with their messages and
// focus moves, the run with the window locked, its progress and display, the counts and the
// status it ends with, and the opening of the result list.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <string>

#include "core/comparison_run.h"
#include "core/start_checks.h"

namespace vesmer {

class frmVESMER;

// What the window does around a run besides the run itself: show the pairs as they are listed,
// and open the result list once it holds differences, with the desktop's viewer or an editor.
struct WindowRunOptions {
  bool display = false;
  bool open_result = false;
  bool editor = false;
  std::string editor_name;
};

class ComparisonController : public RunObserver, public RangeTextListener {
 public:
  explicit ComparisonController(frmVESMER& form) : form_(form) {}

  // The start button: checks, then runs to the end.
  void Start();
  [[nodiscard]] bool running() const { return running_; }
  // The window is closing: the run stops at its next check.
  void RequestStop() { stop_ = true; }

  // RunObserver
  void OnProgress(const RunProgress& progress) override;
  void OnListedSegment(std::string_view source, std::string_view destination,
                       std::string_view marker) override;
  void OnSegmentWritten() override;
  bool StopRequested() override { return stop_; }
  [[nodiscard]] bool ShowsListedPairs() const override { return options_.display; }

  // RangeTextListener
  void KeyTextNormalised(const std::string& text) override;
  void OmitTextNormalised(const std::string& text) override;

 private:
  // The full event loop, and when it ran.
  void LetAllEventsRun();
  void ShowCounts(const RunSummary& summary);
  void ShowSegment();
  void OpenResultList(const std::string& path);

  frmVESMER& form_;
  WindowRunOptions options_;
  bool running_ = false;
  bool stop_ = false;
  // The display shows the pair being listed at most every so often: a person cannot read
  // faster, and setting three labels for every segment would slow the run down a hundredfold.
  std::string segments_[3];
  bool segment_pending_ = false;
  // Every segment lets the window's own posted events run (repaints among them); the desktop's
  // input is fetched at most every so often, since asking for it costs more than a segment.
  QElapsedTimer run_clock_;
  qint64 shown_at_ = -1;   // ms into the run when the display lines were last set; -1 never
  qint64 events_at_ = -1;  // ms into the run when the full event loop last ran; -1 never
  int segments_until_clock_ = 0;
  bool odd_stride_ = false;
};

// The program that opens the result list with `editor_name`: a name without "/" is looked up
// on PATH first, then, like a path, taken when it names a readable file (a bare name then comes
// back as "./name", so that starting it cannot search PATH). "" when there is none.
[[nodiscard]] std::string FindEditor(const std::string& editor_name);

}  // namespace vesmer
