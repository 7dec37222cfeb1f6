#include "rootio/io/xrootd_source.h"

#include <XProtocol/XProtocol.hh>
#include <XrdCl/XrdClDefaultEnv.hh>
#include <XrdCl/XrdClEnv.hh>
#include <XrdCl/XrdClFile.hh>
#include <XrdCl/XrdClLog.hh>
#include <XrdCl/XrdClURL.hh>
#include <XrdCl/XrdClXRootDResponses.hh>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "rootio/format/error.h"
#include "rootio/io/vector_read_plan.h"

namespace rootio {
namespace {

// The protocol's limits for one vector read (kXR_readv): pieces per request and bytes per piece.
constexpr VectorReadLimits kReadvLimits{XrdProto::maxRvecsz, 2097136};
// Closing needs an answer from the server; one that stopped answering is not waited for long.
constexpr uint16_t kCloseTimeoutSeconds = 5;

// The client's own message on one line, without its severity tag.
std::string client_message(const XrdCl::XRootDStatus& status)
{
    std::string text = status.code == XrdCl::errErrorResponse ? status.GetErrorMessage() : status.ToStr();
    for (const char* tag : {"[ERROR] ", "[FATAL] "})
        if (text.starts_with(tag)) text.erase(0, std::char_traits<char>::length(tag));
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// What went wrong, in words for the user, with the client's message for the details.
std::string what_happened(const XrdCl::XRootDStatus& status)
{
    const std::string detail = client_message(status);
    switch (status.code) {
        case XrdCl::errErrorResponse:
            if (status.errNo == kXR_NotFound) return "no such file on the server";
            return "the server says: " + detail;
        case XrdCl::errConnectionError:
            return "no connection to the server";
        case XrdCl::errSocketError:
        case XrdCl::errSocketDisconnected:
        case XrdCl::errStreamDisconnect:
            return "connection to the server lost (" + detail + ")";
        case XrdCl::errSocketTimeout:
        case XrdCl::errOperationExpired:
            return "no answer from the server in time (" + detail + ")";
        default:
            return detail;
    }
}

}  // namespace

void configure_xrootd_client()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // PutInt leaves alone what the user set in the environment.
        XrdCl::Env* env = XrdCl::DefaultEnv::GetEnv();
        env->PutInt("ConnectionWindow", 10);
        env->PutInt("ConnectionRetry", 2);
        env->PutInt("RequestTimeout", 60);
        env->PutInt("StreamTimeout", 30);
        env->PutInt("TimeoutResolution", 1);
        // Failures reach the user as the one line the program prints, not as log lines.
        if (!std::getenv("XRD_LOGLEVEL")) XrdCl::DefaultEnv::GetLog()->SetLevel(XrdCl::Log::NoMsg);
    });
}

std::unique_ptr<XRootDSource> XRootDSource::open(const std::string& url)
{
    if (!XrdCl::URL(url).IsValid()) fail(url, "", "not a valid XRootD URL");
    configure_xrootd_client();
    auto file = std::make_unique<XrdCl::File>();
    const XrdCl::XRootDStatus opened = file->Open(url, XrdCl::OpenFlags::Read);
    if (!opened.IsOK()) fail(url, "", "cannot open: " + what_happened(opened));
    XrdCl::StatInfo* info = nullptr;
    const XrdCl::XRootDStatus stated = file->Stat(false, info);
    const std::unique_ptr<XrdCl::StatInfo> owned_info(info);
    if (!stated.IsOK() || !info) fail(url, "", "cannot stat: " + what_happened(stated));
    return std::unique_ptr<XRootDSource>(
        new XRootDSource(url, std::move(file), static_cast<int64_t>(owned_info->GetSize())));
}

XRootDSource::XRootDSource(std::string url, std::unique_ptr<XrdCl::File> file, int64_t size)
    : ByteSource(std::move(url), size), file_(std::move(file))
{
}

