#include "ui/desktop.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QSortFilterProxyModel>
#include <QStandardPaths>
#include <QUrl>
#include <vector>

#include "platform/process.h"

namespace vesmer {
namespace {

// Hides files the user cannot run while the "executables" filter entry is selected.
class ExecutableFilter : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;
  bool active = false;

 protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
    if (!active) return true;
    const QModelIndex index = sourceModel()->index(row, 0, parent);
    const QFileInfo info(index.data(Qt::UserRole + 1).toString());  // QFileSystemModel path
    return info.isDir() || info.isExecutable();
  }
};

// Qt reads the patterns from the last parenthesised group; with the details hidden the user
// sees the caption alone.
QString QtFilter(const FileFilter& f) {
  return f.caption + " (" + (f.executables_only ? QStringLiteral("*") : f.patterns.join(' ')) + ")";
}

}  // namespace

QString ShowOpenDialog(Desktop& desktop, QWidget* owner, std::u16string_view filter,
                       const QString& initial) {
  QList<FileFilter> filters;
  std::vector<QString> parts;
  std::size_t start = 0;
  while (start < filter.size()) {
    std::size_t nul = filter.find(u'\0', start);
    if (nul == std::u16string_view::npos) nul = filter.size();
    parts.push_back(QString::fromUtf16(filter.data() + start, static_cast<qsizetype>(nul - start)));
    start = nul + 1;
  }
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    FileFilter f{parts[i], parts[i + 1].split(';', Qt::SkipEmptyParts)};
    for (QString& p : f.patterns) p = p.trimmed();
    f.executables_only = f.patterns == QStringList{"*.exe"};  // programs have no extension here
    filters.push_back(f);
  }
  return desktop.ChooseExistingFile(owner, filters, initial);
}

QString SystemDesktop::ChooseExistingFile(QWidget* owner, const QList<FileFilter>& filters,
                                          const QString& initial) {
  QFileDialog dialog(owner);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  QStringList names;
  for (const FileFilter& f : filters) names << QtFilter(f);
  dialog.setNameFilters(names);
  if (!names.isEmpty()) dialog.selectNameFilter(names.first());
  auto* proxy = new ExecutableFilter(&dialog);
  dialog.setProxyModel(proxy);
  auto apply = [&](const QString& name) {
    const qsizetype i = names.indexOf(name);
    proxy->active = i >= 0 && filters[i].executables_only;
    proxy->invalidate();
  };
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, apply);
  if (!names.isEmpty()) apply(names.first());
  const QFileInfo info(initial);
  if (info.isDir()) {
    dialog.setDirectory(initial);
  } else if (!initial.isEmpty()) {
    dialog.setDirectory(info.absolutePath());  // a file opens the folder that holds it
    if (info.exists()) dialog.selectFile(info.fileName());
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

QString SystemDesktop::DocumentsFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

QString SystemDesktop::ProgramFilesFolder() { return QStringLiteral("/usr/bin"); }

void SystemDesktop::OpenDocument(const QString& path) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool SystemDesktop::StartProgram(const QStringList& argv) {
  std::vector<std::string> args;
  for (const QString& a : argv) args.push_back(a.toStdString());
  return StartDetached(args).ok();
}

void SystemDesktop::ShowInFileManager(const QString& path) {
  QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                                     "/org/freedesktop/FileManager1",
                                                     "org.freedesktop.FileManager1", "ShowItems");
  call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
  const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
  if (reply.type() != QDBusMessage::ReplyMessage) {
    StartProgram({"xdg-open", QFileInfo(path).absolutePath()});
  }
}

void SystemDesktop::ShowMessage(QWidget* owner, const QString& title, const QString& text) {
  QMessageBox::information(owner, title, text, QMessageBox::Ok);
}

}  // namespace vesmer
