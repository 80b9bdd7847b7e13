#include "download/InternetHandle.h"

#include "foundation/StringClass.h"
#include "foundation/Version.h"
#include "platform/HttpClient.h"

namespace {

bool IsAcceptableStatus(platform::HttpRequest* request) {
    uint32_t status = 0;
    if (!platform::QueryHttpStatus(request, &status)) {
        return true;
    }
    return status == 0 || (status >= 200 && status <= 299);
}

// Closes the root session at process exit.
class RootSession {
public:
    RootSession() {
        const StringClass agent = FormatString("%s/%s", "Quillbox", GetVersionString());
        session = platform::OpenHttpSession(agent);
    }
    ~RootSession() { platform::CloseHttpSession(session); }
    RootSession(const RootSession&) = delete;
    RootSession& operator=(const RootSession&) = delete;

    platform::HttpSession* Get() const { return session; }

private:
    platform::HttpSession* session;
};

}  // namespace

InternetHandle::~InternetHandle() { platform::CloseHttpRequest(request); }

InternetHandle* OpenUrl(platform::HttpRequest* request) {
    InternetHandle* handle = new InternetHandle(request);
    if (!IsAcceptableStatus(request)) {
        delete handle;
        return nullptr;
    }
    return handle;
}

platform::HttpSession* GetInternetHandle() {
    static RootSession root;
    return root.Get();
}

const char* GetVersionString() {
    static const StringClass version = FormatString("%s.unofficial-%s", ProgramVersion, "20111208");
    return version;
}
