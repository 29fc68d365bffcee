// The checks a job makes before any pair runs: no two pairs (nor a pair and the job's own
// pages) write one file, and nothing is written into a folder the job reads.
#pragma once

#include <string>
#include <vector>

#include "jobs/pair_source.h"

namespace vesmer {

// Checks the files the pairs of a job write under `output_dir` (their results, report and JSON
// summary, see PairFilesIn; a pair on one side only writes its JSON summary alone) and
// `job_files` (the dashboard, the CSV, a workbook). Paths count as the file system resolves them
// (links, "..", another spelling of one folder), as far as they exist. Refused, with a Japanese
// message naming the file and the pairs:
// - two files that are one, or a file that another file's path needs as a folder;
// - a file inside one of `input_folders` (the folders of --folders, which a later job would
//   read), or in the folder of an input of a pair, or that is an input.
[[nodiscard]] bool CheckJobOutputs(const std::string& output_dir, const std::vector<JobPair>& pairs,
                                   const std::vector<std::string>& job_files,
                                   const std::vector<std::string>& input_folders,
                                   std::string& problem);

}  // namespace vesmer
