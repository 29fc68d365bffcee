// The checks a run's request passes before it starts, in their fixed order: they hand back the
// message, the input or range that failed and the normalised range texts.
#pragma once

#include <string>
#include <string_view>

#include "core/ranges.h"

namespace vesmer {

// What a refused start is about.
enum class StartItem { kNone, kSource, kDestination, kKeyRange, kOmitRange };

struct StartRequest {
  std::string source;
  std::string destination;
  bool use_key = false;
  bool use_omit = false;
  std::string key_text;   // rewritten to its normalised form by the checks
  std::string omit_text;  // likewise
};

// Told of each range text as soon as it is rewritten, before the checks go on.
class RangeTextListener {
 public:
  virtual ~RangeTextListener() = default;
  virtual void KeyTextNormalised(const std::string& text) = 0;
  virtual void OmitTextNormalised(const std::string& text) = 0;
};

struct StartCheckResult {
  bool passed = false;
  std::string message;  // the status text to show; "" when passed
  StartItem failed = StartItem::kNone;
};

// Runs the checks in order and stops at the first refusal. Parses into `key` and `omit` only
// when their option is on; a list whose option is off keeps what it held. `host` may be null.
[[nodiscard]] StartCheckResult RunStartChecks(StartRequest& request, RangeList& key,
                                              RangeList& omit, RangeTextListener* host);

}  // namespace vesmer
