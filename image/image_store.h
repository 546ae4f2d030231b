#pragma once

// The store lives beside the job record, below every layer that uses it.
#include "job/image_store.h"
