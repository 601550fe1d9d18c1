// The walking library builds with hidden visibility; only what carries CLUSTERWALK_API is its
// boundary.
#pragma once

#define CLUSTERWALK_API __attribute__((visibility("default")))
