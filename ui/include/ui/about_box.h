// frmAbout, the modal About box: title, version, maker, and a button that starts the
// system-information program.
#pragma once

#include <QDialog>
#include <string>

#include "platform/registry.h"

class QFrame;
class QLabel;
class QPushButton;

namespace vesmer {

class Desktop;

// Reads a string or 32-bit number value; a number comes back as "&h" and the hex digits of
// its bytes, last to first. Returns false (and "" in `value`) when key or value is missing.
bool GetKeyValue(Registry& registry, RegistryRoot root, const std::string& key_name,
                 const std::string& value_name, std::string& value);

class frmAbout : public QDialog {
  Q_OBJECT
 public:
  frmAbout(Desktop& desktop, Registry& registry, QWidget* parent = nullptr);

  // Sets the texts and the main window's icon, as the opening handler does.
  void Fill(const QIcon& icon);
  // Starts the system-information program the registry names, else the first desktop
  // system-information program on PATH, or says that none is there.
  void StartSysInfo();

  QLabel* lblTitle = nullptr;
  QLabel* lblVersion = nullptr;
  QLabel* lblDescription = nullptr;
  QLabel* lblDisclaimer = nullptr;
  QLabel* picIcon = nullptr;
  QPushButton* cmdOK = nullptr;
  QPushButton* cmdSysInfo = nullptr;

 private:
  Desktop& desktop_;
  Registry& registry_;
};

}  // namespace vesmer
