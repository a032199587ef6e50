// Regular expressions: the node-program compiler and the matcher that runs
// every way through the program in step (a Pike machine).
//
// Program layout: a node is an opcode byte, a signed 16-bit offset to the
// next node (high byte first; 0 = none, negative for the loop-back node) and
// for some opcodes an operand (a zero-terminated literal or set). The first
// node is the branch of the top-level alternation.
#include "velmot/core/regexp.h"

#include "velmot/core/logit.h"
#include "velmot/core/stringarray.h"

#include <algorithm>
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

// Machine instructions.
enum : uint8_t {
    M_MATCH,  // success
    M_FAIL,   // no way on
    M_CHAR,   // the byte Arg
    M_ANY,    // any byte
    M_SET,    // a byte of Sets[Set]
    M_JMP,    // go on at X
    M_SPLIT,  // go on at X, and with lower priority at Y
    M_SAVE,   // record the position in capture slot Arg
    M_BOL,    // only at the start of the text
    M_EOL,    // only at the end of the text
};

// A stack entry of AddThread that restores a capture slot: the slot and its
// old value follow the marker.
constexpr int32_t kRestore = -1;

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
    RegPrefix.clear();
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
        if (Program[scan] == EXACTLY) {
            RegStart = Program[scan + kHeader];
            RegPrefix = reinterpret_cast<char const*>(&Program[scan + kHeader]);
        }
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
    BuildMachine();
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
//
// The node program is laid out as machine instructions once per compile:
// every node of the main chains gets a short block, and the operand of a
// star or plus is folded into the loop around it. The machine keeps one
// thread per instruction and text position, ordered by priority (earlier
// starts first, then the order a backtracking matcher would try them in);
// each thread carries its capture positions. Two threads that reach the same
// instruction at the same position can only end alike, so the one of lower
// priority is dropped: a search does at most (text length + 1) x (program
// size) steps, and the first thread to reach the end in priority order is
// the match a backtracking matcher finds.

struct REGEXP::THREADS {
    std::vector<int32_t> Pcs;   // threads in priority order
    std::vector<int32_t> Caps;  // Pcs.size() x slots capture positions
    std::vector<uint32_t> Seen; // per instruction: the generation that has it
    uint32_t Generation = 0;
};

// Emits the block of `node` and returns its first instruction. Jumps to other
// nodes are left in `pending` as (instruction index * 2 + 0 for X or 1 for Y,
// target node).
int REGEXP::EmitNode(int node, std::vector<std::pair<int, int>>& pending)
{
    auto emit = [this](uint8_t op, uint8_t arg = 0) {
        Machine.push_back({op, arg, 0, -1, -1});
        return static_cast<int>(Machine.size() - 1);
    };
    auto jumpX = [&](int at, int target) { pending.emplace_back(at * 2, target); };
    auto jumpY = [&](int at, int target) { pending.emplace_back(at * 2 + 1, target); };
    // One instruction that takes one byte as the simple node `operand` does.
    auto single = [&](int operand) {
        uint8_t op = Program[operand];
        uint8_t const* arg = &Program[operand + kHeader];
        if (op == ANY)
            return emit(M_ANY);
        if (op == EXACTLY)
            return emit(M_CHAR, arg[0]);
        std::array<bool, 256> set{};
        for (uint8_t const* c = arg; *c; ++c)
            set[*c] = true;
        if (op == ANYBUT) {
            for (bool& b : set)
                b = !b;
            set[0] = false; // the end of the text is no character
        }
        Sets.push_back(set);
        int at = emit(M_SET);
        Machine[at].Set = static_cast<uint16_t>(Sets.size() - 1);
        return at;
    };

    int next = RegNext(node);
    uint8_t op = Program[node];
    switch (op) {
    case END:
        return emit(M_MATCH);
    case BOL:
    case EOL: {
        int at = emit(op == BOL ? M_BOL : M_EOL);
        jumpX(at, next);
        return at;
    }
    case ANY:
    case ANYOF:
    case ANYBUT: {
        int at = single(node);
        jumpX(at, next);
        return at;
    }
    case EXACTLY: {
        int first = -1;
        for (uint8_t const* c = &Program[node + kHeader]; *c; ++c) {
            int at = emit(M_CHAR, *c);
            if (first < 0)
                first = at;
            else
                Machine[at - 1].X = at;
        }
        if (first < 0)
            first = emit(M_JMP); // cannot happen: literals are never empty
        jumpX(static_cast<int>(Machine.size() - 1), next);
        return first;
    }
    case BRANCH: {
        // Alternatives in order: each branch node offers its operand first
        // and the next branch node after it; the last one has no choice.
        bool choice = next >= 0 && Program[next] == BRANCH;
        int at = emit(choice ? M_SPLIT : M_JMP);
        jumpX(at, node + kHeader);
        if (choice)
            jumpY(at, next);
        return at;
    }
    case BACK:
    case NOTHING: {
        int at = emit(M_JMP);
        jumpX(at, next);
        return at;
    }
    case STAR: {
        int loop = emit(M_SPLIT);
        int body = single(node + kHeader);
        Machine[loop].X = body;
        Machine[body].X = loop;
        jumpY(loop, next);
        return loop;
    }
    case PLUS: {
        int body = single(node + kHeader);
        int loop = emit(M_SPLIT);
        Machine[body].X = loop;
        Machine[loop].X = body;
        jumpY(loop, next);
        return body;
    }
    default:
        if (op > OPEN && op <= OPEN + MAXGROUPS) {
            int at = emit(M_SAVE, static_cast<uint8_t>(2 * (op - OPEN)));
            jumpX(at, next);
            return at;
        }
        if (op > CLOSE && op <= CLOSE + MAXGROUPS) {
            int at = emit(M_SAVE, static_cast<uint8_t>(2 * (op - CLOSE) + 1));
            jumpX(at, next);
            return at;
        }
        return emit(M_FAIL);
    }
}

