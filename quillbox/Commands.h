#pragma once

// The commands of Quillbox, each with its positional arguments exactly as
// typed. Each returns the program's exit code.
int RunList();
int RunInstall(const char* packageName);
int RunUninstall(const char* packageName);
int RunDownload(const char* packageName, const char* repositoryUrl);
int RunConvert(const char* mixFile, const char* version, const char* authorName);
int RunTrust(const char* repositoryUrl, const char* publicKeyFile);
int RunVerify();

// Loads the package index for a command that uses it, under the store's lock
// for one that changes the store; false, after saying so on standard error,
// when the index exists but cannot be read or the store cannot be used.
bool OpenPackageIndex(bool toChange);

// Saves the package index when a command used the package store; false, after
// saying so on standard error, when a save of this run failed. The entry point
// calls it after the command.
bool FinishPackageStore();

// Prints, on standard error, the line that says which call on the store failed
// and why, when one did; the entry point calls it after a failed command.
void TellStoreFailure();

// Tells the user that the program waits for another Quillbox that holds the
// package store; the package manager calls it before it waits.
void AnnounceWaitForStore();

// Tells the user that a damaged package index was kept under another name
// before it was replaced; the package manager calls it.
void AnnounceDamagedIndex(const char* indexPath, const char* copyPath);

// Registers the data folders and the game's archives with the process-wide
// factory chain and publishes it as ActiveFileFactory.
void RegisterDataFactories();
