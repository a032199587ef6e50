// The table of characters beyond a cell's code unit (see viochars.h).
#include "program/screen/viochars.h"

#include <algorithm>

namespace {
constexpr size_t kFirstSweep = 4096;
} // namespace

uint64_t VIOCHARS::Intern(std::u32string_view text)
{
    if (text.empty())
        return 32;
    if (text.size() == 1 && text[0] < 0x10000 && !(text[0] >= 0xD800 && text[0] <= 0xDFFF))
        return text[0];
    text = text.substr(0, kMaxLength);
    std::lock_guard<std::mutex> guard(Lock);
    std::u32string key(text);
    auto found = ByText.find(key);
    if (found != ByText.end()) {
        uint32_t const index = found->second;
        if (Free[index]) {
            // Swept but not yet taken again: in use once more.
            Free[index] = false;
            ++Live;
        }
        return CodeBits(index);
    }
    ++Made;
    if (Live >= kCapacity)
        return text[0] < 0x10000 ? uint64_t(text[0]) : 0xFFFD;
    // The next free number from where the last one was taken; a swept
    // entry's text goes only now.
    uint32_t index = Next;
    while (index < Slots.size() && !Free[index])
        index = (index + 1) % kCapacity;
    if (index >= Slots.size()) {
        Slots.resize(size_t(index) + 1);
        Free.resize(size_t(index) + 1, true);
    }
    if (!Slots[index].empty())
        ByText.erase(Slots[index]);
    Slots[index] = key;
    Free[index] = false;
    ++Live;
    ByText.emplace(std::move(key), index);
    Next = (index + 1) % kCapacity;
    return CodeBits(index);
}

void VIOCHARS::AppendText(VIOCELL cell, std::u32string& out) const
{
    std::lock_guard<std::mutex> guard(Lock);
    uint32_t const index = IndexOf(cell);
    if (IsExtended(cell) && index < Slots.size() && !Slots[index].empty())
        out += Slots[index];
    else
        out += U'\xFFFD';
}

char32_t VIOCHARS::Base(VIOCELL cell) const
{
    std::lock_guard<std::mutex> guard(Lock);
    uint32_t const index = IndexOf(cell);
    if (IsExtended(cell) && index < Slots.size() && !Slots[index].empty())
        return Slots[index][0];
    return U'\xFFFD';
}

bool VIOCHARS::SweepDue() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return Made >= SweepEvery;
}

void VIOCHARS::Sweep(std::vector<uint64_t> const& live)
{
    std::lock_guard<std::mutex> guard(Lock);
    for (uint32_t i = 0; i < Slots.size(); ++i) {
        if (Free[i] || (size_t(i >> 6) < live.size() && (live[i >> 6] >> (i & 63) & 1)))
            continue;
        Free[i] = true;
        --Live;
    }
    // The next sweep after half as many new texts as live on: the walk over
    // the screen and the scroll-back is shared by that many.
    Made = 0;
    SweepEvery = std::max(kFirstSweep, Live / 2);
}

size_t VIOCHARS::Count() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return Live;
}

void VIOCHARS::Clear()
{
    std::lock_guard<std::mutex> guard(Lock);
    Slots.clear();
    Free.clear();
    ByText.clear();
    Live = 0;
    Next = 0;
    Made = 0;
    SweepEvery = kFirstSweep;
}
