// A job from its file to its G-code: the whole work of the kernel module.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace plexmill::kernel {

struct RunOptions {
    unsigned threads = 1;
    std::FILE* log = stderr; // progress and diagnostics
};

// The G-code of the job, or a JobError saying what is wrong with it. Files the job names are
// looked for beside the job file.
std::string computeJob(const std::filesystem::path& jobPath, const RunOptions& options);

// computeJob with the outcome written out: the G-code on `out`, or a line "ERROR: ..." on
// `out` and the message on the log. Returns 0 on success, 1 for a bad job, 2 for a failure
// of the machine (memory, output).
int runJob(const std::filesystem::path& jobPath, const RunOptions& options, std::FILE* out);

} // namespace plexmill::kernel
