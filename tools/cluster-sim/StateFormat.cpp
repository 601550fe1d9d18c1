#include "StateFormat.h"

#include <unordered_map>
#include <utility>

namespace clustersim {
namespace {

constexpr std::string_view kMagic = "cluster-sim state\n";
constexpr uint64_t kVersion = 1;

class Writer {
  public:
    void Raw(std::string_view bytes) { m_bytes.append(bytes); }
    void U8(uint8_t value) { m_bytes += static_cast<char>(value); }
    void U64(uint64_t value) {
        char bytes[8];
        for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
        m_bytes.append(bytes, sizeof(bytes));
    }
    void I64(int64_t value) { U64(static_cast<uint64_t>(value)); }
    void Text(std::string_view text) {
        U64(text.size());
        Raw(text);
    }
    void Reserve(size_t size) { m_bytes.reserve(size); }
    std::string Take() { return std::move(m_bytes); }

  private:
    std::string m_bytes;
};

// Once anything is missing every read gives zero or empty and Ok() stays false, so callers
// check once at the end; loops also stop early so a damaged count cannot run on.
class Reader {
  public:
    explicit Reader(std::string_view bytes) : m_rest(bytes) {}
    bool Ok() const { return m_ok; }
    bool AtEnd() const { return m_rest.empty(); }
    void Fail() { m_ok = false; }

    std::string_view Raw(uint64_t size) {
        if (!m_ok || size > m_rest.size()) {
            m_ok = false;
            return {};
        }
        const std::string_view taken = m_rest.substr(0, size);
        m_rest.remove_prefix(size);
        return taken;
    }
    uint8_t U8() {
        const std::string_view byte = Raw(1);
        return byte.empty() ? 0 : static_cast<uint8_t>(byte[0]);
    }
    uint64_t U64() {
        const std::string_view bytes = Raw(8);
        uint64_t value = 0;
        for (size_t i = bytes.size(); i-- > 0;) value = value << 8 | static_cast<uint8_t>(bytes[i]);
        return value;
    }
    int64_t I64() { return static_cast<int64_t>(U64()); }
    std::string Text() { return std::string(Raw(U64())); }

  private:
    std::string_view m_rest;
    bool m_ok = true;
};

// Numbers each distinct node once, children before parents.
class NodeTable {
  public:
    uint64_t Add(const NodePtr& node) {
        const auto found = m_index.find(node.get());
        if (found != m_index.end()) return found->second;
        for (const auto& [name, child] : *node->children) {
            Add(child);
            m_bytes += 16 + name.size();
        }
        m_order.push_back(node.get());
        m_bytes += 57;
        return m_index[node.get()] = m_order.size() - 1;
    }
    uint64_t IndexOf(const NodePtr& node) const { return m_index.at(node.get()); }
    // What Write adds, so a big tree's bytes are not copied again and again as they grow.
    size_t Bytes() const { return m_bytes; }

    void Write(Writer& out) const {
        out.U64(m_order.size());
        for (const Node* node : m_order) {
            const Attributes& attrs = node->attrs;
            out.U8(static_cast<uint8_t>(attrs.type));
            out.U64(attrs.id);
            out.U64(attrs.size);
            for (const int64_t time :
                 {attrs.creationTime, attrs.modificationTime, attrs.changeTime, attrs.accessTime}) {
                out.I64(time);
            }
            out.U64(node->children->size());
            for (const auto& [name, child] : *node->children) {
                out.Text(name);
                out.U64(m_index.at(child.get()));
            }
        }
    }

  private:
    std::unordered_map<const Node*, uint64_t> m_index;
    std::vector<const Node*> m_order;
    size_t m_bytes = 8;
};

void WriteSnapshot(Writer& out, const Snapshot& snapshot, uint64_t rootIndex) {
    out.U64(snapshot.id);
    out.Text(snapshot.name);
    out.I64(snapshot.timestamp);
    out.Text(snapshot.expiration);
    out.U64(snapshot.sourceId);
    out.U64(snapshot.sourceNames.size());
    for (const std::string& name : snapshot.sourceNames) out.Text(name);
    out.U64(rootIndex);
}

class Decoder {
  public:
    explicit Decoder(std::string_view bytes) : m_in(bytes) {}

    std::optional<StateImage> Decode(std::string* error) {
        if (m_in.Raw(kMagic.size()) != kMagic) {
            *error = "it is not a cluster-sim state file";
            return std::nullopt;
        }
        const uint64_t version = m_in.U64();
        if (m_in.Ok() && version != kVersion) {
            *error = "it is of version " + std::to_string(version) +
                     ", this cluster-sim reads version " + std::to_string(kVersion);
            return std::nullopt;
        }
        StateImage image = ReadImage();
        if (!m_in.Ok() || !m_in.AtEnd()) {
            *error = "it is damaged or cut short";
            return std::nullopt;
        }
        return image;
    }

