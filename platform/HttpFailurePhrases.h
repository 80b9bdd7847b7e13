#pragma once

// Why a transfer failed, in the words both backends use, so that a user sees
// the same cause whichever system the program runs on. Short phrases without
// a capital or a full stop: the caller puts them into its own sentence.
namespace platform::httpfailure {

inline constexpr const char* CouldNotConnect = "could not connect to the server";
inline constexpr const char* ConnectTimedOut = "could not connect to the server within 30 s";
inline constexpr const char* NameNotResolved = "the host name could not be resolved";
inline constexpr const char* CertificateNotTrusted = "the server's certificate is not trusted";
inline constexpr const char* SecureConnectionFailed = "the secure connection could not be set up";
inline constexpr const char* UnsupportedScheme = "the URL does not begin with http:// or https://";
inline constexpr const char* MalformedUrl = "the URL is malformed";
inline constexpr const char* ConnectionBroke = "the connection broke before the whole file had arrived";
inline constexpr const char* NoDataFor60Seconds = "no data arrived for 60 s";
inline constexpr const char* TooManyRedirects = "the server redirected more than 10 times";
inline constexpr const char* NoAnswer = "the server closed the connection without an answer";
inline constexpr const char* InvalidAnswer = "the server's answer is not HTTP";
inline constexpr const char* OutOfMemory = "out of memory";
inline constexpr const char* Cancelled = "the transfer was cancelled";
inline constexpr const char* SessionBusy = "another transfer of the session was under way";
inline constexpr const char* NoSession = "the HTTP service could not be set up";

}  // namespace platform::httpfailure