void REGEXP::BuildMachine()
{
    Machine.clear();
    Sets.clear();
    // Blocks for every node reachable along the chains and into branch
    // operands; the operands of star and plus live inside their loops.
    std::vector<int> label(Program.size(), -1);
    std::vector<std::pair<int, int>> pending;
    std::vector<int> work{0};
    while (!work.empty()) {
        int node = work.back();
        work.pop_back();
        if (node < 0 || label[static_cast<size_t>(node)] >= 0)
            continue;
        label[static_cast<size_t>(node)] = EmitNode(node, pending);
        work.push_back(RegNext(node));
        if (Program[node] == BRANCH)
            work.push_back(node + kHeader);
    }
    int fail = -1;
    for (auto [slot, node] : pending) {
        int target = node >= 0 ? label[static_cast<size_t>(node)] : -1;
        if (target < 0) {
            // A chain that ends without END cannot match (not made by the
            // compiler, but never followed off the program).
            if (fail < 0) {
                Machine.push_back({M_FAIL, 0, 0, -1, -1});
                fail = static_cast<int>(Machine.size() - 1);
            }
            target = fail;
        }
        INST& inst = Machine[static_cast<size_t>(slot / 2)];
        (slot % 2 ? inst.Y : inst.X) = target;
    }
    // Node 0 is emitted first, so the machine starts at instruction 0.
}

// Adds the thread at pc (with the capture positions caps) to the list,
// following jumps, splits, captures and anchors at text position pos, in
// priority order. Instructions already on the list are not added again.
void REGEXP::AddThread(THREADS& list, int32_t pc, int32_t* caps, int32_t pos)
{
    size_t const slots = 2 * static_cast<size_t>(Groups + 1);
    Stack.clear();
    Stack.push_back(pc);
    while (!Stack.empty()) {
        int32_t top = Stack.back();
        Stack.pop_back();
        if (top == kRestore) {
            int32_t old = Stack.back();
            Stack.pop_back();
            int32_t slot = Stack.back();
            Stack.pop_back();
            caps[slot] = old;
            continue;
        }
        if (top < 0 || list.Seen[static_cast<size_t>(top)] == list.Generation)
            continue;
        list.Seen[static_cast<size_t>(top)] = list.Generation;
        INST const& inst = Machine[static_cast<size_t>(top)];
        switch (inst.Op) {
        case M_JMP:
            Stack.push_back(inst.X);
            break;
        case M_SPLIT:
            Stack.push_back(inst.Y);
            Stack.push_back(inst.X);
            break;
        case M_SAVE:
            // Restored once everything reached through it has been added.
            Stack.push_back(inst.Arg);
            Stack.push_back(caps[inst.Arg]);
            Stack.push_back(kRestore);
            caps[inst.Arg] = pos;
            Stack.push_back(inst.X);
            break;
        case M_BOL:
            if (pos == 0)
                Stack.push_back(inst.X);
            break;
        case M_EOL:
            if (pos == TextLen)
                Stack.push_back(inst.X);
            break;
        case M_FAIL:
            break;
        default: // a thread that takes a byte, or a match
            list.Pcs.push_back(top);
            list.Caps.insert(list.Caps.end(), caps, caps + slots);
            break;
        }
    }
}

