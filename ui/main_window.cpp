#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFrame>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>

#include "engine/result_names.h"
#include "platform/files.h"
#include "ui/settings_dialog.h"
#include "ui/about_box.h"
#include "ui/form_support.h"
#include "resources/vesmer.xpm"

namespace vesmer {
namespace {

constexpr int kClientWidth = 10590;
constexpr int kClientHeight = 9360;
constexpr int kStatusBarHeight = 20;
constexpr const char* kDisplayWarning = "☆処理状況を表示すると、速度はそれなりに遅くなります";

QString FromStd(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
std::string ToStd(const QString& s) { return s.toStdString(); }

void SetBackground(QWidget* w, const QColor& color) {
  QPalette p = w->palette();
  p.setColor(w->backgroundRole(), color);  // Window for labels, Button for check boxes
  w->setPalette(p);
  w->setAutoFillBackground(true);
}

}  // namespace

void PathLabel::mouseDoubleClickEvent(QMouseEvent* event) {
  QLabel::mouseDoubleClickEvent(event);
  emit doubleClicked();
}

QIcon VesmerIcon() { return QIcon(QPixmap(vesmer_xpm)); }

frmVESMER::frmVESMER(SettingsStore& store, SettingsLocation where, Desktop& desktop,
                     Registry& registry)
    : store_(store), where_(std::move(where)), desktop_(desktop), registry_(registry) {
  setObjectName("frmVESMER");
  setWindowTitle("Vesmer");
  setWindowIcon(VesmerIcon());
  BuildControls();
  FormLoad();
}

frmVESMER::~frmVESMER() = default;

void frmVESMER::BuildControls() {
  auto* client = new QWidget(this);
  client->setObjectName("client");
  client->setFixedSize(Twips(kClientWidth), Twips(kClientHeight));
  setCentralWidget(client);

  const QColor yellow(255, 255, 192), grey(192, 192, 192);
  auto frame = [&](int l, int t, int w, int h) {
    auto* f = new QFrame(client);
    f->setFrameStyle(QFrame::Box | QFrame::Plain);
    PlaceTwips(f, l, t, w, h);
    return f;
  };
  // The rectangles first, so every control lies over them.
  frame(240, 120, 10215, 1335);
  frame(240, 1560, 10215, 4335);
  frame(240, 6000, 10215, 1215);
  frame(240, 7320, 6495, 495);
  frame(240, 7800, 10215, 1095);
  frame(360, 1680, 3495, 375);

  auto button = [&](const QString& name, const QString& caption, int l, int t, int w, int h) {
    auto* b = new QPushButton(caption, client);
    b->setObjectName(name);
    b->setAutoDefault(false);
    PlaceTwips(b, l, t, w, h);
    lockable_.push_back(b);
    return b;
  };
  auto check = [&](const QString& name, const QString& caption, int l, int t, int w, int h) {
    auto* c = new QCheckBox(caption, client);
    c->setObjectName(name);
    SetBackground(c, grey);
    PlaceTwips(c, l, t, w, h);
    lockable_.push_back(c);
    return c;
  };
  auto label = [&](const QString& name, const QString& caption, int l, int t, int w, int h,
                   bool yellow_back = false) {
    auto* lb = new QLabel(caption, client);
    lb->setObjectName(name);
    if (yellow_back) SetBackground(lb, yellow);
    PlaceTwips(lb, l, t, w, h);
    lockable_.push_back(lb);
    return lb;
  };
  auto path_label = [&](const QString& name, int l, int t) {
    auto* lb = new PathLabel(client);
    lb->setObjectName(name);
    lb->setTextFormat(Qt::PlainText);
    lb->setWordWrap(true);
    lb->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    SetBackground(lb, yellow);
    PlaceTwips(lb, l, t, 5535, 520);
    lockable_.push_back(lb);
    return lb;
  };

  const int row_tops[2] = {240, 840};
  const char* sel_captions[2] = {"比較元ファイル(&O)", "比較先ファイル(&C)"};
  const char* utf8_captions[2] = {"UTF-8(&U)", "UTF-8(&R)"};
  for (int i = 0; i < 2; ++i) {
    const QString n = QString("(%1)").arg(i);
    cmdSelInput[i] = button("cmdSelInput" + n, sel_captions[i], 360, row_tops[i], 2295, 375);
    chkUtf8[i] = check("chkUtf8" + n, utf8_captions[i], 2760, row_tops[i] + 120, 1095, 255);
    lblInputData[i] = path_label("lblInputData" + n, 3960, row_tops[i]);
    lblFileICount[i] = label("lblFileICount" + n, "", 9600, row_tops[i] + 240, 735, 255, true);
    if (i == 0) {
      // The path buttons stand between the two rows, left to right: 3, 0, 1, 2, 4.
      const struct {
        int index, left, width;
        const char* caption;
      } changes[] = {{3, 7515, 295, "▼"},
                     {0, 7800, 495, "▼▼"},
                     {1, 8280, 495, "▲▼"},
                     {2, 8760, 495, "▲▲"},
                     {4, 9240, 295, "▲"}};
      for (const auto& c : changes) {
        cmdInputChange[c.index] = button(QString("cmdInputChange(%1)").arg(c.index), c.caption,
                                         c.left, 640, c.width, 220);
      }
    }
  }
  Label7 = label("Label7", "出力ファイルを指定する", 360, 1785, 3495, 255);
  Label8 = label("Label8", "出力ファイルは、比較元ファイルと同じフォルダに作成されます", 3960, 1785,
                 6255, 255);
  const char* output_captions[6] = {"比較元ファイル：キー不一致(&1)",
                                    "比較先ファイル：キー不一致(&2)",
                                    "比較元ファイル：キー一致・内容不一致(&3)",
                                    "比較先ファイル：キー一致・内容不一致(&4)",
                                    "キー・内容とも一致(&5)",
                                    "比較結果リスト(&6)"};
  const int check_tops[6] = {2220, 2760, 3360, 3960, 4560, 5160};
  const int label_tops[6] = {2160, 2760, 3360, 3960, 4560, 5160};
  for (int k = 0; k < 6; ++k) {
    const QString n = QString("(%1)").arg(k);
    chkOutput[k] = check("chkOutput" + n, output_captions[k], 360, check_tops[k], 3495, 255);
    lblOutputData[k] = label("lblOutputData" + n, "", 3960, label_tops[k], 5535, 520, true);
    lblOutputData[k]->setTextFormat(Qt::PlainText);
    lblOutputData[k]->setWordWrap(true);
    lblOutputData[k]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblFileOCount[k] = label("lblFileOCount" + n, "", 9600, label_tops[k], 735, 255, true);
  }

  // A range option: its check box, the syntax hint whose access key moves to the text box, and
  // the text box.
  auto range_row = [&](QCheckBox*& option, const QString& option_name, const QString& caption,
                       QLabel*& hint, const QString& hint_name, const QString& access,
                       QLineEdit*& text, const QString& text_name, int top, int hint_top) {
    option = check(option_name, caption, 360, top - 15, 3495, 255);
    hint = label(hint_name, "(開始桁-終了桁.･･･20個まで)           " + access, 480, hint_top, 3135,
                 255);
    text = new QLineEdit(client);
    text->setObjectName(text_name);
    PlaceTwips(text, 3960, top, 6375, 375);
    lockable_.push_back(text);
    hint->setBuddy(text);
  };
  range_row(chkKey, "chkKey", "比較のキーを指定する(&K)", Label1, "Label1", "(&L)", txtKeyRange,
            "txtKeyRange", 6120, 6360);
  range_row(chkOmit, "chkOmit", "比較から除外する領域を指定する(&M)", Label2, "Label2", "(&N)",
            txtOmitRange, "txtOmitRange", 6720, 6975);

  cmdStart = button("cmdStart", "ファイルの比較を開始する(&S)", 6840, 7320, 3495, 375);
  chkDisplay = check("chkDisplay", "処理状況を表示する(&V)", 360, 7560, 3495, 255);
  lblDisplay1 = label("lblDisplay1", kDefaultScale, 1110, 7845, 9135, 135);
  lblDisplay2 = label("lblDisplay2", "比較元", 360, 8040, 615, 255);
  lblDisplay3 = label("lblDisplay3", "比較先", 360, 8280, 615, 255);
  lblDisplay4 = label("lblDisplay4", "結果", 360, 8520, 615, 255);
  for (int i = 0; i < 3; ++i) {
    lblRecord[i] = label(QString("lblRecord(%1)").arg(i), "", 1080, 8040 + 240 * i, 9255, 255);
    lblRecord[i]->setTextFormat(Qt::PlainText);
  }

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

  adjustSize();
  setFixedSize(sizeHint());
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

void frmVESMER::FormUnload() {
  if (unloaded_) return;
  unloaded_ = true;
  const auto twips = [](int px) {
    const long t = static_cast<long>(px) * 15;
    // A position beyond 16 bits cannot be stored; the window then opens centred.
    return static_cast<std::int16_t>(t < -32768 || t > 32767 ? 0 : t);
  };
  store_.Left = twips(x());
  store_.Top = twips(y());
  store_.OutputData.clear();
  for (QCheckBox* c : chkOutput) store_.OutputData += c->isChecked() ? '1' : '0';
  for (int i = 0; i < 2; ++i) store_.Utf8[i] = chkUtf8[i]->isChecked() ? "1" : "0";
  store_.Key = chkKey->isChecked() ? "1" : "0";
  store_.KeyRange = ToStd(txtKeyRange->text());
  store_.Omit = chkOmit->isChecked() ? "1" : "0";
  store_.OmitRange = ToStd(txtOmitRange->text());
  store_.Display = chkDisplay->isChecked() ? "1" : "0";
  SaveSettings(store_, where_);
}

void frmVESMER::closeEvent(QCloseEvent* event) {
  if (running_) {
    // The run stops at its next yield, closes its files, and closes the window again.
    closing_ = true;
    event->ignore();
    return;
  }
  FormUnload();
  event->accept();
  QApplication::closeAllWindows();
}

QString frmVESMER::StatusText() const { return status_text_->text(); }

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
  lblInputData[index]->setText(text);
  OnLblInputDataChange(index);
}

void frmVESMER::OnLblInputDataChange(int index) {
  if (index == 0 && !store_.InputData[0].empty()) {
    result_paths_ = MakeResultPaths(store_.InputData[0]);
    for (int k = 0; k < kOutputKinds; ++k) lblOutputData[k]->setText(FromStd(result_paths_[k]));
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

void frmVESMER::KeyTextNormalised(const std::string& text) {
  txtKeyRange->setText(FromStd(text));
  LetEventsRun();
}

void frmVESMER::OmitTextNormalised(const std::string& text) {
  txtOmitRange->setText(FromStd(text));
  LetEventsRun();
}

void frmVESMER::OnCmdStartClicked() {
  SetStatusText("");
  StartRequest request;
  request.source = store_.InputData[0];
  request.destination = store_.InputData[1];
  request.use_key = chkKey->isChecked();
  request.use_omit = chkOmit->isChecked();
  request.key_text = ToStd(txtKeyRange->text());
  request.omit_text = ToStd(txtOmitRange->text());
  const StartCheckResult check = RunStartChecks(request, key_ranges_, omit_ranges_, this);
  if (!check.passed) {
    SetStatusText(FromStd(check.message));
    QWidget* focus = nullptr;
    switch (check.focus) {
      case Focus::kSelectSource:
        focus = cmdSelInput[0];
        break;
      case Focus::kSelectDestination:
        focus = cmdSelInput[1];
        break;
      case Focus::kKeyRange:
        focus = txtKeyRange;
        break;
      case Focus::kOmitRange:
        focus = txtOmitRange;
        break;
      case Focus::kNone:
        break;
    }
    if (focus != nullptr) focus->setFocus();
    return;
  }
  if (unloaded_) return;  // the window was closed while the checks let events run
  running_ = true;
  prgProgress->setValue(0);
  prgProgress->show();
  (void)RunComparison(*this);
  prgProgress->hide();
  running_ = false;
  if (closing_) close();
}

ComparisonJob frmVESMER::TakeJob() {
  ComparisonJob job;
  job.InputData = store_.InputData;
  for (int i = 0; i < 2; ++i) job.Utf8[i] = chkUtf8[i]->isChecked();
  for (int k = 0; k < kOutputKinds; ++k) job.OutputSelected[k] = chkOutput[k]->isChecked();
  job.ResultPath = result_paths_;
  job.UseKey = chkKey->isChecked();
  job.KeyColumns = key_ranges_;
  job.UseOmit = chkOmit->isChecked();
  job.OmitColumns = omit_ranges_;
  job.Display = chkDisplay->isChecked();
  job.SpaceCompare = IsOn(store_.SpaceCompare);
  job.ArrangeLength = IsOn(store_.ArrangeLength);
  job.OpenResult = IsOn(store_.OpenResult);
  job.Editor = store_.Editor != "0";
  job.EditorName = store_.EditorName;
  job.Scale = store_.Scale;
  return job;
}

void frmVESMER::SetStatus(std::string_view text) { SetStatusText(FromStd(text)); }

void frmVESMER::SetInputCount(int side, std::string_view text) {
  lblFileICount[side]->setText(FromStd(text));
}

void frmVESMER::SetOutputCount(int kind, std::string_view text) {
  lblFileOCount[kind]->setText(FromStd(text));
}

void frmVESMER::SetRecordLine(int line, std::string_view text) {
  lblRecord[line]->setText(FromStd(text));
}

bool frmVESMER::Yield() {
  LetEventsRun();
  return !closing_;
}

bool frmVESMER::KeepAlive(std::uint64_t done, std::uint64_t total) {
  if (total > 0) prgProgress->setValue(static_cast<int>(done * 1000 / total));
  LetEventsRun();
  return !closing_;
}

void frmVESMER::OpenDocument(const std::string& path) { desktop_.OpenDocument(FromStd(path)); }

void frmVESMER::StartProgram(const std::vector<std::string>& argv) {
  QStringList args;
  for (const auto& a : argv) args << FromStd(a);
  (void)desktop_.StartProgram(args);
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
