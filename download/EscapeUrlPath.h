#pragma once

#include "foundation/StringClass.h"

// The path with every byte other than an ASCII letter or digit and / \ . _
// written as % and two upper-case hexadecimal digits, so that any store name
// can stand in a URL.
StringClass EscapeUrlPath(const char* path);

// A repository URL as typed, with only the bytes that may not stand in a URL
// at all (space, control bytes, bytes from 0x80 up, and " < > \ ^ ` { | })
// encoded the same way. Everything else, '%' included, is kept, so that an
// address the user already encoded reaches the server unchanged.
StringClass EscapeUrlBase(const char* url);
