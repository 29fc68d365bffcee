#include "core/start_checks.h"

#include "core/messages.h"

namespace vesmer {

StartCheckResult RunStartChecks(StartRequest& request, RangeList& key, RangeList& omit,
                                StartCheckHost* host) {
  auto refuse = [](std::string message, Focus focus) {
    return StartCheckResult{false, std::move(message), focus};
  };
  if (request.source.empty()) return refuse(messages::kNoSource, Focus::kSelectSource);
  if (request.destination.empty()) {
    return refuse(messages::kNoDestination, Focus::kSelectDestination);
  }
  if (request.source == request.destination) {
    return refuse(messages::kSameFile, Focus::kSelectSource);
  }
  request.key_text = NormaliseRangeText(request.key_text);
  if (host != nullptr) host->KeyTextNormalised(request.key_text);
  if (request.use_key && request.key_text.empty()) {
    return refuse(messages::kNoKeyRange, Focus::kKeyRange);
  }
  request.omit_text = NormaliseRangeText(request.omit_text);
  if (host != nullptr) host->OmitTextNormalised(request.omit_text);
  if (request.use_omit && request.omit_text.empty()) {
    return refuse(messages::kNoOmitRange, Focus::kOmitRange);
  }
  std::string parser_message;
  if (request.use_key) {
    const ParseOutcome outcome = ParseKeyRange(request.key_text, key, parser_message);
    if (outcome == ParseOutcome::kOverLimit) return refuse(parser_message, Focus::kKeyRange);
    if (outcome == ParseOutcome::kInvalid) return refuse(messages::kBadKeyRange, Focus::kKeyRange);
  }
  if (request.use_omit) {
    const ParseOutcome outcome = ParseOmitRange(request.omit_text, omit, parser_message);
    if (outcome == ParseOutcome::kOverLimit) return refuse(parser_message, Focus::kOmitRange);
    if (outcome == ParseOutcome::kInvalid) {
      return refuse(messages::kBadOmitRange, Focus::kOmitRange);
    }
  }
  if (request.use_key && request.use_omit && !CheckRangeOverlap(key, omit)) {
    return refuse(messages::kRangesOverlap, Focus::kOmitRange);
  }
  return {true, "", Focus::kNone};
}

}  // namespace vesmer
