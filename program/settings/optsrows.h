// Shorthands for writing option tables: one macro per kind of row, with the
// data block's type in OPTS_BLOCK. Only table sources include this file.
#pragma once

#include "program/settings/optsbase.h"

#include <cstddef>

#define OPTS_FIELD(field) static_cast<uint32_t>(offsetof(OPTS_BLOCK, field))
#define OPTS_SIZE(field) static_cast<uint32_t>(sizeof(OPTS_BLOCK::field))
#define OPTS_ELEMENT(field) static_cast<uint32_t>(sizeof(OPTS_BLOCK::field[0]))
#define OPTS_COUNT(field) static_cast<int32_t>(sizeof(OPTS_BLOCK::field) / sizeof(OPTS_BLOCK::field[0]))

// Control words: an edit field, a check box, a radio group, none, never
// written.
#define EDIT(n) OPTCTRL_EDIT, n
#define CHEC(n) OPTCTRL_CHEC, n
#define RADI(n) OPTCTRL_RADI, n
#define NOCTRL 0, 0
#define NEVERWRITTEN OPTCTRL_NEVERWRITTEN, -1

#define ROW_FLAG(field, ctrl) {#field, OPTS_FIELD(field), OPTTYPE_FLAG, OPTS_SIZE(field), 0, 0, ctrl}
#define ROW_INT(field, lo, hi, ctrl) {#field, OPTS_FIELD(field), OPTTYPE_INT, OPTS_SIZE(field), lo, hi, ctrl}
#define ROW_TEXT(field, ctrl) {#field, OPTS_FIELD(field), OPTTYPE_STR, OPTS_SIZE(field), 0, 0, ctrl}
#define ROW_WIDE(field, ctrl) {#field, OPTS_FIELD(field), OPTTYPE_WSTR, OPTS_SIZE(field), 0, 0, ctrl}
#define ROW_SECRET(field, ctrl) {#field, OPTS_FIELD(field), OPTTYPE_SECRET, OPTS_SIZE(field), 0, 0, ctrl}
#define ROW_TEXTS(field, ctrl) \
    {#field, OPTS_FIELD(field), OPTTYPE_STRARRAY, OPTS_ELEMENT(field), 0, OPTS_COUNT(field), ctrl}
#define ROW_WIDES(field, ctrl) \
    {#field, OPTS_FIELD(field), OPTTYPE_WSTRARRAY, OPTS_ELEMENT(field), 0, OPTS_COUNT(field), ctrl}
#define ROW_LITERAL(text) {text, 0, OPTTYPE_LITERAL, 0, 0, 0, NOCTRL}
#define ROW_SECTION(text) {text, 0, OPTTYPE_SECTION, 0, 0, 0, NOCTRL}
#define ROW_RETIRED(key) {key, 0, OPTTYPE_NOTSTORED, 0, 0, 0, NEVERWRITTEN}
// "old\0new": the old key is read as the new one.
#define ROW_ALIAS(oldkey, newkey) {oldkey "\0" newkey, 0, OPTTYPE_ALIAS, 0, 0, 0, NOCTRL}
#define ROW_END(key) {key, 0, OPTTYPE_END, 0, 0, 0, NEVERWRITTEN}
#define ROW_BINARY(field, ctrl) {#field, OPTS_FIELD(field), OPTTYPE_BINARY, OPTS_SIZE(field), 0, 0, ctrl}
