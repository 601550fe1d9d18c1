// JSON bodies as the cluster sends them. RapidJSON does the escaping, and lets UTF-8 through as
// it is, like the real server.
#pragma once

#include <string>
#include <string_view>

#include "FileTree.h"
#include "SimState.h"
#include "TreeDiff.h"

namespace clustersim {

std::string JsonString(std::string_view text);  // quoted and escaped
std::string RenderError(std::string_view errorClass, std::string_view description);
std::string RenderToken(std::string_view token);

// An entry object as listings and attribute requests send it; `childCount` is the number of
// entries in a directory, 0 for anything else.
std::string RenderEntry(const Attributes& attrs, uint64_t childCount, const std::string& path,
                        const std::string& name);

// The entry object of `node`, made once per node and kept: a node never changes, and its path
// cannot either since nothing is ever renamed. `path` ends with "/" for directories.
const std::string& EntryJson(const Node& node, const std::string& path, const std::string& name);

std::string RenderSnapshot(const Snapshot& snapshot);
std::string RenderChange(const Change& change);
std::string RenderSmbShare(const SmbShare& share);
std::string RenderNfsExport(const NfsExport& nfsExport);

// Builds a JSON text around already rendered values, so serving a page is mostly copying.
class JsonList {
  public:
    JsonList(std::string_view open, size_t expectedSize = 0);
    void Add(std::string_view rendered);
    std::string Close(std::string_view close);

  private:
    std::string m_text;
    bool m_empty = true;
};

}  // namespace clustersim
