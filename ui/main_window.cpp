#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFrame>
#include <QHash>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>

#include "core/result_names.h"
#include "platform/files.h"
#include "resources/vesmer.xpm"
#include "ui/about_box.h"
#include "ui/comparison_controller.h"
#include "ui/form_support.h"
#include "ui/main_window_layout.h"
#include "ui/settings_dialog.h"

namespace vesmer {
namespace {

constexpr int kClientWidth = 10590;
constexpr int kClientHeight = 9450;  // 9360 on Windows: see the layout table
constexpr int kStatusBarHeight = 20;
constexpr const char* kDisplayWarning = "☆処理状況を表示すると、速度はそれなりに遅くなります";

QString FromStd(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
std::string ToStd(const QString& s) { return s.toStdString(); }

// Enter presses the focused button, as on a Windows form (a refused start leaves the focus on
// the button to correct); Space works as it always does.
class FormButton : public QPushButton {
 public:
  using QPushButton::QPushButton;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
      if (!event->isAutoRepeat()) click();  // a held key presses once
      event->accept();
      return;
    }
    QPushButton::keyPressEvent(event);
  }
};

void SetBackground(QWidget* w, const QColor& color) {
  QPalette p = w->palette();
  p.setColor(w->backgroundRole(), color);  // Window for labels, Button for check boxes
  w->setPalette(p);
  w->setAutoFillBackground(true);
}

}  // namespace

QIcon VesmerIcon() { return QIcon(QPixmap(vesmer_xpm)); }

frmVESMER::frmVESMER(SettingsStore& store, SettingsLocation where, Desktop& desktop,
                     Registry& registry)
    : store_(store), where_(std::move(where)), desktop_(desktop), registry_(registry) {
  setObjectName("frmVESMER");
  setWindowTitle("Vesmer");
  setWindowIcon(VesmerIcon());
  controller_ = std::make_unique<ComparisonController>(*this);
  BuildControls();
  ConnectControls();
  FormLoad();
}

frmVESMER::~frmVESMER() = default;

