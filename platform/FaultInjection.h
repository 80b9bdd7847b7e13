#pragma once

// The seam through which a test fails one call of the file system on purpose,
// the way SQLite's tests do: every wrapper of an open, of the lock or of a call
// that changes the disk asks before it makes the call, and fails it as a
// failing disk would, unmade.
namespace platform {

enum class FaultKind { Open, Write, Rename, Delete, CreateFolder, Force, SyncFolder, Lock };
inline constexpr int FaultKindCount = static_cast<int>(FaultKind::Lock) + 1;

// True when a test has chosen this call to fail. The programs' own build
// answers false to every call (FaultInjection.cpp): only a test build links
// an armed seam in its place (tests/support/faults/ArmedFaults.cpp).
bool InjectedFault(FaultKind kind);

// Asks InjectedFault; when the call is to fail, the last error number is the
// system's for a failed disk (EIO, ERROR_IO_DEVICE). Each backend defines it.
bool FaultInjected(FaultKind kind);

}  // namespace platform
