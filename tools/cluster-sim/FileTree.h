// The simulated file system. Nodes never change once built: an edit makes new nodes along the
// path from the changed directory up to the root and shares everything else, so a snapshot is
// just a pointer to the tree as it was, and taking one costs nothing however big the tree is.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ClusterSim.h"
#include "SimClock.h"

namespace clustersim {

struct Attributes {
    FileType type = FileType::File;
    uint64_t id = 0;
    uint64_t size = 0;
    int64_t creationTime = 0;
    int64_t modificationTime = 0;
    int64_t changeTime = 0;
    int64_t accessTime = 0;
    // Only the synthetic tree's changes set these; the live tree keeps the usual ones.
    std::optional<uint16_t> mode;  // permission bits; none: the usual ones of the type
    uint32_t owner = 500;
    uint32_t group = 500;
};

// A text made on first use and kept: right for anything rendered from an immutable node.
// Lock-free, as listings hit it for every entry: two threads may both render, one text stays.
class RenderCache {
  public:
    RenderCache() = default;
    ~RenderCache() { delete m_text.load(); }
    RenderCache(const RenderCache&) = delete;
    RenderCache& operator=(const RenderCache&) = delete;

    template <typename Make>
    const std::string& Get(const Make& make) const {
        if (const std::string* text = m_text.load(std::memory_order_acquire)) return *text;
        auto made = std::make_unique<const std::string>(make());
        const std::string* expected = nullptr;
        if (m_text.compare_exchange_strong(expected, made.get(), std::memory_order_acq_rel)) {
            return *made.release();
        }
        return *expected;
    }

  private:
    mutable std::atomic<const std::string*> m_text{nullptr};
};

struct Node;
using NodePtr = std::shared_ptr<const Node>;
using Children = std::vector<std::pair<std::string, NodePtr>>;  // sorted by name, byte order
using Names = std::vector<std::string>;

struct Node {
    Node(const Attributes& attributes, std::shared_ptr<const Children> entries)
        : attrs(attributes), children(std::move(entries)) {}

    bool IsDirectory() const { return attrs.type == FileType::Directory; }

    Attributes attrs;
    std::shared_ptr<const Children> children;  // empty for anything but a directory
    RenderCache json;                          // the entry object as listings send it
};

// A node as loaded from a saved state; files and empty directories share one empty list.
NodePtr MakeNode(const Attributes& attributes, Children children);

// The names of an absolute path; nullopt unless it starts with "/" and has no empty, "." or ".."
// names. One trailing "/" is allowed, as clients add it to directories.
std::optional<Names> ParsePath(std::string_view path);
std::string JoinPath(const Names& names);  // "/" for no names
std::string ChildPath(const std::string& parent, const std::string& name);

// The node `names[from...]` below `dir`; null when absent.
NodePtr Lookup(const NodePtr& dir, const Names& names, size_t from = 0);
// Index of the first child whose name sorts after `name`.
size_t FirstAfter(const Children& children, std::string_view name);

class FileTree {
  public:
    explicit FileTree(SimClock& clock);

    NodePtr Root() const;
    NodePtr Find(const std::string& path) const;
    std::optional<std::string> DirectoryPath(uint64_t id) const;

    // Each returns the object's id, 0 when the path is invalid or in the way.
    uint64_t MakeDirectory(const std::string& path);
    uint64_t WriteFile(const std::string& path, uint64_t size);
    uint64_t MakeSymlink(const std::string& path);
    bool Remove(const std::string& path);
    // Makes `path` a directory holding exactly `children` (unique names), in one edit, for
    // seeding big trees.
    uint64_t PutDirectory(const std::string& path, Children children);

    NodePtr NewFile(uint64_t size);                         // not yet in the tree
    NodePtr Rewritten(const NodePtr& file, uint64_t size);  // same object, new size and times

    // The id the next new object gets: above every id handed out so far.
    uint64_t NextId() const { return m_nextId.load(); }
    // Replaces the whole tree, e.g. with a saved one; a null root starts over with an empty one.
    void Restore(NodePtr root, uint64_t nextId);

  private:
    struct EditResult {
        uint64_t id = 0;
        bool changed = false;
    };
    using Edit = std::function<EditResult(Children& children, Attributes& directory)>;
    using LeafEdit =
        std::function<EditResult(Children& children, Attributes& directory, Children::iterator at,
                                 bool exists, const std::string& name)>;

    uint64_t EditLeaf(const std::string& path, bool makeParents, const LeafEdit& edit);
    NodePtr Rebuild(const NodePtr& directory, const Names& names, size_t depth, bool makeParents,
                    const Edit& edit, EditResult* result);
    EditResult Insert(Children& children, Attributes& directory, Children::iterator at,
                      const std::string& name, NodePtr node);
    NodePtr NewNode(FileType type, uint64_t size, Children children = {});
    void Touch(Attributes& attributes);

    SimClock& m_clock;
    std::atomic<uint64_t> m_nextId{2};
    mutable std::mutex m_mutex;
    NodePtr m_root;
};

}  // namespace clustersim
