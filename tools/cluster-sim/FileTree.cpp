#include "FileTree.h"

#include <algorithm>

namespace clustersim {
namespace {

Children::const_iterator LowerBound(const Children& children, std::string_view name) {
    return std::lower_bound(
        children.begin(), children.end(), name,
        [](const Children::value_type& entry, std::string_view key) { return entry.first < key; });
}

Children::iterator LowerBound(Children& children, std::string_view name) {
    return children.begin() + (LowerBound(std::as_const(children), name) - children.cbegin());
}

// Files and empty directories share one empty list, so a million files cost no extra allocation.
std::shared_ptr<const Children> Share(Children children) {
    static const auto empty = std::make_shared<const Children>();
    return children.empty() ? empty : std::make_shared<const Children>(std::move(children));
}

std::optional<std::string> FindDirectory(const NodePtr& directory, const std::string& path,
                                         uint64_t id) {
    if (directory->attrs.id == id) return path;
    for (const auto& [name, child] : *directory->children) {
        if (!child->IsDirectory()) continue;
        if (auto found = FindDirectory(child, ChildPath(path, name), id)) return found;
    }
    return std::nullopt;
}

}  // namespace

NodePtr MakeNode(const Attributes& attributes, Children children) {
    return std::make_shared<const Node>(attributes, Share(std::move(children)));
}

std::optional<Names> ParsePath(std::string_view path) {
    if (path.empty() || path.front() != '/') return std::nullopt;
    path.remove_prefix(1);
    if (!path.empty() && path.back() == '/') path.remove_suffix(1);
    Names names;
    while (!path.empty()) {
        const size_t slash = path.find('/');
        const std::string_view name = path.substr(0, slash);
        if (name.empty() || name == "." || name == "..") return std::nullopt;
        names.emplace_back(name);
        path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
        if (slash != std::string_view::npos && path.empty()) return std::nullopt;
    }
    return names;
}

std::string JoinPath(const Names& names) {
    std::string path;
    for (const auto& name : names) path += "/" + name;
    return path.empty() ? "/" : path;
}

std::string ChildPath(const std::string& parent, const std::string& name) {
    return parent == "/" ? "/" + name : parent + "/" + name;
}

NodePtr Lookup(const NodePtr& dir, const Names& names, size_t from) {
    NodePtr node = dir;
    for (size_t i = from; i < names.size() && node; ++i) {
        if (!node->IsDirectory()) return nullptr;
        const auto it = LowerBound(*node->children, names[i]);
        node = it != node->children->end() && it->first == names[i] ? it->second : nullptr;
    }
    return node;
}

size_t FirstAfter(const Children& children, std::string_view name) {
    const auto it = std::upper_bound(
        children.begin(), children.end(), name,
        [](std::string_view key, const Children::value_type& entry) { return key < entry.first; });
    return static_cast<size_t>(it - children.begin());
}

FileTree::FileTree(SimClock& clock) : m_clock(clock), m_root(NewNode(FileType::Directory, 0)) {}

NodePtr FileTree::Root() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_root;
}

void FileTree::Restore(NodePtr root, uint64_t nextId) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nextId = nextId;
    m_root = root ? std::move(root) : NewNode(FileType::Directory, 0);
}

NodePtr FileTree::Find(const std::string& path) const {
    const auto names = ParsePath(path);
    return names ? Lookup(Root(), *names) : nullptr;
}

std::optional<std::string> FileTree::DirectoryPath(uint64_t id) const {
    return FindDirectory(Root(), "/", id);
}

uint64_t FileTree::MakeDirectory(const std::string& path) {
    if (path == "/") return Root()->attrs.id;
    return EditLeaf(path, true,
                    [this](Children& children, Attributes& dir, Children::iterator at, bool exists,
                           const std::string& name) -> EditResult {
                        if (exists)
                            return {at->second->IsDirectory() ? at->second->attrs.id : 0, false};
                        return Insert(children, dir, at, name, NewNode(FileType::Directory, 0));
                    });
}

uint64_t FileTree::WriteFile(const std::string& path, uint64_t size) {
    return EditLeaf(path, true,
                    [&](Children& children, Attributes& dir, Children::iterator at, bool exists,
                        const std::string& name) -> EditResult {
                        if (!exists) return Insert(children, dir, at, name, NewFile(size));
                        if (at->second->attrs.type != FileType::File) return {};
                        at->second = Rewritten(at->second, size);
                        return {at->second->attrs.id, true};
                    });
}

