// The frames on tessaro's question channels (between the caller, tessaro
// and its askpass program): a 4-byte length, little-endian, and that many
// bytes, at most TESSARO_MAXFRAME.
#pragma once

#include <cstdint>
#include <string>

namespace tessaro {

constexpr uint32_t TESSARO_MAXFRAME = 65536;

// Reads one frame from fd into out; false at the end of the stream, on an
// error or a frame longer than TESSARO_MAXFRAME.
bool ReadFrame(int fd, std::string& out);
// Writes one frame whole; false on an error.
bool WriteFrame(int fd, std::string const& data);

} // namespace tessaro
