#include "Api.h"

#include <httplib.h>
#include <rapidjson/document.h>
#include <strings.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <stdexcept>

#include "Render.h"

namespace clustersim {
namespace {

constexpr size_t kRenderedEntrySize = 800;  // a generous guess, to size page buffers once
// Synthetic pages are made per request, so a huge limit must not make one hold a huge tree.
constexpr uint64_t kMaxSyntheticPage = 10000;

class ApiError : public std::runtime_error {
  public:
    ApiError(int status, const char* errorClass, const std::string& description)
        : std::runtime_error(description), m_status(status), m_errorClass(errorClass) {}
    int Status() const { return m_status; }
    const char* ErrorClass() const { return m_errorClass; }

  private:
    int m_status;
    const char* m_errorClass;
};

void Reply(httplib::Response& response, int status, std::string body) {
    response.status = status;
    response.body = std::move(body);
    response.set_header("Content-Type", "application/json");
}

std::optional<uint64_t> ParseNumber(std::string_view text) {
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
        const auto digit = static_cast<uint64_t>(c - '0');
        if (c < '0' || c > '9' || value > (kMax - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::string Decoded(const std::string& encoded) {
    auto decoded = PercentDecode(encoded);
    if (!decoded) {
        throw ApiError(400, "http_bad_request_error", "malformed percent-encoding in " + encoded);
    }
    return *decoded;
}

std::optional<std::string> DecodedParam(const Target& target, std::string_view key) {
    const auto raw = target.Param(key);
    return raw ? std::optional<std::string>(Decoded(*raw)) : std::nullopt;
}

std::optional<uint64_t> NumberParam(const Target& target, std::string_view key) {
    const auto text = DecodedParam(target, key);
    if (!text) return std::nullopt;
    const auto number = ParseNumber(*text);
    if (!number) {
        throw ApiError(400, "http_bad_request_error",
                       std::string(key) + " must be a number, not \"" + *text + "\"");
    }
    return number;
}

size_t PageLimit(const Target& target, unsigned defaultLimit) {
    const auto limit = NumberParam(target, "limit").value_or(defaultLimit);
    if (limit == 0) throw ApiError(400, "http_bad_request_error", "limit must be at least 1");
    return static_cast<size_t>(limit);
}

Names FilePathNames(const std::string& path) {
    auto names = ParsePath(path);
    if (!names) throw ApiError(404, "fs_no_such_entry_error", "no such file or directory: " + path);
    return *names;
}

// Paths as entries show them: directories end with "/".
std::string DisplayPath(const std::string& path, FileType type) {
    return type == FileType::Directory && path != "/" ? path + "/" : path;
}

std::string EntriesLink(const std::string& encodedPath, uint64_t limit,
                        const std::optional<std::string>& after,
                        const std::optional<uint64_t>& snapshot) {
    std::string link = "/v1/files/" + encodedPath + "/entries/?limit=" + std::to_string(limit);
    if (after) link += "&after=" + PercentEncode(*after);
    if (snapshot) link += "&snapshot=" + std::to_string(*snapshot);
    return link;
}

// The "paging" member of the listing page that holds entries [begin, end) of `count`, whose
// names nameAt(index) gives.
template <typename NameAt>
std::string ListingPaging(uint64_t count, uint64_t begin, uint64_t end, uint64_t limit,
                          const std::string& encodedPath, const std::optional<uint64_t>& snapshot,
                          const NameAt& nameAt) {
    const std::string next =
        end < count ? EntriesLink(encodedPath, limit, nameAt(end - 1), snapshot) : "";
    const uint64_t previousBegin = begin > limit ? begin - limit : 0;
    const auto previousAfter =
        previousBegin > 0 ? std::optional<std::string>(nameAt(previousBegin - 1)) : std::nullopt;
    const std::string previous =
        begin > 0 ? EntriesLink(encodedPath, limit, previousAfter, snapshot) : "";
    return "\"paging\":{\"next\":" + JsonString(next) + ",\"prev\":" + JsonString(previous) + "}";
}

// The end of a changes-since page whose last change is `end` of `count`.
std::string ChangesPaging(const Snapshot& newer, const Snapshot& older, uint64_t limit,
                          uint64_t end, uint64_t count) {
    const std::string next = end < count ? "/v2/snapshots/" + std::to_string(newer.id) +
                                               "/changes-since/" + std::to_string(older.id) +
                                               "?limit=" + std::to_string(limit) +
                                               "&after=" + std::to_string(end)
                                         : "";
    return "],\"paging\":{\"next\":" + JsonString(next) + "}}";
}

const rapidjson::Value* Member(const rapidjson::Value& object, const char* name) {
    const auto it = object.FindMember(name);
    return it == object.MemberEnd() ? nullptr : &it->value;
}

rapidjson::Document ParseObject(const std::string& body, const char* expected) {
    rapidjson::Document document;
    document.Parse(body.c_str(), body.size());
    if (document.HasParseError() || !document.IsObject()) {
        throw ApiError(400, "http_bad_request_error",
                       std::string("the body must be a JSON object with ") + expected);
    }
    return document;
}

std::string StringMember(const rapidjson::Value& object, const char* name, const char* fallback,
                         const char* expected) {
    const rapidjson::Value* value = Member(object, name);
    if (!value && fallback) return fallback;
    if (!value || !value->IsString()) {
        throw ApiError(400, "http_bad_request_error",
                       std::string("the body must be a JSON object with ") + expected);
    }
    return std::string(value->GetString(), value->GetStringLength());
}

// Clients send the id as text, the way the cluster reports ids; a plain number is taken too.
uint64_t SourceFileId(const rapidjson::Value& body) {
    const rapidjson::Value* value = Member(body, "source_file_id");
    std::optional<uint64_t> id;
    if (value && value->IsUint64()) id = value->GetUint64();
    if (value && value->IsString()) id = ParseNumber(value->GetString());
    if (!id) {
        throw ApiError(400, "http_bad_request_error",
                       "source_file_id must be a file id, as text or as a number");
    }
    return *id;
}

template <typename Item, typename Render>
std::string JsonArray(const std::vector<Item>& items, Render render) {
    JsonList list("[");
    for (const Item& item : items) list.Add(render(item));
    return list.Close("]");
}

template <typename Item>
const Item& FindById(const std::vector<Item>& items, const std::string& encodedId,
                     const char* what) {
    const auto id = ParseNumber(encodedId);
    const auto it = std::find_if(items.begin(), items.end(),
                                 [&](const Item& item) { return id && item.id == *id; });
    if (it == items.end()) {
        throw ApiError(404, "http_not_found_error", std::string("no ") + what + " " + encodedId);
    }
    return *it;
}

}  // namespace

const Api::Route Api::kRoutes[] = {
    {"POST", "/v1/session/login", &Api::Login, false},
    {"GET", "/v1/files/{}/entries/", &Api::ListEntries, true},
    {"GET", "/v1/files/{}/info/attributes", &Api::GetAttributes, true},
    {"GET", "/v2/snapshots/", &Api::ListSnapshots, true},
    {"POST", "/v2/snapshots/", &Api::CreateSnapshot, true},
    {"GET", "/v2/snapshots/{}", &Api::GetSnapshot, true},
    {"DELETE", "/v2/snapshots/{}", &Api::DeleteSnapshot, true},
    {"GET", "/v2/snapshots/{}/changes-since/{}", &Api::ChangesSince, true},
    {"GET", "/v1/smb/shares/", &Api::ListSmbShares, true},
    {"GET", "/v1/smb/shares/{}", &Api::GetSmbShare, true},
    {"GET", "/v2/nfs/exports/", &Api::ListNfsExports, true},
    {"GET", "/v2/nfs/exports/{}", &Api::GetNfsExport, true},
};

void Api::Handle(const httplib::Request& request, httplib::Response& response) const {
    try {
        Call call{request, SplitTarget(request.target), {}};
        bool pathKnown = false;
        const Route* route = FindRoute(request.method, call, &pathKnown);
        if (!route || route->needsToken) RequireToken(request);
        if (!route) RefuseSyntheticChange(request.method, call.target.path);
        if (!route && pathKnown) {
            throw ApiError(405, "http_method_not_allowed_error",
                           request.method + " is not supported on " + call.target.path);
        }
        if (!route) throw ApiError(404, "http_not_found_error", "no endpoint " + call.target.path);
        (this->*route->handler)(call, response);
    } catch (const ApiError& error) {
        Reply(response, error.Status(), RenderError(error.ErrorClass(), error.what()));
    }
}

const Api::Route* Api::FindRoute(const std::string& method, Call& call, bool* pathKnown) const {
    const std::string& wanted = method == "HEAD" ? std::string("GET") : method;
    for (const Route& route : kRoutes) {
        std::vector<std::string> captures;
        if (!MatchRoute(route.pattern, call.target.path, &captures)) continue;
        *pathKnown = true;
        if (wanted == route.method) {
            call.captures = std::move(captures);
            return &route;
        }
    }
    return nullptr;
}

void Api::RequireToken(const httplib::Request& request) const {
    static const std::string kScheme = "Bearer ";
    const std::string authorization = request.get_header_value("Authorization");
    if (authorization.empty()) {
        throw ApiError(401, "http_unauthorized_error",
                       "authentication required: log in at /v1/session/login and send "
                       "\"Authorization: Bearer <token>\"");
    }
    const bool bearer = authorization.size() > kScheme.size() &&
                        strncasecmp(authorization.c_str(), kScheme.c_str(), kScheme.size()) == 0;
    const TokenState state =
        bearer ? m_state.accounts.Check(authorization.substr(kScheme.size())) : TokenState::Unknown;
    if (state == TokenState::Expired) {
        throw ApiError(401, "http_unauthorized_error",
                       "the bearer token has expired; log in again");
    }
    if (state != TokenState::Valid) {
        throw ApiError(401, "http_unauthorized_error",
                       "the bearer token is not valid (expired or never issued); log in again");
    }
}

SnapshotPtr Api::FindSnapshot(const std::string& encodedId) const {
    const auto id = ParseNumber(encodedId);
    SnapshotPtr snapshot = id ? m_state.FindSnapshot(*id) : nullptr;
    if (!snapshot) throw ApiError(404, "snapshot_not_found_error", "no snapshot " + encodedId);
    return snapshot;
}

// A change the state folder did not take is answered as an error, not as done: a client that
// believes it will find its snapshot after a restart is worse off than one that sees a 500.
void Api::Keep() const {
    std::string error;
    if (m_save && !m_save(&error)) {
        throw ApiError(500, "state_not_saved_error",
                       "the change was made but could not be saved: " + error);
    }
}

// Whatever would change the synthetic tree is refused as such, not as an unknown endpoint.
void Api::RefuseSyntheticChange(const std::string& method, const std::string& encodedPath) const {
    static const std::string kFiles = "/v1/files/";
    if (method == "GET" || method == "HEAD" || encodedPath.compare(0, kFiles.size(), kFiles) != 0) {
        return;
    }
    const size_t end = encodedPath.find('/', kFiles.size());
    const auto path = PercentDecode(encodedPath.substr(kFiles.size(), end - kFiles.size()));
    if (path && m_state.synthetic.Covers(*path)) {
        throw ApiError(403, "fs_read_only_error",
                       *path + " cannot be changed: /synthetic is a generated, read-only tree");
    }
}

// The directory a listing reads: live, or as a snapshot froze it.
NodePtr Api::FindDirectory(const std::optional<uint64_t>& snapshotId, const Names& names,
                           const std::string& path) const {
    NodePtr node = snapshotId ? FindSnapshot(std::to_string(*snapshotId))->Resolve(names)
                              : Lookup(m_state.tree.Root(), names);
    if (!node) throw ApiError(404, "fs_no_such_entry_error", "no such file or directory: " + path);
    if (!node->IsDirectory()) {
        throw ApiError(400, "fs_not_a_directory_error", path + " is not a directory");
    }
    return names.empty() ? m_state.synthetic.Grafted(node) : node;
}

// The same for a synthetic directory, in the version of the tree the snapshot sees.
SyntheticEntry Api::FindSyntheticDirectory(const SyntheticView& view, const SnapshotPtr& snapshot,
                                           const Names& names, const std::string& path) const {
    const bool seen = !snapshot || snapshot->Contains(names);
    auto entry = seen ? view.Find(names) : std::nullopt;
    if (!entry) throw ApiError(404, "fs_no_such_entry_error", "no such file or directory: " + path);
    if (entry->attrs.type != FileType::Directory) {
        throw ApiError(400, "fs_not_a_directory_error", path + " is not a directory");
    }
    return std::move(*entry);
}

void Api::Login(const Call& call, httplib::Response& response) const {
    const char* expected = "string members \"username\" and \"password\"";
    const auto body = ParseObject(call.request.body, expected);
    const std::string username = StringMember(body, "username", nullptr, expected);
    const std::string password = StringMember(body, "password", nullptr, expected);
    const auto token = m_state.accounts.Login(username, password);
    if (!token) throw ApiError(401, "api_login_error", "invalid username or password");
    Reply(response, 200, RenderToken(*token));
}

void Api::ListEntries(const Call& call, httplib::Response& response) const {
    const std::string& encodedPath = call.captures[0];
    const Names names = FilePathNames(Decoded(encodedPath));
    const std::string path = JoinPath(names);
    const auto snapshot = NumberParam(call.target, "snapshot");
    if (m_state.synthetic.Covers(names)) {
        const SnapshotPtr frozen = snapshot ? FindSnapshot(std::to_string(*snapshot)) : nullptr;
        const SyntheticView view =
            m_state.SyntheticAs(frozen ? frozen->synthetic : SyntheticVersion::Base);
        ListSynthetic(view, FindSyntheticDirectory(view, frozen, names, path), call, path, snapshot,
                      response);
        return;
    }
    const NodePtr directory = FindDirectory(snapshot, names, path);
    const size_t limit = PageLimit(call.target, m_state.defaultPageSize);
    const auto after = DecodedParam(call.target, "after");

    const Children& children = *directory->children;
    const size_t begin = after ? FirstAfter(children, *after) : 0;
    const size_t end = begin + std::min(limit, children.size() - begin);
    JsonList files("{\"files\":[", (end - begin) * kRenderedEntrySize);
    for (size_t i = begin; i < end; ++i) {
        const auto& [name, child] = children[i];
        files.Add(EntryJson(*child, DisplayPath(ChildPath(path, name), child->attrs.type), name));
    }
    const auto nameAt = [&children](uint64_t index) { return children[index].first; };
    Reply(response, 200,
          files.Close(
              "]," +
              ListingPaging(children.size(), begin, end, limit, encodedPath, snapshot, nameAt) +
              "}"));
}

// A page made entry by entry from its place in the directory: nothing before it is looked at.
void Api::ListSynthetic(const SyntheticView& view, const SyntheticEntry& directory,
                        const Call& call, const std::string& path,
                        const std::optional<uint64_t>& snapshot,
                        httplib::Response& response) const {
    const uint64_t limit =
        std::min<uint64_t>(PageLimit(call.target, m_state.defaultPageSize), kMaxSyntheticPage);
    const auto after = DecodedParam(call.target, "after");
    const uint64_t count = directory.childCount;
    const uint64_t begin = after ? view.FirstAfter(directory.directory, *after) : 0;
    const uint64_t end = begin + std::min(limit, count - begin);
    JsonList files("{\"files\":[", (end - begin) * kRenderedEntrySize);
    for (const SyntheticEntry& entry : view.Page(directory.directory, begin, end)) {
        files.Add(RenderEntry(entry.attrs, entry.childCount,
                              DisplayPath(ChildPath(path, entry.name), entry.attrs.type),
                              entry.name));
    }
    const auto nameAt = [&](uint64_t index) { return view.Name(directory.directory, index); };
    Reply(response, 200,
          files.Close("]," +
                      ListingPaging(count, begin, end, limit, call.captures[0], snapshot, nameAt) +
                      "}"));
}

void Api::GetAttributes(const Call& call, httplib::Response& response) const {
    const Names names = FilePathNames(Decoded(call.captures[0]));
    const std::string path = JoinPath(names);
    if (m_state.synthetic.Covers(names)) {
        const auto entry = m_state.synthetic.Find(names);
        if (!entry) {
            throw ApiError(404, "fs_no_such_entry_error", "no such file or directory: " + path);
        }
        Reply(response, 200,
              RenderEntry(entry->attrs, entry->childCount, DisplayPath(path, entry->attrs.type),
                          entry->name));
        return;
    }
    NodePtr node = Lookup(m_state.tree.Root(), names);
    if (!node) throw ApiError(404, "fs_no_such_entry_error", "no such file or directory: " + path);
    if (names.empty()) node = m_state.synthetic.Grafted(node);
    Reply(response, 200,
          EntryJson(*node, DisplayPath(path, node->attrs.type), names.empty() ? "" : names.back()));
}

void Api::ListSnapshots(const Call&, httplib::Response& response) const {
    JsonList entries("{\"entries\":[");
    for (const SnapshotPtr& snapshot : m_state.Snapshots()) {
        entries.Add(RenderSnapshot(*snapshot));
    }
    Reply(response, 200, entries.Close("]}"));
}

void Api::GetSnapshot(const Call& call, httplib::Response& response) const {
    Reply(response, 200, RenderSnapshot(*FindSnapshot(call.captures[0])));
}

void Api::CreateSnapshot(const Call& call, httplib::Response& response) const {
    const char* expected = "\"source_file_id\" and optional strings \"name\" and \"expiration\"";
    const auto body = ParseObject(call.request.body, expected);
    const uint64_t sourceId = SourceFileId(body);
    const std::string name = StringMember(body, "name", "snapshot", expected);
    const std::string expiration = StringMember(body, "expiration", "", expected);
    const auto syntheticNames = m_state.synthetic.DirectoryNames(sourceId);
    const auto sourcePath = syntheticNames ? std::optional<std::string>(JoinPath(*syntheticNames))
                                           : m_state.tree.DirectoryPath(sourceId);
    const SnapshotPtr snapshot =
        sourcePath ? m_state.TakeSnapshot(name, *sourcePath, expiration) : nullptr;
    if (!snapshot) {
        throw ApiError(404, "fs_no_such_inode_error",
                       "no directory with id " + std::to_string(sourceId));
    }
    Keep();
    Reply(response, 201, RenderSnapshot(*snapshot));
}

void Api::DeleteSnapshot(const Call& call, httplib::Response& response) const {
    const auto id = ParseNumber(call.captures[0]);
    if (id && m_state.IsSyntheticSnapshot(*id)) {
        throw ApiError(403, "fs_read_only_error",
                       "snapshot " + call.captures[0] +
                           " cannot be deleted: it is one of the generated tree's");
    }
    if (!id || !m_state.snapshots.Delete(*id)) {
        throw ApiError(404, "snapshot_not_found_error", "no snapshot " + call.captures[0]);
    }
    Keep();
    response.status = 200;
}

void Api::ChangesSince(const Call& call, httplib::Response& response) const {
    const SnapshotPtr newer = FindSnapshot(call.captures[0]);
    const SnapshotPtr older = FindSnapshot(call.captures[1]);
    if (newer->sourceId != older->sourceId) {
        throw ApiError(400, "snapshot_source_mismatch_error",
                       "snapshots " + call.captures[0] + " and " + call.captures[1] +
                           " are of different directories");
    }
    if (newer->synthetic != older->synthetic) {
        SyntheticChangesSince(*newer, *older, call, response);
        return;
    }
    const size_t limit = PageLimit(call.target, m_state.defaultPageSize);
    const auto changes = m_state.snapshots.Changes(*newer, *older);
    const size_t begin =
        std::min<size_t>(NumberParam(call.target, "after").value_or(0), changes->size());
    const size_t end = begin + std::min(limit, changes->size() - begin);
    JsonList entries("{\"entries\":[");
    for (size_t i = begin; i < end; ++i) entries.Add((*changes)[i]);
    Reply(response, 200, entries.Close(ChangesPaging(*newer, *older, limit, end, changes->size())));
}

// The generated changes, page by page; for the base since the target, creates and deletes swap.
void Api::SyntheticChangesSince(const Snapshot& newer, const Snapshot& older, const Call& call,
                                httplib::Response& response) const {
    const uint64_t limit =
        std::min<uint64_t>(PageLimit(call.target, m_state.defaultPageSize), kMaxSyntheticPage);
    const uint64_t count = m_state.syntheticChanges.Count();
    const uint64_t begin = std::min(NumberParam(call.target, "after").value_or(0), count);
    const uint64_t end = begin + std::min(limit, count - begin);
    const bool inverse = newer.synthetic == SyntheticVersion::Base;
    JsonList entries("{\"entries\":[");
    for (const Change& change : m_state.syntheticChanges.Page(begin, end, inverse)) {
        entries.Add(RenderChange(change));
    }
    Reply(response, 200, entries.Close(ChangesPaging(newer, older, limit, end, count)));
}

void Api::ListSmbShares(const Call&, httplib::Response& response) const {
    Reply(response, 200, JsonArray(m_state.shares.SmbShares(), RenderSmbShare));
}

void Api::GetSmbShare(const Call& call, httplib::Response& response) const {
    Reply(response, 200,
          RenderSmbShare(FindById(m_state.shares.SmbShares(), call.captures[0], "SMB share")));
}

void Api::ListNfsExports(const Call&, httplib::Response& response) const {
    Reply(response, 200, JsonArray(m_state.shares.NfsExports(), RenderNfsExport));
}

void Api::GetNfsExport(const Call& call, httplib::Response& response) const {
    Reply(response, 200,
          RenderNfsExport(FindById(m_state.shares.NfsExports(), call.captures[0], "NFS export")));
}

}  // namespace clustersim
