#pragma once

#include <string>

namespace testsupport {

// The loopback HTTP server of tests/support/http_server.py, serving a folder
// on 127.0.0.1 at a free port. It is stopped when the object goes, and ends by
// itself when the test process dies (not noticed on Windows) or after
// lifetimeSeconds.
class HttpServer {
public:
    // With a certificate (a PEM file of the key and the certificate) it
    // serves over TLS.
    explicit HttpServer(const std::string& folder, int lifetimeSeconds = 300, const std::string& certificate = "");
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // False when the server did not come up (its port is then 0).
    bool IsRunning() const { return Port != 0; }
    int GetPort() const { return Port; }
    // "http://127.0.0.1:PORT" ("https://" with a certificate), without a
    // trailing slash.
    std::string BaseUrl() const;
    // Stops the server: SIGTERM, then SIGKILL when it has not ended within 2 s
    // (on Windows: removes its control file, which ends it within a second).
    void Stop();

private:
    int Process = -1;
    int StdinWriter = -1;
    int Port = 0;
    bool Secure = false;
    // Windows: the file that receives the port; the server runs while it exists.
    std::string ControlFile;
};

}  // namespace testsupport
