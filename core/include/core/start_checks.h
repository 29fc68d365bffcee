// The checks of the start button, in their fixed order, without any window: they hand back the
// message, the control to focus and the normalised range texts.
#pragma once

#include <string>
#include <string_view>

#include "core/ranges.h"

namespace vesmer {

// The control a refused start moves the focus to.
enum class Focus { kNone, kSelectSource, kSelectDestination, kKeyRange, kOmitRange };

struct StartRequest {
  std::string source;
  std::string destination;
  bool use_key = false;
  bool use_omit = false;
  std::string key_text;   // rewritten to its normalised form by the checks
  std::string omit_text;  // likewise
};

// Told of each rewritten range text, so a window can show it and let its events run.
class StartCheckHost {
 public:
  virtual ~StartCheckHost() = default;
  virtual void KeyTextNormalised(const std::string& text) = 0;
  virtual void OmitTextNormalised(const std::string& text) = 0;
};

struct StartCheckResult {
  bool passed = false;
  std::string message;  // the status text to show; "" when passed
  Focus focus = Focus::kNone;
};

// Runs the checks in order and stops at the first refusal. Parses into `key` and `omit` only
// when their option is on; a list whose option is off keeps what it held. `host` may be null.
[[nodiscard]] StartCheckResult RunStartChecks(StartRequest& request, RangeList& key,
                                              RangeList& omit, StartCheckHost* host);

}  // namespace vesmer
