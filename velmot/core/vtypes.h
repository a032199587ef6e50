// Basic types shared by every deliverable.
//
// The library keeps the Windows-shaped vocabulary of its callers, but fixes
// the sizes for an LP64 target: data the file formats and protocols define as
// 32 bits is uint32_t, and every word that can carry a pointer (message
// words, thread parameters, properties) is pointer-sized. `unsigned long` is
// 64 bits here and is never used where 32 bits are meant.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using COLORREF = uint32_t;     // 0xTTBBGGRR, red in the low byte
using FOURCHARCODE = uint32_t; // first character in the most significant byte
using MSGWORD = uintptr_t;     // a message or thread parameter; may hold a pointer

#ifndef ARRAYMAX
#define ARRAYMAX(a) (sizeof(a) / sizeof((a)[0]))
#endif

// Marks the library's exported interface. Everything is built with default
// visibility today; the macro documents intent and keeps the door open.
#define VELMOT_EXPORT __attribute__((visibility("default")))

// printf-style format checking.
#define VELMOT_PRINTF(fmtpos, argpos) __attribute__((format(printf, fmtpos, argpos)))
