// Small geometry records of the platform, with its names and layouts.
//
// Thread safety: plain data.
#pragma once

#include "platform/com/types.h"

// A width and a height in pixels.
struct SIZE {
  LONG cx;
  LONG cy;
};
