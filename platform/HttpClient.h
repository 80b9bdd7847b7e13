#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace platform {

// The root of all HTTP transfers: the user agent and the pool of open
// connections, so that consecutive requests to one server reuse a connection.
// Connections are made directly (proxy settings of the environment are
// ignored), redirects are followed (at most 10), http and https URLs work and
// certificates are verified. One request at a time per session.
struct HttpSession;
// One GET request whose response headers have arrived.
struct HttpRequest;

// Null when the HTTP service cannot be set up.
HttpSession* OpenHttpSession(const char* userAgent);
void CloseHttpSession(HttpSession* session);

// Sends a GET request for `url` and waits for the headers of the final
// response. A firstByte above 0 asks for the body from that byte on
// ("Range: bytes=N-", kept through redirects); the server may still send it
// whole. Null when no response came: the connection failed (30 s to
// connect, 60 s without data), the redirects went round in circles, the
// session is busy, or `cancelled` was set (it is looked at least once a second).
HttpRequest* OpenHttpRequest(HttpSession* session, const char* url, uint32_t firstByte,
                             const std::atomic<bool>* cancelled);
// False when the response carries no such number (or it does not fit 32 bits).
bool QueryHttpStatus(HttpRequest* request, uint32_t* status);
bool QueryHttpContentLength(HttpRequest* request, uint32_t* length);

// The Content-Range of a partial answer: where its bytes begin in the whole
// file, and the whole file's size when the server tells it.
struct HttpContentRange {
    uint32_t first = 0;
    bool totalKnown = false;
    uint32_t total = 0;
};
// False when the response has no Content-Range of bytes that fits 32 bits.
bool QueryHttpContentRange(HttpRequest* request, HttpContentRange* range);
// Reads a Content-Range value ("bytes 100-199/200", "bytes 100-199/*");
// shared by the backends.
bool ParseHttpContentRange(const char* text, HttpContentRange* range);
// Hands over the next part of the body, at most `capacity` bytes, as soon as
// some has arrived; *count 0 means the body is complete. False when the
// transfer failed: the connection broke, the body ended before its announced
// length, nothing arrived for 60 s, or `cancelled` was set while waiting.
bool ReadHttpBody(HttpRequest* request, char* buffer, int capacity, int* count);
void CloseHttpRequest(HttpRequest* request);
// Why the session's last request failed (OpenHttpRequest gave null or
// ReadHttpBody false): a short phrase such as "could not connect to the
// server", the same on every system, or the system's own words for a cause
// it has no phrase for. Without a session, that the service is missing.
std::string DescribeHttpFailure(const HttpSession* session);

}  // namespace platform
