// frmVESMER, the program's one main window: the two inputs, the result file selections, the
// key and omit options, the start button, the progress display and the status bar. The form
// holds the controls and their rules; a comparison controller runs what the start button asks.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <array>
#include <memory>

#include "core/job.h"
#include "settings/settings_store.h"
#include "ui/desktop.h"
#include "ui/form_labels.h"

class QCheckBox;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QStatusBar;

namespace vesmer {

class ComparisonController;
class Registry;

class frmVESMER : public QMainWindow {
  Q_OBJECT
 public:
  // Loads the settings from `where` and applies them (Form_Load). `store` lives as long as
  // the program; `desktop` and `registry` stay with the caller.
  frmVESMER(SettingsStore& store, SettingsLocation where, Desktop& desktop, Registry& registry);
  ~frmVESMER() override;

  // The lock: false disables the window's controls, true enables them and re-derives every
  // enabled state.
  void ApplyControlStates(bool enable);

  [[nodiscard]] QString StatusText() const;
  void SetStatusText(const QString& text);
  [[nodiscard]] const ResultPaths& result_paths() const { return result_paths_; }
  [[nodiscard]] bool running() const;
  [[nodiscard]] bool unloaded() const { return unloaded_; }
  // The settings values with the states of the window's controls copied in, as closing
  // stores them.
  [[nodiscard]] SettingsStore CollectValues() const;
  [[nodiscard]] SettingsStore& store() { return store_; }
  [[nodiscard]] Desktop& desktop() { return desktop_; }

  // Controls, named as on the form.
  std::array<QPushButton*, 2> cmdSelInput{};
  std::array<QCheckBox*, 2> chkUtf8{};
  std::array<PathLabel*, 2> lblInputData{};
  std::array<CountLabel*, 2> lblFileICount{};
  std::array<QPushButton*, 5> cmdInputChange{};
  QLabel* Label7 = nullptr;
  QLabel* Label8 = nullptr;
  std::array<QCheckBox*, 6> chkOutput{};
  std::array<PathLabel*, 6> lblOutputData{};
  std::array<CountLabel*, 6> lblFileOCount{};
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
  void ConnectControls();
  void FormLoad();
  void FormUnload();
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

  SettingsStore& store_;
  SettingsLocation where_;
  Desktop& desktop_;
  Registry& registry_;
  std::unique_ptr<ComparisonController> controller_;
  ResultPaths result_paths_;
  QLabel* status_text_ = nullptr;
  std::vector<QWidget*> lockable_;  // text boxes, buttons, labels, frames and check boxes
  bool closing_ = false;
  bool unloaded_ = false;
};

// The window's icon, shared by the dialogs.
[[nodiscard]] QIcon VesmerIcon();

}  // namespace vesmer
