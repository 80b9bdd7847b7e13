#pragma once

namespace platform {
struct HttpRequest;
struct HttpSession;
}  // namespace platform

// Holds one open request; deleting the holder closes it.
class InternetHandle {
public:
    explicit InternetHandle(platform::HttpRequest* request) : request(request) {}
    ~InternetHandle();
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    platform::HttpRequest* Get() const { return request; }

private:
    platform::HttpRequest* request;
};

// Wraps an open request and checks its status: a holder when the status could
// not be read, is 0 or lies in 200..299; otherwise closes the request, null.
InternetHandle* OpenUrl(platform::HttpRequest* request);

// The process-wide root of all transfers, opened on first use with the user
// agent and closed at exit; null when the HTTP service could not be set up,
// which makes every transfer fail.
platform::HttpSession* GetInternetHandle();

// "4.00.unofficial-20111208".
const char* GetVersionString();
