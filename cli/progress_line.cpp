#include "cli/progress_line.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "cli/terminal_text.h"

namespace vesmer {
namespace {

constexpr std::size_t kColumns = 79;
constexpr std::size_t kBarWidth = 30;
// Narrower than this the bar says nothing the percentage does not.
constexpr std::size_t kNarrowestBar = 10;

// Beyond these a figure is no longer worth its columns.
constexpr double kMostPerSecond = 999'999'999'999'999.0;
constexpr double kMostSecondsLeft = 100.0 * 3600;

std::string Grouped(std::uint64_t n) {
  std::string digits = std::to_string(n);
  for (std::size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, ",");
  return digits;
}

std::string Pace(std::uint64_t done, std::int64_t lines, double elapsed, ProgressStart since,
                 const char* unit) {
  if (lines >= 0) {
    if (elapsed <= 0) return std::string("-- ") + unit;
    const double per_second =
        std::min(static_cast<double>(std::max<std::int64_t>(lines - since.lines, 0)) / elapsed,
                 kMostPerSecond);
    return Grouped(static_cast<std::uint64_t>(per_second)) + " " + unit;
  }
  if (elapsed <= 0) return "-- MB/秒";
  char text[32];
  const double bytes = done > since.done ? static_cast<double>(done - since.done) : 0.0;
  std::snprintf(text, sizeof text, "%.1f", std::min(bytes / 1e6 / elapsed, kMostPerSecond));
  return std::string(text) + " MB/秒";
}

std::string TimeLeft(std::uint64_t done, std::uint64_t total, double elapsed, ProgressStart since) {
  if (done <= since.done || elapsed <= 0) return "残り --:--";
  const double left = std::ceil(elapsed * static_cast<double>(total - done) /
                                static_cast<double>(done - since.done));
  if (left >= kMostSecondsLeft) return "残り 100 時間以上";
  const auto seconds = static_cast<unsigned>(left);
  char text[32];
  if (seconds < 3600) {
    std::snprintf(text, sizeof text, "%u:%02u", seconds / 60, seconds % 60);
  } else {
    std::snprintf(text, sizeof text, "%u:%02u:%02u", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
  }
  return std::string("残り ") + text;
}

}  // namespace

std::string ProgressLine(RunStep step, bool sorting, std::uint64_t done, std::uint64_t total,
                         std::int64_t lines, double elapsed_seconds, ProgressStart since,
                         std::string_view formats) {
  done = std::min(done, total);
  std::string label = step == RunStep::kSort ? "整列 1/2" : (sorting ? "比較 2/2" : "比較");
  // In long double, so that no size of file overflows the product.
  const auto share = [&](std::size_t of) {
    if (total == 0) return std::size_t{0};
    return static_cast<std::size_t>(static_cast<long double>(done) * of / total);
  };
  const std::string percent = std::to_string(share(100)) + "%";
  const std::string tail =
      std::string(4 - percent.size(), ' ') + percent + "  " +
      Pace(done, lines, elapsed_seconds, since, formats.empty() ? "行/秒" : "件/秒") + "  " +
      TimeLeft(done, total, elapsed_seconds, since);
  if (!formats.empty()) {
    // The formats are ASCII (canonical words); cut to what leaves the bar its narrowest.
    const std::size_t used = DisplayWidth(label) + DisplayWidth(tail) + 4 + kNarrowestBar + 1;
    const std::size_t room = used < kColumns ? kColumns - used : 0;
    if (formats.size() <= room) {
      label += " " + std::string(formats);
    } else if (room > 1) {
      label += " " + std::string(formats.substr(0, room - 1)) + "…";
    }
  }
  const std::size_t rest = DisplayWidth(label) + DisplayWidth(tail) + 4;  // " [" and "] "
  const std::size_t bar = rest < kColumns ? std::min(kBarWidth, kColumns - rest) : 0;
  if (bar < kNarrowestBar) return label + " " + tail;
  const std::size_t filled = share(bar);
  return label + " [" + std::string(filled, '#') + std::string(bar - filled, ' ') + "] " + tail;
}

std::string JobProgressLine(std::size_t done, std::size_t total, std::uint64_t bytes,
                            const std::vector<std::string>& running) {
  char megabytes[48];
  std::snprintf(megabytes, sizeof megabytes, "%.1f", static_cast<double>(bytes) / 1e6);
  std::string line = "ジョブ " + Grouped(done) + "/" + Grouped(total) + " 組  " + megabytes + " MB";
  if (running.empty()) return line;
  line += "  実行中: ";
  bool first = true;
  for (const std::string& name : running) {
    const std::string part = (first ? "" : ", ") + name;
    first = false;
    if (DisplayWidth(line) + DisplayWidth(part) <= kColumns) {
      line += part;
      continue;
    }
    // Cut by characters until the rest and "…" fit.
    std::size_t width = DisplayWidth(line);
    for (std::size_t i = 0; i < part.size();) {
      std::size_t next = i + 1;
      while (next < part.size() && (static_cast<unsigned char>(part[next]) & 0xC0) == 0x80) ++next;
      const std::size_t w = DisplayWidth(std::string_view(part).substr(i, next - i));
      if (width + w + 1 > kColumns) break;
      line.append(part, i, next - i);
      width += w;
      i = next;
    }
    line += "…";
    break;
  }
  return line;
}

}  // namespace vesmer
