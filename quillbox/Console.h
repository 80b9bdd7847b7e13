#pragma once

// Console output of Quillbox: results on standard output, usage texts, the
// help text and errors on standard error. Standard output is written in large
// blocks (a long listing would otherwise be a system call per line); it is
// flushed before anything goes to standard error and at exit, so both streams
// keep the order in which the messages were printed.
void PrintOut(const char* format, ...) __attribute__((format(printf, 1, 2)));
void PrintError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Gives standard output its large buffer; called before anything is printed.
void BufferOut();
// Hands what standard output holds to the terminal now (a progress line).
void FlushOut();
