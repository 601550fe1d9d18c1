#include "ClusterWalk/ChangeFeedCheckpoint.h"

#include <vector>

#include "ClusterWalk/TextFields.h"

namespace clusterwalk {

namespace {

constexpr CheckpointFormat kFeedFormat{"clusterwalk-changes 1", "change feed", 6};

std::vector<uint64_t*> TotalsFields(ChangeTotals& totals) {
    return {&totals.changes,           &totals.creates,          &totals.deletes,
            &totals.contentModifies,   &totals.metadataModifies, &totals.otherModifies,
            &totals.withoutAttributes, &totals.differencePages,  &totals.listingPages};
}

std::string TotalsLine(ChangeTotals totals) {
    std::string line = "totals";
    for (const uint64_t* field : TotalsFields(totals)) line += ' ' + std::to_string(*field);
    return line;
}

// The numbers after `tag`, exactly `count` of them.
bool ParseNumbers(const std::string& line, const std::string& tag, size_t count,
                  std::vector<uint64_t>& numbers) {
    const std::vector<std::string> fields = SplitText(line, ' ');
    if (fields.size() != count + 1 || fields[0] != tag) return false;
    numbers.assign(count, 0);
    for (size_t i = 0; i < count; ++i) {
        if (!ParseDecimal(fields[i + 1], numbers[i])) return false;
    }
    return true;
}

bool ParseTotals(const std::string& line, ChangeTotals& totals) {
    std::vector<uint64_t*> fields = TotalsFields(totals);
    std::vector<uint64_t> numbers;
    if (!ParseNumbers(line, "totals", fields.size(), numbers)) return false;
    for (size_t i = 0; i < fields.size(); ++i) *fields[i] = numbers[i];
    return true;
}

bool ParseSnapshots(const std::string& line, ChangeCheckpoint& identity) {
    std::vector<uint64_t> numbers;
    if (!ParseNumbers(line, "snapshots", 2, numbers)) return false;
    identity.olderSnapshotId = numbers[0];
    identity.newerSnapshotId = numbers[1];
    return true;
}

bool ParseAttributes(const std::string& line, FeedPosition& position) {
    std::vector<uint64_t> numbers;
    if (!ParseNumbers(line, "attributes", 2, numbers) || numbers[0] > 1 || numbers[1] == 0)
        return false;
    position.identity.attributes = numbers[0] == 1;
    position.window = static_cast<size_t>(numbers[1]);
    return true;
}

// "TAG FIELD" with FIELD escaped.
bool ParseTagged(const std::string& line, const std::string& tag, std::string& text) {
    const std::string prefix = tag + ' ';
    return line.compare(0, prefix.size(), prefix) == 0 &&
           UnescapeField(line.substr(prefix.size()), text);
}

bool ParseFinished(const std::string& line, bool& finished) {
    std::vector<uint64_t> numbers;
    if (!ParseNumbers(line, "finished", 1, numbers) || numbers[0] > 1) return false;
    finished = numbers[0] == 1;
    return true;
}

bool ParseGroup(const std::string& line, DeliveredGroup& group) {
    const std::vector<std::string> fields = SplitText(line, ' ');
    return fields.size() == 3 && fields[0] == "group" && ParseDecimal(fields[1], group.first) &&
           UnescapeField(fields[2], group.second);
}

bool ParseHeaderLine(size_t index, const std::string& line, FeedPosition& position,
                     std::string& why) {
    switch (index) {
        case 0:
            why = "bad snapshots";
            return ParseSnapshots(line, position.identity);
        case 1:
            why = "bad attributes";
            return ParseAttributes(line, position);
        case 2:
            why = "bad totals";
            return ParseTotals(line, position.identity.totals);
        case 3:
            why = "bad note";
            return ParseTagged(line, "note", position.identity.note);
        case 4:
            why = "bad link";
            return ParseTagged(line, "link", position.link);
        default:
            why = "bad finished";
            return ParseFinished(line, position.finished);
    }
}

}  // namespace

bool SaveFeedPosition(CCheckpointFile& file, const FeedPosition& position, std::string& error) {
    const ChangeCheckpoint& identity = position.identity;
    return file.SaveLines(
        kFeedFormat,
        [&](const CCheckpointFile::LineVisitor& write) {
            write("snapshots " + std::to_string(identity.olderSnapshotId) + ' ' +
                  std::to_string(identity.newerSnapshotId));
            write("attributes " + std::string(identity.attributes ? "1 " : "0 ") +
                  std::to_string(position.window));
            write(TotalsLine(identity.totals));
            write("note " + EscapeField(identity.note));
            write("link " + EscapeField(position.link));
            write(std::string("finished ") + (position.finished ? "1" : "0"));
            for (const DeliveredGroup& group : position.delivered)
                write("group " + std::to_string(group.first) + ' ' + EscapeField(group.second));
        },
        error);
}

bool LoadFeedPosition(const CCheckpointFile& file, FeedPosition& position, std::string& error) {
    FeedPosition loaded;
    const bool read = file.LoadLines(
        kFeedFormat,
        [&](size_t index, const std::string& line, std::string& why) {
            if (index < kFeedFormat.headerLines) return ParseHeaderLine(index, line, loaded, why);
            DeliveredGroup group;
            why = "bad group";
            return ParseGroup(line, group) && loaded.delivered.insert(std::move(group)).second;
        },
        error);
    if (read) position = std::move(loaded);
    return read;
}

}  // namespace clusterwalk
