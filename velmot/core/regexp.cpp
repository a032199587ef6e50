// Regular expressions: the node-program compiler and the backtracking
// matcher.
//
// Program layout: a node is an opcode byte, a signed 16-bit offset to the
// next node (high byte first; 0 = none, negative for the loop-back node) and
// for some opcodes an operand (a zero-terminated literal or set). The first
// node is the branch of the top-level alternation.
#include "velmot/core/regexp.h"

#include "velmot/core/logit.h"
#include "velmot/core/stringarray.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char const* kSource = "regexp";

// Opcodes.
enum : uint8_t {
    END = 0,      // success
    BOL = 1,      // start of the text
    EOL = 2,      // end of the text
    ANY = 3,      // any one character
    ANYOF = 4,    // one character of the operand set
    ANYBUT = 5,   // one character not in the operand set
    BRANCH = 6,   // this alternative, else the next branch
    BACK = 7,     // nothing; the next node lies before this one
    EXACTLY = 8,  // the operand literal
    NOTHING = 9,  // the empty string
    STAR = 10,    // the operand node zero or more times, greedy
    PLUS = 11,    // the operand node one or more times, greedy
    OPEN = 20,    // OPEN + n records where group n starts
    CLOSE = 30,   // CLOSE + n records where group n ends
};

// Compile flags of a piece.
enum : int {
    WORST = 0,    // nothing known
    HASWIDTH = 1, // never matches the empty string
    SIMPLE = 2,   // one character wide and simple enough for STAR and PLUS
    SPSTART = 4,  // starts with a repetition
};

constexpr char const* kMeta = "^$.[()|?+*\\";
constexpr int kHeader = 3; // opcode and offset

// Limits of one search. The budget grows with the text so that an ordinary
// search of a long text never hits it, while a pattern that backtracks
// quadratically or worse gives up after a bounded amount of work.
constexpr uint64_t kBaseSteps = 10'000'000;
constexpr uint64_t kStepsPerByte = 100;
constexpr size_t kMaxChoices = 1u << 22;
constexpr size_t kMaxTrail = 1u << 22;

bool IsMult(char c)
{
    return c == '*' || c == '+' || c == '?';
}

} // namespace

REGEXP::REGEXP()
{
    for (int i = 0; i <= MAXGROUPS; ++i)
        StartP[i] = EndP[i] = -1;
}

REGEXP::~REGEXP() = default;

// ---------------------------------------------------------------------------
// Compiler

bool REGEXP::Fail(char const* why)
{
    if (!Error)
        LOGIT("REGEXP::RegComp '%s' fails: %s\n", Pattern.c_str(), why);
    Error = true;
    return false;
}

int REGEXP::RegNode(uint8_t op)
{
    if (Error)
        return -1;
    if (Program.size() + kHeader > static_cast<size_t>(MAXPROGRAM)) {
        Fail("program too big");
        return -1;
    }
    int ret = static_cast<int>(Program.size());
    Program.push_back(op);
    Program.push_back(0);
    Program.push_back(0);
    return ret;
}

void REGEXP::RegC(uint8_t b)
{
    if (Error)
        return;
    if (Program.size() + 1 > static_cast<size_t>(MAXPROGRAM)) {
        Fail("program too big");
        return;
    }
    Program.push_back(b);
}

// Inserts a node in front of the operand that starts at `operand`.
void REGEXP::RegInsert(uint8_t op, int operand)
{
    if (Error || operand < 0)
        return;
    if (Program.size() + kHeader > static_cast<size_t>(MAXPROGRAM)) {
        Fail("program too big");
        return;
    }
    uint8_t node[kHeader] = {op, 0, 0};
    Program.insert(Program.begin() + operand, node, node + kHeader);
}

int REGEXP::RegNext(int p) const
{
    if (p < 0)
        return -1;
    int16_t offset = static_cast<int16_t>((Program[p + 1] << 8) | Program[p + 2]);
    if (offset == 0)
        return -1;
    return p + offset;
}

// Sets the next pointer of the last node of the chain that starts at p.
void REGEXP::RegTail(int p, int val)
{
    if (Error || p < 0 || val < 0)
        return;
    int scan = p;
    for (int next; (next = RegNext(scan)) >= 0;)
        scan = next;
    int offset = val - scan;
    // Program sizes stay below 32768, so every offset fits.
    Program[scan + 1] = static_cast<uint8_t>((offset >> 8) & 0xFF);
    Program[scan + 2] = static_cast<uint8_t>(offset & 0xFF);
}

