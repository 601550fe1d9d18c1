#include "ChangeReport.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>

#include "Diagnostics.h"
#include "Utf8.h"
#include "WalkReport.h"

namespace clusterctl {
namespace {

// The feed as a whole: the runs before a resumed one, and this one.
clusterwalk::ChangeTotals Totals(const clusterwalk::ChangeSummary& summary) {
    clusterwalk::ChangeTotals totals = summary.earlier;
    const clusterwalk::ChangeTotals& run = summary.totals;
    totals.changes += run.changes;
    totals.creates += run.creates;
    totals.deletes += run.deletes;
    totals.contentModifies += run.contentModifies;
    totals.metadataModifies += run.metadataModifies;
    totals.otherModifies += run.otherModifies;
    totals.withoutAttributes += run.withoutAttributes;
    totals.differencePages += run.differencePages;
    totals.listingPages += run.listingPages;
    return totals;
}

std::string SummaryJson(const clusterwalk::ChangeSummary& summary, double seconds) {
    const clusterwalk::ChangeTotals totals = Totals(summary);
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    const auto number = [&writer](const char* name, uint64_t value) {
        writer.Key(name);
        writer.Uint64(value);
    };
    writer.StartObject();
    writer.Key("complete");
    writer.Bool(summary.Complete());
    writer.Key("stopped");
    writer.Bool(summary.stopped);
    number("changes", totals.changes);
    number("creates", totals.creates);
    number("deletes", totals.deletes);
    number("content_modifies", totals.contentModifies);
    number("metadata_modifies", totals.metadataModifies);
    number("other_modifies", totals.otherModifies);
    number("without_attributes", totals.withoutAttributes);
    number("difference_pages", totals.differencePages);
    number("listing_pages", totals.listingPages);
    number("requests", summary.requests.attempts);
    number("retries", summary.requests.retries);
    number("relogins", summary.requests.relogins);
    writer.Key("seconds");
    writer.Double(seconds);
    writer.Key("error");
    const std::string error = WithReplacementCharacters(summary.error);
    writer.String(error.c_str(), static_cast<rapidjson::SizeType>(error.size()));
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize()) + '\n';
}

}  // namespace

void ReportChanges(const clusterwalk::ChangeSummary& summary, double seconds, bool onTerminal) {
    if (!summary.checkpointError.empty()) ReportLine("warning: " + summary.checkpointError);
    if (summary.Complete() && !onTerminal) return;
    const clusterwalk::ChangeTotals totals = Totals(summary);
    char line[512];
    std::snprintf(line, sizeof line,
                  "%llu changes (%llu creates, %llu deletes, %llu content, %llu metadata, %llu "
                  "other modifies) from %llu difference pages in %.1f s (%llu requests, %llu "
                  "retries)",
                  static_cast<unsigned long long>(totals.changes),
                  static_cast<unsigned long long>(totals.creates),
                  static_cast<unsigned long long>(totals.deletes),
                  static_cast<unsigned long long>(totals.contentModifies),
                  static_cast<unsigned long long>(totals.metadataModifies),
                  static_cast<unsigned long long>(totals.otherModifies),
                  static_cast<unsigned long long>(totals.differencePages), seconds,
                  static_cast<unsigned long long>(summary.requests.attempts),
                  static_cast<unsigned long long>(summary.requests.retries));
    ReportLine(line);
}

void WriteChangeSummaryFile(const std::string& path, const clusterwalk::ChangeSummary& summary,
                            double seconds) {
    WriteSummaryText(path, SummaryJson(summary, seconds));
}

}  // namespace clusterctl
