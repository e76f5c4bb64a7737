// The local date and time paired with the tag histories' clock, read
// together now (see tagbench/local_time.h). Any thread.
#pragma once

#include "tagbench/local_time.h"

WallClock CurrentWallClock();
