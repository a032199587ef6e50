// Regular expressions of the classic kind.
//
// A pattern is compiled into a small program of nodes (an opcode byte, a
// 16-bit offset to the next node, an optional operand), which is then laid
// out as the instructions of a matcher that follows every way through the
// pattern at once (a Pike machine). Matching is case-sensitive and works on
// bytes. Supported syntax: alternation "|", groups "(...)" (at most nine),
// the repetitions "*", "+" and "?", the anchors "^" (start of the text) and
// "$" (end of the text), "." and the sets "[...]" / "[^...]" with ranges,
// and "\c" for any character c taken literally.
//
// The match found is the one a backtracking matcher finds (leftmost start,
// alternatives in order, greedy repetitions, a repeated group keeps its last
// pass), but a search takes time in proportion to the length of the text
// times the size of the program, whatever the pattern: no pattern makes it
// give up, and no text makes it run for ever.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"

#include <array>
#include <string>
#include <utility>
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

    // A text this long or longer cannot be searched (positions are 32-bit).
    static constexpr size_t MAXTEXT = 0x7FFFFFFF;
    // RegFind's answer for a text it cannot search, distinct from no match.
    static constexpr int TOOLONG = -2;

    // Searches the leftmost match; returns its 0-based position, -1 when
    // there is none, or TOOLONG. The matched text and the group positions
    // are kept for GetReplaceString.
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
    bool FirstBytes(int node, bool* set, int depth) const;

    // The text of group n (0 = whole match) of the last match; empty when
    // unset.
    std::string GroupText(int n) const;

    // Matcher: the node program laid out as machine instructions.
    struct INST {
        uint8_t Op;
        uint8_t Arg;  // the byte, or the capture slot
        uint16_t Set; // index into Sets
        int32_t X;    // the next instruction (the preferred one of a split)
        int32_t Y;    // the other one of a split
    };
    struct THREADS; // one generation of the machine's threads
    void BuildMachine();
    int EmitNode(int node, std::vector<std::pair<int, int>>& pending);
    bool Search(size_t len);
    void AddThread(THREADS& list, int32_t pc, int32_t* caps, int32_t pos);

    bool Compiled = false;
    std::string MatchCopy;        // the last whole match
    int32_t StartP[MAXGROUPS + 1]; // group starts of the last match (-1 = unset)
    int32_t EndP[MAXGROUPS + 1];
    std::vector<uint8_t> Program;
    uint8_t RegStart = 0;          // the byte every match starts with (0 = any)
    std::string RegPrefix;         // the literal every match starts with
    bool RegAnch = false;          // matches only at the start of the text
    std::string RegMust;           // a literal that every match contains
    bool HasFirstSet = false;      // FirstSet lists every byte a match can start with
    bool FirstSet[256] = {};
    std::vector<INST> Machine;
    std::vector<std::array<bool, 256>> Sets;

    // Compile state.
    std::string Pattern;           // kept for the log
    char const* Parse = nullptr;
    int Groups = 0;
    bool Error = false;

    // Search state (valid during RegFind).
    char const* Text = nullptr;
    int32_t TextLen = 0;
    std::vector<int32_t> Stack; // AddThread's work list
};
