#pragma once

// The commands of Quillbox, each with its positional arguments exactly as
// typed. Each returns the program's exit code.
int RunList();
int RunInstall(const char* packageName);
int RunUninstall(const char* packageName);
int RunDownload(const char* packageName, const char* repositoryUrl);
int RunConvert(const char* mixFile, const char* version, const char* authorName);

// Saves the package index when a command used the package store, and
// reports on standard error when it could not be saved. The entry point calls
// it after the command.
void FinishPackageStore();

// Tells the user that the program waits for another Quillbox that holds the
// package store; the package manager calls it before it waits.
void AnnounceWaitForStore();

// Registers the data folders and the game's archives with the process-wide
// factory chain and publishes it as ActiveFileFactory.
void RegisterDataFactories();
