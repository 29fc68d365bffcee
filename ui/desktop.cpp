#include "ui/desktop.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLocale>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <QSortFilterProxyModel>
#include <QStandardPaths>
#include <QTreeView>
#include <QUrl>
#include <memory>
#include <vector>

#include "platform/process.h"

namespace vesmer {
namespace {

// Hides files the user cannot run while the "executables" filter entry is selected, and writes
// sizes and dates in the chooser's own locale: Qt's file model would follow the desktop's.
// Other columns are Qt's own.
class ChooserModel : public QSortFilterProxyModel {
 public:
  ChooserModel(const QLocale& locale, QObject* parent)
      : QSortFilterProxyModel(parent), locale_(locale) {}
  bool executables_only = false;

  QVariant data(const QModelIndex& index, int role) const override {
    auto* files = qobject_cast<QFileSystemModel*>(sourceModel());
    if (role != Qt::DisplayRole || files == nullptr || index.column() == 0) {
      return QSortFilterProxyModel::data(index, role);
    }
    const QModelIndex source = mapToSource(index);
    if (index.column() == kType) {
      // Qt's translation lacks the word for a folder; the MIME database has it.
      if (!files->isDir(source)) return QSortFilterProxyModel::data(index, role);
      return QMimeDatabase().mimeTypeForName(QStringLiteral("inode/directory")).comment();
    }
    if (index.column() == kDate) {
      return locale_.toString(files->lastModified(source), QLocale::ShortFormat);
    }
    if (files->isDir(source)) return QSortFilterProxyModel::data(index, role);
    return locale_.formattedDataSize(files->size(source));
  }

 protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
    if (!executables_only) return true;
    const QModelIndex index = sourceModel()->index(row, 0, parent);
    const QFileInfo info(index.data(QFileSystemModel::FilePathRole).toString());
    return info.isDir() || info.isExecutable();
  }

 private:
  static constexpr int kSize = 1;  // QFileSystemModel's columns
  static constexpr int kType = 2;
  static constexpr int kDate = 3;
  QLocale locale_;
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

std::unique_ptr<QFileDialog> MakeFileChooser(QWidget* owner, const QList<FileFilter>& filters,
                                             const QString& initial) {
  auto dialog = std::make_unique<QFileDialog>(owner);
  // Japanese whatever the desktop's locale, as the program's own windows are; the views take
  // the dialog's locale.
  dialog->setLocale(QLocale(QLocale::Japanese, QLocale::Japan));
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  dialog->setOption(QFileDialog::HideNameFilterDetails);
  QStringList names;
  for (const FileFilter& f : filters) names << QtFilter(f);
  dialog->setNameFilters(names);
  if (!names.isEmpty()) dialog->selectNameFilter(names.first());
  auto* model = new ChooserModel(dialog->locale(), dialog.get());
  dialog->setProxyModel(model);
  QFileDialog* d = dialog.get();
  auto apply = [model, names, filters](const QString& name) {
    const qsizetype i = names.indexOf(name);
    model->executables_only = i >= 0 && filters[i].executables_only;
    model->invalidate();
  };
  QObject::connect(d, &QFileDialog::filterSelected, d, apply);
  if (!names.isEmpty()) apply(names.first());

  // Wide enough for a name, a size, a type and a date side by side; the details take the
  // width their texts need as the folder is read (in the background).
  d->resize(d->fontMetrics().averageCharWidth() * 140, d->fontMetrics().height() * 30);
  if (auto* details = d->findChild<QTreeView*>(QStringLiteral("treeView"))) {
    for (int column = 1; column < details->header()->count(); ++column) {
      details->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
  }

  const QFileInfo info(initial);
  if (info.isDir()) {
    d->setDirectory(initial);
  } else if (!initial.isEmpty()) {
    d->setDirectory(info.absolutePath());  // a file opens the folder that holds it
    if (info.exists()) d->selectFile(info.fileName());
  }
  return dialog;
}

QString SystemDesktop::ChooseExistingFile(QWidget* owner, const QList<FileFilter>& filters,
                                          const QString& initial) {
  const std::unique_ptr<QFileDialog> dialog = MakeFileChooser(owner, filters, initial);
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
  return dialog->selectedFiles().first();
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
