#pragma once

#include <cstdint>

#include "foundation/Md5.h"
#include "foundation/StringClass.h"

class FileFactoryClass;

// The search path that makes relative names resolve in the current directory.
StringClass CurrentDirectorySearchPath();

// The MD5 of the file's entry for the anti-cheat list: of a MIX1 archive's
// index entries as stored, or of any other file's 4-byte little-endian size
// followed by its bytes. False when the file cannot be opened or a read of
// it fails.
bool DigestFile(FileFactoryClass& factory, const char* name, uint8_t digest[Md5::DigestSize]);

// The name as typed without its folders (after the last '/' or '\').
const char* PrintedFileName(const char* name);
