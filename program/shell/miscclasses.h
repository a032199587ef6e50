// Small classes that the window parts and the session engine share.
//
// TRANSCRLF: the CR/LF translator of sent, received, pasted and printed
// text. It remembers the previous character, so that the two characters of
// a line end that is already complete (CR LF, LF CR) become one line end of
// the wanted form and are not doubled.
#pragma once

#include <cstdint>

class TRANSCRLF {
public:
    // Line-end modes.
    static constexpr int KEEP = 0;   // CR and LF pass unchanged
    static constexpr int TOCRLF = 1; // each line end (CR, LF, CR LF, LF CR) becomes CR LF
    static constexpr int TOCR = 2;   // each line end becomes CR
    static constexpr int TOLF = 3;   // each line end becomes LF
    static constexpr int BINARY = 4; // unchanged; the callers' own variant

    explicit TRANSCRLF(int mode) : Mode(mode) {}

    // The translated form of ch into out (room for 2); the number of
    // characters written (0, 1 or 2). A mode of -1 takes the object's own.
    int Translate(char ch, char* out, int mode);
    int Translate(wchar_t ch, wchar_t* out, int mode);
    // The same packed into an int: first << 8 | second for two characters,
    // the character for one, 0 for none.
    int Translate(char ch, int mode);
    int DoTranslate(wchar_t ch, wchar_t* out, int mode);
    // A character other than CR and LF in the own mode: no output, only the
    // state (DoTranslate's answer for it, without the call).
    void Pass(wchar_t ch) { Previous = ch; }

    void SetMode(int mode) { Mode = mode; }
    int GetMode() const { return Mode; }

private:
    // Modes 2 and 3: line ends become target alone.
    int Single(wchar_t ch, wchar_t target, wchar_t other, wchar_t* out);

    int32_t Previous = 0;
    int32_t Mode;
};
