#include "ui/settings_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

#include "ui/desktop.h"
#include "ui/form_support.h"

namespace vesmer {
namespace {

QString FromStd(const std::string& s) { return QString::fromStdString(s); }

// "1" checked, anything else unchecked: a hand-edited value other than 0 and 1 shows as off.
bool Checked(const std::string& flag) { return IsOn(flag); }

}  // namespace

frmSetting::frmSetting(SettingsStore& store, Desktop& desktop, QWidget* parent)
    : QDialog(parent), store_(store), desktop_(desktop) {
  setObjectName("frmSetting");
  setWindowTitle("設定");
  SetUpFixedDialog(this, 9630, 5520);

  auto check = [&](const char* name, const char* caption, QWidget* parent_widget) {
    auto* c = new FormCheckBox(caption, parent_widget);
    c->setObjectName(name);
    return c;
  };
  chkSpaceCompare =
      check("chkSpaceCompare", "全角スペース１個と半角スペース２個は一致と見なす(&S)", this);
  PlaceTwips(chkSpaceCompare, 360, 360, 4575, 255);
  chkArrangeLength =
      check("chkArrangeLength", "レコード長が異なるとき、短い方にあわせる(&T)", this);
  PlaceTwips(chkArrangeLength, 360, 720, 3855, 255);
  chkOpenResult = check("chkOpenResult", "比較結果をすぐに開く(&P)", this);
  PlaceTwips(chkOpenResult, 360, 1440, 2175, 255);

  fraEditor = new QGroupBox(this);
  fraEditor->setObjectName("fraEditor");
  PlaceTwips(fraEditor, 240, 1440, 9135, 1695);
  const char* option_captions[2] = {"既定のエディタを使って開く(&D)",
                                    "指定するエディタを使って開く(&A)"};
  const int option_widths[2] = {2655, 2775};
  for (int i = 0; i < 2; ++i) {
    optEditor[i] = new FormRadioButton(option_captions[i], fraEditor);
    optEditor[i]->setObjectName(QString("optEditor(%1)").arg(i));
    PlaceTwips(optEditor[i], 360, 360 + 360 * i, option_widths[i], 255);
  }
  lblEditor = new QLabel("エディタ(&E)", fraEditor);
  lblEditor->setObjectName("lblEditor");
  PlaceTwips(lblEditor, 480, 1125, 855, 255);
  txtEditorName = new QLineEdit(fraEditor);
  txtEditorName->setObjectName("txtEditorName");
  PlaceTwips(txtEditorName, 1395, 1080, 6735, 270);
  lblEditor->setBuddy(txtEditorName);
  cmdFindEditor = new QPushButton("探索(&F)", fraEditor);
  cmdFindEditor->setObjectName("cmdFindEditor");
  cmdFindEditor->setAutoDefault(false);
  PlaceTwips(cmdFindEditor, 8160, 1080, 735, 255);
  // Over the group's top edge, in place of a title, hiding the frame line behind it.
  chkOpenResult->setAutoFillBackground(true);
  chkOpenResult->adjustSize();
  chkOpenResult->resize(std::min(chkOpenResult->width(), Twips(2175)), Twips(255));
  chkOpenResult->raise();

  cmdOK = new QPushButton("OK (Enter)", this);
  cmdOK->setObjectName("cmdOK");
  cmdOK->setDefault(true);
  PlaceTwips(cmdOK, 6360, 4920, 1455, 375);
  cmdCancel = new QPushButton("キャンセル (Esc)", this);
  cmdCancel->setObjectName("cmdCancel");
  cmdCancel->setAutoDefault(false);
  PlaceTwips(cmdCancel, 7920, 4920, 1455, 375);
  txtScale = new QLineEdit(this);
  txtScale->setObjectName("txtScale");
  txtScale->setMaxLength(100);
  PlaceTwips(txtScale, 240, 3840, 9135, 270);
  lblScale = new QLabel("スケール(&L)", this);
  lblScale->setObjectName("lblScale");
  PlaceTwips(lblScale, 360, 3600, 975, 255);
  lblScale->setBuddy(txtScale);

  QWidget* order[] = {chkSpaceCompare, chkArrangeLength, chkOpenResult, optEditor[0], optEditor[1],
                      txtEditorName,   cmdFindEditor,    cmdOK,         cmdCancel,    txtScale};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

  UseFormStyle(this);

  connect(chkOpenResult, &QCheckBox::toggled, this, &frmSetting::ApplyOpenResultRule);
  connect(optEditor[0], &QRadioButton::toggled, this, &frmSetting::ApplyEditorRule);
  connect(cmdOK, &QPushButton::clicked, this, &frmSetting::OnCmdOKClicked);
  connect(cmdCancel, &QPushButton::clicked, this, &frmSetting::OnCmdCancelClicked);
  connect(cmdFindEditor, &QPushButton::clicked, this, &frmSetting::OnCmdFindEditorClicked);
  FormLoad();
}

void frmSetting::FormLoad() {
  RegisterFontSubstitutes();
  const QFont proportional = MakeFont(kProportionalFontName, 9);
  for (QWidget* w : std::initializer_list<QWidget*>{
           chkSpaceCompare, chkArrangeLength, chkOpenResult, optEditor[0], optEditor[1], lblEditor,
           cmdFindEditor, cmdOK, cmdCancel, lblScale}) {
    w->setFont(proportional);
  }
  txtScale->setFont(MakeFont(kFixedFontName, 9));

  cancel_space_compare_ = store_.SpaceCompare;
  cancel_arrange_length_ = store_.ArrangeLength;
  cancel_open_result_ = store_.OpenResult;
  cancel_editor_ = store_.Editor;
  cancel_editor_name_ = store_.EditorName;
  cancel_scale_ = store_.Scale;

  chkSpaceCompare->setChecked(Checked(store_.SpaceCompare));
  chkArrangeLength->setChecked(Checked(store_.ArrangeLength));
  chkOpenResult->setChecked(Checked(store_.OpenResult));
  // As the run reads it: anything but "0" opens the list with the named editor.
  optEditor[store_.Editor == "0" ? 0 : 1]->setChecked(true);
  txtEditorName->setText(FromStd(store_.EditorName));
  txtScale->setText(FromStd(store_.Scale));
  ApplyOpenResultRule();
}

void frmSetting::ApplyOpenResultRule() {
  const bool on = chkOpenResult->isChecked();
  optEditor[0]->setEnabled(on);
  optEditor[1]->setEnabled(on);
  const bool editor = on && optEditor[1]->isChecked();
  txtEditorName->setEnabled(editor);
  cmdFindEditor->setEnabled(editor);
}

void frmSetting::ApplyEditorRule() {
  const bool editor = optEditor[1]->isChecked();
  txtEditorName->setEnabled(editor);
  cmdFindEditor->setEnabled(editor);
}

void frmSetting::OnCmdOKClicked() {
  store_.SpaceCompare = chkSpaceCompare->isChecked() ? "1" : "0";
  store_.ArrangeLength = chkArrangeLength->isChecked() ? "1" : "0";
  store_.OpenResult = chkOpenResult->isChecked() ? "1" : "0";
  store_.Editor = optEditor[0]->isChecked() ? "0" : "1";
  store_.EditorName = txtEditorName->text().toStdString();
  store_.Scale = txtScale->text().toStdString();
  done(QDialog::Accepted);
}

void frmSetting::OnCmdCancelClicked() {
  store_.SpaceCompare = cancel_space_compare_;
  store_.ArrangeLength = cancel_arrange_length_;
  store_.OpenResult = cancel_open_result_;
  store_.Editor = cancel_editor_;
  store_.EditorName = cancel_editor_name_;
  store_.Scale = cancel_scale_;
  done(QDialog::Rejected);
}

void frmSetting::reject() { OnCmdCancelClicked(); }

void frmSetting::closeEvent(QCloseEvent* event) {
  done(QDialog::Rejected);
  event->accept();
}

void frmSetting::OnCmdFindEditorClicked() {
  if (store_.EditorName.empty() || store_.EditorName == "Notepad.exe") {
    store_.EditorName = desktop_.ProgramFilesFolder().toStdString();
  }
  static constexpr char16_t kFilter[] =
      u"アプリケーション (*.exe)\0*.exe\0すべてのファイル (*.*)\0*.*\0";
  const QString chosen =
      ShowOpenDialog(desktop_, this, std::u16string_view(kFilter, std::size(kFilter) - 1),
                     FromStd(store_.EditorName));
  store_.EditorName = chosen.toStdString();
  if (!chosen.isEmpty()) {
    txtEditorName->setText(chosen);
  } else {
    store_.EditorName = txtEditorName->text().toStdString();
  }
}

}  // namespace vesmer
