// TRANSLATE: a session's character translation tables, two byte maps: the
// inward map, applied to every byte received from the host before the
// emulation sees it, and the outward map, applied to every byte sent to
// the host. Both are the identity until a translation file (".qtr") says
// otherwise:
//
//   QOR6.44 // TRANSLATE
//   // CHARACTER TRANSLATION TABLE (CHANGED ENTRIES ONLY)
//   // format: x|Old|New<blank>
//   //         x= I (inward) or O (outward), Old/New in hex
//   I|41|61
//
// The maps act only while the profile's "DoTrans" is on and the emulation
// does not ask for its data untranslated (capability 128).
//
// Main thread, except Translate, which the received-data road calls and
// which only reads.
#pragma once

#include "velmot/core/osysfile.h"

#include <cstddef>
#include <cstdint>
#include <string>

// What the tables ask of their session and the program. The defaults stand
// for tables on their own: translation on, no emulation.
class TRANSLATEHOST {
public:
    virtual ~TRANSLATEHOST() = default;
    // The profile's "DoTrans".
    virtual bool DoTrans() { return true; }
    // Whether the emulation has any of these capability bits.
    virtual bool EmulationFlag(unsigned long mask) { return false; }
    // The translation folder the main window keeps (empty: the options
    // folder), the options folder, and the work folder both are relative
    // to.
    virtual std::string TranslationFolderSetting() { return std::string(); }
    virtual std::string OptionsFolder() { return std::string(); }
    virtual std::string WorkFolder() { return std::string(); }
    // Reports a file that could not be read or written (errno is set).
    virtual void FileError(char const* path) {}
};

class TRANSLATE {
public:
    static char const* const DEFAULTFILE; // "Standard.qtr"
    // The emulation's capability: its data stream must not be translated.
    static constexpr unsigned long EMUFLAG_NOTRANSLATION = 128;

    explicit TRANSLATE(TRANSLATEHOST& host);
    virtual ~TRANSLATE();
    TRANSLATE(TRANSLATE const&) = delete;
    TRANSLATE& operator=(TRANSLATE const&) = delete;

    // The byte translated in direction 'I' (inward) or 'O' (outward), in
    // either case; -1 for another direction. Unchanged while translation
    // is off; a value outside 0-255 is returned as it is.
    int Translate(char direction, int byte);
    // Whether the maps act now (DoTrans on, the emulation allows it).
    bool Active();
    // Loads a file of the translation folder (null or empty:
    // "Standard.qtr"). A missing "Standard.qtr" gives the identity
    // silently; any other file that cannot be read is reported and the
    // maps stay as they were.
    void Load(char const* name);
    // Writes the maps (null or empty: the current file, or
    // "Standard.qtr"); a failed write is reported.
    void Save(char const* name);
    FILENAME GetTranslationTablesFolder();
    // The maps from a file's text (what Load does once the file is read);
    // the number of entries applied. Lines that do not parse are skipped
    // and logged.
    int ReadText(char const* data, size_t size);
    std::string WriteText() const;
    // Both maps the identity.
    void Reset();
    // The path of the file last loaded or saved (empty: none), whole
    // however long.
    char const* FileName() const { return File.c_str(); }

    // The maps, public for the translation table editor.
    uint8_t Valid = 0;
    uint8_t Inward[256];
    uint8_t Outward[256];

private:
    void SetFileName(char const* path);

    TRANSLATEHOST& Host;
    std::string File;
};