// Runs the machine over the text; on a match fills StartP and EndP.
bool REGEXP::Search(size_t len)
{
    size_t const slots = 2 * static_cast<size_t>(Groups + 1);
    THREADS lists[2];
    for (THREADS& l : lists) {
        l.Seen.assign(Machine.size(), 0);
        l.Pcs.reserve(Machine.size());
    }
    std::vector<int32_t> fresh(slots, -1);
    std::vector<int32_t> caps(slots);
    std::vector<int32_t> best;
    auto const* bytes = reinterpret_cast<unsigned char const*>(Text);

    // The next position where a match may start, from `at` on; -1 when none.
    auto nextStart = [&](int32_t at) -> int32_t {
        if (RegAnch)
            return at == 0 ? 0 : -1;
        if (!RegPrefix.empty()) {
            auto const* p = static_cast<unsigned char const*>(
                memmem(bytes + at, len - static_cast<size_t>(at), RegPrefix.data(), RegPrefix.size()));
            return p ? static_cast<int32_t>(p - bytes) : -1;
        }
        if (HasFirstSet) {
            while (at < TextLen && !FirstSet[bytes[at]])
                ++at;
            return at < TextLen ? at : -1;
        }
        return at;
    };

    // Whether a match may start at `at` (the hints only ever rule out
    // positions where the first instruction would fail at once).
    auto mayStart = [&](int32_t at) {
        if (RegAnch)
            return at == 0;
        if (!RegPrefix.empty())
            return len - static_cast<size_t>(at) >= RegPrefix.size() &&
                   memcmp(bytes + at, RegPrefix.data(), RegPrefix.size()) == 0;
        if (HasFirstSet)
            return at < TextLen && FirstSet[bytes[at]];
        return true;
    };

    THREADS* cur = &lists[0];
    THREADS* nxt = &lists[1];
    uint32_t generation = 0;
    cur->Generation = ++generation;
    int32_t pos = nextStart(0);
    if (pos < 0)
        return false;
    for (;;) {
        if (best.empty() && mayStart(pos)) {
            // A new start has the lowest priority of all.
            caps = fresh;
            caps[0] = pos;
            AddThread(*cur, 0, caps.data(), pos);
        }
        if (cur->Pcs.empty()) {
            if (!best.empty() || pos >= TextLen)
                break;
            // Nothing alive: go on at the next possible start.
            pos = nextStart(pos + 1);
            if (pos < 0)
                break;
            cur->Generation = ++generation;
            continue;
        }
        nxt->Pcs.clear();
        nxt->Caps.clear();
        nxt->Generation = ++generation;
        unsigned char const c = pos < TextLen ? bytes[pos] : 0;
        for (size_t t = 0; t < cur->Pcs.size(); ++t) {
            INST const& inst = Machine[static_cast<size_t>(cur->Pcs[t])];
            int32_t* tcaps = &cur->Caps[t * slots];
            if (inst.Op == M_MATCH) {
                // Threads of lower priority can only lose to this match;
                // those of higher priority go on and may still win.
                best.assign(tcaps, tcaps + slots);
                best[1] = pos;
                break;
            }
            bool takes = pos < TextLen && (inst.Op == M_ANY || (inst.Op == M_CHAR && c == inst.Arg) ||
                                           (inst.Op == M_SET && Sets[inst.Set][c]));
            if (takes) {
                std::copy(tcaps, tcaps + slots, caps.begin());
                AddThread(*nxt, inst.X, caps.data(), pos + 1);
            }
        }
        cur->Pcs.clear();
        cur->Caps.clear();
        std::swap(cur, nxt);
        if (pos >= TextLen)
            break;
        ++pos;
    }
    if (best.empty())
        return false;
    for (int i = 0; i <= MAXGROUPS; ++i) {
        bool used = i <= Groups && best[2 * static_cast<size_t>(i)] >= 0 && best[2 * static_cast<size_t>(i) + 1] >= 0;
        StartP[i] = used ? best[2 * static_cast<size_t>(i)] : -1;
        EndP[i] = used ? best[2 * static_cast<size_t>(i) + 1] : -1;
    }
    return true;
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
    if (len >= MAXTEXT) {
        LOGIT("REGEXP::RegFind text of %zu bytes is too long to search\n", len);
        return TOOLONG;
    }
    if (!RegMust.empty() && !memmem(text, len, RegMust.data(), RegMust.size()))
        return -1;

    Text = text;
    TextLen = static_cast<int32_t>(len);
    bool found = Search(len);
    Text = nullptr;
    Stack.clear();
    Stack.shrink_to_fit();
    if (!found)
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
