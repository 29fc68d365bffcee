#include "settings/job_from_settings.h"

#include "core/result_names.h"

namespace vesmer {

StartRequest StartRequestFromSettings(const SettingsStore& values) {
  StartRequest request;
  request.source = values.InputData[0];
  request.destination = values.InputData[1];
  request.use_key = IsOn(values.Key);
  request.use_omit = IsOn(values.Omit);
  request.key_text = values.KeyRange;
  request.omit_text = values.OmitRange;
  return request;
}

ComparisonJob JobFromSettings(const SettingsStore& values, const RangeList& key,
                              const RangeList& omit) {
  ComparisonJob job;
  job.InputData = values.InputData;
  for (std::size_t i = 0; i < 2; ++i) job.Utf8[i] = IsOn(values.Utf8[i]);
  for (std::size_t k = 0; k < kOutputKinds && k < values.OutputData.size(); ++k) {
    job.OutputSelected.values[k] = values.OutputData[k] == '1';
  }
  job.UseKey = IsOn(values.Key);
  job.OutputSelected[OutputKind::kSourceUnmatched] = job.UseKey;
  job.OutputSelected[OutputKind::kDestinationUnmatched] = job.UseKey;
  job.ResultPath = MakeResultPaths(values.InputData[0]);
  job.KeyColumns = key;
  job.UseOmit = IsOn(values.Omit);
  job.OmitColumns = omit;
  job.SpaceCompare = IsOn(values.SpaceCompare);
  job.ArrangeLength = IsOn(values.ArrangeLength);
  job.Scale = values.Scale;
  return job;
}

}  // namespace vesmer
