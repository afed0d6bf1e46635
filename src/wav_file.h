// 64-bit positions on stdio streams, so that no offset in a file of 2 GiB or
// more wraps on any platform.
#pragma once

#include <cstdint>
#include <cstdio>

// Moves to an absolute position; returns 0 or -1.
int wavFileSeek(std::FILE *file, std::int64_t position);

// The stream's position, or -1 where it has none (a pipe).
std::int64_t wavFileTell(std::FILE *file);

// The size of a regular file, or -1 for anything else (a pipe, a device).
std::int64_t wavFileSize(std::FILE *file);
