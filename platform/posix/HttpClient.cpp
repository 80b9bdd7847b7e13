#include "platform/HttpClient.h"

#include "platform/HttpFailurePhrases.h"

#include <curl/curl.h>

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace platform {

namespace {

constexpr long ConnectTimeoutSeconds = 30;
constexpr long StallTimeoutSeconds = 60;
constexpr long MaximumRedirects = 10;
constexpr long ReceiveBufferSize = 32768;
constexpr size_t PendingLimit = 2 * ReceiveBufferSize;
// How long one wait for network activity may last; the cancel flag is looked
// at between waits.
constexpr int WaitSliceMilliseconds = 250;

bool InitialiseCurl() {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return initialised;
}

bool StartsWith(const char* line, size_t length, const char* prefix, bool ignoreCase) {
    const size_t prefixLength = std::strlen(prefix);
    if (length < prefixLength) {
        return false;
    }
    return ignoreCase ? strncasecmp(line, prefix, prefixLength) == 0 : std::strncmp(line, prefix, prefixLength) == 0;
}

bool IsBlankLine(const char* line, size_t length) {
    return (length == 2 && line[0] == '\r' && line[1] == '\n') || (length == 1 && line[0] == '\n');
}

}  // namespace

struct HttpSession {
    // The multi handle owns the connection cache that consecutive requests share.
    CURLM* multi = nullptr;
    std::string userAgent;
    std::atomic<bool> busy{false};
    // Written and read only by the thread that makes the requests.
    std::string lastFailure;
};

struct HttpRequest {
    HttpSession* session = nullptr;
    CURL* easy = nullptr;
    const std::atomic<bool>* cancelled = nullptr;
    // While a read waits, curl delivers the body straight into the caller's
    // buffer: one copy, and a whole block per read although curl hands the
    // body over in smaller pieces.
    char* target = nullptr;
    size_t targetRoom = 0;
    size_t targetFilled = 0;
    // Body bytes that arrived while no read was waiting or that did not fit
    // the caller's buffer. A delivery that would take this past PendingLimit
    // pauses the transfer, so memory stays bounded whatever the size of the
    // body.
    std::vector<char> pending;
    size_t pendingOffset = 0;
    bool paused = false;
    bool sawLocation = false;
    // The Content-Range header of the latest response, if it had one.
    std::string contentRange;
    bool headersComplete = false;
    bool done = false;
    CURLcode result = CURLE_OK;

    bool HasPending() const { return pendingOffset < pending.size(); }
    bool IsCancelled() const { return cancelled != nullptr && cancelled->load(); }
};

namespace {

size_t ReceiveHeader(char* line, size_t size, size_t count, void* user) {
    HttpRequest* request = static_cast<HttpRequest*>(user);
    const size_t length = size * count;
    if (StartsWith(line, length, "HTTP/", false)) {
        request->sawLocation = false;
        request->contentRange.clear();
    } else if (StartsWith(line, length, "location:", true)) {
        request->sawLocation = true;
    } else if (StartsWith(line, length, "content-range:", true)) {
        const size_t prefix = std::strlen("content-range:");
        request->contentRange.assign(line + prefix, length - prefix);
    } else if (IsBlankLine(line, length)) {
        // Interim responses and redirects that curl follows are not the answer.
        long code = 0;
        curl_easy_getinfo(request->easy, CURLINFO_RESPONSE_CODE, &code);
        const bool interim = code >= 100 && code < 200;
        const bool followed = code >= 300 && code < 400 && request->sawLocation;
        if (!interim && !followed) {
            request->headersComplete = true;
        }
    }
    return length;
}

// Takes the whole delivery or none of it (a paused delivery comes again
// after the unpause): first into the waiting read's buffer, unless older
// bytes wait before it, the rest behind the bytes pending.
size_t ReceiveBody(char* data, size_t size, size_t count, void* user) {
    HttpRequest* request = static_cast<HttpRequest*>(user);
    const size_t length = size * count;
    request->headersComplete = true;
    if (!request->HasPending()) {
        request->pending.clear();
        request->pendingOffset = 0;
    }
    const size_t room = request->target != nullptr ? request->targetRoom - request->targetFilled : 0;
    const size_t direct = request->HasPending() ? 0 : std::min(length, room);
    const size_t rest = length - direct;
    if (request->HasPending() && request->pending.size() + rest > PendingLimit) {
        request->paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    try {
        request->pending.insert(request->pending.end(), data + direct, data + length);
    } catch (const std::bad_alloc&) {
        return 0;  // makes curl fail the transfer
    }
    if (direct > 0) {
        std::memcpy(request->target + request->targetFilled, data, direct);
        request->targetFilled += direct;
    }
    return length;
}

bool Configure(HttpRequest* request, const char* url, uint32_t firstByte) {
    CURL* easy = request->easy;
    bool ok = curl_easy_setopt(easy, CURLOPT_URL, url) == CURLE_OK;
    // The range goes with every request of the transfer, redirects included.
    const std::string range = std::to_string(firstByte) + "-";
    ok = ok && (firstByte == 0 || curl_easy_setopt(easy, CURLOPT_RANGE, range.c_str()) == CURLE_OK);
    ok = ok && curl_easy_setopt(easy, CURLOPT_USERAGENT, request->session->userAgent.c_str()) == CURLE_OK;
    // An empty proxy name turns proxies off, including those of the environment.
    ok = ok && curl_easy_setopt(easy, CURLOPT_PROXY, "") == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_MAXREDIRS, MaximumRedirects) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, ConnectTimeoutSeconds) == CURLE_OK;
    // Less than one byte a second over the whole period: the server went silent.
    ok = ok && curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, StallTimeoutSeconds) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, ReceiveBufferSize) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, ReceiveHeader) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_HEADERDATA, request) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, ReceiveBody) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEDATA, request) == CURLE_OK;
    return ok;
}

