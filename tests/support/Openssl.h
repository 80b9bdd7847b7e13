#pragma once

#include <string>
#include <vector>

#include "support/TestSupport.h"
#ifdef _WIN32
#include "support/win32/HostCommand.h"
#endif

// The openssl tool of the host system, the one a publisher signs a repository
// with; under Wine it is reached through the host's shell.
namespace testsupport {

// Runs the shell script with the files as $1, $2, ...; true when it exits 0.
inline bool RunOpensslScript(const std::string& script, const std::vector<std::string>& files) {
#ifdef _WIN32
    std::vector<std::string> hostFiles;
    for (const std::string& file : files) {
        hostFiles.push_back(HostPath(file));
    }
    const HostCommandResult result = RunHostScript(script, hostFiles);
    return result.finished && result.exitCode == 0;
#else
    std::vector<std::string> arguments = {"-c", script, "sh"};
    arguments.insert(arguments.end(), files.begin(), files.end());
    return RunProgram("/bin/sh", arguments, ".").exitCode == 0;
#endif
}

// A new P-256 key pair, the private key and the public one in PEM form.
inline bool MakeSigningKey(const std::string& privateKey, const std::string& publicKey) {
    return RunOpensslScript(
        "openssl ecparam -name prime256v1 -genkey -noout -out \"$1\" && openssl pkey -in \"$1\" -pubout -out \"$2\"",
        {privateKey, publicKey});
}

// A self-signed certificate for 127.0.0.1 and its key, both in one PEM file,
// as the loopback server takes them.
inline bool MakeSelfSignedCertificate(const std::string& pem) {
    return RunOpensslScript(
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj /CN=127.0.0.1 "
        "-addext subjectAltName=IP:127.0.0.1 -days 2 -keyout \"$1.key\" -out \"$1.crt\" 2>/dev/null && "
        "cat \"$1.key\" \"$1.crt\" > \"$1\"",
        {pem});
}

// The DER signature of the file, as a publisher makes manifest.sig.
inline bool SignFile(const std::string& privateKey, const std::string& file, const std::string& signature) {
    return RunOpensslScript("openssl dgst -sha256 -sign \"$1\" -out \"$3\" \"$2\"", {privateKey, file, signature});
}

}  // namespace testsupport
