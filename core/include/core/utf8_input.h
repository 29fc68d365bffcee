// Converting a UTF-8 input to code page 932 on disk before a run, without ever writing into an
// input or through a link.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/status.h"

namespace vesmer {

struct Utf8InputNames {
  std::string converted;  // P + "_SJIS.TXT", the converted text while it is written
  std::string backup;     // P + "_UTF8.TXT", the UTF-8 file after the conversion
};

// P being `input_path` without its extension.
[[nodiscard]] Utf8InputNames MakeUtf8InputNames(const std::string& input_path);

// Streams the UTF-8 file at `input_path` into P_SJIS.TXT as code page 932 (a byte order mark
// dropped, malformed UTF-8 as U+FFFD, characters without a code page form as Windows writes
// them, line ends unchanged), renames the input to P_UTF8.TXT and P_SJIS.TXT to the input path.
//
// `protect` holds the identities of the run's inputs (IdOfPath of both); the input being
// converted is protected whether or not it is listed. Before anything is written the conversion
// refuses, with a Status naming P_SJIS.TXT and every file left as it was, when P_SJIS.TXT is a
// symbolic link, is not a regular file, is a protected file (a hard link to one counts), or has
// other hard links (writing it would change a file elsewhere). An existing P_SJIS.TXT that is
// none of these, such as one left by an earlier failed conversion, is overwritten.
//
// An input that is a symbolic link is read through the link; the renames move the link itself,
// so the file it points to is never written and stays reachable through P_UTF8.TXT.
//
// No rename replaces an existing file, so P_UTF8.TXT is never overwritten (a conversion that
// finds one fails after writing P_SJIS.TXT and leaves the input as it was). A write failure
// removes the half-written P_SJIS.TXT; a failed second rename puts the input back under its
// name. At every moment, a killed process included, the user's UTF-8 text is under the input
// path or under P_UTF8.TXT.
// `original`, when given, is passed every byte of the UTF-8 file as it is read (to hash it).
[[nodiscard]] Status ConvertUtf8Input(const std::string& input_path,
                                      std::span<const FileId> protect,
                                      ChunkObserver* original = nullptr);

namespace detail {

// Points after which the step hook runs, in this order.
inline constexpr int kStepChunkWritten = 0;      // a piece of P_SJIS.TXT written, more may follow
inline constexpr int kStepConvertedClosed = 1;   // P_SJIS.TXT written in full and closed
inline constexpr int kStepInputRenamed = 2;      // the input renamed to P_UTF8.TXT
inline constexpr int kStepConvertedRenamed = 3;  // P_SJIS.TXT renamed to the input path

// For tests: `hook` runs after each step of every conversion (nullptr: none), so a test can end
// the process at a chosen point and check what is left on disk.
void SetUtf8ConversionStepHook(void (*hook)(int step));

// Reads up to `capacity` bytes into `buffer`; returns the count, 0 at the end, -1 with errno
// set on failure.
using ReadFunction = std::function<ssize_t(char* buffer, std::size_t capacity)>;
using WriteFunction = std::function<Status(std::string_view bytes)>;

// The conversion's transcoding: reads UTF-8 through `read` in pieces of at most `chunk` (> 0) bytes
// and hands the code page 932 form to `write`, a piece at a time. Drops a byte order mark at the
// very start and carries a sequence cut at a piece's edge over to the next piece, so the output
// does not depend on how the reads cut the input. Memory is three times `chunk`, whatever the
// input's size. Returns the first failure of `read` (as "read") or of `write`.
inline constexpr std::size_t kUtf8ConversionChunk = std::size_t{1} << 20;
[[nodiscard]] Status TranscodeUtf8(const ReadFunction& read, const WriteFunction& write,
                                   std::size_t chunk = kUtf8ConversionChunk);

}  // namespace detail
}  // namespace vesmer