void frmVESMER::BuildControls() {
  auto* client = new QWidget(this);
  client->setObjectName("client");
  client->setFixedSize(Twips(kClientWidth), Twips(kClientHeight));
  setCentralWidget(client);

  const QColor yellow(255, 255, 192), grey(192, 192, 192);
  QHash<QString, QWidget*> by_name;
  for (const ControlSpec& spec : kMainWindowControls) {
    const QString name = FromStd(spec.name);
    const QString caption = FromStd(spec.caption);
    QWidget* w = nullptr;
    switch (spec.kind) {
      case ControlKind::kFrame: {
        auto* f = new QFrame(client);
        f->setFrameStyle(QFrame::Box | QFrame::Plain);
        w = f;
        break;
      }
      case ControlKind::kButton: {
        auto* b = new FormButton(caption, client);
        b->setAutoDefault(false);
        w = b;
        break;
      }
      case ControlKind::kCheckBox: {
        auto* c = new FormCheckBox(caption, client);
        SetBackground(c, grey);
        w = c;
        break;
      }
      case ControlKind::kLabel:
        w = new QLabel(caption, client);
        break;
      case ControlKind::kCountLabel: {
        auto* l = new CountLabel(caption, client);
        SetBackground(l, yellow);
        w = l;
        break;
      }
      case ControlKind::kPathLabel: {
        auto* l = new PathLabel(client);
        SetBackground(l, yellow);
        w = l;
        break;
      }
      case ControlKind::kTextBox:
        w = new QLineEdit(client);
        break;
    }
    w->setObjectName(name);
    PlaceTwips(w, spec.left, spec.top, spec.width, spec.height);
    if (spec.kind != ControlKind::kFrame) {
      lockable_.push_back(w);
      by_name.insert(name, w);
    }
  }
  auto find = [&by_name](const QString& name, auto*& member) {
    member = qobject_cast<std::remove_reference_t<decltype(member)>>(by_name.value(name));
    Q_ASSERT(member != nullptr);
  };
  for (int i = 0; i < 2; ++i) {
    const QString n = QString("(%1)").arg(i);
    find("cmdSelInput" + n, cmdSelInput[i]);
    find("chkUtf8" + n, chkUtf8[i]);
    find("lblInputData" + n, lblInputData[i]);
    find("lblFileICount" + n, lblFileICount[i]);
  }
  for (int i = 0; i < 5; ++i) find(QString("cmdInputChange(%1)").arg(i), cmdInputChange[i]);
  // The path buttons stand between the two path rows and overlap both labels: they lie on
  // top, whole, and the paths' text keeps clear of them.
  const QList<QWidget*> path_buttons(cmdInputChange.begin(), cmdInputChange.end());
  for (QWidget* b : path_buttons) b->raise();
  for (PathLabel* l : lblInputData) l->KeepClearOf(path_buttons);
  for (int k = 0; k < 6; ++k) {
    const QString n = QString("(%1)").arg(k);
    find("chkOutput" + n, chkOutput[k]);
    find("lblOutputData" + n, lblOutputData[k]);
    find("lblFileOCount" + n, lblFileOCount[k]);
  }
  for (int i = 0; i < 3; ++i) {
    find(QString("lblRecord(%1)").arg(i), lblRecord[i]);
    lblRecord[i]->setTextFormat(Qt::PlainText);
  }
  find("Label7", Label7);
  // Label7 and its box share their left edge; the heading starts clear of the box's line.
  Label7->setContentsMargins(3, 0, 0, 0);
  find("Label8", Label8);
  find("chkKey", chkKey);
  find("Label1", Label1);
  find("txtKeyRange", txtKeyRange);
  find("chkOmit", chkOmit);
  find("Label2", Label2);
  find("txtOmitRange", txtOmitRange);
  find("cmdStart", cmdStart);
  find("chkDisplay", chkDisplay);
  find("lblDisplay1", lblDisplay1);
  find("lblDisplay2", lblDisplay2);
  find("lblDisplay3", lblDisplay3);
  find("lblDisplay4", lblDisplay4);
  lblDisplay1->setText(kDefaultScale);
  // The syntax hints' access keys move to their text boxes.
  Label1->setBuddy(txtKeyRange);
  Label2->setBuddy(txtOmitRange);

  sbrStatus = new QStatusBar(client);
  sbrStatus->setObjectName("sbrStatus");
  sbrStatus->setSizeGripEnabled(false);
  sbrStatus->setGeometry(0, Twips(kClientHeight) - kStatusBarHeight, Twips(kClientWidth),
                         kStatusBarHeight);
  status_text_ = new QLabel(sbrStatus);
  status_text_->setObjectName("sbrStatusText");
  status_text_->setTextFormat(Qt::PlainText);
  sbrStatus->addWidget(status_text_, 1);
  prgProgress = new QProgressBar(sbrStatus);
  prgProgress->setObjectName("prgProgress");
  prgProgress->setRange(0, 1000);
  prgProgress->setFixedWidth(160);
  prgProgress->setTextVisible(false);
  prgProgress->hide();
  sbrStatus->addPermanentWidget(prgProgress);

  mnuFile = menuBar()->addMenu("ファイル(&F)");
  mnuFile->setObjectName("mnuFile");
  mnuExit = mnuFile->addAction("終了(&X)");
  mnuExit->setObjectName("mnuExit");
  mnuTools = menuBar()->addMenu("ツール(&T)");
  mnuTools->setObjectName("mnuTools");
  mnuSetting = mnuTools->addAction("設定(&S)");
  mnuSetting->setObjectName("mnuSetting");
  mnuHelp = menuBar()->addMenu("ヘルプ(&H)");
  mnuHelp->setObjectName("mnuHelp");
  mnuAbout = mnuHelp->addAction("バージョン情報(&A)");
  mnuAbout->setObjectName("mnuAbout");

  adjustSize();
  setFixedSize(sizeHint());
  UseFormStyle(this);
}

void frmVESMER::ConnectControls() {
  for (int i = 0; i < 2; ++i) {
    connect(cmdSelInput[i], &QPushButton::clicked, this, [this, i] { OnCmdSelInputClicked(i); });
    connect(lblInputData[i], &PathLabel::doubleClicked, this,
            [this, i] { OnLblInputDataDoubleClicked(i); });
  }
  for (int i = 0; i < 5; ++i) {
    connect(cmdInputChange[i], &QPushButton::clicked, this,
            [this, i] { OnCmdInputChangeClicked(i); });
  }
  // A check box set to another value by code runs its handler exactly as a click does.
  for (int k = 0; k < 6; ++k) {
    connect(chkOutput[k], &QCheckBox::toggled, this, [this, k] { OnChkOutputClicked(k); });
  }
  connect(chkKey, &QCheckBox::toggled, this, &frmVESMER::OnChkKeyClicked);
  connect(chkDisplay, &QCheckBox::toggled, this, &frmVESMER::OnChkDisplayClicked);
  connect(cmdStart, &QPushButton::clicked, this, &frmVESMER::OnCmdStartClicked);
  connect(mnuExit, &QAction::triggered, this, &QWidget::close);
  connect(mnuSetting, &QAction::triggered, this, &frmVESMER::OnMnuSettingClicked);
  connect(mnuAbout, &QAction::triggered, this, &frmVESMER::OnMnuAboutClicked);
}

