// The count of file calls behind the test-only fault plan of the platform
// seam (SetFileFaultsForTesting). Both halves of the seam ask here before
// each file call; nothing here calls the operating system.
#pragma once

#include "platform/platform_files.h"

// Counts one call of a file operation. True when the plan says this call is
// to fail; failing then receives the plan (its cause, and how much a failing
// write sends first). Without a plan it only returns false.
bool CountFileCallForFaults(CFileFaultPlan& failing);