void CollectResult(HttpRequest* request) {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(request->session->multi, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == request->easy) {
            request->done = true;
            request->result = message->data.result;
        }
    }
}

// Lets curl work until `ready` holds or the transfer has ended; false when
// the caller cancelled first.
template <class Ready>
bool Drive(HttpRequest* request, Ready ready) {
    CURLM* multi = request->session->multi;
    while (!ready() && !request->done) {
        if (request->IsCancelled()) {
            return false;
        }
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            request->done = true;
            request->result = CURLE_FAILED_INIT;
            break;
        }
        CollectResult(request);
        if (ready() || request->done) {
            break;
        }
        curl_multi_poll(multi, nullptr, 0, WaitSliceMilliseconds, nullptr);
    }
    return true;
}

// A timeout before the connection stood is the connect limit's; after it,
// the server fell silent. A connection taken from the cache has no connect
// time, but it stood before the request was sent.
const char* DescribeTimeout(CURL* easy) {
    curl_off_t connected = 0;
    curl_off_t sent = 0;
    const bool stood = (curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connected) == CURLE_OK && connected > 0) ||
                       (curl_easy_getinfo(easy, CURLINFO_PRETRANSFER_TIME_T, &sent) == CURLE_OK && sent > 0);
    return stood ? httpfailure::NoDataFor60Seconds : httpfailure::ConnectTimedOut;
}

std::string DescribeResult(HttpRequest* request) {
    namespace phrase = httpfailure;
    switch (request->result) {
        case CURLE_COULDNT_CONNECT:
            return phrase::CouldNotConnect;
        case CURLE_OPERATION_TIMEDOUT:
            return DescribeTimeout(request->easy);
        case CURLE_COULDNT_RESOLVE_HOST:
            return phrase::NameNotResolved;
        case CURLE_PEER_FAILED_VERIFICATION:
            return phrase::CertificateNotTrusted;
        case CURLE_SSL_CONNECT_ERROR:
            return phrase::SecureConnectionFailed;
        case CURLE_UNSUPPORTED_PROTOCOL:
            return phrase::UnsupportedScheme;
        case CURLE_URL_MALFORMAT:
            return phrase::MalformedUrl;
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
            return phrase::ConnectionBroke;
        case CURLE_TOO_MANY_REDIRECTS:
            return phrase::TooManyRedirects;
        case CURLE_GOT_NOTHING:
            return phrase::NoAnswer;
        case CURLE_WEIRD_SERVER_REPLY:
            return phrase::InvalidAnswer;
        case CURLE_OUT_OF_MEMORY:
        case CURLE_WRITE_ERROR:  // the body could not be kept (ReceiveBody)
            return phrase::OutOfMemory;
        default:
            return curl_easy_strerror(request->result);
    }
}

// Keeps why the request failed for DescribeHttpFailure.
void NoteFailure(HttpRequest* request) {
    request->session->lastFailure = request->IsCancelled() ? httpfailure::Cancelled : DescribeResult(request);
}

}  // namespace