// RegTail on the operand of a branch node; other nodes have none to chain.
void REGEXP::RegOpTail(int p, int val)
{
    if (Error || p < 0 || Program[p] != BRANCH)
        return;
    RegTail(p + kHeader, val);
}

// An alternation, either the whole pattern or the inside of a group.
int REGEXP::Reg(bool paren, int* flagp)
{
    *flagp = HASWIDTH;
    int ret = -1;
    int parno = 0;
    if (paren) {
        if (Groups >= MAXGROUPS) {
            Fail("too many groups");
            return -1;
        }
        parno = ++Groups;
        ret = RegNode(static_cast<uint8_t>(OPEN + parno));
        if (ret < 0)
            return -1;
    }

    int flags = 0;
    int br = RegBranch(&flags);
    if (br < 0)
        return -1;
    if (ret >= 0)
        RegTail(ret, br);
    else
        ret = br;
    if (!(flags & HASWIDTH))
        *flagp &= ~HASWIDTH;
    *flagp |= flags & SPSTART;
    while (*Parse == '|') {
        ++Parse;
        br = RegBranch(&flags);
        if (br < 0)
            return -1;
        RegTail(ret, br);
        if (!(flags & HASWIDTH))
            *flagp &= ~HASWIDTH;
        *flagp |= flags & SPSTART;
    }

    int ender = RegNode(static_cast<uint8_t>(paren ? CLOSE + parno : END));
    if (ender < 0)
        return -1;
    RegTail(ret, ender);
    // Every alternative continues at the node after the alternation.
    for (int b = ret; b >= 0; b = RegNext(b))
        RegOpTail(b, ender);

    if (paren) {
        if (*Parse != ')') {
            Fail("unmatched ()");
            return -1;
        }
        ++Parse;
    } else if (*Parse != '\0') {
        Fail(*Parse == ')' ? "unmatched ()" : "junk at the end");
        return -1;
    }
    return Error ? -1 : ret;
}

// One alternative: a sequence of pieces.
int REGEXP::RegBranch(int* flagp)
{
    *flagp = WORST;
    int ret = RegNode(BRANCH);
    if (ret < 0)
        return -1;
    int chain = -1;
    while (*Parse != '\0' && *Parse != '|' && *Parse != ')') {
        int flags = 0;
        int latest = RegPiece(&flags);
        if (latest < 0)
            return -1;
        *flagp |= flags & HASWIDTH;
        if (chain < 0)
            *flagp |= flags & SPSTART;
        else
            RegTail(chain, latest);
        chain = latest;
    }
    if (chain < 0)
        RegNode(NOTHING);
    return Error ? -1 : ret;
}

// An atom with an optional repetition. Operands that are one simple
// character use STAR and PLUS; others are built from branches:
// x* as (x&|) and x+ as x(&|), where & loops back to x; x? as (x|).
int REGEXP::RegPiece(int* flagp)
{
    int flags = 0;
    int ret = RegAtom(&flags);
    if (ret < 0)
        return -1;
    char op = *Parse;
    if (!IsMult(op)) {
        *flagp = flags;
        return ret;
    }
    if (!(flags & HASWIDTH) && op != '?') {
        Fail("*+ operand could be empty");
        return -1;
    }
    *flagp = op != '+' ? (WORST | SPSTART) : (WORST | HASWIDTH);

    if (op == '*' && (flags & SIMPLE)) {
        RegInsert(STAR, ret);
    } else if (op == '*') {
        RegInsert(BRANCH, ret);
        RegOpTail(ret, RegNode(BACK));
        RegOpTail(ret, ret);
        RegTail(ret, RegNode(BRANCH));
        RegTail(ret, RegNode(NOTHING));
    } else if (op == '+' && (flags & SIMPLE)) {
        RegInsert(PLUS, ret);
    } else if (op == '+') {
        int next = RegNode(BRANCH);
        RegTail(ret, next);
        RegTail(RegNode(BACK), ret);
        RegTail(next, RegNode(BRANCH));
        RegTail(ret, RegNode(NOTHING));
    } else {
        RegInsert(BRANCH, ret);
        RegTail(ret, RegNode(BRANCH));
        int next = RegNode(NOTHING);
        RegTail(ret, next);
        RegOpTail(ret, next);
    }
    ++Parse;
    if (IsMult(*Parse)) {
        Fail("nested *?+");
        return -1;
    }
    return Error ? -1 : ret;
}

