#include "platform/HttpClient.h"

#include "platform/HttpFailurePhrases.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstring>
#include <new>
#include <string>

namespace platform {

namespace {

constexpr DWORD ConnectTimeoutMilliseconds = 30000;
constexpr DWORD StallTimeoutMilliseconds = 60000;
constexpr DWORD CancelCheckMilliseconds = 250;
constexpr DWORD ReceiveBufferSize = 32768;
constexpr int MaximumRedirects = 10;
// Causes of a failed step that WinINet has no error number for; customer
// codes (bit 29), so that they never meet one of the system's.
constexpr DWORD RedirectLimitReached = 0x20000001;
constexpr DWORD RedirectLeftHttp = 0x20000002;

bool StartsWithIgnoringCase(const char* text, const char* prefix) {
    return _strnicmp(text, prefix, std::strlen(prefix)) == 0;
}

bool IsRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool QueryNumber(HINTERNET request, DWORD query, DWORD* value) {
    DWORD size = sizeof *value;
    DWORD index = 0;
    return HttpQueryInfoA(request, query | HTTP_QUERY_FLAG_NUMBER, value, &size, &index) != 0;
}

// WinINet blocks inside its calls until the network answers, and nothing
// stops a blocked call reliably. So the calls of one request run on a thread
// of their own, and the caller waits for them in short slices, looking at its
// cancel flag in between. A caller that gives up leaves the thread to finish
// its call alone; the thread then closes the request and frees this record.
struct Exchange {
    enum class Step { None, Open, Read, Quit };

    HINTERNET root = nullptr;
    std::string url;
    // Sent with every request, redirects included ("Range: ..." or empty).
    std::string headers;
    HINTERNET request = nullptr;

    std::atomic<Step> step{Step::None};
    HANDLE stepPosted = nullptr;
    HANDLE stepDone = nullptr;
    bool succeeded = false;
    char buffer[ReceiveBufferSize];
    DWORD wanted = 0;
    DWORD received = 0;
    // The error of a failed step, read by the caller once the step is done.
    DWORD error = 0;

