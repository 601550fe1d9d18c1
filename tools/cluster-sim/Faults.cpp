#include "Faults.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

namespace clustersim {
namespace {

constexpr std::string_view kHugeHead = "{\"files\":[";
constexpr std::string_view kHugeTail = "],\"paging\":{\"next\":\"\",\"prev\":\"\"}}";
constexpr size_t kHugeChunk = 64 * 1024;

const char* const kSampleListing =
    "{\"files\":[{\"path\":\"/home/alice/notes 2026.txt\",\"name\":\"notes 2026.txt\","
    "\"type\":\"FS_FILE_TYPE_FILE\",\"id\":\"1001\",\"size\":\"1234\"}],"
    "\"paging\":{\"next\":\"\",\"prev\":\"\"}}";
const char* const kNotJsonPage =
    "<html><head><title>503 Service Unavailable</title></head>"
    "<body><h1>Service Unavailable</h1><p>The server is restarting.</p></body></html>";

// Every record has the same length, the first one leading with a blank instead of a comma.
std::string HugeRecord(uint64_t index) {
    char text[96];
    const int length = std::snprintf(
        text, sizeof(text), "%c{\"path\":\"/huge/f%012" PRIu64 "\",\"type\":\"FS_FILE_TYPE_FILE\"}",
        index == 0 ? ' ' : ',', index);
    return std::string(text, static_cast<size_t>(length));
}

const uint64_t kHugeRecordSize = HugeRecord(0).size();

void SendHalf(std::string text, const std::string& contentType, httplib::Response& response) {
    auto body = std::make_shared<const std::string>(std::move(text));
    response.body.clear();
    response.headers.erase("Content-Type");  // httplib adds its own, a second one
    response.set_content_provider(body->size(), contentType,
                                  [body](size_t, size_t, httplib::DataSink& sink) {
                                      sink.write(body->data(), body->size() / 2);
                                      return false;  // httplib closes the connection
                                  });
}

void SendTruncated(const Fault& fault, httplib::Response& response) {
    response.status = 200;
    SendHalf(fault.body.empty() ? kSampleListing : fault.body, fault.contentType, response);
}

void StallAfterHeaders(const Fault& fault, httplib::Response& response, StopSignal& stop) {
    const size_t length = fault.body.empty() ? std::strlen(kSampleListing) : fault.body.size();
    const int delayMs = fault.delayMs;
    response.status = 200;
    response.set_content_provider(length, fault.contentType,
                                  [&stop, delayMs](size_t, size_t, httplib::DataSink&) {
                                      stop.SleepFor(delayMs);
                                      return false;
                                  });
}

void StreamHugeBody(const Fault& fault, httplib::Response& response) {
    auto document = std::make_shared<const HugeDocument>(fault.hugeBytes);
    response.status = 200;
    response.set_content_provider(
        fault.hugeBytes, "application/json",
        [document](size_t offset, size_t length, httplib::DataSink& sink) {
            std::string chunk(std::min(length, kHugeChunk), '\0');
            document->Fill(offset, chunk.data(), chunk.size());
            return sink.write(chunk.data(), chunk.size());
        });
}

}  // namespace

bool StopSignal::SleepFor(int milliseconds) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_wake.wait_for(lock, std::chrono::milliseconds(milliseconds),
                            [this] { return m_raised; });
}

void StopSignal::Raise() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_raised = true;
    }
    m_wake.notify_all();
}

void StopSignal::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_raised = false;
}

void FaultPlan::Add(const Fault& fault) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.push_back(fault);
}

void FaultPlan::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.clear();
}

std::optional<Fault> FaultPlan::Take(const std::string& method, const std::string& target) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        const bool matches = (it->method.empty() || it->method == method) &&
                             target.compare(0, it->pathPrefix.size(), it->pathPrefix) == 0;
        if (!matches || it->remaining == 0) continue;
        const Fault taken = *it;
        if (it->remaining > 0 && --it->remaining == 0) m_faults.erase(it);
        return taken;
    }
    return std::nullopt;
}

bool ApplyFault(const Fault& fault, httplib::Response& response, Exchange& exchange,
                StopSignal& stop) {
    switch (fault.kind) {
        case Fault::Kind::Delay:
            stop.SleepFor(fault.delayMs);
            return false;
        case Fault::Kind::Respond:
            response.status = fault.status;
            response.set_content(fault.body, fault.contentType);
            return true;
        case Fault::Kind::TruncatedBody:
            SendTruncated(fault, response);
            return true;
        case Fault::Kind::NotJson:
            response.status = 200;
            response.set_content(fault.body.empty() ? kNotJsonPage : fault.body, fault.contentType);
            return true;
        case Fault::Kind::CloseNoAnswer:
            exchange.DropConnection();
            return true;
        case Fault::Kind::StallAfterHeaders:
            StallAfterHeaders(fault, response, stop);
            return true;
        case Fault::Kind::HugeBody:
            StreamHugeBody(fault, response);
            return true;
    }
    return false;
}

void CutShort(httplib::Response& response) {
    std::string contentType = response.get_header_value("Content-Type");
    if (contentType.empty()) contentType = "application/json";
    SendHalf(response.body.empty() ? std::string("{}") : std::move(response.body), contentType,
             response);
}

HugeDocument::HugeDocument(uint64_t size) : m_size(size), m_records(0) {
    const uint64_t frame = kHugeHead.size() + kHugeTail.size();
    if (size > frame) m_records = (size - frame) / kHugeRecordSize;
}

void HugeDocument::Fill(uint64_t offset, char* out, size_t length) const {
    while (length > 0) {
        uint64_t pieceStart = 0;
        const std::string piece = PieceAt(offset, &pieceStart);
        const size_t skip = static_cast<size_t>(offset - pieceStart);
        const size_t count = std::min(length, piece.size() - skip);
        std::memcpy(out, piece.data() + skip, count);
        out += count;
        offset += count;
        length -= count;
    }
}

// Layout: head, records, blanks to make up the size, tail. Too small a size is all blanks.
std::string HugeDocument::PieceAt(uint64_t offset, uint64_t* pieceStart) const {
    const uint64_t frame = kHugeHead.size() + kHugeTail.size();
    const uint64_t recordsEnd = kHugeHead.size() + m_records * kHugeRecordSize;
    const uint64_t tailStart = m_size - kHugeTail.size();
    *pieceStart = offset;
    if (m_size >= frame && offset < kHugeHead.size()) {
        *pieceStart = 0;
        return std::string(kHugeHead);
    }
    if (m_size >= frame && offset < recordsEnd) {
        const uint64_t index = (offset - kHugeHead.size()) / kHugeRecordSize;
        *pieceStart = kHugeHead.size() + index * kHugeRecordSize;
        return HugeRecord(index);
    }
    if (m_size >= frame && offset >= tailStart) {
        *pieceStart = tailStart;
        return std::string(kHugeTail);
    }
    const uint64_t blanksEnd = m_size >= frame ? tailStart : m_size;
    return std::string(static_cast<size_t>(std::min<uint64_t>(blanksEnd - offset, kHugeChunk)),
                       ' ');
}

}  // namespace clustersim