void frmVESMER::FormLoad() {
  // 1. Fonts: proportional everywhere, fixed pitch for the ruler and the record lines.
  RegisterFontSubstitutes();
  const QFont proportional = MakeFont(kProportionalFontName, 9);
  const QFont fixed = MakeFont(kFixedFontName, 9);
  for (QWidget* w : lockable_) w->setFont(proportional);
  txtKeyRange->setFont(MakeFont(kFixedFontName, 12));
  txtOmitRange->setFont(MakeFont(kFixedFontName, 12));
  lblDisplay1->setFont(fixed);
  for (QLabel* r : lblRecord) r->setFont(fixed);
  sbrStatus->setFont(proportional);
  status_text_->setFont(proportional);
  menuBar()->setFont(proportional);

  // 2.
  LoadSettings(store_, where_);

  // 3. Position in twips; 0 centres on that axis.
  const QRect screen_rect = screen() != nullptr ? screen()->geometry() : QRect(0, 0, 1024, 768);
  const int left = store_.Left != 0 ? store_.Left / 15 : (screen_rect.width() - width()) / 2;
  const int top = store_.Top != 0 ? store_.Top / 15 : (screen_rect.height() - height()) / 2;
  move(left, top);

  // 4.-7.
  for (int i = 0; i < 2; ++i) {
    SetInputLabel(i, FromStd(store_.InputData[i]));
    if (IsOn(store_.Utf8[i])) chkUtf8[i]->setChecked(true);
  }
  for (int t = 0; t < static_cast<int>(store_.OutputData.size()) && t < 6; ++t) {
    chkOutput[t]->setChecked(store_.OutputData[t] == '1');
  }
  chkKey->setChecked(IsOn(store_.Key));
  txtKeyRange->setText(FromStd(store_.KeyRange));
  chkOmit->setChecked(IsOn(store_.Omit));
  txtOmitRange->setText(FromStd(store_.OmitRange));
  chkDisplay->setChecked(IsOn(store_.Display));
  for (QLabel* r : lblRecord) r->setText("");

  // 8. The toggled signal only fires on a change; the rules must hold from the start.
  ApplyControlStates(true);
}

SettingsStore frmVESMER::CollectValues() const {
  SettingsStore values = store_;
  values.OutputData.clear();
  for (QCheckBox* c : chkOutput) values.OutputData += c->isChecked() ? '1' : '0';
  for (int i = 0; i < 2; ++i) values.Utf8[i] = chkUtf8[i]->isChecked() ? "1" : "0";
  values.Key = chkKey->isChecked() ? "1" : "0";
  values.KeyRange = ToStd(txtKeyRange->text());
  values.Omit = chkOmit->isChecked() ? "1" : "0";
  values.OmitRange = ToStd(txtOmitRange->text());
  values.Display = chkDisplay->isChecked() ? "1" : "0";
  return values;
}

void frmVESMER::FormUnload() {
  if (unloaded_) return;
  unloaded_ = true;
  const auto twips = [](int px) {
    const long t = static_cast<long>(px) * 15;
    // A position beyond 16 bits cannot be stored; the window then opens centred.
    return static_cast<std::int16_t>(t < -32768 || t > 32767 ? 0 : t);
  };
  store_ = CollectValues();
  store_.Left = twips(x());
  store_.Top = twips(y());
  SaveSettings(store_, where_);
}

void frmVESMER::closeEvent(QCloseEvent* event) {
  if (controller_->running()) {
    // The run stops at its next check, closes its files, and closes the window again.
    closing_ = true;
    controller_->RequestStop();
    event->ignore();
    return;
  }
  FormUnload();
  event->accept();
  QApplication::closeAllWindows();
}

QString frmVESMER::StatusText() const { return status_text_->text(); }

bool frmVESMER::running() const { return controller_->running(); }

void frmVESMER::SetStatusText(const QString& text) { status_text_->setText(text); }

