// frmVESMER, the program's one main window: the two inputs, the result file selections, the
// key and omit options, the start button, the progress display and the status bar.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <array>

#include "engine/comparison_run.h"
#include "engine/start_checks.h"
#include "settings/settings_store.h"
#include "ui/desktop.h"

class QCheckBox;
class QFrame;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QStatusBar;

namespace vesmer {

class Registry;

// A label that reports double clicks (the path labels show their file in the file manager).
class PathLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
 signals:
  void doubleClicked();

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
};

class frmVESMER : public QMainWindow, public RunHost, public StartCheckHost {
  Q_OBJECT
 public:
  // Loads the settings from `where` and applies them (Form_Load). `store` lives as long as
  // the program; `desktop` and `registry` stay with the caller.
  frmVESMER(SettingsStore& store, SettingsLocation where, Desktop& desktop, Registry& registry);
  ~frmVESMER() override;

  // The lock: false disables the window's controls, true enables them and re-derives every
  // enabled state.
  void ApplyControlStates(bool enable) override;

  [[nodiscard]] QString StatusText() const;
  [[nodiscard]] const ResultPaths& result_paths() const { return result_paths_; }
  [[nodiscard]] bool running() const { return running_; }

  // Controls, named as on the form.
  std::array<QPushButton*, 2> cmdSelInput{};
  std::array<QCheckBox*, 2> chkUtf8{};
  std::array<PathLabel*, 2> lblInputData{};
  std::array<QLabel*, 2> lblFileICount{};
  std::array<QPushButton*, 5> cmdInputChange{};
  QLabel* Label7 = nullptr;
  QLabel* Label8 = nullptr;
  std::array<QCheckBox*, 6> chkOutput{};
  std::array<QLabel*, 6> lblOutputData{};
  std::array<QLabel*, 6> lblFileOCount{};
  QCheckBox* chkKey = nullptr;
  QLabel* Label1 = nullptr;
  QLineEdit* txtKeyRange = nullptr;
  QCheckBox* chkOmit = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* txtOmitRange = nullptr;
  QPushButton* cmdStart = nullptr;
  QCheckBox* chkDisplay = nullptr;
  QLabel* lblDisplay1 = nullptr;
  QLabel* lblDisplay2 = nullptr;
  QLabel* lblDisplay3 = nullptr;
  QLabel* lblDisplay4 = nullptr;
  std::array<QLabel*, 3> lblRecord{};
  QStatusBar* sbrStatus = nullptr;
  QProgressBar* prgProgress = nullptr;
  QMenu* mnuFile = nullptr;
  QMenu* mnuTools = nullptr;
  QMenu* mnuHelp = nullptr;
  QAction* mnuExit = nullptr;
  QAction* mnuSetting = nullptr;
  QAction* mnuAbout = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void FormLoad();
  void FormUnload();
  void SetStatusText(const QString& text);
  // Sets a path label; a changed text runs the result naming.
  void SetInputLabel(int index, const QString& text);
  void OnLblInputDataChange(int index);
  void OnLblInputDataDoubleClicked(int index);
  void OnChkKeyClicked();
  void OnChkOutputClicked(int kind);
  void OnChkDisplayClicked();
  void OnCmdInputChangeClicked(int index);
  void OnCmdSelInputClicked(int index);
  void OnCmdStartClicked();
  void OnMnuSettingClicked();
  void OnMnuAboutClicked();

  // RunHost
  ComparisonJob TakeJob() override;
  void SetStatus(std::string_view text) override;
  void SetInputCount(int side, std::string_view text) override;
  void SetOutputCount(int kind, std::string_view text) override;
  void SetRecordLine(int line, std::string_view text) override;
  bool Yield() override;
  bool KeepAlive(std::uint64_t done, std::uint64_t total) override;
  void OpenDocument(const std::string& path) override;
  void StartProgram(const std::vector<std::string>& argv) override;

  // StartCheckHost
  void KeyTextNormalised(const std::string& text) override;
  void OmitTextNormalised(const std::string& text) override;

  SettingsStore& store_;
  SettingsLocation where_;
  Desktop& desktop_;
  Registry& registry_;
  RangeList key_ranges_;
  RangeList omit_ranges_;
  ResultPaths result_paths_;
  QLabel* status_text_ = nullptr;
  std::vector<QWidget*> lockable_;  // text boxes, buttons, labels, frames and check boxes
  bool running_ = false;
  bool closing_ = false;
  bool unloaded_ = false;
};

// The window's icon, shared by the dialogs.
[[nodiscard]] QIcon VesmerIcon();

}  // namespace vesmer
