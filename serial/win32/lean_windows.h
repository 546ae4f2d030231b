#pragma once

// Shared with image/, which sits below serial/.
#include "job/win32/lean_windows.h"
