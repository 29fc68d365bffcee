// The comparison result list: each listed differing pair in 100-column segments under the
// ruler, the source ("-O:"), destination ("-C:") and marker ("-R:") lines, "?" under every
// differing byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/run_host.h"
#include "platform/files.h"

namespace vesmer {

// One pair to list. Line bytes are shown as read; the marker is judged on comparison bytes. A
// line without a partner is listed against an empty one.
struct ListedPair {
  std::string_view source_line;
  std::string_view destination_line;
  std::string_view source_comparison;
  std::string_view destination_comparison;
  std::int64_t number = 0;  // the line number printed on every line of the entry
};

class ResultListWriter {
 public:
  // `scale` is the ruler text in code page 932 bytes.
  ResultListWriter(OutputFile& file, std::string scale, bool display, RunHost& host)
      : file_(file), scale_line_(std::string(14, ' ') + scale), display_(display), host_(host) {}

  // Writes one entry (WriteResultList). Returns false when a yield asked the run to stop; the
  // entry is still written whole.
  bool Write(const ListedPair& pair);

 private:
  void ShowSegment(int line, std::string_view segment);

  OutputFile& file_;
  std::string scale_line_;
  bool display_;
  RunHost& host_;
  // Working copies, kept between entries only to reuse their memory.
  std::string source_, destination_, marker_, line_;
  std::string carried_[3];  // segments that begin with the space of a carry
  std::u16string display_text_;
};

// Whether the cut after 1-based column `p` (p < padded.size()) would split a double-byte
// character of the padded source line, so the segment takes column p + 1 too.
[[nodiscard]] bool CutCarries(std::string_view padded_source, std::size_t p);

}  // namespace vesmer
