#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "platform/process.h"
#include "platform/registry.h"
#include "settings/settings_store.h"
#include "ui/desktop.h"
#include "ui/form_support.h"
#include "ui/main_window.h"

// The program reads no command-line arguments of its own; Qt's are left to Qt.
int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Qt's own dialogs in Japanese like the windows; without the file they stay English.
  vesmer::UseJapaneseLocale();
  vesmer::InstallQtTranslations();
  try {
    vesmer::SettingsStore store;
    vesmer::SystemDesktop desktop;
    vesmer::SystemRegistry registry;
    std::string exe = vesmer::ExecutablePath();
    if (exe.empty()) exe = QCoreApplication::applicationFilePath().toStdString();
    vesmer::frmVESMER window(store, vesmer::SettingsLocationFor(exe), desktop, registry);
    window.show();
    return app.exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, "Vesmer", QString::fromUtf8(e.what()));
    return 1;
  }
}
