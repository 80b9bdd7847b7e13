#pragma once

// Console output of Quillbox: results on standard output, usage texts, the
// help text and errors on standard error. Every message is flushed at once so
// that progress and results appear in order even through a pipe.
void PrintOut(const char* format, ...) __attribute__((format(printf, 1, 2)));
void PrintError(const char* format, ...) __attribute__((format(printf, 1, 2)));
