#include "core/start_checks.h"

#include "core/messages.h"

namespace vesmer {

StartCheckResult RunStartChecks(StartRequest& request, RangeList& key, RangeList& omit,
                                RangeTextListener* host) {
  auto refuse = [](std::string message, StartItem item) {
    return StartCheckResult{false, std::move(message), item};
  };
  if (request.source.empty()) return refuse(messages::kNoSource, StartItem::kSource);
  if (request.destination.empty()) {
    return refuse(messages::kNoDestination, StartItem::kDestination);
  }
  if (request.source == request.destination) {
    return refuse(messages::kSameFile, StartItem::kSource);
  }
  request.key_text = NormaliseRangeText(request.key_text);
  if (host != nullptr) host->KeyTextNormalised(request.key_text);
  if (request.use_key && request.key_text.empty()) {
    return refuse(messages::kNoKeyRange, StartItem::kKeyRange);
  }
  request.omit_text = NormaliseRangeText(request.omit_text);
  if (host != nullptr) host->OmitTextNormalised(request.omit_text);
  if (request.use_omit && request.omit_text.empty()) {
    return refuse(messages::kNoOmitRange, StartItem::kOmitRange);
  }
  std::string parser_message;
  if (request.use_key) {
    const ParseOutcome outcome = ParseKeyRange(request.key_text, key, parser_message);
    if (outcome == ParseOutcome::kOverLimit) return refuse(parser_message, StartItem::kKeyRange);
    if (outcome == ParseOutcome::kInvalid)
      return refuse(messages::kBadKeyRange, StartItem::kKeyRange);
  }
  if (request.use_omit) {
    const ParseOutcome outcome = ParseOmitRange(request.omit_text, omit, parser_message);
    if (outcome == ParseOutcome::kOverLimit) return refuse(parser_message, StartItem::kOmitRange);
    if (outcome == ParseOutcome::kInvalid) {
      return refuse(messages::kBadOmitRange, StartItem::kOmitRange);
    }
  }
  if (request.use_key && request.use_omit && !CheckRangeOverlap(key, omit)) {
    return refuse(messages::kRangesOverlap, StartItem::kOmitRange);
  }
  return {true, "", StartItem::kNone};
}

}  // namespace vesmer
