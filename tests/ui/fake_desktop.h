// A desktop for window tests: records every platform call and answers file choosers from a
// queue the test fills.
#pragma once

#include <QList>
#include <QStringList>
#include <deque>
#include <functional>
#include <ostream>

#include "ui/desktop.h"

// Readable QStrings in GoogleTest's messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace vesmer::testing {

class FakeDesktop : public Desktop {
 public:
  struct Choice {
    QList<FileFilter> filters;
    QString initial;
  };
  std::deque<QString> answers;  // what the chooser returns, in order; "" cancels
  QList<Choice> choices;
  QString documents = "/home/user/Documents";
  QString program_files = "/usr/bin";
  QStringList opened;
  QList<QStringList> started;
  bool start_succeeds = true;
  QStringList shown;
  QStringList messages;
  // Called while the chooser is "open", to look at the window then.
  std::function<void()> during_choice;

  QString ChooseExistingFile(QWidget*, const QList<FileFilter>& filters,
                             const QString& initial) override {
    choices.push_back({filters, initial});
    if (during_choice) during_choice();
    if (answers.empty()) return {};
    QString a = answers.front();
    answers.pop_front();
    return a;
  }
  QString DocumentsFolder() override { return documents; }
  QString ProgramFilesFolder() override { return program_files; }
  void OpenDocument(const QString& path) override { opened << path; }
  bool StartProgram(const QStringList& argv) override {
    started << argv;
    return start_succeeds;
  }
  void ShowInFileManager(const QString& path) override { shown << path; }
  void ShowMessage(QWidget*, const QString& title, const QString& text) override {
    messages << title + "|" + text;
  }
};

}  // namespace vesmer::testing
