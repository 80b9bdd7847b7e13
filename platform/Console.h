#pragma once

namespace platform {

// Makes standard output and error pass the programs' bytes through unchanged,
// so a "\r\n" written stays "\r\n". Called first thing in main.
void PrepareConsole();

}  // namespace platform
