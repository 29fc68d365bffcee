// The one way from the user's choices to a run: the settings values (with the window's control
// states or the batch tool's options copied into them) become the start request the start
// checks judge and, once they pass, the comparison job.
#pragma once

#include "core/job.h"
#include "core/start_checks.h"
#include "settings/settings_store.h"

namespace vesmer {

// The two paths, the two options and the two range texts as `values` hold them.
[[nodiscard]] StartRequest StartRequestFromSettings(const SettingsStore& values);

// The job for `values`, with the ranges the start checks parsed. Result files are named after
// the source path; kinds 0 and 1 go with the key option whatever OutputData says of them.
[[nodiscard]] ComparisonJob JobFromSettings(const SettingsStore& values, const RangeList& key,
                                            const RangeList& omit);

}  // namespace vesmer
