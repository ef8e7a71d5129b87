#pragma once
// The hand-written part of the ProjectCheck service lives with the checks.

#include "custom/checks/ProjectCheckService.h"
