#include "WalkReport.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "Diagnostics.h"
#include "ExitStatus.h"
#include "Failure.h"
#include "Utf8.h"

namespace clusterctl {
namespace {

// Enough to act on; the rest is in --summary.
constexpr size_t kProblemsShown = 10;

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

// The walk as a whole: the runs before a resumed one, and this one.
clusterwalk::WalkTotals Totals(const clusterwalk::WalkSummary& summary) {
    clusterwalk::WalkTotals totals = summary.earlier;
    totals.directoriesListed += summary.directoriesListed;
    totals.pages += summary.pages;
    totals.entries += summary.entries;
    totals.bytes += summary.bytes;
    totals.vanished += summary.vanished.size();
    totals.loops += summary.loops.size();
    return totals;
}

template <class List, class Line>
void ReportSome(const List& list, const Line& line) {
    for (size_t i = 0; i < list.size() && i < kProblemsShown; ++i) ReportLine(line(list[i]));
    if (list.size() > kProblemsShown)
        ReportLine("... and " + std::to_string(list.size() - kProblemsShown) + " more");
}

void WriteText(JsonWriter& writer, const std::string& text) {
    const std::string valid = WithReplacementCharacters(text);
    writer.String(valid.c_str(), static_cast<rapidjson::SizeType>(valid.size()));
}

void WriteNumber(JsonWriter& writer, const char* name, uint64_t value) {
    writer.Key(name);
    writer.Uint64(value);
}

void WriteUnits(JsonWriter& writer, const char* name,
                const std::vector<clusterwalk::WalkUnit>& units) {
    writer.Key(name);
    writer.StartArray();
    for (const clusterwalk::WalkUnit& unit : units) {
        writer.StartObject();
        writer.Key("path");
        WriteText(writer, unit.path);
        writer.Key("unit");
        WriteText(writer, clusterwalk::FormatUnit(unit));
        writer.EndObject();
    }
    writer.EndArray();
}

std::string SummaryJson(const clusterwalk::WalkSummary& summary, double seconds) {
    const clusterwalk::WalkTotals totals = Totals(summary);
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    writer.StartObject();
    writer.Key("complete");
    writer.Bool(summary.Complete());
    writer.Key("stopped");
    writer.Bool(summary.stopped);
    WriteNumber(writer, "directories", totals.directoriesListed);
    WriteNumber(writer, "pages", totals.pages);
    WriteNumber(writer, "entries", totals.entries);
    WriteNumber(writer, "bytes", totals.bytes);
    WriteNumber(writer, "requests", summary.requests.attempts);
    WriteNumber(writer, "retries", summary.requests.retries);
    WriteNumber(writer, "relogins", summary.requests.relogins);
    writer.Key("seconds");
    writer.Double(seconds);
    writer.Key("vanished");
    writer.StartArray();
    for (const std::string& path : summary.vanished) WriteText(writer, path);
    writer.EndArray();
    writer.Key("failed");
    writer.StartArray();
    for (const clusterwalk::FailedUnit& failed : summary.failed) {
        writer.StartObject();
        writer.Key("path");
        WriteText(writer, failed.unit.path);
        writer.Key("error");
        WriteText(writer, failed.error);
        writer.Key("unit");
        WriteText(writer, clusterwalk::FormatUnit(failed.unit));
        writer.EndObject();
    }
    writer.EndArray();
    WriteUnits(writer, "loops", summary.loops);
    WriteUnits(writer, "unfinished", summary.unfinished);
    writer.Key("error");
    WriteText(writer, summary.error);
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize()) + '\n';
}

}  // namespace

void ReportWalk(const clusterwalk::WalkSummary& summary, double seconds, bool onTerminal) {
    ReportSome(summary.failed, [](const clusterwalk::FailedUnit& failed) {
        return "cannot read " + failed.unit.path + ": " + failed.error;
    });
    ReportSome(summary.vanished,
               [](const std::string& path) { return "vanished during the walk: " + path; });
    ReportSome(summary.loops, [](const clusterwalk::WalkUnit& unit) {
        return "file system loop: " + unit.path + " has the file id " + std::to_string(unit.id) +
               " of a directory above it; not entered";
    });
    if (!summary.checkpointError.empty()) ReportLine("warning: " + summary.checkpointError);
    const bool clean = summary.Complete() && summary.vanished.empty() && summary.loops.empty();
    if (clean && !onTerminal) return;
    const clusterwalk::WalkTotals totals = Totals(summary);
    char line[512];
    std::snprintf(line, sizeof line,
                  "walked %llu directories, %llu entries, %llu bytes in %.1f s (%llu requests, "
                  "%llu retries); %zu failed, %llu vanished, %llu loops",
                  static_cast<unsigned long long>(totals.directoriesListed),
                  static_cast<unsigned long long>(totals.entries),
                  static_cast<unsigned long long>(totals.bytes), seconds,
                  static_cast<unsigned long long>(summary.requests.attempts),
                  static_cast<unsigned long long>(summary.requests.retries), summary.failed.size(),
                  static_cast<unsigned long long>(totals.vanished),
                  static_cast<unsigned long long>(totals.loops));
    ReportLine(line);
}

void WriteSummaryFile(const std::string& path, const clusterwalk::WalkSummary& summary,
                      double seconds) {
    WriteSummaryText(path, SummaryJson(summary, seconds));
}

void WriteSummaryText(const std::string& path, const std::string& json) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << json;
    out.flush();
    if (!out) {
        throw Failure(kExitFailure,
                      "cannot write the summary " + path + ": " + std::strerror(errno));
    }
}

}  // namespace clusterctl
