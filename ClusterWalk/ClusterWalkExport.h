// The walking library builds with hidden visibility; only what carries CLUSTERWALK_API is its
// boundary.
#pragma once

#define CLUSTERWALK_API __attribute__((visibility("default")))
// A member of a class exported whole (for its type information) that is not part of the
// boundary.
#define CLUSTERWALK_INTERNAL __attribute__((visibility("hidden")))
