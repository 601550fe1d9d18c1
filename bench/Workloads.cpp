#include "Workloads.h"

#include <cstdarg>
#include <cstdio>

namespace bench {
namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char buffer[4096];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    return std::string(buffer, static_cast<size_t>(length));
}

}  // namespace

std::string TimeText(int seed) {
    return Format("2026-%02d-%02dT%02d:%02d:%02d.%09dZ", 1 + seed % 12, 1 + seed % 28, seed % 24,
                  seed % 60, (seed * 7) % 60, (seed * 7919) % 1000000000);
}

std::string DirectoryPage(int entries) {
    std::string page = "{\"files\":[";
    for (int i = 0; i < entries; ++i) {
        if (i > 0) page += ',';
        const bool directory = i % 10 == 0;
        page += Format(
            "{\"path\":\"/data/projects/engineering/archive/2026-q4/build-artifacts/"
            "file_%07d%s\",\"name\":\"file_%07d.dat\","
            "\"num_links\":1,\"type\":\"%s\",\"size\":\"%d\",\"blocks\":\"%d\","
            "\"datablocks\":\"%d\",\"metablocks\":\"1\",\"id\":\"%d\",\"mode\":\"%s\","
            "\"owner\":\"500\",\"group\":\"513\","
            "\"change_time\":\"%s\",\"modification_time\":\"%s\",\"creation_time\":\"%s\","
            "\"access_time\":\"%s\",\"child_count\":\"%d\"}",
            i, directory ? "/" : "", i, directory ? "FS_FILE_TYPE_DIRECTORY" : "FS_FILE_TYPE_FILE",
            i * 37, i % 97, i % 89, 100000 + i, directory ? "0755" : "0644", TimeText(i).c_str(),
            TimeText(i + 1).c_str(), TimeText(i + 2).c_str(), TimeText(i + 3).c_str(),
            directory ? 12 : 0);
    }
    page +=
        "],\"paging\":{\"next\":\"/v1/files/%2Fdata%2Fprojects%2Farchive/entries/"
        "?after=file_0000999&limit=1000\",\"prev\":\"\"}}";
    return page;
}

std::string SnapshotDiffPage(int changes) {
    static const char* const kOperations[] = {"CREATE", "DELETE", "MODIFY"};
    std::string page = "{\"entries\":[";
    for (int i = 0; i < changes; ++i) {
        if (i > 0) page += ',';
        page += Format("{\"op\":\"%s\",\"path\":\"/home/users/alice/dir_%03d/file_%05d%s\"}",
                       kOperations[i % 3], i % 100, i, i % 25 == 0 ? "/" : "");
    }
    page += "],\"paging\":{\"next\":\"/v2/snapshots/7/changes-since/3?after=1000&limit=1000\"}}";
    return page;
}

std::string SnapshotListing(int snapshots) {
    std::string listing = "{\"entries\":[";
    for (int i = 0; i < snapshots; ++i) {
        if (i > 0) listing += ',';
        listing += Format(
            "{\"id\":%d,\"name\":\"daily_%05d\",\"timestamp\":\"%s\",\"directory_name\":"
            "\"%d_daily_%05d\",\"source_file_id\":\"%d\",\"created_by_policy\":%s,"
            "\"expiration\":\"%s\",\"in_delete\":false,\"policy_id\":null,\"lock_key\":null}",
            i + 1, i, TimeText(i).c_str(), i + 1, i, 2 + i % 50, i % 2 ? "true" : "false",
            i % 3 ? TimeText(i + 30).c_str() : "");
    }
    listing += "]}";
    return listing;
}

std::string SmbShare() {
    return "{\"id\":\"17\",\"share_name\":\"projects\",\"fs_path\":\"/data/projects\","
           "\"description\":\"Team projects\",\"permissions\":[{\"type\":\"ALLOWED\","
           "\"trustee\":{\"domain\":\"LOCAL\",\"auth_id\":\"501\",\"uid\":null,\"gid\":null,"
           "\"sid\":null,\"name\":\"Everyone\"},\"rights\":[\"READ\",\"WRITE\"]}],"
           "\"network_permissions\":[{\"type\":\"ALLOWED\",\"address_ranges\":[],\"rights\":"
           "[\"READ\",\"WRITE\",\"CHANGE_PERMISSIONS\"]}],\"access_based_enumeration_enabled\":"
           "false,\"default_file_create_mode\":\"0644\",\"default_directory_create_mode\":"
           "\"0755\",\"require_encryption\":false,\"read_only\":false,\"allow_guest_access\":"
           "false,\"hide_shares\":false}";
}

}  // namespace bench
