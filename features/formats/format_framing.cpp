#include "formats/format_framing.h"

#include <cerrno>
#include <cstdint>

#include "formats/framed_records.h"

namespace vesmer {
namespace {

class FramedFile final : public FramedSource {
 public:
  explicit FramedFile(std::size_t column_offset) : column_offset_(column_offset) {}

  Status Open(const std::string& path, const RecordFormat& format, ChunkObserver* observer,
              const std::atomic<bool>* interrupt) {
    records_.SetInterrupt(interrupt);
    return records_.Open(path, format, observer);
  }
  bool Next(std::string_view& record, std::int64_t& record_number) override {
    if (!records_.Next(record, record_number)) return false;
    record.remove_prefix(column_offset_);  // the framing saw it is there
    return true;
  }
  [[nodiscard]] const Status& status() const override { return records_.status(); }
  [[nodiscard]] std::uint64_t consumed() const override { return records_.consumed(); }
  [[nodiscard]] std::uint64_t size() const override { return records_.size(); }
  [[nodiscard]] FileId id() const override { return records_.id(); }
  void Close() override { records_.Close(); }
  [[nodiscard]] std::size_t fixed_length() const override {
    const RecordFormat& format = records_.format();
    return format.framing == Framing::kFixed ? format.record_length : 0;
  }
  [[nodiscard]] std::string_view Ahead() const override { return records_.Ahead(); }
  void Skip(std::int64_t records) override { records_.Skip(records); }
  void MarkCleanRecords(unsigned every, unsigned first) override {
    records_.MarkCleanRecords(every, first);
  }
  [[nodiscard]] std::size_t AheadKnownClean() const override { return records_.AheadKnownClean(); }

 private:
  const std::size_t column_offset_;
  FramedRecords records_;
};

}  // namespace

Status FormatFraming::Open(const std::string& path, ChunkObserver* observer,
                           const std::atomic<bool>* interrupt,
                           std::unique_ptr<FramedSource>& source) const {
  auto file = std::make_unique<FramedFile>(format_.ColumnOffset());
  if (Status s = file->Open(path, format_, observer, interrupt); !s.ok()) return s;
  source = std::move(file);
  return {};
}

Status FormatFraming::Check(const std::string& path, const std::atomic<bool>* interrupt) const {
  FramedRecords records;
  records.SetInterrupt(interrupt);
  if (Status s = records.Open(path, format_); !s.ok()) return s;
  std::string_view record;
  std::int64_t number = 0;
  // A fixed-length file fits when its size does, which the first record checks.
  const bool whole = format_.framing != Framing::kFixed;
  for (std::uint32_t countdown = 4096; records.Next(record, number);) {
    if (!whole) break;
    if (--countdown == 0) {
      countdown = 4096;
      if (interrupt != nullptr && interrupt->load()) return Status::Error(EINTR, "read", path);
    }
  }
  Status status = records.status();
  records.Close();
  return status;
}

void FormatFraming::Write(std::string_view record, OutputFile& file) const {
  switch (format_.framing) {
    case Framing::kFixed:
      file.Append(record);
      return;
    case Framing::kRdw: {
      // The framing refuses a word whose length is under 4 or over what two bytes hold.
      const std::size_t length = record.size() + 4;
      const char word[4] = {static_cast<char>((length >> 8) & 0xFF),
                            static_cast<char>(length & 0xFF), 0, 0};
      file.Append(std::string_view(word, 4));
      file.Append(record);
      return;
    }
    default:
      file.AppendLine(record);
      return;
  }
}

}  // namespace vesmer