HttpSession* OpenHttpSession(const char* userAgent) {
    if (!InitialiseCurl()) {
        return nullptr;
    }
    HttpSession* session = new (std::nothrow) HttpSession;
    if (session == nullptr) {
        return nullptr;
    }
    session->multi = curl_multi_init();
    if (session->multi == nullptr) {
        delete session;
        return nullptr;
    }
    session->userAgent = userAgent != nullptr ? userAgent : "";
    return session;
}

void CloseHttpSession(HttpSession* session) {
    if (session == nullptr) {
        return;
    }
    curl_multi_cleanup(session->multi);
    delete session;
}

HttpRequest* OpenHttpRequest(HttpSession* session, const char* url, uint32_t firstByte,
                             const std::atomic<bool>* cancelled) {
    if (session == nullptr || url == nullptr) {
        return nullptr;
    }
    if (session->busy.exchange(true)) {
        session->lastFailure = httpfailure::SessionBusy;
        return nullptr;
    }
    HttpRequest* request = new (std::nothrow) HttpRequest;
    if (request == nullptr) {
        session->lastFailure = httpfailure::OutOfMemory;
        session->busy = false;
        return nullptr;
    }
    request->session = session;
    request->cancelled = cancelled;
    request->easy = curl_easy_init();
    if (request->easy == nullptr || !Configure(request, url, firstByte) ||
        curl_multi_add_handle(session->multi, request->easy) != CURLM_OK) {
        session->lastFailure = curl_easy_strerror(CURLE_FAILED_INIT);
        CloseHttpRequest(request);
        return nullptr;
    }
    const bool answered = Drive(request, [request] { return request->headersComplete; }) &&
                          (request->headersComplete || request->result == CURLE_OK);
    if (!answered) {
        NoteFailure(request);
        CloseHttpRequest(request);
        return nullptr;
    }
    return request;
}

bool QueryHttpStatus(HttpRequest* request, uint32_t* status) {
    long code = 0;
    if (curl_easy_getinfo(request->easy, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK || code < 0 ||
        code > static_cast<long>(UINT32_MAX)) {
        return false;
    }
    *status = static_cast<uint32_t>(code);
    return true;
}

bool QueryHttpContentLength(HttpRequest* request, uint32_t* length) {
    curl_off_t announced = -1;
    if (curl_easy_getinfo(request->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) != CURLE_OK || announced < 0 ||
        announced > static_cast<curl_off_t>(UINT32_MAX)) {
        return false;
    }
    *length = static_cast<uint32_t>(announced);
    return true;
}

bool QueryHttpContentRange(HttpRequest* request, HttpContentRange* range) {
    return !request->contentRange.empty() && ParseHttpContentRange(request->contentRange.c_str(), range);
}

bool ReadHttpBody(HttpRequest* request, char* buffer, int capacity, int* count) {
    *count = 0;
    if (capacity <= 0) {
        return false;
    }
    if (request->HasPending()) {
        const size_t available = request->pending.size() - request->pendingOffset;
        const size_t taken = std::min(available, static_cast<size_t>(capacity));
        std::memcpy(buffer, request->pending.data() + request->pendingOffset, taken);
        request->pendingOffset += taken;
        *count = static_cast<int>(taken);
        return true;
    }
    request->target = buffer;
    request->targetRoom = static_cast<size_t>(capacity);
    request->targetFilled = 0;
    if (request->paused) {
        request->paused = false;
        // Delivers the held-back bytes at once, through ReceiveBody.
        curl_easy_pause(request->easy, CURLPAUSE_CONT);
    }
    const bool waited = Drive(request, [request] { return request->targetFilled > 0; });
    request->target = nullptr;
    *count = static_cast<int>(request->targetFilled);
    if (!waited || (*count == 0 && request->result != CURLE_OK)) {
        NoteFailure(request);
        return false;
    }
    return true;
}

void CloseHttpRequest(HttpRequest* request) {
    if (request == nullptr) {
        return;
    }
    if (request->easy != nullptr) {
        curl_multi_remove_handle(request->session->multi, request->easy);
        curl_easy_cleanup(request->easy);
    }
    request->session->busy = false;
    delete request;
}

std::string DescribeHttpFailure(const HttpSession* session) {
    return session != nullptr ? session->lastFailure : std::string(httpfailure::NoSession);
}

}  // namespace platform