  private:
    StateImage ReadImage() {
        StateImage image;
        image.clock = m_in.I64();
        image.nextFileId = m_in.U64();
        image.nextSnapshotId = m_in.U64();
        image.nextSmbId = m_in.U64();
        image.nextNfsId = m_in.U64();
        const uint64_t nodes = m_in.U64();
        for (uint64_t i = 0; i < nodes && m_in.Ok(); ++i) m_nodes.push_back(ReadNode());
        image.root = DirectoryAt(m_in.U64());
        image.snapshots = ReadList([this] { return ReadSnapshot(); });
        image.smbShares = ReadList([this] {
            return SmbShare{m_in.U64(), m_in.Text(), m_in.Text(), m_in.Text()};
        });
        image.nfsExports = ReadList([this] {
            return NfsExport{m_in.U64(), m_in.Text(), m_in.Text(), m_in.Text()};
        });
        return image;
    }

    template <typename Read>
    auto ReadList(const Read& read) -> std::vector<decltype(read())> {
        std::vector<decltype(read())> items;
        const uint64_t count = m_in.U64();
        for (uint64_t i = 0; i < count && m_in.Ok(); ++i) items.push_back(read());
        return items;
    }

    NodePtr ReadNode() {
        Attributes attrs;
        const uint8_t type = m_in.U8();
        if (type > static_cast<uint8_t>(FileType::Symlink)) m_in.Fail();
        attrs.type = static_cast<FileType>(type);
        attrs.id = m_in.U64();
        attrs.size = m_in.U64();
        attrs.creationTime = m_in.I64();
        attrs.modificationTime = m_in.I64();
        attrs.changeTime = m_in.I64();
        attrs.accessTime = m_in.I64();
        const uint64_t count = m_in.U64();
        if (count > 0 && attrs.type != FileType::Directory) m_in.Fail();
        Children children;
        for (uint64_t i = 0; i < count && m_in.Ok(); ++i) {
            std::string name = m_in.Text();
            NodePtr child = NodeAt(m_in.U64());
            // Lookups rely on unique names in byte order.
            const bool sorted = children.empty() || children.back().first < name;
            if (name.empty() || name.find('/') != std::string::npos || !sorted) m_in.Fail();
            children.emplace_back(std::move(name), std::move(child));
        }
        return m_in.Ok() ? MakeNode(attrs, std::move(children)) : nullptr;
    }

    SnapshotPtr ReadSnapshot() {
        Snapshot snapshot;
        snapshot.id = m_in.U64();
        snapshot.name = m_in.Text();
        snapshot.timestamp = m_in.I64();
        snapshot.expiration = m_in.Text();
        snapshot.sourceId = m_in.U64();
        snapshot.sourceNames = ReadList([this] { return m_in.Text(); });
        snapshot.root = DirectoryAt(m_in.U64());
        return std::make_shared<const Snapshot>(std::move(snapshot));
    }

    NodePtr NodeAt(uint64_t index) {
        if (index < m_nodes.size()) return m_nodes[index];
        m_in.Fail();
        return nullptr;
    }

    NodePtr DirectoryAt(uint64_t index) {
        NodePtr node = NodeAt(index);
        if (node && !node->IsDirectory()) m_in.Fail();
        return node;
    }

    Reader m_in;
    std::vector<NodePtr> m_nodes;
};

}  // namespace

std::string EncodeState(const StateImage& image) {
    NodeTable nodes;
    nodes.Add(image.root);
    for (const SnapshotPtr& snapshot : image.snapshots) nodes.Add(snapshot->root);

    Writer out;
    out.Reserve(nodes.Bytes() + image.snapshots.size() * 256 + 4096);
    out.Raw(kMagic);
    out.U64(kVersion);
    out.I64(image.clock);
    for (const uint64_t next :
         {image.nextFileId, image.nextSnapshotId, image.nextSmbId, image.nextNfsId}) {
        out.U64(next);
    }
    nodes.Write(out);
    out.U64(nodes.IndexOf(image.root));
    out.U64(image.snapshots.size());
    for (const SnapshotPtr& snapshot : image.snapshots) {
        WriteSnapshot(out, *snapshot, nodes.IndexOf(snapshot->root));
    }
    out.U64(image.smbShares.size());
    for (const SmbShare& share : image.smbShares) {
        out.U64(share.id);
        for (const std::string* text : {&share.name, &share.fsPath, &share.description}) {
            out.Text(*text);
        }
    }
    out.U64(image.nfsExports.size());
    for (const NfsExport& nfs : image.nfsExports) {
        out.U64(nfs.id);
        for (const std::string* text : {&nfs.exportPath, &nfs.fsPath, &nfs.description}) {
            out.Text(*text);
        }
    }
    return out.Take();
}

std::optional<StateImage> DecodeState(std::string_view bytes, std::string* error) {
    return Decoder(bytes).Decode(error);
}

}  // namespace clustersim