void frmVESMER::ApplyControlStates(bool enable) {
  setCursor(enable ? Qt::ArrowCursor : Qt::WaitCursor);
  for (QWidget* w : lockable_) w->setEnabled(enable);
  for (QMenu* m : {mnuFile, mnuTools, mnuHelp}) m->menuAction()->setEnabled(enable);
  if (enable) {
    for (int k = 0; k < 6; ++k) OnChkOutputClicked(k);
  }
  chkDisplay->setEnabled(enable);
  OnChkKeyClicked();
}

void frmVESMER::OnChkKeyClicked() {
  const bool on = chkKey->isChecked();
  for (int k = 0; k < 2; ++k) {
    chkOutput[k]->setChecked(on);
    chkOutput[k]->setEnabled(on);
  }
  LetEventsRun();
}

void frmVESMER::OnChkOutputClicked(int kind) {
  const bool on = chkOutput[kind]->isChecked();
  lblOutputData[kind]->setEnabled(on);
  lblFileOCount[kind]->setEnabled(on);
  if (kind == 5) {
    // The progress display belongs to the result list.
    for (QWidget* w : {static_cast<QWidget*>(chkDisplay), static_cast<QWidget*>(lblDisplay1),
                       static_cast<QWidget*>(lblDisplay2), static_cast<QWidget*>(lblDisplay3),
                       static_cast<QWidget*>(lblDisplay4)}) {
      w->setEnabled(on);
    }
    for (QLabel* r : lblRecord) r->setEnabled(on);
  }
  LetEventsRun();
}

void frmVESMER::OnChkDisplayClicked() {
  if (chkDisplay->isChecked()) {
    SetStatusText(kDisplayWarning);
  } else if (StatusText() == kDisplayWarning) {
    SetStatusText("");
  }
}

void frmVESMER::SetInputLabel(int index, const QString& text) {
  if (lblInputData[index]->text() == text) return;
  lblInputData[index]->SetPath(text);
  OnLblInputDataChange(index);
}

void frmVESMER::OnLblInputDataChange(int index) {
  if (index == 0 && !store_.InputData[0].empty()) {
    result_paths_ = MakeResultPaths(store_.InputData[0]);
    for (std::size_t k = 0; k < kOutputKinds; ++k) {
      lblOutputData[k]->SetPath(FromStd(result_paths_[k]));
    }
  }
  LetEventsRun();
}

void frmVESMER::OnLblInputDataDoubleClicked(int index) {
  const std::string path = ToStd(lblInputData[index]->text());
  if (FileExists(path) && !IsDirectory(path)) desktop_.ShowInFileManager(FromStd(path));
}

void frmVESMER::OnCmdInputChangeClicked(int index) {
  auto& source = store_.InputData[0];
  auto& destination = store_.InputData[1];
  switch (index) {
    case 3:
      destination = source;
      break;
    case 0:
      destination = source;
      source.clear();
      break;
    case 1:
      std::swap(source, destination);
      break;
    case 2:
      source = destination;
      destination.clear();
      break;
    case 4:
      source = destination;
      break;
  }
  SetInputLabel(0, FromStd(source));
  SetInputLabel(1, FromStd(destination));
  cmdSelInput[0]->setFocus();
}

void frmVESMER::OnCmdSelInputClicked(int index) {
  SetStatusText("");
  ApplyControlStates(false);
  std::string& path = store_.InputData[index];
  if (path.empty()) path = ToStd(desktop_.DocumentsFolder());
  static constexpr char16_t kFilter[] =
      u"テキスト ファイル(*.prn; *.txt; *.csv)\0*.prn; *.txt; *.csv\0すべてのファイル (*.*)\0*.*\0";
  path = ToStd(ShowOpenDialog(desktop_, this, std::u16string_view(kFilter, std::size(kFilter) - 1),
                              FromStd(path)));
  if (!path.empty()) {
    SetInputLabel(index, FromStd(path));
  } else {
    path = ToStd(lblInputData[index]->text());
  }
  for (QLabel* l : lblFileICount) l->setText("");
  for (QLabel* l : lblFileOCount) l->setText("");
  ApplyControlStates(true);
}

void frmVESMER::OnCmdStartClicked() {
  controller_->Start();
  if (closing_) close();
}

void frmVESMER::OnMnuSettingClicked() {
  frmSetting dialog(store_, desktop_, this);
  dialog.setWindowIcon(windowIcon());
  dialog.exec();
}

void frmVESMER::OnMnuAboutClicked() {
  frmAbout about(desktop_, registry_, this);
  about.Fill(windowIcon());
  about.exec();
}

}  // namespace vesmer
