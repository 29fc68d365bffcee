#include "ui/about_box.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "platform/cp932.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/version.h"
#include "ui/desktop.h"
#include "ui/form_support.h"

namespace vesmer {
namespace {

constexpr const char* kAppTitle = "VESMER";
constexpr const char* kNoSysInfo = "現時点ではｼｽﾃﾑ情報を使用できません";
// What Linux desktops offer in place of MSINFO32, those that tell most about the machine first.
constexpr const char* kDesktopSysInfo[] = {
    "hardinfo2",           "hardinfo",          "kinfocenter", "gnome-system-monitor",
    "mate-system-monitor", "xfce4-taskmanager", "lxtask"};

}  // namespace

bool GetKeyValue(Registry& registry, RegistryRoot root, const std::string& key_name,
                 const std::string& value_name, std::string& value) {
  Registry::Key key = 0;
  if (!registry.OpenKey(root, key_name, kKeyAllAccess, key)) {
    value.clear();
    return false;
  }
  std::uint32_t type = 0;
  std::string data;
  if (!registry.QueryValue(key, value_name, type, data, kRegistryBufferSize)) {
    value.clear();
    registry.CloseKey(key);
    return false;
  }
  if (!data.empty() && data.back() == '\0') data.pop_back();
  if (type == kRegSz) {
    value = cp932::ToUtf8(data);
  } else if (type == kRegDword) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    value = "&h";
    for (auto it = data.rbegin(); it != data.rend(); ++it) {
      const auto b = static_cast<unsigned char>(*it);
      if (b >= 16) value += kHex[b >> 4];
      value += kHex[b & 15];
    }
  }
  registry.CloseKey(key);
  return true;
}

frmAbout::frmAbout(Desktop& desktop, Registry& registry, QWidget* parent)
    : QDialog(parent), desktop_(desktop), registry_(registry) {
  setObjectName("frmAbout");
  SetUpFixedDialog(this, 5730, 3705);

  picIcon = new QLabel(this);
  picIcon->setObjectName("picIcon");
  PlaceTwips(picIcon, 240, 240, 540, 540);
  auto label = [&](const char* name, int l, int t, int w, int h) {
    auto* lb = new QLabel(this);
    lb->setObjectName(name);
    lb->setWordWrap(true);
    lb->setTextFormat(Qt::PlainText);
    PlaceTwips(lb, l, t, w, h);
    return lb;
  };
  lblTitle = label("lblTitle", 1050, 240, 4245, 480);
  lblVersion = label("lblVersion", 1050, 780, 4245, 225);
  lblDescription = label("lblDescription", 1050, 1125, 4245, 1170);
  lblDisclaimer = label("lblDisclaimer", 255, 2625, 3870, 825);
  for (int i = 0; i < 2; ++i) {
    auto* line = new QFrame(this);
    line->setObjectName(QString("Line1(%1)").arg(i));
    line->setFrameStyle(QFrame::HLine | (i == 0 ? QFrame::Sunken : QFrame::Plain));
    PlaceTwips(line, 225, 2430 + 15 * i, 5310, 15);
  }
  cmdOK = new QPushButton("OK", this);
  cmdOK->setObjectName("cmdOK");
  cmdOK->setDefault(true);
  PlaceTwips(cmdOK, 4245, 2625, 1260, 345);
  cmdSysInfo = new QPushButton("ｼｽﾃﾑ情報(&S)...", this);
  cmdSysInfo->setObjectName("cmdSysInfo");
  cmdSysInfo->setAutoDefault(false);
  PlaceTwips(cmdSysInfo, 4260, 3075, 1245, 345);

  RegisterFontSubstitutes();
  const QFont proportional = MakeFont(kProportionalFontName, 9);
  for (QWidget* w : std::initializer_list<QWidget*>{lblTitle, lblVersion, lblDescription,
                                                    lblDisclaimer, cmdOK, cmdSysInfo}) {
    w->setFont(proportional);
  }
  setWindowTitle(QString(kAppTitle) + "のﾊﾞｰｼﾞｮﾝ情報");
  UseFormStyle(this);
  connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::StartSysInfo);
}

void frmAbout::Fill(const QIcon& icon) {
  lblTitle->setText("Vesmer（ゔぇすめる）");
  lblVersion->setText(QString("Version %1.%2 (%3)")
                          .arg(version::kMajor)
                          .arg(version::kMinor)
                          .arg(version::kRevision));
  lblDescription->setText("レコードファイル比較ツール\nVesmer の開発者たち");
  lblDisclaimer->setText("");
  setWindowIcon(icon);
  picIcon->setPixmap(icon.pixmap(32, 32));
}

void frmAbout::StartSysInfo() {
  std::string path;
  if (!GetKeyValue(registry_, RegistryRoot::kLocalMachine,
                   "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH", path)) {
    std::string folder;
    if (GetKeyValue(registry_, RegistryRoot::kLocalMachine,
                    "SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO", folder) &&
        FileExists(folder + "/MSINFO32.EXE")) {
      path = folder + "/MSINFO32.EXE";
    } else {
      path.clear();
    }
  }
  if (!path.empty() && desktop_.StartProgram({QString::fromStdString(path)})) return;
  // No registry names one on Linux: the desktop's own program, found on PATH now (it may have
  // been installed since the program started), stands in.
  for (const char* program : kDesktopSysInfo) {
    const std::string found = FindOnPath(program);
    if (!found.empty() && desktop_.StartProgram({QString::fromStdString(found)})) return;
  }
  desktop_.ShowMessage(this, kAppTitle, kNoSysInfo);
}

}  // namespace vesmer
