#include "ChangeWriter.h"

#include "ChangeRows.h"
#include "ExitStatus.h"
#include "Failure.h"
#include "UsageError.h"
#include "WholeNumber.h"

namespace clusterctl {
namespace {

constexpr const char* kStateTag = "rows ";

Fields Prototype(const OutputOptions& output) {
    if (output.format == Format::Paths) return {TextField("path", "")};
    return ChangeRecordFields({}, output);
}

}  // namespace

RowDestination::RowDestination(std::ostream& out, const OutputOptions& output, bool pathLines)
    : m_out(out), m_output(output) {
    if (!pathLines) m_listing.emplace(out, output, Prototype(output), true);
}

void RowDestination::Add(const clusterwalk::ChangeRecord& change, const std::string& path) {
    ++m_rows;
    if (!m_listing) {
        m_lines += path + '\n';
        return;
    }
    if (m_output.format == Format::Paths) {
        m_listing->Add({TextField("path", path)});
        return;
    }
    Fields fields = ChangeRecordFields(change, m_output);
    fields.back().text = path;
    m_listing->Add(std::move(fields));
}

void RowDestination::Flush() {
    if (m_listing) {
        m_listing->Flush();
        return;
    }
    m_out.write(m_lines.data(), static_cast<std::streamsize>(m_lines.size()));
    m_lines.clear();
    FlushOutput(m_out);
}

void RowDestination::Resume(uint64_t rows) {
    m_rows = rows;
    if (m_listing) m_listing->Resume(rows > 0);
}

void RowDestination::Finish() {
    if (m_listing) m_listing->Finish();
}

ChangeWriter::ChangeWriter(std::ostream& out, std::ostream* deletedOut, const OutputOptions& output,
                           bool pathLines, std::string sourceDirectory)
    : m_pathLines(pathLines), m_source(std::move(sourceDirectory)), m_main(out, output, pathLines) {
    if (deletedOut != nullptr) m_deleted.emplace(*deletedOut, output, pathLines);
}

void ChangeWriter::Take(std::vector<clusterwalk::ChangeRecord>& changes) {
    std::vector<std::string> paths;
    paths.reserve(changes.size());
    for (const clusterwalk::ChangeRecord& change : changes) paths.push_back(Shown(change.path));
    for (size_t i = 0; i < changes.size(); ++i) Destination(changes[i]).Add(changes[i], paths[i]);
    m_main.Flush();
    if (m_deleted) m_deleted->Flush();
}

std::string ChangeWriter::SaveState() {
    return kStateTag + std::to_string(m_main.Rows()) + " " +
           std::to_string(m_deleted ? m_deleted->Rows() : 0);
}

void ChangeWriter::RestoreState(const std::string& state) {
    const std::string tag = kStateTag;
    const size_t gap = state.find(' ', tag.size());
    uint64_t main = 0;
    uint64_t deleted = 0;
    if (state.compare(0, tag.size(), tag) != 0 || gap == std::string::npos ||
        !ReadWholeNumber(state.substr(tag.size(), gap - tag.size()), main) ||
        !ReadWholeNumber(state.substr(gap + 1), deleted))
        throw UsageError("the checkpoint was not saved by `clusterctl changes`");
    m_main.Resume(main);
    if (m_deleted) m_deleted->Resume(deleted);
}

void ChangeWriter::Finish() {
    m_main.Finish();
    if (m_deleted) m_deleted->Finish();
}

std::string ChangeWriter::Shown(const std::string& path) const {
    std::string shown = path;
    if (!m_source.empty() && !RelativeTo(m_source, path, shown)) {
        throw Failure(kExitFailure,
                      "change " + path + " does not lie under the source directory " + m_source);
    }
    if (m_pathLines && !FitsOnLine(shown)) {
        throw Failure(kExitFailure, "path " + path +
                                        " holds a line end or control byte, which a list of "
                                        "lines cannot carry: use -0 for NUL-terminated paths");
    }
    return shown;
}

RowDestination& ChangeWriter::Destination(const clusterwalk::ChangeRecord& change) {
    const bool deletion = change.operation == Cluster::SNAPSHOT_DIFF_DELETE;
    return m_deleted && deletion ? *m_deleted : m_main;
}

}  // namespace clusterctl
