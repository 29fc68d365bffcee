// The run's way into the record framings: a RecordFraming for LF lines, fixed-length records and
// records behind a record descriptor word, read with FramedRecords.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <string_view>

#include "core/record_framing.h"
#include "formats/record_format.h"

namespace vesmer {

// Reads and writes the records of `format`'s framing. A variable-length record is handed to the
// run without its descriptor word, so that its columns count from the first byte after it, and
// gets it back when written: the word says nothing but the record's length, which the framing
// checked, so a result file holds the record exactly as read.
class FormatFraming final : public RecordFraming {
 public:
  explicit FormatFraming(RecordFormat format) : format_(std::move(format)) {}

  [[nodiscard]] Status Open(const std::string& path, ChunkObserver* observer,
                            const std::atomic<bool>* interrupt,
                            std::unique_ptr<FramedSource>& source) const override;
  [[nodiscard]] Status Check(const std::string& path,
                             const std::atomic<bool>* interrupt) const override;
  void Write(std::string_view record, OutputFile& file) const override;
  [[nodiscard]] std::string Text() const override { return format_.Text(); }
  [[nodiscard]] const RecordFormat& format() const { return format_; }

 private:
  RecordFormat format_;
};

}  // namespace vesmer
