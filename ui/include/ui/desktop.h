// The platform operations the windows call, behind one interface that tests replace: the file
// chooser, special folders, opening a document, starting a program, showing a file in the
// file manager, message boxes and the settings file location.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <string_view>

class QFileDialog;
class QWidget;

namespace vesmer {

// One entry of a file chooser's filter: its caption as shown and the patterns it matches.
// `executables_only` lists files the user may run, whatever their name.
struct FileFilter {
  QString caption;
  QStringList patterns;
  bool executables_only = false;
  friend bool operator==(const FileFilter&, const FileFilter&) = default;
};

class Desktop {
 public:
  virtual ~Desktop() = default;

  // A modal chooser for one existing file, the first filter preselected, opening at `initial`
  // (a folder, or a file whose folder it opens in). Returns the full path, or "" on cancel.
  virtual QString ChooseExistingFile(QWidget* owner, const QList<FileFilter>& filters,
                                     const QString& initial) = 0;
  // The user's documents folder; "" when unknown.
  virtual QString DocumentsFolder() = 0;
  // Where programs live (the browse for an editor starts there); "" when unknown.
  virtual QString ProgramFilesFolder() = 0;
  // Opens a document with the desktop's associated program; the result is not checked.
  virtual void OpenDocument(const QString& path) = 0;
  // Starts argv[0] with the rest as its arguments, no shell; false when it could not start.
  virtual bool StartProgram(const QStringList& argv) = 0;
  // Shows the file selected in the desktop's file manager.
  virtual void ShowInFileManager(const QString& path) = 0;
  // A modal message box with an OK button.
  virtual void ShowMessage(QWidget* owner, const QString& title, const QString& text) = 0;
};

// The file chooser as the windows call it: `filter` is caption, NUL, patterns ("; "
// separated), NUL, ... as one text; the result is "" when the user cancels.
QString ShowOpenDialog(Desktop& desktop, QWidget* owner, std::u16string_view filter,
                       const QString& initial);

// The modal chooser of SystemDesktop, ready to exec(): Qt's own dialog (the same on every
// desktop) with `filters`, the first preselected, opening at `initial`, in Japanese: its texts
// through Qt's translation when installed, its sizes and dates in the Japanese locale whatever
// the desktop's, at a size that shows every column whole.
[[nodiscard]] std::unique_ptr<QFileDialog> MakeFileChooser(QWidget* owner,
                                                           const QList<FileFilter>& filters,
                                                           const QString& initial);

// The desktop of this machine.
class SystemDesktop : public Desktop {
 public:
  QString ChooseExistingFile(QWidget* owner, const QList<FileFilter>& filters,
                             const QString& initial) override;
  QString DocumentsFolder() override;
  QString ProgramFilesFolder() override;
  void OpenDocument(const QString& path) override;
  bool StartProgram(const QStringList& argv) override;
  void ShowInFileManager(const QString& path) override;
  void ShowMessage(QWidget* owner, const QString& title, const QString& text) override;
};

}  // namespace vesmer
