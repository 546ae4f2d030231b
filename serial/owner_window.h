#pragma once

// The owner-window seam lives on the ground floor, where image/ can show its boxes too.
#include "job/owner_window.h"
