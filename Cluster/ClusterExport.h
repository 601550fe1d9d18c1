// The library builds with hidden visibility; only what carries CLUSTER_API is its boundary.
#pragma once

#define CLUSTER_API __attribute__((visibility("default")))