int REGEXP::RegAtom(int* flagp)
{
    *flagp = WORST;
    int ret = -1;
    char c = *Parse;
    if (c == '\0' || c == '|' || c == ')') {
        // Cannot happen: the branch loop stops at these.
        Fail("atom expected");
        return -1;
    }
    ++Parse;
    switch (c) {
    case '^':
        ret = RegNode(BOL);
        break;
    case '$':
        ret = RegNode(EOL);
        break;
    case '.':
        ret = RegNode(ANY);
        *flagp |= HASWIDTH | SIMPLE;
        break;
    case '[': {
        bool negate = *Parse == '^';
        if (negate)
            ++Parse;
        ret = RegNode(negate ? ANYBUT : ANYOF);
        // A leading "]" or "-" stands for itself.
        if (*Parse == ']' || *Parse == '-')
            RegC(static_cast<uint8_t>(*Parse++));
        while (*Parse != '\0' && *Parse != ']' && !Error) {
            if (*Parse == '-') {
                ++Parse;
                if (*Parse == ']' || *Parse == '\0') {
                    RegC('-');
                } else {
                    // The range starts after the character already stored.
                    int from = static_cast<uint8_t>(Parse[-2]) + 1;
                    int to = static_cast<uint8_t>(*Parse);
                    if (from > to + 1) {
                        Fail("invalid [] range");
                        return -1;
                    }
                    for (; from <= to; ++from)
                        RegC(static_cast<uint8_t>(from));
                    ++Parse;
                }
            } else {
                RegC(static_cast<uint8_t>(*Parse++));
            }
        }
        RegC('\0');
        if (*Parse != ']') {
            Fail("unmatched []");
            return -1;
        }
        ++Parse;
        *flagp |= HASWIDTH | SIMPLE;
        break;
    }
    case '(': {
        int flags = 0;
        ret = Reg(true, &flags);
        if (ret < 0)
            return -1;
        *flagp |= flags & (HASWIDTH | SPSTART);
        break;
    }
    case '?':
    case '+':
    case '*':
        Fail("?+* follows nothing");
        return -1;
    case '\\':
        if (*Parse == '\0') {
            Fail("trailing \\");
            return -1;
        }
        ret = RegNode(EXACTLY);
        RegC(static_cast<uint8_t>(*Parse++));
        RegC('\0');
        *flagp |= HASWIDTH | SIMPLE;
        break;
    default: {
        // A run of ordinary characters; before a repetition operator the
        // run gives up its last character to it.
        --Parse;
        size_t len = strcspn(Parse, kMeta);
        if (len == 0) {
            Fail("internal error");
            return -1;
        }
        char ender = Parse[len];
        if (len > 1 && IsMult(ender))
            --len;
        *flagp |= HASWIDTH;
        if (len == 1)
            *flagp |= SIMPLE;
        ret = RegNode(EXACTLY);
        for (; len > 0 && !Error; --len)
            RegC(static_cast<uint8_t>(*Parse++));
        RegC('\0');
        break;
    }
    }
    return Error ? -1 : ret;
}

REGEXP* REGEXP::RegComp(char const* pattern)
{
    Compiled = false;
    Program.clear();
    RegStart = 0;
    RegAnch = false;
    HasFirstSet = false;
    RegMust.clear();
    MatchCopy.clear();
    for (int i = 0; i <= MAXGROUPS; ++i)
        StartP[i] = EndP[i] = -1;
    Groups = 0;
    Error = false;
    if (!pattern) {
        AssertMsg(0, "exp!=NULL", kSource, __LINE__, nullptr, false);
        return nullptr;
    }
    Pattern = pattern;
    Parse = pattern;
    int flags = 0;
    int top = Reg(false, &flags);
    Parse = nullptr;
    if (top < 0 || Error) {
        Program.clear();
        Groups = 0;
        return nullptr;
    }

    // Hints for the search, taken when the pattern has one top-level
    // alternative: the byte every match starts with, the anchor, and the
    // longest literal on the main chain (every match must contain it; only
    // worth looking for when the pattern starts with a repetition).
    if (Program[RegNext(0)] == END) {
        int scan = kHeader;
        if (Program[scan] == EXACTLY)
            RegStart = Program[scan + kHeader];
        else if (Program[scan] == BOL)
            RegAnch = true;
        if (flags & SPSTART) {
            char const* longest = nullptr;
            size_t len = 0;
            for (; scan >= 0; scan = RegNext(scan)) {
                if (Program[scan] == EXACTLY) {
                    char const* lit = reinterpret_cast<char const*>(&Program[scan + kHeader]);
                    if (strlen(lit) >= len) {
                        longest = lit;
                        len = strlen(lit);
                    }
                }
            }
            if (longest)
                RegMust.assign(longest, len);
        }
    }
    // The bytes a match can start with, when the program tells: positions
    // with any other byte need no try.
    if (!RegStart && !RegAnch) {
        bool set[256] = {};
        if (FirstBytes(0, set, 0)) {
            memcpy(FirstSet, set, sizeof set);
            HasFirstSet = true;
        }
    }
    Compiled = true;
    return this;
}

