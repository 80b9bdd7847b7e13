#pragma once

#include "foundation/StringClass.h"

// The path with every byte other than an ASCII letter or digit and / \ . _
// written as % and two upper-case hexadecimal digits, so that any store name
// can stand in a URL.
StringClass EscapeUrlPath(const char* path);
