#include "Render.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>

namespace clustersim {
namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

void Put(Writer& writer, const char* key, std::string_view value) {
    writer.Key(key);
    writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
}

// Without this a literal would pick the bool overload, pointers converting to bool first.
void Put(Writer& writer, const char* key, const char* value) {
    Put(writer, key, std::string_view(value));
}

void Put(Writer& writer, const char* key, bool value) {
    writer.Key(key);
    writer.Bool(value);
}

void PutNull(Writer& writer, const char* key) {
    writer.Key(key);
    writer.Null();
}

std::string Text(const rapidjson::StringBuffer& buffer) {
    return std::string(buffer.GetString(), buffer.GetSize());
}

const char* TypeName(FileType type) {
    switch (type) {
        case FileType::Directory:
            return "FS_FILE_TYPE_DIRECTORY";
        case FileType::Symlink:
            return "FS_FILE_TYPE_SYMLINK";
        case FileType::File:
            break;
    }
    return "FS_FILE_TYPE_FILE";
}

std::string ModeText(const Attributes& attrs) {
    if (attrs.mode) {
        char text[8];
        std::snprintf(text, sizeof(text), "%04o", static_cast<unsigned>(*attrs.mode & 07777));
        return text;
    }
    switch (attrs.type) {
        case FileType::Directory:
            return "0755";
        case FileType::Symlink:
            return "0777";
        case FileType::File:
            break;
    }
    return "0644";
}

void PutIdentity(Writer& writer, const char* key, const char* idType, const char* value) {
    writer.Key(key);
    writer.StartObject();
    Put(writer, "id_type", idType);
    Put(writer, "id_value", value);
    writer.EndObject();
}

void PutExtendedAttributes(Writer& writer) {
    writer.Key("extended_attributes");
    writer.StartObject();
    for (const char* flag : {"read_only", "hidden", "system", "archive", "temporary", "compressed",
                             "not_content_indexed", "sparse_file", "offline"}) {
        Put(writer, flag, false);
    }
    writer.EndObject();
}

// The four times are mostly one and the same, so that one is formatted once.
void PutTimes(Writer& writer, const Attributes& attrs) {
    const std::string modified = TimeText(attrs.modificationTime);
    const auto text = [&](int64_t time) {
        return time == attrs.modificationTime ? modified : TimeText(time);
    };
    Put(writer, "access_time", text(attrs.accessTime));
    Put(writer, "modification_time", modified);
    Put(writer, "change_time", text(attrs.changeTime));
    Put(writer, "creation_time", text(attrs.creationTime));
}

}  // namespace

std::string RenderEntry(const Attributes& attrs, uint64_t childCount, const std::string& path,
                        const std::string& name) {
    constexpr uint64_t kBlockSize = 4096;
    constexpr size_t kEntryCapacity = 1024;  // one allocation for the whole entry
    const std::string blocks = std::to_string((attrs.size + kBlockSize - 1) / kBlockSize);
    rapidjson::StringBuffer buffer(nullptr, kEntryCapacity);
    Writer writer(buffer);
    writer.StartObject();
    Put(writer, "path", path);
    Put(writer, "name", name);
    writer.Key("num_links");
    writer.Uint(attrs.type == FileType::Directory ? 2 : 1);
    Put(writer, "type", TypeName(attrs.type));
    Put(writer, "symlink_target_type",
        attrs.type == FileType::Symlink ? "FS_FILE_TYPE_FILE" : "FS_FILE_TYPE_UNKNOWN");
    Put(writer, "id", std::to_string(attrs.id));
    Put(writer, "mode", ModeText(attrs));
    const std::string owner = std::to_string(attrs.owner);
    const std::string group = std::to_string(attrs.group);
    Put(writer, "owner", owner);
    PutIdentity(writer, "owner_details", "LOCAL_USER", owner.c_str());
    Put(writer, "group", group);
    PutIdentity(writer, "group_details", "LOCAL_GROUP", group.c_str());
    Put(writer, "blocks", blocks);
    Put(writer, "datablocks", blocks);
    Put(writer, "metablocks", "1");
    Put(writer, "size", std::to_string(attrs.size));
    PutTimes(writer, attrs);
    writer.Key("child_count");
    writer.Uint64(childCount);
    PutExtendedAttributes(writer);
    writer.EndObject();
    return Text(buffer);
}

