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
    if (found != ByText.end())
        return CodeBits(found->second);
    ++Made;
    if (ByText.size() >= kCapacity)
        return text[0] < 0x10000 ? uint64_t(text[0]) : 0xFFFD;
    // The next free number from where the last one was taken.
    uint32_t index = Next;
    while (index < Slots.size() && !Slots[index].empty())
        index = (index + 1) % kCapacity;
    if (index >= Slots.size())
        Slots.resize(size_t(index) + 1);
    Slots[index] = key;
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
        if (Slots[i].empty() || (size_t(i >> 6) < live.size() && (live[i >> 6] >> (i & 63) & 1)))
            continue;
        ByText.erase(Slots[i]);
        Slots[i] = std::u32string();
    }
    // The next sweep after half as many new texts as live on: the walk over
    // the screen and the scroll-back is shared by that many.
    Made = 0;
    SweepEvery = std::max(kFirstSweep, ByText.size() / 2);
}

size_t VIOCHARS::Count() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return ByText.size();
}

void VIOCHARS::Clear()
{
    std::lock_guard<std::mutex> guard(Lock);
    Slots.clear();
    ByText.clear();
    Next = 0;
    Made = 0;
    SweepEvery = kFirstSweep;
}
