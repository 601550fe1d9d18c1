// The bytes of a saved state. Binary and length-prefixed, so names of any bytes come back as
// they were, and nodes that the live tree and snapshots share are written once: the file grows
// with the number of distinct nodes, not with snapshots times tree size.
//
// Version 1. Integers are little-endian: u8, u64 and i64 (two's complement). A text is a u64
// length and that many bytes.
//   "cluster-sim state\n"  (18 bytes)
//   u64 version = 1
//   i64 clock   u64 next file id   u64 next snapshot id   u64 next SMB id   u64 next NFS id
//   u64 node count, then each node:
//     u8 type (0 file, 1 directory, 2 symlink)   u64 id   u64 size
//     i64 creation, modification, change and access times (nanoseconds since 1970)
//     u64 child count, then each child: text name, u64 index of an earlier node
//   u64 index of the live root
//   u64 snapshot count, then each: u64 id, text name, i64 timestamp, text expiration,
//     u64 source id, u64 count of source path names then those texts, u64 root node index
//   u64 SMB share count, then each: u64 id, text name, text fs path, text description
//   u64 NFS export count, then each: u64 id, text export path, text fs path, text description
// Nothing follows. Children come before their parents, so every index points back.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "SimState.h"

namespace clustersim {

std::string EncodeState(const StateImage& image);
// Null with the reason in *error when the bytes are not a whole state of a version this reads.
std::optional<StateImage> DecodeState(std::string_view bytes, std::string* error);

}  // namespace clustersim