namespace {

// Closes sent without waiting for their answers, so that a program reading many files does
// not stop for a round trip at each, not even the last one at exit. A closed file is
// destroyed at the next close, not on the client's thread that answered. Nothing is done
// about a failed close of a file only read, nor about one unanswered at exit: the server
// drops a client's open files when its connection ends.
class Closer {
public:
    void close(std::unique_ptr<XrdCl::File> file)
    {
        XrdCl::File* closing = file.get();
        std::vector<std::unique_ptr<XrdCl::File>> closed;
        {
            const std::lock_guard lock(state_->mutex);
            closed.swap(state_->closed);
            state_->closing.push_back(std::move(file));
        }
        auto handler = std::make_unique<Handler>(state_, closing);
        if (closing->Close(handler.get(), kCloseTimeoutSeconds).IsOK()) handler.release();  // the client calls it once
        else state_->answer(closing);
    }

private:
    struct State {
        std::mutex mutex;
        std::vector<std::unique_ptr<XrdCl::File>> closing;
        std::vector<std::unique_ptr<XrdCl::File>> closed;

        void answer(XrdCl::File* file)
        {
            const std::lock_guard lock(mutex);
            const auto it = std::find_if(closing.begin(), closing.end(), [&](const auto& f) { return f.get() == file; });
            closed.push_back(std::move(*it));
            closing.erase(it);
        }
    };
    class Handler final : public XrdCl::ResponseHandler {
    public:
        Handler(std::shared_ptr<State> state, XrdCl::File* file) : state_(std::move(state)), file_(file) {}
        void HandleResponse(XrdCl::XRootDStatus* status, XrdCl::AnyObject* response) override
        {
            const std::unique_ptr<XrdCl::XRootDStatus> owned_status(status);
            const std::unique_ptr<XrdCl::AnyObject> owned_response(response);
            const std::unique_ptr<Handler> self(this);
            state_->answer(file_);
        }

    private:
        std::shared_ptr<State> state_;
        XrdCl::File* file_;
    };

    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Never destroyed: files whose close is on its way at exit must not be destroyed while the
// client itself is torn down.
Closer& closer()
{
    static Closer* const c = std::make_unique<Closer>().release();
    return *c;
}

}  // namespace

XRootDSource::~XRootDSource()
{
    if (file_->IsOpen()) closer().close(std::move(file_));
}

namespace {

// The pieces a batch asked for twice, filled by whichever request is answered last.
struct RepeatedPieces {
    explicit RepeatedPieces(VectorReadPlan& plan)
        : copies(std::move(plan.copies)), unanswered(static_cast<int>(plan.requests.size()))
    {
    }
    std::vector<PieceCopy> copies;
    std::atomic<int> unanswered;
};

// The answer to one request of a submitted batch, from the client's own threads.
class AnswerHandler final : public XrdCl::ResponseHandler {
public:
    AnswerHandler(PendingRead& pending, std::shared_ptr<RepeatedPieces> repeated, std::string name,
                  std::string context, uint64_t wanted, bool vector)
        : pending_(pending), repeated_(std::move(repeated)), name_(std::move(name)), context_(std::move(context)),
          wanted_(wanted), vector_(vector)
    {
    }

    void HandleResponse(XrdCl::XRootDStatus* status, XrdCl::AnyObject* response) override
    {
        const std::unique_ptr<XrdCl::XRootDStatus> owned_status(status);
        const std::unique_ptr<XrdCl::AnyObject> owned_response(response);
        uint64_t got = 0;
        if (response) {
            XrdCl::ChunkInfo* chunk = nullptr;
            XrdCl::VectorReadInfo* vector = nullptr;
            if (vector_) {
                response->Get(vector);
                if (vector) got = vector->GetSize();
            } else {
                response->Get(chunk);
                if (chunk) got = chunk->length;
            }
        }
        finish(status && !status->IsOK() ? *status : XrdCl::XRootDStatus(), got);
    }

