// The desktop of this machine where it can be looked at without a user: the file chooser as
// the windows open it.
#include "ui/desktop.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>
#include <QMimeDatabase>
#include <QTest>
#include <QTranslator>
#include <QTreeView>

#include "tests/support/test_util.h"
#include "tests/ui/fake_desktop.h"
#include "ui/form_support.h"

namespace vesmer {
namespace {

using testing::TempDir;
using testing::WriteFile;

const QList<FileFilter> kInputFilters = {
    {"テキスト ファイル(*.prn; *.txt; *.csv)", {"*.prn", "*.txt", "*.csv"}},
    {"すべてのファイル (*.*)", {"*.*"}},
};

class FileChooserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The desktop speaks English here, as many a Linux desktop does.
    QLocale::setDefault(QLocale::c());
    translator_ = InstallQtTranslations();
    ASSERT_NE(translator_, nullptr);
    WriteFile(dir_ / "売上_2024.prn", std::string(171, 'x'));
    path_ = QString::fromStdString(dir_ / "売上_2024.prn");
    ASSERT_EQ(::mkdir((dir_ / "folder").c_str(), 0755), 0);
  }
  void TearDown() override {
    QCoreApplication::removeTranslator(translator_);
    delete translator_;
    QLocale::setDefault(QLocale::system());
  }
  // The details view once the folder has been read.
  QTreeView* Details(QFileDialog& dialog) {
    auto* details = dialog.findChild<QTreeView*>("treeView");
    if (details == nullptr) return nullptr;
    const bool listed =
        QTest::qWaitFor([&] { return details->model()->rowCount(details->rootIndex()) > 1; }, 5000);
    return listed ? details : nullptr;
  }
  QModelIndex Row(QTreeView* details, int column, const QString& name = "売上_2024.prn") {
    const QAbstractItemModel* model = details->model();
    for (int row = 0; row < model->rowCount(details->rootIndex()); ++row) {
      const QModelIndex index = model->index(row, column, details->rootIndex());
      if (model->index(row, 0, details->rootIndex()).data().toString() == name) {
        return index;
      }
    }
    return {};
  }

  TempDir dir_;
  QString path_;
  QTranslator* translator_ = nullptr;
};

TEST_F(FileChooserTest, SpeaksJapaneseWhateverTheDesktopsLocale) {
  const std::unique_ptr<QFileDialog> dialog = MakeFileChooser(nullptr, kInputFilters, path_);
  dialog->show();
  QTreeView* details = Details(*dialog);
  ASSERT_NE(details, nullptr);
  const QLocale japanese(QLocale::Japanese, QLocale::Japan);
  EXPECT_EQ(dialog->locale(), japanese);
  EXPECT_EQ(details->locale(), japanese);
  EXPECT_EQ(details->model()->headerData(0, Qt::Horizontal).toString(), "名前");
  EXPECT_EQ(details->model()->headerData(1, Qt::Horizontal).toString(), "サイズ");

  const QDateTime modified = QFileInfo(path_).lastModified();
  const QString date = Row(details, 3).data().toString();
  EXPECT_EQ(date, japanese.toString(modified, QLocale::ShortFormat));
  EXPECT_TRUE(date.startsWith(modified.toString("yyyy/MM/dd"))) << date.toStdString();
  EXPECT_EQ(Row(details, 1).data().toString(), "171 バイト");
}

TEST_F(FileChooserTest, NamesFileTypesInJapaneseInTheProgramsLocale) {
  UseJapaneseLocale();
  EXPECT_EQ(QLocale().language(), QLocale::Japanese);
  const std::unique_ptr<QFileDialog> dialog = MakeFileChooser(nullptr, kInputFilters, path_);
  dialog->show();
  QTreeView* details = Details(*dialog);
  ASSERT_NE(details, nullptr);
  QString type;
  (void)QTest::qWaitFor([&] { return !(type = Row(details, 2).data().toString()).isEmpty(); });
  EXPECT_EQ(type, QMimeDatabase().mimeTypeForFile(path_).comment());
  const QString folder = Row(details, 2, "folder").data().toString();
  EXPECT_EQ(folder, QMimeDatabase().mimeTypeForName("inode/directory").comment());
  QLocale::setDefault(QLocale::c());
  EXPECT_NE(type, QMimeDatabase().mimeTypeForFile(path_).comment()) << "an English name";
  EXPECT_NE(folder, "Folder");
}

TEST_F(FileChooserTest, ShowsEveryColumnWhole) {
  UseJapaneseLocale();
  const std::unique_ptr<QFileDialog> dialog = MakeFileChooser(nullptr, kInputFilters, path_);
  dialog->show();
  QTreeView* details = Details(*dialog);
  ASSERT_NE(details, nullptr);
  // The widths settle once the folder is read.
  const QString date = Row(details, 3).data().toString();
  (void)QTest::qWaitFor(
      [&] { return details->columnWidth(3) >= details->fontMetrics().horizontalAdvance(date); },
      2000);
  int total = 0;
  for (int column = 0; column < details->header()->count(); ++column) {
    const QString text = Row(details, column).data().toString();
    const QString title = details->model()->headerData(column, Qt::Horizontal).toString();
    EXPECT_GE(details->columnWidth(column), details->fontMetrics().horizontalAdvance(text))
        << column << " " << text.toStdString();
    EXPECT_GE(details->columnWidth(column), details->fontMetrics().horizontalAdvance(title))
        << column << " " << title.toStdString();
    total += details->columnWidth(column);
  }
  EXPECT_LE(total, details->viewport()->width());
}

}  // namespace
}  // namespace vesmer
