#pragma once
// pixorta-batch's batch: a request's job saved, planned or run, with what it overwrites kept
// in the undo journal; every line printed as the processing window shows it.

#include "batchoptions.h"

#include <atomic>

// Carries the request out (all but --help and the journal's commands); the exit status.
// interrupted is raised from a signal handler: the batch then stops before its next image.
int RunBatchRequest(BatchRequest &request, const std::atomic<bool> &interrupted);
