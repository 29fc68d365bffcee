// The checks a job makes before any pair runs: no two pairs (nor a pair and the job's own
// pages) write one file, and nothing is written into a folder the job reads.
#pragma once

#include <string>
#include <utility>
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
//   read), or in the folder of an input of a pair, or that is an input;
// - a file the job reads besides the inputs: one of `files_read` (path, what it is: the pair
//   list, the profiles, a layout, rules or a field map that a pair's options name).
[[nodiscard]] bool CheckJobOutputs(
    const std::string& output_dir, const std::vector<JobPair>& pairs,
    const std::vector<std::string>& job_files, const std::vector<std::string>& input_folders,
    const std::vector<std::pair<std::string, std::string>>& files_read, std::string& problem);

}  // namespace vesmer