uint64_t FileTree::MakeSymlink(const std::string& path) {
    return EditLeaf(path, true,
                    [this](Children& children, Attributes& dir, Children::iterator at, bool exists,
                           const std::string& name) -> EditResult {
                        if (exists) return {};
                        return Insert(children, dir, at, name, NewNode(FileType::Symlink, 0));
                    });
}

bool FileTree::Remove(const std::string& path) {
    return EditLeaf(path, false,
                    [this](Children& children, Attributes& dir, Children::iterator at, bool exists,
                           const std::string&) -> EditResult {
                        if (!exists) return {};
                        const uint64_t id = at->second->attrs.id;
                        children.erase(at);
                        Touch(dir);
                        return {id, true};
                    }) != 0;
}

uint64_t FileTree::PutDirectory(const std::string& path, Children children) {
    const auto byName = [](const Children::value_type& a, const Children::value_type& b) {
        return a.first < b.first;
    };
    if (!std::is_sorted(children.begin(), children.end(), byName)) {
        std::sort(children.begin(), children.end(), byName);
    }
    return EditLeaf(path, true,
                    [&](Children& siblings, Attributes& dir, Children::iterator at, bool exists,
                        const std::string& name) -> EditResult {
                        if (!exists) {
                            return Insert(siblings, dir, at, name,
                                          NewNode(FileType::Directory, 0, std::move(children)));
                        }
                        if (!at->second->IsDirectory()) return {};
                        Attributes attrs = at->second->attrs;
                        Touch(attrs);
                        at->second =
                            std::make_shared<const Node>(attrs, Share(std::move(children)));
                        return {attrs.id, true};
                    });
}

NodePtr FileTree::NewFile(uint64_t size) {
    return NewNode(FileType::File, size);
}

NodePtr FileTree::Rewritten(const NodePtr& file, uint64_t size) {
    Attributes attrs = file->attrs;
    attrs.size = size;
    Touch(attrs);
    return std::make_shared<const Node>(attrs, file->children);
}

uint64_t FileTree::EditLeaf(const std::string& path, bool makeParents, const LeafEdit& edit) {
    auto names = ParsePath(path);
    if (!names || names->empty()) return 0;
    const std::string leaf = names->back();
    names->pop_back();
    const Edit parentEdit = [&](Children& children, Attributes& dir) {
        const auto at = LowerBound(children, leaf);
        return edit(children, dir, at, at != children.end() && at->first == leaf, leaf);
    };
    std::lock_guard<std::mutex> lock(m_mutex);
    EditResult result;
    if (NodePtr root = Rebuild(m_root, *names, 0, makeParents, parentEdit, &result)) {
        m_root = std::move(root);
    }
    return result.id;
}

// Returns the new version of `directory`, or null when nothing changed.
NodePtr FileTree::Rebuild(const NodePtr& directory, const Names& names, size_t depth,
                          bool makeParents, const Edit& edit, EditResult* result) {
    Attributes attrs = directory->attrs;
    if (depth == names.size()) {
        Children children = *directory->children;
        *result = edit(children, attrs);
        if (!result->changed) return nullptr;
        return std::make_shared<const Node>(attrs, Share(std::move(children)));
    }
    const Children& current = *directory->children;
    const auto found = LowerBound(current, names[depth]);
    const bool exists = found != current.end() && found->first == names[depth];
    if (exists ? !found->second->IsDirectory() : !makeParents) return nullptr;
    const NodePtr child = exists ? found->second : NewNode(FileType::Directory, 0);
    NodePtr rebuilt = Rebuild(child, names, depth + 1, makeParents, edit, result);
    if (!rebuilt) return nullptr;
    Children children = current;
    const auto at = children.begin() + (found - current.begin());
    if (exists) {
        at->second = std::move(rebuilt);
    } else {
        Insert(children, attrs, at, names[depth], std::move(rebuilt));
    }
    return std::make_shared<const Node>(attrs, Share(std::move(children)));
}

FileTree::EditResult FileTree::Insert(Children& children, Attributes& directory,
                                      Children::iterator at, const std::string& name,
                                      NodePtr node) {
    const uint64_t id = node->attrs.id;
    children.emplace(at, name, std::move(node));
    Touch(directory);
    return {id, true};
}

NodePtr FileTree::NewNode(FileType type, uint64_t size, Children children) {
    Attributes attrs;
    attrs.type = type;
    attrs.id = m_nextId++;
    attrs.size = size;
    attrs.creationTime = attrs.modificationTime = attrs.changeTime = attrs.accessTime =
        m_clock.Tick();
    return MakeNode(attrs, std::move(children));
}

void FileTree::Touch(Attributes& attributes) {
    attributes.modificationTime = attributes.changeTime = m_clock.Tick();
}

}  // namespace clustersim
