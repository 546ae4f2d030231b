#pragma once

// The job record lives below every layer that uses it; the front ends keep this name.
#include "job/transfer_job.h"
