// frmSetting, the modal settings dialog: the comparison options, how the result list opens,
// and the ruler text. It edits the settings store in place; the file is written at exit.
#pragma once

#include <QDialog>
#include <array>
#include <string>

#include "settings/settings_store.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace vesmer {

class Desktop;

class frmSetting : public QDialog {
  Q_OBJECT
 public:
  frmSetting(SettingsStore& store, Desktop& desktop, QWidget* parent = nullptr);

  QCheckBox* chkSpaceCompare = nullptr;
  QCheckBox* chkArrangeLength = nullptr;
  QCheckBox* chkOpenResult = nullptr;
  QGroupBox* fraEditor = nullptr;
  std::array<QRadioButton*, 2> optEditor{};
  QLabel* lblEditor = nullptr;
  QLineEdit* txtEditorName = nullptr;
  QPushButton* cmdFindEditor = nullptr;
  QPushButton* cmdOK = nullptr;
  QPushButton* cmdCancel = nullptr;
  QLineEdit* txtScale = nullptr;
  QLabel* lblScale = nullptr;

 public slots:
  // Esc: the same as the Cancel button.
  void reject() override;

 protected:
  // The close box unloads the dialog without committing or restoring.
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormLoad();
  void ApplyOpenResultRule();
  void ApplyEditorRule();
  void OnCmdOKClicked();
  void OnCmdCancelClicked();
  void OnCmdFindEditorClicked();

  SettingsStore& store_;
  Desktop& desktop_;
  // The six values as the dialog found them.
  std::string cancel_space_compare_, cancel_arrange_length_, cancel_open_result_, cancel_editor_,
      cancel_editor_name_, cancel_scale_;
};

}  // namespace vesmer
