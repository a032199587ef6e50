// The host directory's texts, sort keys and password filler.
#include "program/hostdir/phonetext.h"

#include "program/hostdir/phonetable.h"

#include "velmot/core/osys.h"

#include <cstring>
#include <cwchar>
#include <tuple>

namespace phonetext {

namespace {
void* const kStrings = const_cast<char*>("HostDirectory");
} // namespace

STRING Text(char const* id)
{
    return OSYS::GetStringFromResource(id, kStrings);
}

WSTRING WideText(char const* id)
{
    return OSYS::GetWideStringFromResource(id, kStrings);
}

SORTKEY SortKeyOf(_PHONEBOOK_300 const* entry)
{
    SORTKEY key;
    if (!entry)
        return key;
    key.Handle = entry->handle;
    key.First = entry->first;
    size_t const n = wcsnlen(entry->name, 65);
    if (n == 0) {
        key.Class = 1;
        return key;
    }
    key.Class = 2;
    key.Exact.assign(entry->name, n);
    key.Folded = PHONEBOOKTABLE::FoldName(entry->name, 65);
    return key;
}

bool SortLess(SORTKEY const& a, SORTKEY const& b)
{
    return std::tie(a.Class, b.First, a.Folded, a.Exact, a.Handle) <
           std::tie(b.Class, a.First, b.Folded, b.Exact, b.Handle);
}

bool SortEqual(SORTKEY const& a, SORTKEY const& b)
{
    return a.Class == 2 && b.Class == 2 && a.First == b.First && a.Folded == b.Folded;
}

char const kPasswordFiller[56] = "q7Lz#Vd2!Rk9$Tp4%Xm6&Hb1*Wn8+Jc3=Fs5?Gy0@Ua-Oe~Ni^Bl;Pr";
static_assert(sizeof kPasswordFiller == 56);

void PadPassword(char* field, size_t size, int slot)
{
    if (!field || size < 3)
        return;
    size_t const end = strnlen(field, size);
    int k = (slot % 55 + 55) % 55;
    for (size_t i = end + 1; i + 2 < size; ++i) {
        field[i] = kPasswordFiller[k];
        k = (k + 1) % 55;
    }
}

} // namespace phonetext