    // The caller and the thread each hold one reference.
    LONG references = 2;
};

void ReleaseExchange(Exchange* exchange) {
    if (InterlockedDecrement(&exchange->references) == 0) {
        CloseHandle(exchange->stepPosted);
        CloseHandle(exchange->stepDone);
        delete exchange;
    }
}

// Opens the URL and follows redirects up to the limit, which WinINet's own
// automatic redirects do not let a caller set. On failure the thread's last
// error says why.
HINTERNET OpenFollowingRedirects(HINTERNET root, std::string url, const std::string& headers) {
    const DWORD flags = INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_RELOAD |
                        INTERNET_FLAG_NO_CACHE_WRITE;
    for (int redirects = 0;; ++redirects) {
        HINTERNET request = InternetOpenUrlA(root, url.c_str(), headers.empty() ? nullptr : headers.c_str(),
                                             static_cast<DWORD>(headers.size()), flags, 0);
        DWORD status = 0;
        if (request == nullptr || !QueryNumber(request, HTTP_QUERY_STATUS_CODE, &status) || !IsRedirect(status)) {
            return request;
        }
        char location[INTERNET_MAX_URL_LENGTH] = {};
        DWORD size = sizeof location - 1;
        DWORD index = 0;
        const bool hasLocation = HttpQueryInfoA(request, HTTP_QUERY_LOCATION, location, &size, &index) != 0;
        InternetCloseHandle(request);
        char target[INTERNET_MAX_URL_LENGTH] = {};
        DWORD targetSize = sizeof target;
        if (!hasLocation || !InternetCombineUrlA(url.c_str(), location, target, &targetSize, ICU_NO_ENCODE)) {
            SetLastError(ERROR_HTTP_INVALID_SERVER_RESPONSE);
            return nullptr;
        }
        if (redirects == MaximumRedirects) {
            SetLastError(RedirectLimitReached);
            return nullptr;
        }
        if (!(StartsWithIgnoringCase(target, "http://") || StartsWithIgnoringCase(target, "https://"))) {
            SetLastError(RedirectLeftHttp);
            return nullptr;
        }
        url = target;
    }
}

// A read waits only until some of the body has arrived: InternetReadFile
// alone would wait until the whole buffer is full, and a slow server would
// hold a cancel back for many seconds. No data available means the end.
bool ReadAvailable(Exchange* exchange) {
    DWORD available = 0;
    if (!InternetQueryDataAvailable(exchange->request, &available, 0, 0)) {
        return false;
    }
    if (available == 0) {
        return true;
    }
    const DWORD wanted = available < exchange->wanted ? available : exchange->wanted;
    return InternetReadFile(exchange->request, exchange->buffer, wanted, &exchange->received) != 0;
}

void RunStep(Exchange* exchange) {
    switch (exchange->step) {
        case Exchange::Step::Open:
            exchange->request = OpenFollowingRedirects(exchange->root, exchange->url, exchange->headers);
            exchange->succeeded = exchange->request != nullptr;
            break;
        case Exchange::Step::Read:
            exchange->received = 0;
            exchange->succeeded = ReadAvailable(exchange);
            break;
        case Exchange::Step::None:
        case Exchange::Step::Quit:
            break;
    }
    exchange->error = exchange->succeeded ? 0 : GetLastError();
}

DWORD WINAPI ExchangeThread(void* argument) {
    Exchange* exchange = static_cast<Exchange*>(argument);
    for (;;) {
        WaitForSingleObject(exchange->stepPosted, INFINITE);
        if (exchange->step == Exchange::Step::Quit) {
            break;
        }
        RunStep(exchange);
        SetEvent(exchange->stepDone);
    }
    if (exchange->request != nullptr) {
        InternetCloseHandle(exchange->request);
    }
    ReleaseExchange(exchange);
    return 0;
}

}  // namespace

struct HttpSession {
    HINTERNET root = nullptr;
    volatile LONG busy = 0;
    // Written and read only by the thread that makes the requests.
    std::string lastFailure;
};

struct HttpRequest {
    HttpSession* session = nullptr;
    Exchange* exchange = nullptr;
    const std::atomic<bool>* cancelled = nullptr;
    // Bytes of the body handed over so far, and the announced length.
    uint64_t delivered = 0;
    bool hasLength = false;
    DWORD length = 0;
    // The thread's last step was given up on; nothing more may be asked.
    bool abandoned = false;
    // Why the last step failed, in the words of HttpFailurePhrases.h.
    std::string failure;
};

namespace {

// WinINet's own words for an error it has and this program has no phrase for.
std::string SystemText(DWORD error) {
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        GetModuleHandleA("wininet.dll"), error, 0, text, sizeof text, nullptr);
    std::string words(text, length);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.')) {
        words.pop_back();
    }
    return words.empty() ? "WinINet error " + std::to_string(error) : words;
}

std::string DescribeError(DWORD error) {
    namespace phrase = httpfailure;
    switch (error) {
        case ERROR_INTERNET_CANNOT_CONNECT:
            return phrase::CouldNotConnect;
        case ERROR_INTERNET_NAME_NOT_RESOLVED:
            return phrase::NameNotResolved;
        case ERROR_INTERNET_TIMEOUT:
            return phrase::NoDataFor60Seconds;
        case ERROR_INTERNET_UNRECOGNIZED_SCHEME:
        case RedirectLeftHttp:
            return phrase::UnsupportedScheme;
        case ERROR_INTERNET_INVALID_URL:
            return phrase::MalformedUrl;
        case ERROR_INTERNET_INVALID_CA:
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
        case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        case ERROR_INTERNET_SEC_CERT_ERRORS:
        case ERROR_INTERNET_SEC_CERT_REVOKED:
        case ERROR_INTERNET_SEC_INVALID_CERT:
            return phrase::CertificateNotTrusted;
        case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
            return phrase::SecureConnectionFailed;
        case ERROR_INTERNET_CONNECTION_RESET:
        case ERROR_INTERNET_CONNECTION_ABORTED:
            return phrase::ConnectionBroke;
        case RedirectLimitReached:
            return phrase::TooManyRedirects;
        case ERROR_HTTP_INVALID_SERVER_RESPONSE:
            return phrase::InvalidAnswer;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return phrase::OutOfMemory;
        default:
            return SystemText(error);
    }
}

