// The desktop's general clipboard, seen as a pasteboard: numbered items
// (from 1), each holding its data in one or more flavours (a MIME type and
// the bytes).
//
// Item 1 is the clipboard content every program sees: its flavours are the
// formats on offer (under X11 the selection's targets, which the toolkit
// names as MIME types; UTF8_STRING reads as "text/plain"). Further items
// are ours alone: they travel inside item 1 in the private flavour
// kFlavorMoreItems, which other programs ignore. Putting a UTF-8 text
// flavour on item 1 offers it as plain text too ("text/plain", and so as
// UTF8_STRING and STRING to X11 programs).
//
// Ownership follows the desktop: clearing the pasteboard makes this
// process the owner; whoever puts something on the clipboard afterwards
// takes it over, and SynchronizePasteboard reports that (modified, no
// longer owner). Puts are refused while another program owns it.
//
// Main thread; the application must be running (the clipboard belongs to
// the window system's connection).
#pragma once

#include "platform/events/codes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

constexpr char kFlavorUtf8Text[] = "text/plain;charset=utf-8";
constexpr char kFlavorUtf16Text[] = "text/plain;charset=utf-16";
constexpr char kFlavorPlainText[] = "text/plain";
constexpr char kFlavorMoreItems[] = "application/x-qor-pasteboard-items";

// Whether a flavour is UTF-16 plain text (charset utf-16, in the machine's
// byte order) or UTF-8 plain text ("text/plain" without a charset counts,
// as the toolkit gives UTF-8 there).
bool FlavorIsUtf16Text(std::string_view flavor);
bool FlavorIsUtf8Text(std::string_view flavor);

constexpr Status kErrPasteboardIndex = -25131;    // no such item
constexpr Status kErrPasteboardFlavor = -25133;   // the item has no such flavour
constexpr Status kErrPasteboardNotOwner = -25135; // another program owns the clipboard
constexpr Status kErrPasteboardNone = -25136;     // no clipboard (no window system)

// SynchronizePasteboard's flags.
constexpr uint32_t kPasteboardModified = 1;      // changed by someone else since the last call
constexpr uint32_t kPasteboardClientIsOwner = 2; // this process owns the content

uint32_t SynchronizePasteboard();
// Empties the clipboard and makes this process its owner.
Status ClearPasteboard();
Status GetPasteboardItemCount(size_t* count);
Status CopyPasteboardItemFlavors(size_t item, std::vector<std::string>* flavors);
Status CopyPasteboardItemFlavorData(size_t item, std::string_view flavor, std::string* data);
// Adds (or replaces) a flavour of item `item`; items are numbered without
// gaps, so `item` is at most one above the count. Only the owner puts.
Status PutPasteboardItemFlavor(size_t item, std::string_view flavor, std::string_view data);

// The private flavour's bytes: the items after the first, each a 32-bit
// flavour count and then per flavour a 32-bit type length, the type, a
// 32-bit data length and the data (little-endian). Decoding stops at the
// first inconsistent length and keeps the whole items before it.
using PasteboardItem = std::vector<std::pair<std::string, std::string>>;
std::string EncodeMoreItems(std::vector<PasteboardItem> const& items);
std::vector<PasteboardItem> DecodeMoreItems(std::string_view bytes);

} // namespace plat
