#include "ChangeRows.h"

#include "Records.h"

namespace clusterctl {

Fields ChangeRecordFields(const clusterwalk::ChangeRecord& change, const OutputOptions& output) {
    const bool prototype = change.path.empty();
    // "modify" and "metadata" are the widest of each.
    Fields fields{Typically(6, TextField("op", clusterwalk::OperationName(change.operation))),
                  Typically(8, TextField("kind", clusterwalk::ChangeKindName(change.kind)))};
    const std::string type = change.isDirectory ? "directory" : "file";
    if (!change.hasAttributes && !prototype) {
        fields.push_back(TextField("type", type));
        fields.push_back(TextField("path", change.path));
        return fields;
    }
    Fields entry = EntryFields(change.attributes, {ModeReading::Value, output.humanSizes}, type);
    entry.back() = TextField("path", change.path);
    for (Field& field : entry) fields.push_back(std::move(field));
    return fields;
}

std::vector<std::string> EnclosingDirectories(const std::string& path) {
    std::vector<std::string> directories;
    if (path.empty() || path[0] != '/') return directories;
    if (path.back() == '/') directories.push_back(path);
    for (size_t end = path.size() - 1; end > 0;) {
        end = path.rfind('/', end - 1);
        directories.push_back(path.substr(0, end + 1));
    }
    return directories;
}

bool RelativeTo(const std::string& directory, const std::string& path, std::string& relative) {
    if (path.size() < directory.size() || path.compare(0, directory.size(), directory) != 0)
        return false;
    relative = path.size() == directory.size() ? "./" : path.substr(directory.size());
    return true;
}

bool FitsOnLine(const std::string& path) {
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) return false;
    }
    return true;
}

}  // namespace clusterctl