// Adds the bytes that a match from `node` on can start with to set; false
// when that cannot be told (the rest can match the empty string, or starts
// with any byte).
bool REGEXP::FirstBytes(int node, bool* set, int depth) const
{
    if (node < 0 || depth > 64)
        return false;
    uint8_t const* operand = &Program[node + kHeader];
    switch (Program[node]) {
    case EXACTLY:
        set[operand[0]] = true;
        return true;
    case ANYOF:
        for (uint8_t const* p = operand; *p; ++p)
            set[*p] = true;
        return true;
    case ANYBUT: {
        bool but[256] = {};
        for (uint8_t const* p = operand; *p; ++p)
            but[*p] = true;
        for (int c = 1; c < 256; ++c)
            set[c] = set[c] || !but[c];
        return true;
    }
    case BRANCH: {
        int next = RegNext(node);
        if (next < 0 || Program[next] != BRANCH)
            return FirstBytes(node + kHeader, set, depth + 1);
        for (int alt = node; alt >= 0 && Program[alt] == BRANCH; alt = RegNext(alt)) {
            if (!FirstBytes(alt + kHeader, set, depth + 1))
                return false;
        }
        return true;
    }
    case PLUS:
        return FirstBytes(node + kHeader, set, depth + 1);
    case STAR:
        return FirstBytes(node + kHeader, set, depth + 1) && FirstBytes(RegNext(node), set, depth + 1);
    case NOTHING:
        return FirstBytes(RegNext(node), set, depth + 1);
    default:
        if ((Program[node] > OPEN && Program[node] <= OPEN + MAXGROUPS) ||
            (Program[node] > CLOSE && Program[node] <= CLOSE + MAXGROUPS))
            return FirstBytes(RegNext(node), set, depth + 1);
        return false; // END, BOL, EOL, ANY, BACK
    }
}

// ---------------------------------------------------------------------------
// Matcher

// How many times the simple operand node at `node` matches from pos on.
int32_t REGEXP::Repeat(int node, int32_t pos) const
{
    uint8_t const* operand = &Program[node + kHeader];
    char const* p = Text + pos;
    char const* end = Text + TextLen;
    switch (Program[node]) {
    case ANY:
        return TextLen - pos;
    case EXACTLY: {
        char c = static_cast<char>(operand[0]);
        char const* s = p;
        while (s < end && *s == c)
            ++s;
        return static_cast<int32_t>(s - p);
    }
    case ANYOF: {
        char const* set = reinterpret_cast<char const*>(operand);
        char const* s = p;
        while (s < end && strchr(set, *s))
            ++s;
        return static_cast<int32_t>(s - p);
    }
    case ANYBUT: {
        char const* set = reinterpret_cast<char const*>(operand);
        char const* s = p;
        while (s < end && !strchr(set, *s))
            ++s;
        return static_cast<int32_t>(s - p);
    }
    default:
        return 0;
    }
}