namespace {

void PutSharePermissions(Writer& writer) {
    writer.Key("permissions");
    writer.StartArray();
    writer.StartObject();
    Put(writer, "type", "ALLOWED");
    writer.Key("trustee");
    writer.StartObject();
    Put(writer, "domain", "LOCAL");
    Put(writer, "auth_id", "501");
    PutNull(writer, "uid");
    PutNull(writer, "gid");
    PutNull(writer, "sid");
    Put(writer, "name", "Everyone");
    writer.EndObject();
    writer.Key("rights");
    writer.StartArray();
    writer.String("READ");
    writer.String("WRITE");
    writer.EndArray();
    writer.EndObject();
    writer.EndArray();
}

void PutNetworkPermissions(Writer& writer) {
    writer.Key("network_permissions");
    writer.StartArray();
    writer.StartObject();
    Put(writer, "type", "ALLOWED");
    writer.Key("address_ranges");
    writer.StartArray();
    writer.EndArray();
    writer.Key("rights");
    writer.StartArray();
    for (const char* right : {"READ", "WRITE", "CHANGE_PERMISSIONS"}) writer.String(right);
    writer.EndArray();
    writer.EndObject();
    writer.EndArray();
}

void PutRestrictions(Writer& writer) {
    writer.Key("restrictions");
    writer.StartArray();
    writer.StartObject();
    writer.Key("host_restrictions");
    writer.StartArray();
    writer.String("10.0.0.0/8");
    writer.EndArray();
    Put(writer, "read_only", false);
    Put(writer, "require_privileged_port", false);
    Put(writer, "user_mapping", "NFS_MAP_NONE");
    PutIdentity(writer, "map_to_user", "LOCAL_USER", "0");
    writer.EndObject();
    writer.EndArray();
}

}  // namespace

std::string JsonString(std::string_view text) {
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
    return Text(buffer);
}

std::string RenderError(std::string_view errorClass, std::string_view description) {
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.StartObject();
    Put(writer, "module", "cluster-sim");
    Put(writer, "error_class", errorClass);
    Put(writer, "description", description);
    writer.EndObject();
    return Text(buffer);
}

std::string RenderToken(std::string_view token) {
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.StartObject();
    Put(writer, "bearer_token", token);
    writer.EndObject();
    return Text(buffer);
}

const std::string& EntryJson(const Node& node, const std::string& path, const std::string& name) {
    return node.json.Get(
        [&] { return RenderEntry(node.attrs, node.children->size(), path, name); });
}

std::string RenderSnapshot(const Snapshot& snapshot) {
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.StartObject();
    writer.Key("id");
    writer.Uint64(snapshot.id);
    Put(writer, "name", snapshot.name);
    Put(writer, "timestamp", TimeText(snapshot.timestamp));
    Put(writer, "directory_name", std::to_string(snapshot.id) + "_" + snapshot.name);
    Put(writer, "source_file_id", std::to_string(snapshot.sourceId));
    Put(writer, "created_by_policy", false);
    Put(writer, "expiration", snapshot.expiration);
    Put(writer, "in_delete", false);
    PutNull(writer, "policy_id");
    PutNull(writer, "lock_key");
    writer.EndObject();
    return Text(buffer);
}

std::string RenderChange(const Change& change) {
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.StartObject();
    Put(writer, "op", change.op);
    Put(writer, "path", change.path);
    writer.EndObject();
    return Text(buffer);
}

std::string RenderSmbShare(const SmbShare& share) {
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.StartObject();
    Put(writer, "id", std::to_string(share.id));
    Put(writer, "share_name", share.name);
    Put(writer, "fs_path", share.fsPath);
    Put(writer, "description", share.description);
    PutSharePermissions(writer);
    PutNetworkPermissions(writer);
    Put(writer, "read_only", false);
    Put(writer, "allow_guest_access", false);
    Put(writer, "access_based_enumeration_enabled", false);
    Put(writer, "default_file_create_mode", "0644");
    Put(writer, "default_directory_create_mode", "0755");
    Put(writer, "require_encryption", false);
    Put(writer, "hide_shares", false);
    writer.EndObject();
    return Text(buffer);
}

std::string RenderNfsExport(const NfsExport& nfsExport) {
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.StartObject();
    Put(writer, "id", std::to_string(nfsExport.id));
    Put(writer, "export_path", nfsExport.exportPath);
    Put(writer, "fs_path", nfsExport.fsPath);
    Put(writer, "description", nfsExport.description);
    PutRestrictions(writer);
    writer.Key("fields_to_present_as_32_bit");
    writer.StartArray();
    writer.EndArray();
    Put(writer, "allow_fs_path_create", false);
    writer.EndObject();
    return Text(buffer);
}

JsonList::JsonList(std::string_view open, size_t expectedSize) : m_text(open) {
    m_text.reserve(expectedSize);
}

void JsonList::Add(std::string_view rendered) {
    if (!m_empty) m_text += ',';
    m_text += rendered;
    m_empty = false;
}

std::string JsonList::Close(std::string_view close) {
    m_text += close;
    return std::move(m_text);
}

}  // namespace clustersim