bool IsCancelled(const HttpRequest* request) { return request->cancelled != nullptr && *request->cancelled; }

// Hands one step to the request's thread and waits for it, at most the time
// limit. False when the step failed, took too long, or the caller cancelled
// while it ran. The limits are kept here because WinINet does not apply its
// own timeouts to every wait.
bool Perform(HttpRequest* request, Exchange::Step step, ULONGLONG limitMilliseconds) {
    Exchange* exchange = request->exchange;
    exchange->step = step;
    SetEvent(exchange->stepPosted);
    const ULONGLONG deadline = GetTickCount64() + limitMilliseconds;
    while (WaitForSingleObject(exchange->stepDone, CancelCheckMilliseconds) != WAIT_OBJECT_0) {
        if (IsCancelled(request) || GetTickCount64() >= deadline) {
            request->abandoned = true;
            request->failure = IsCancelled(request) ? httpfailure::Cancelled : httpfailure::NoDataFor60Seconds;
            return false;
        }
    }
    if (!exchange->succeeded) {
        request->failure = DescribeError(exchange->error);
    }
    return exchange->succeeded;
}

bool StartExchange(HttpRequest* request, const char* url, uint32_t firstByte) {
    Exchange* exchange = new (std::nothrow) Exchange;
    if (exchange == nullptr) {
        return false;
    }
    exchange->root = request->session->root;
    exchange->url = url;
    if (firstByte > 0) {
        exchange->headers = "Range: bytes=" + std::to_string(firstByte) + "-\r\n";
    }
    exchange->stepPosted = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    exchange->stepDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE thread = nullptr;
    if (exchange->stepPosted != nullptr && exchange->stepDone != nullptr) {
        thread = CreateThread(nullptr, 0, ExchangeThread, exchange, 0, nullptr);
    }
    if (thread == nullptr) {
        exchange->references = 1;
        ReleaseExchange(exchange);
        return false;
    }
    CloseHandle(thread);
    request->exchange = exchange;
    return true;
}

}  // namespace

