// The workbook of a run or a job, for the evidence handed in: a sheet 一覧 with one row per pair
// (as the dashboard lists them), and a sheet per pair with differences holding its first
// differing pairs field by field.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "jobs/job_summary.h"
#include "platform/status.h"

namespace vesmer {

// Writes the workbook (.xlsx) to `path`, replacing a file there in one step (a new file in the
// same folder, renamed over it). `rows` are listed in their order. `summary_json(row)` gives the
// JSON summary of a row ("" for none), whose "differing_pairs" fill the row's own sheet: one line
// per field of each pair (its record numbers, key, field, source and destination values), the
// values of a differing field shaded. Every text is written as text, never as a number or date;
// the header rows are frozen and the columns given widths. Fails with the file and the reason.
[[nodiscard]] Status WriteSummaryWorkbook(
    const std::string& path, const std::vector<PairRow>& rows,
    const std::function<std::string(const PairRow&)>& summary_json);

}  // namespace vesmer
