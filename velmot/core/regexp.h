// Regular expressions of the classic backtracking kind.
//
// A pattern is compiled into a small program of nodes (an opcode byte, a
// 16-bit offset to the next node, an optional operand) and run against a
// text by a backtracking matcher. Matching is case-sensitive and works on
// bytes. Supported syntax: alternation "|", groups "(...)" (at most nine),
// the repetitions "*", "+" and "?", the anchors "^" (start of the text) and
// "$" (end of the text), "." and the sets "[...]" / "[^...]" with ranges,
// and "\c" for any character c taken literally.
//
// The matcher runs on its own stack and under a step budget, so neither a
// deep match nor a hostile pattern can overflow the thread's stack or run
// without end: a search that exceeds the budget fails as "too complex".
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"

#include <string>
#include <vector>

class STRINGARRAY;

class VELMOT_EXPORT REGEXP {
public:
    // Groups 1 to 9 can be addressed; a pattern with more does not compile.
    static constexpr int MAXGROUPS = 9;
    // Offsets between nodes are 16-bit, so a program must stay below this.
    static constexpr int MAXPROGRAM = 32767;

    REGEXP();
    ~REGEXP();
    REGEXP(REGEXP const&) = delete;
    REGEXP& operator=(REGEXP const&) = delete;

    // Compiles the pattern; returns this object, or null when the pattern is
    // invalid, has more than nine groups or compiles too big.
    REGEXP* RegComp(char const* pattern);

    // Searches the leftmost match; returns its 0-based position or -1. The
    // matched text and the group positions are kept for GetReplaceString.
    int RegFind(char const* text);

    // Builds a text from the last match: "&" and "\0" give the whole match,
    // "\1".."\9" the groups, "\\" and "\&" the characters themselves. The
    // result is allocated with malloc and freed by the caller with free();
    // null when the pattern is null, nothing was matched or the result is
    // empty.
    char* GetReplaceString(char const* pattern);

    // Whether the text matches the pattern.
    static bool Match(char const* text, char const* pattern);
    // The same; parts receives the whole match followed by one item per
    // group of the pattern (a group that took part in no match, or matched
    // nothing, is an empty string, so item n is always group n).
    static bool Match(char const* text, char const* pattern, STRINGARRAY& parts);

private:
    enum class Result { Match, NoMatch, TooComplex };

    // Compiler.
    int Reg(bool paren, int* flags);
    int RegBranch(int* flags);
    int RegPiece(int* flags);
    int RegAtom(int* flags);
    int RegNode(uint8_t op);
    void RegC(uint8_t b);
    void RegInsert(uint8_t op, int operand);
    void RegTail(int p, int val);
    void RegOpTail(int p, int val);
    int RegNext(int p) const;
    bool Fail(char const* why);

    // The text of group n (0 = whole match) of the last match; empty when
    // unset.
    std::string GroupText(int n) const;

    // Matcher.
    Result Try(int32_t start, uint64_t* steps, uint64_t budget);
    int32_t Repeat(int node, int32_t pos) const;
    bool FirstBytes(int node, bool* set, int depth) const;

    bool Compiled = false;
    std::string MatchCopy;        // the last whole match
    int32_t StartP[MAXGROUPS + 1]; // group starts of the last match (-1 = unset)
    int32_t EndP[MAXGROUPS + 1];
    std::vector<uint8_t> Program;
    uint8_t RegStart = 0;          // the byte every match starts with (0 = any)
    bool RegAnch = false;          // matches only at the start of the text
    std::string RegMust;           // a literal that every match contains
    bool HasFirstSet = false;      // FirstSet lists every byte a match can start with
    bool FirstSet[256] = {};

    // Compile state.
    std::string Pattern;           // kept for the log
    char const* Parse = nullptr;
    int Groups = 0;
    bool Error = false;

    // Match state (valid during RegFind). The matcher keeps its choice
    // points on the heap: an alternative still to try, or a repetition that
    // can give back characters. The trail lists group positions to restore
    // when the matcher backs up to a choice point.
    struct Choice {
        int32_t Node;   // the branch to try next, or the repetition node
        int32_t Pos;    // text position at the choice
        int32_t Count;  // repetitions currently taken (repetition only)
        uint32_t Trail; // trail length at the choice
    };
    struct TrailItem {
        int32_t Slot; // 0..9 group starts, 10..19 group ends
        int32_t Old;
    };
    char const* Text = nullptr;
    int32_t TextLen = 0;
    std::vector<Choice> Choices;
    std::vector<TrailItem> TrailStack;
};