// Runs the program from text position start. Group positions are recorded
// as the matcher passes OPEN and CLOSE nodes and restored from the trail
// when it backs up, so after a success every group holds the positions of
// its last pass on the successful path.
REGEXP::Result REGEXP::Try(int32_t start, uint64_t* steps, uint64_t budget)
{
    for (int i = 0; i <= MAXGROUPS; ++i)
        StartP[i] = EndP[i] = -1;
    Choices.clear();
    TrailStack.clear();

    auto setSlot = [this](int slot, int32_t value) -> bool {
        int32_t* target = slot <= MAXGROUPS ? &StartP[slot] : &EndP[slot - MAXGROUPS - 1];
        if (!Choices.empty()) {
            if (TrailStack.size() >= kMaxTrail)
                return false;
            TrailStack.push_back({slot, *target});
        }
        *target = value;
        return true;
    };
    auto undoTo = [this](uint32_t mark) {
        while (TrailStack.size() > mark) {
            TrailItem const& t = TrailStack.back();
            if (t.Slot <= MAXGROUPS)
                StartP[t.Slot] = t.Old;
            else
                EndP[t.Slot - MAXGROUPS - 1] = t.Old;
            TrailStack.pop_back();
        }
    };
    // The next viable repetition count at or below `count` for the node: a
    // count is tried only when the byte after it can start what follows.
    auto viable = [this, steps](int node, int32_t pos, int32_t count) -> int32_t {
        int32_t min = Program[node] == STAR ? 0 : 1;
        int next = RegNext(node);
        char nextch = next >= 0 && Program[next] == EXACTLY ? static_cast<char>(Program[next + kHeader]) : '\0';
        if (nextch) {
            int32_t from = count;
            while (count >= min && (pos + count >= TextLen || Text[pos + count] != nextch))
                --count;
            *steps += static_cast<uint64_t>(from - count);
        }
        return count >= min ? count : -1;
    };

    int pc = 0;
    int32_t pos = start;
    for (;;) {
        if (++*steps > budget || Choices.size() >= kMaxChoices)
            return Result::TooComplex;
        uint8_t op = Program[pc];
        int next = RegNext(pc);
        bool ok = true;
        switch (op) {
        case END:
            StartP[0] = start;
            EndP[0] = pos;
            return Result::Match;
        case BOL:
            ok = pos == 0;
            break;
        case EOL:
            ok = pos == TextLen;
            break;
        case ANY:
            ok = pos < TextLen;
            if (ok)
                ++pos;
            break;
        case EXACTLY: {
            char const* lit = reinterpret_cast<char const*>(&Program[pc + kHeader]);
            size_t len = strlen(lit);
            ok = static_cast<size_t>(TextLen - pos) >= len && memcmp(Text + pos, lit, len) == 0;
            if (ok)
                pos += static_cast<int32_t>(len);
            *steps += len / 16;
            break;
        }
        case ANYOF:
        case ANYBUT: {
            char const* set = reinterpret_cast<char const*>(&Program[pc + kHeader]);
            ok = pos < TextLen && (strchr(set, Text[pos]) != nullptr) == (op == ANYOF);
            if (ok)
                ++pos;
            break;
        }
        case BRANCH: {
            // Remember the first later alternative that can start here; one
            // that begins with a literal of another first byte would fail at
            // once and need not be kept.
            int alt = next;
            while (alt >= 0 && Program[alt] == BRANCH && Program[alt + kHeader] == EXACTLY &&
                   (pos >= TextLen || Text[pos] != static_cast<char>(Program[alt + 2 * kHeader])))
                alt = RegNext(alt);
            if (alt >= 0 && Program[alt] == BRANCH)
                Choices.push_back({alt, pos, 0, static_cast<uint32_t>(TrailStack.size())});
            next = pc + kHeader;
            break;
        }
        case BACK:
        case NOTHING:
            break;
        case STAR:
        case PLUS: {
            int32_t count = Repeat(pc + kHeader, pos);
            *steps += static_cast<uint64_t>(count);
            count = viable(pc, pos, count);
            if (count < 0) {
                ok = false;
                break;
            }
            if (count > (op == STAR ? 0 : 1))
                Choices.push_back({pc, pos, count, static_cast<uint32_t>(TrailStack.size())});
            pos += count;
            break;
        }
        default:
            if (op > OPEN && op <= OPEN + MAXGROUPS) {
                if (!setSlot(op - OPEN, pos))
                    return Result::TooComplex;
            } else if (op > CLOSE && op <= CLOSE + MAXGROUPS) {
                if (!setSlot(MAXGROUPS + 1 + (op - CLOSE), pos))
                    return Result::TooComplex;
            } else {
                LOGIT("REGEXP::RegFind bad opcode %d at %d\n", op, pc);
                return Result::NoMatch;
            }
            break;
        }

        if (ok && next >= 0) {
            pc = next;
            continue;
        }

        // Back up to the most recent choice point.
        for (;;) {
            if (Choices.empty())
                return Result::NoMatch;
            Choice& choice = Choices.back();
            undoTo(choice.Trail);
            if (Program[choice.Node] == BRANCH) {
                pc = choice.Node;
                pos = choice.Pos;
                Choices.pop_back();
                break;
            }
            int32_t count = viable(choice.Node, choice.Pos, choice.Count - 1);
            if (count < 0) {
                Choices.pop_back();
                continue;
            }
            pc = RegNext(choice.Node);
            pos = choice.Pos + count;
            if (count > (Program[choice.Node] == STAR ? 0 : 1))
                choice.Count = count;
            else
                Choices.pop_back();
            break;
        }
        if (pc < 0)
            return Result::NoMatch;
    }
}