    // Also called when the request could not be sent at all.
    void finish(const XrdCl::XRootDStatus& status, uint64_t got)
    {
        std::exception_ptr error;
        try {
            if (!status.IsOK()) fail(name_, context_, "read failed: " + what_happened(status));
            if (got != wanted_) fail(name_, context_, "file shrank while reading");
        } catch (...) {
            error = std::current_exception();
        }
        // Before this request counts as done, so that the batch arrives complete.
        if (repeated_ && repeated_->unanswered.fetch_sub(1, std::memory_order_acq_rel) == 1)
            copy_repeated_pieces(repeated_->copies);
        PendingRead& pending = pending_;
        delete this;
        pending.part_done(std::move(error));
    }

private:
    PendingRead& pending_;
    std::shared_ptr<RepeatedPieces> repeated_;  // null when the batch repeats no piece
    std::string name_;
    std::string context_;
    uint64_t wanted_;
    bool vector_;  // a vector read (answered with a VectorReadInfo), else a plain read
};

}  // namespace

std::unique_ptr<PendingRead> XRootDSource::submit_ranges(std::span<const ByteRange> ranges,
                                                         std::string_view context) const
{
    VectorReadPlan plan = plan_vector_reads(ranges, kReadvLimits);
    const std::vector<std::vector<ReadPiece>>& requests = plan.requests;
    auto pending = std::make_unique<PendingRead>(*this, static_cast<int>(requests.size()));
    const auto repeated = plan.copies.empty() ? nullptr : std::make_shared<RepeatedPieces>(plan);
    for (const std::vector<ReadPiece>& request : requests) {
        uint64_t wanted = 0;
        for (const ReadPiece& piece : request) wanted += piece.length;
        // Handed to the client, which calls it once; it deletes itself then.
        AnswerHandler* handler =
            std::make_unique<AnswerHandler>(*pending, repeated, name(), std::string(context), wanted,
                                            request.size() > 1)
                .release();
        XrdCl::XRootDStatus sent;
        if (request.size() == 1) {
            sent = file_->Read(request[0].seek, request[0].length, request[0].out, handler);
        } else {
            XrdCl::ChunkList chunks;
            chunks.reserve(request.size());
            for (const ReadPiece& piece : request) chunks.emplace_back(piece.seek, piece.length, piece.out);
            sent = file_->VectorRead(chunks, nullptr, handler);
        }
        count_requests(1);
        if (!sent.IsOK()) handler->finish(sent, 0);  // the client will not call it
    }
    return pending;
}

void XRootDSource::read_ranges(std::span<const ByteRange> ranges, std::string_view context) const
{
    const VectorReadPlan plan = plan_vector_reads(ranges, kReadvLimits);
    for (const std::vector<ReadPiece>& request : plan.requests) {
        uint64_t wanted = 0;
        uint64_t got = 0;
        XrdCl::XRootDStatus status;
        if (request.size() == 1) {
            uint32_t bytes_read = 0;
            status = file_->Read(request[0].seek, request[0].length, request[0].out, bytes_read);
            wanted = request[0].length;
            got = bytes_read;
        } else {
            XrdCl::ChunkList chunks;
            chunks.reserve(request.size());
            for (const ReadPiece& piece : request) {
                chunks.emplace_back(piece.seek, piece.length, piece.out);
                wanted += piece.length;
            }
            XrdCl::VectorReadInfo* info = nullptr;
            status = file_->VectorRead(chunks, nullptr, info);
            const std::unique_ptr<XrdCl::VectorReadInfo> owned_info(info);
            if (info) got = info->GetSize();
        }
        count_requests(1);
        if (!status.IsOK()) fail(name(), context, "read failed: " + what_happened(status));
        if (got != wanted) fail(name(), context, "file shrank while reading");
    }
    copy_repeated_pieces(plan.copies);
}

}  // namespace rootio

// The plug-in's entry point (xrootd_plugin.h), found by name.
extern "C" [[gnu::visibility("default")]] rootio::ByteSource* rootio_open_xrootd_source(const std::string& url)
{
    return rootio::XRootDSource::open(url).release();
}
