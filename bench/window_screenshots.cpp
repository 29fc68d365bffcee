// Takes the README's pictures of the window: the main window after a key comparison of the
// sample files kept deep in a Japanese folder tree, the main window in the middle of a run
// (locked, progress bar and display lines showing) and the Japanese file chooser.
//
//   window_screenshots DOCS_DIR [--gen PATH]
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise (under
// `xvfb-run -s "-screen 0 1280x1024x24"` it may be xcb), in whatever locale it is given, as the
// program does. The inputs of the run are made by gen_records, looked for beside this program
// unless given, in a temporary folder that is removed at the end.
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <deque>
#include <string>

#include "platform/registry.h"
#include "settings/settings_store.h"
#include "ui/desktop.h"
#include "ui/form_support.h"
#include "ui/main_window.h"

namespace {

// Answers the window's file chooser from a queue.
class QueueDesktop : public vesmer::SystemDesktop {
 public:
  std::deque<QString> answers;
  QString ChooseExistingFile(QWidget*, const QList<vesmer::FileFilter>&, const QString&) override {
    if (answers.empty()) return {};
    QString a = answers.front();
    answers.pop_front();
    return a;
  }
};

bool Generate(const std::string& gen, const QString& a, const QString& b, const char* records) {
  const std::string sa = a.toStdString(), sb = b.toStdString();
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    execl(gen.c_str(), gen.c_str(), sa.c_str(), sb.c_str(), records, "all", nullptr);
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool Save(QWidget* w, const QString& path) {
  if (!w->grab().save(path, "PNG")) {
    std::fprintf(stderr, "window_screenshots: cannot write %s\n", path.toStdString().c_str());
    return false;
  }
  std::printf("%s\n", path.toStdString().c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: window_screenshots DOCS_DIR [--gen PATH]\n");
    return 2;
  }
  const QString docs = QString::fromLocal8Bit(argv[1]);
  std::string gen = argv[0];
  gen = gen.substr(0, gen.rfind('/') + 1) + "gen_records";
  if (argc > 3 && std::string(argv[2]) == "--gen") gen = argv[3];
  if (getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  vesmer::UseJapaneseLocale();
  vesmer::InstallQtTranslations();

  QTemporaryDir work;
  const QString a = work.filePath("売上_2024.prn"), b = work.filePath("売上_2025.prn");
  if (!work.isValid() || !Generate(gen, a, b, "400000")) {
    std::fprintf(stderr, "window_screenshots: cannot make the inputs with %s\n", gen.c_str());
    return 2;
  }

  vesmer::SettingsStore store;
  QueueDesktop desktop;
  vesmer::MemoryRegistry registry;

  // The main window after a key comparison of the samples, their paths too long for the labels.
  {
    const QString deep =
        work.filePath("yamada/ドキュメント/現新比較/2026年度/給与システム/移行テスト/第3回/出力");
    const QString source = deep + "/source.prn", destination = deep + "/destination.prn";
    if (!QDir().mkpath(deep) || !QFile::copy(VESMER_SAMPLES "/source.prn", source) ||
        !QFile::copy(VESMER_SAMPLES "/destination.prn", destination)) {
      std::fprintf(stderr, "window_screenshots: cannot copy the samples\n");
      return 2;
    }
    vesmer::frmVESMER window(store,
                             vesmer::SettingsLocationFor(work.filePath("sample").toStdString()),
                             desktop, registry);
    window.show();
    desktop.answers = {source, destination};
    window.cmdSelInput[0]->click();
    window.cmdSelInput[1]->click();
    window.chkKey->setChecked(true);
    window.txtKeyRange->setText("1-4");
    window.cmdStart->click();
    QCoreApplication::processEvents();
    if (!Save(&window, QDir(docs).filePath("main-window.png"))) return 1;
    window.close();
  }

  store = vesmer::SettingsStore{};
  vesmer::frmVESMER window(
      store, vesmer::SettingsLocationFor(work.filePath("vesmer").toStdString()), desktop, registry);
  window.show();
  desktop.answers = {a, b};
  window.cmdSelInput[0]->click();
  window.cmdSelInput[1]->click();

  // The main window a third of the way through a run.
  bool ok = false;
  QTimer look;
  look.setInterval(0);
  QObject::connect(&look, &QTimer::timeout, [&] {
    if (!window.running() || !window.prgProgress->isVisible() ||
        window.prgProgress->value() < 330 || !window.lblRecord[2]->text().contains('?')) {
      return;
    }
    look.stop();
    ok = Save(&window, QDir(docs).filePath("main-window-running.png"));
  });
  look.start();
  window.cmdStart->click();
  if (!ok) {
    std::fprintf(stderr, "window_screenshots: the run ended before it could be shown\n");
    return 1;
  }

  // The chooser as the source button opens it, in the inputs' folder with the result files.
  QTimer chooser;
  chooser.setInterval(50);
  int waited = 0;
  QObject::connect(&chooser, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    auto* list = dialog->findChild<QAbstractItemView*>("listView");
    // The folder is read in the background: wait until its files are listed.
    if (++waited < 100 && (list == nullptr || list->model()->rowCount(list->rootIndex()) < 2)) {
      return;
    }
    chooser.stop();
    QCoreApplication::processEvents();
    ok = Save(dialog, QDir(docs).filePath("file-chooser.png")) && ok;
    dialog->reject();
  });
  chooser.start();
  static constexpr char16_t kFilter[] =
      u"テキスト ファイル(*.prn; *.txt; *.csv)\0*.prn; *.txt; *.csv\0すべてのファイル (*.*)\0*.*\0";
  vesmer::SystemDesktop system;
  (void)vesmer::ShowOpenDialog(system, &window,
                               std::u16string_view(kFilter, std::size(kFilter) - 1), a);
  window.close();
  return ok ? 0 : 1;
}
