#include "output_set.h"

#include <cerrno>

namespace vesmer {

OutputSet::OutputSet(const ComparisonJob& job, PerKind<OutputFile>& results,
                     const std::vector<ExtraOutput>& extras) {
  for (const OutputKind kind : kAllOutputKinds) {
    if (!job.OutputSelected[kind]) continue;
    entries_.push_back(
        {&job.Result(kind), &results[kind], "結果ファイル " + std::to_string(Index(kind)), kind});
  }
  first_extra_ = entries_.size();
  for (const ExtraOutput& extra : extras) {
    entries_.push_back({&extra.path, extra.file, extra.role, std::nullopt});
  }
}

Status OutputSet::CheckAgainst(const std::vector<NamedFile>& reads,
                               const std::vector<NamedFile>& later) const {
  std::vector<NamedFile> writes;
  for (const Entry& e : entries_) writes.push_back({*e.path, e.role});
  for (const NamedFile& file : later) writes.push_back(file);
  return CheckOwnFiles(reads, writes);
}

Status OutputSet::Lock() {
  for (Entry& e : entries_) {
    if (Status s = e.file->OpenLocked(*e.path); !s.ok()) return WithPath(s, *e.path);
  }
  return {};
}

void OutputSet::Abandon() {
  for (Entry& e : entries_) {
    if (e.file->is_open()) e.file->Abandon();
  }
}

std::vector<FileId> OutputSet::ids() const {
  std::vector<FileId> ids;
  for (const Entry& e : entries_) ids.push_back(e.file->id());
  return ids;
}

Status OutputSet::Empty(const std::vector<FileId>& inputs) {
  for (const Entry& e : entries_) {
    for (const FileId& id : inputs) {
      if (e.file->id() == id) return Status::Error(EEXIST, "result file is an input", *e.path);
    }
  }
  for (Entry& e : entries_) {
    if (Status s = e.file->Truncate(); !s.ok()) return WithPath(s, *e.path);
    e.created = true;
  }
  return {};
}

bool OutputSet::created(OutputKind kind) const {
  for (std::size_t i = 0; i < first_extra_; ++i) {
    if (entries_[i].kind == kind) return entries_[i].created;
  }
  return false;
}

Status OutputSet::FirstFailure() const {
  for (const Entry& e : entries_) {
    if (!e.file->status().ok()) return WithPath(e.file->status(), *e.path);
  }
  return {};
}

Status OutputSet::Close() {
  Status first;
  for (Entry& e : entries_) {
    if (!e.file->is_open()) continue;
    if (Status s = e.file->Close(); !s.ok() && first.ok()) first = WithPath(s, *e.path);
  }
  return first;
}

}  // namespace vesmer