HttpSession* OpenHttpSession(const char* userAgent) {
    HINTERNET root = InternetOpenA(userAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (root == nullptr) {
        return nullptr;
    }
    INTERNET_CONNECTED_INFO online = {INTERNET_STATE_CONNECTED, 0};
    InternetSetOptionA(root, INTERNET_OPTION_CONNECTED_STATE, &online, sizeof online);
    // The same limits for WinINet itself: where it applies them, a call that
    // its caller gave up on (see Perform) ends as well instead of lingering.
    DWORD connectTimeout = ConnectTimeoutMilliseconds;
    DWORD stallTimeout = StallTimeoutMilliseconds;
    InternetSetOptionA(root, INTERNET_OPTION_CONNECT_TIMEOUT, &connectTimeout, sizeof connectTimeout);
    InternetSetOptionA(root, INTERNET_OPTION_SEND_TIMEOUT, &stallTimeout, sizeof stallTimeout);
    InternetSetOptionA(root, INTERNET_OPTION_RECEIVE_TIMEOUT, &stallTimeout, sizeof stallTimeout);
    HttpSession* session = new (std::nothrow) HttpSession;
    if (session == nullptr) {
        InternetCloseHandle(root);
        return nullptr;
    }
    session->root = root;
    return session;
}

void CloseHttpSession(HttpSession* session) {
    if (session == nullptr) {
        return;
    }
    InternetCloseHandle(session->root);
    delete session;
}

HttpRequest* OpenHttpRequest(HttpSession* session, const char* url, uint32_t firstByte,
                             const std::atomic<bool>* cancelled) {
    if (session == nullptr || url == nullptr) {
        return nullptr;
    }
    if (!(StartsWithIgnoringCase(url, "http://") || StartsWithIgnoringCase(url, "https://"))) {
        session->lastFailure =
            std::strstr(url, "://") != nullptr ? httpfailure::UnsupportedScheme : httpfailure::MalformedUrl;
        return nullptr;
    }
    if (InterlockedCompareExchange(&session->busy, 1, 0) != 0) {
        session->lastFailure = httpfailure::SessionBusy;
        return nullptr;
    }
    HttpRequest* request = new (std::nothrow) HttpRequest;
    if (request == nullptr) {
        session->lastFailure = httpfailure::OutOfMemory;
        InterlockedExchange(&session->busy, 0);
        return nullptr;
    }
    request->session = session;
    request->cancelled = cancelled;
    // Connecting, then waiting for the headers of the answer.
    const ULONGLONG openLimit = ConnectTimeoutMilliseconds + StallTimeoutMilliseconds;
    if (!StartExchange(request, url, firstByte)) {
        session->lastFailure = DescribeError(GetLastError());
        CloseHttpRequest(request);
        return nullptr;
    }
    if (!Perform(request, Exchange::Step::Open, openLimit)) {
        session->lastFailure = request->failure;
        CloseHttpRequest(request);
        return nullptr;
    }
    request->hasLength = QueryNumber(request->exchange->request, HTTP_QUERY_CONTENT_LENGTH, &request->length);
    return request;
}

bool QueryHttpStatus(HttpRequest* request, uint32_t* status) {
    DWORD value = 0;
    if (!QueryNumber(request->exchange->request, HTTP_QUERY_STATUS_CODE, &value)) {
        return false;
    }
    *status = value;
    return true;
}

bool QueryHttpContentLength(HttpRequest* request, uint32_t* length) {
    if (!request->hasLength) {
        return false;
    }
    *length = request->length;
    return true;
}

bool QueryHttpContentRange(HttpRequest* request, HttpContentRange* range) {
    char text[256] = {};
    DWORD size = sizeof text - 1;
    DWORD index = 0;
    return HttpQueryInfoA(request->exchange->request, HTTP_QUERY_CONTENT_RANGE, text, &size, &index) != 0 &&
           ParseHttpContentRange(text, range);
}

bool ReadHttpBody(HttpRequest* request, char* buffer, int capacity, int* count) {
    *count = 0;
    if (capacity <= 0 || request->abandoned) {
        return false;
    }
    Exchange* exchange = request->exchange;
    exchange->wanted =
        capacity < static_cast<int>(ReceiveBufferSize) ? static_cast<DWORD>(capacity) : ReceiveBufferSize;
    // Bytes a server sends beyond the announced length are not the file's;
    // WinINet passes them on when the server closes the connection after them.
    if (request->hasLength) {
        const uint64_t left = request->length - request->delivered;
        if (left == 0) {
            return true;
        }
        if (left < exchange->wanted) {
            exchange->wanted = static_cast<DWORD>(left);
        }
    }
    if (!Perform(request, Exchange::Step::Read, StallTimeoutMilliseconds)) {
        request->session->lastFailure = request->failure;
        return false;
    }
    if (exchange->received == 0) {
        // WinINet reports a connection that closed early as a normal end.
        if (request->hasLength && request->delivered != request->length) {
            request->session->lastFailure = httpfailure::ConnectionBroke;
            return false;
        }
        return true;
    }
    std::memcpy(buffer, exchange->buffer, exchange->received);
    request->delivered += exchange->received;
    *count = static_cast<int>(exchange->received);
    return true;
}

void CloseHttpRequest(HttpRequest* request) {
    if (request == nullptr) {
        return;
    }
    if (request->exchange != nullptr) {
        // A thread still inside an abandoned step sees the request to quit
        // when that step ends.
        request->exchange->step = Exchange::Step::Quit;
        SetEvent(request->exchange->stepPosted);
        ReleaseExchange(request->exchange);
    }
    InterlockedExchange(&request->session->busy, 0);
    delete request;
}

std::string DescribeHttpFailure(const HttpSession* session) {
    return session != nullptr ? session->lastFailure : std::string(httpfailure::NoSession);
}

}  // namespace platform