int REGEXP::RegFind(char const* text)
{
    MatchCopy.clear();
    for (int i = 0; i <= MAXGROUPS; ++i)
        StartP[i] = EndP[i] = -1;
    if (!text) {
        AssertMsg(0, "str!=NULL", kSource, __LINE__, nullptr, false);
        return -1;
    }
    if (!Compiled)
        return -1;
    size_t len = strlen(text);
    if (len >= static_cast<size_t>(INT32_MAX))
        return -1;
    if (!RegMust.empty() && !memmem(text, len, RegMust.data(), RegMust.size()))
        return -1;

    Text = text;
    TextLen = static_cast<int32_t>(len);
    uint64_t steps = 0;
    uint64_t budget = kBaseSteps + kStepsPerByte * len;
    Result rc = Result::NoMatch;
    if (RegAnch) {
        rc = Try(0, &steps, budget);
    } else if (RegStart) {
        for (char const* p = text; (p = static_cast<char const*>(memchr(p, RegStart, len - (p - text)))); ++p) {
            rc = Try(static_cast<int32_t>(p - text), &steps, budget);
            if (rc != Result::NoMatch)
                break;
        }
    } else if (HasFirstSet) {
        for (int32_t at = 0; at < TextLen; ++at) {
            if (!FirstSet[static_cast<uint8_t>(text[at])])
                continue;
            rc = Try(at, &steps, budget);
            if (rc != Result::NoMatch)
                break;
        }
    } else {
        for (int32_t at = 0; at <= TextLen; ++at) {
            rc = Try(at, &steps, budget);
            if (rc != Result::NoMatch)
                break;
        }
    }
    Choices.clear();
    Choices.shrink_to_fit();
    TrailStack.clear();
    TrailStack.shrink_to_fit();
    Text = nullptr;

    if (rc == Result::TooComplex) {
        // The pattern or the text comes from the user; the search gives up
        // rather than running for ever, and is reported as no match.
        for (int i = 0; i <= MAXGROUPS; ++i)
            StartP[i] = EndP[i] = -1;
        AssertMsg(0, "too complex", kSource, __LINE__, Pattern.c_str(), true);
        return -1;
    }
    if (rc != Result::Match)
        return -1;
    MatchCopy.assign(text + StartP[0], static_cast<size_t>(EndP[0] - StartP[0]));
    return StartP[0];
}

std::string REGEXP::GroupText(int n) const
{
    if (n < 0 || n > MAXGROUPS || StartP[0] < 0 || StartP[n] < 0 || EndP[n] < StartP[n])
        return std::string();
    size_t from = static_cast<size_t>(StartP[n] - StartP[0]);
    size_t len = static_cast<size_t>(EndP[n] - StartP[n]);
    if (from + len > MatchCopy.size())
        return std::string();
    return MatchCopy.substr(from, len);
}

char* REGEXP::GetReplaceString(char const* pattern)
{
    if (!pattern || StartP[0] < 0)
        return nullptr;
    std::string out;
    for (char const* src = pattern; *src;) {
        char c = *src++;
        int no = -1;
        if (c == '&')
            no = 0;
        else if (c == '\\' && *src >= '0' && *src <= '9')
            no = *src++ - '0';
        if (no < 0) {
            if (c == '\\' && (*src == '\\' || *src == '&'))
                c = *src++;
            out += c;
        } else {
            out += GroupText(no);
        }
    }
    if (out.empty())
        return nullptr;
    char* rc = static_cast<char*>(malloc(out.size() + 1));
    if (!rc)
        return nullptr;
    memcpy(rc, out.c_str(), out.size() + 1);
    return rc;
}

bool REGEXP::Match(char const* text, char const* pattern)
{
    REGEXP re;
    return re.RegComp(pattern) && re.RegFind(text) >= 0;
}

bool REGEXP::Match(char const* text, char const* pattern, STRINGARRAY& parts)
{
    parts.DeleteAllItems();
    REGEXP re;
    if (!re.RegComp(pattern) || re.RegFind(text) < 0)
        return false;
    for (int i = 0; i <= re.Groups; ++i)
        parts.AppendItem(STRING(re.GroupText(i).c_str(), UNICODE_CPDEFAULT));
    return true;
}
