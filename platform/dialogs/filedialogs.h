// File dialogs: open one or several files, save under a name, choose a
// folder.
//
// The dialogs are the window system's own file dialogs drawn by the widget
// toolkit itself (never the desktop's native ones), so that what a test
// answers goes through the same widgets and checks as a user's choice.
// A dialog runs application-modal inside its own loop and reports to the
// caller through one event callback, the way the program's file questions
// expect it:
//   kFileDialogStart      once, before the dialog shows: the callback may
//                         set `location`, the folder (or file) to show;
//   kFileDialogPopup      the user chose an item of the file-type pop-up
//                         (also once at the start for the first item);
//   kFileDialogUserAction the dialog ends: `action` says how, `reply` holds
//                         the selection.
// A type filter decides for every file the dialog would list whether it is
// shown (folders are always listed, so the user can move between them). Before a save or open is accepted the
// approve callback sees the reply; answering false keeps the dialog open
// (a save asks there before it replaces a file).
//
// What a responder (platform/events/modal.h, kinds kModalFileOpen,
// kModalFileSave, kModalFolder) sees: ModalRequest::title the dialog's
// title, `text` the folder shown followed by "/" and the proposed name when
// saving, `choices` the items of the file-type pop-up, `native` the Qt
// dialog. What it answers: ModalAnswer::value, when above 0, chooses that
// pop-up item (from 1); `text` is typed into the file-name field (a name in
// the folder shown, or a path; a folder for kModalFolder), `items` several
// names for an open of several files; then `choice` 1 presses the accept
// button, 0 leaves the dialog open, anything else cancels. A responder may
// also work the dialog's widgets itself (`native`) and close it. A dialog
// that is still open afterwards (left open, refused, or a folder was
// entered) asks the responders again; in test mode a dialog that no
// responder answers is cancelled.
//
// Main thread; the event layer's application must be running.
#pragma once

#include "platform/events/modal.h"

#include <functional>
#include <string>
#include <vector>

namespace plat {

enum class FileDialogKind { Open, Save, ChooseFolder };

// How a dialog ended.
constexpr int kFileActionCancel = 1;
constexpr int kFileActionOpen = 2;
constexpr int kFileActionSaveAs = 3;
constexpr int kFileActionChoose = 4;

// Event selectors.
constexpr int kFileDialogStart = 2;
constexpr int kFileDialogPopup = 8;
constexpr int kFileDialogUserAction = 12;

// An item of the file-type pop-up: the text shown and the extension
// (without its dot; "*" for every file) whose files it lists. Names match
// without regard to case.
struct FileType {
    std::string description;
    std::string extension;
};

// What the user chose: the absolute paths selected (the files opened, the
// folder chosen, or the folder saved into) and, when saving, the name typed.
struct FileDialogReply {
    std::vector<std::string> selection;
    std::string saveName;
};

struct FileDialogEvent {
    int selector = 0;
    std::string location;         // kFileDialogStart: set by the callback
    int popupIndex = -1;          // kFileDialogPopup: the item (from 0)
    int action = kFileActionCancel; // kFileDialogUserAction
    FileDialogReply const* reply = nullptr; // kFileDialogUserAction, not on cancel
};

// The texts of the dialog's labels and buttons; an empty text keeps the
// toolkit's own.
struct FileDialogLabels {
    std::string lookIn;
    std::string fileName;
    std::string fileType;
    std::string accept;
    std::string reject;
};

struct FileDialogSpec {
    FileDialogKind kind = FileDialogKind::Open;
    std::string title;
    std::string saveName;  // Save: the name proposed in the name field
    bool multiple = false; // Open: several files may be chosen
    bool showHidden = false;
    std::vector<FileType> types; // empty: no pop-up, every file listed
    FileDialogLabels labels;
    WindowRef parent = nullptr;
    // Whether a file is listed (its absolute path), after the pop-up's item
    // let it through; null lists what the item lets through.
    std::function<bool(std::string const& path)> filter;
    std::function<void(FileDialogEvent&)> event;
    std::function<bool(FileDialogReply const&)> approve;
};

// Runs the dialog; returns how it ended (kFileAction*). The reply reaches
// the event callback; `reply`, when given, receives a copy too.
int RunFileDialog(FileDialogSpec const& spec, FileDialogReply* reply = nullptr);

// For responders: the names the dialog lists now in its current folder
// (folders with a trailing "/"), once the folder has been read (waits up
// to timeoutMs). `request` is the one the responder was handed.
std::vector<std::string> FileDialogListing(ModalRequest const& request, int timeoutMs = 5000);

// The type identifier of a file-name extension among the types of plain
// text: the program's own (the information value "TypeIdentifier.<ext>",
// resources.h), else the shared MIME database's type when it is text;
// "dyn.<ext>" when the extension names no text type (a dynamic
// identifier). The extension "*" (every file) is "application/octet-stream".
std::string TextTypeIdentifierForExtension(std::string const& extension);

} // namespace plat
