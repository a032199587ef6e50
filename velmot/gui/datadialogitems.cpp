#include "velmot/gui/datadialogitems.h"

#include "velmot/core/logit.h"
#include "velmot/gui/listbox.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

// A field shows a value's "\r\n" as "\r".
STRING ToField(STRING const& value)
{
    STRING shown(value.Buf());
    shown.Replace("\r\n", "\r");
    return shown;
}

WSTRING ToField(WSTRING const& value)
{
    WSTRING shown(value.Buf());
    shown.Replace(L"\r\n", L"\r");
    return shown;
}

// A field's line ends become "\r\n". A multi-line field of the platform
// hands its lines back with "\n", a single-line one keeps what it was
// given; both come back as the value had them.
template <typename CHAR, typename OUT>
void AppendWithLineEnds(CHAR const* text, OUT& out)
{
    for (CHAR const* p = text; *p; ++p) {
        if (*p == CHAR('\r')) {
            out.Append(CHAR('\r'));
            out.Append(CHAR('\n'));
            if (p[1] == CHAR('\n'))
                ++p;
        } else if (*p == CHAR('\n')) {
            out.Append(CHAR('\r'));
            out.Append(CHAR('\n'));
        } else {
            out.Append(*p);
        }
    }
}

STRING FromField(STRING const& text)
{
    STRING value("");
    AppendWithLineEnds(text.Buf(), value);
    return value;
}

WSTRING FromField(WSTRING const& text)
{
    WSTRING value(L"");
    AppendWithLineEnds(text.Buf(), value);
    return value;
}

// Text of a narrow buffer of `size` bytes that may lack its terminator.
STRING BufferText(char const* buffer, int size)
{
    if (!buffer || size <= 0)
        return STRING("");
    STRING text("");
    text.Append(buffer, static_cast<int32_t>(strnlen(buffer, static_cast<size_t>(size))));
    return text;
}

WSTRING BufferText(wchar_t const* buffer, int count)
{
    if (!buffer || count <= 0)
        return WSTRING(L"");
    return WSTRING(buffer, static_cast<int32_t>(wcsnlen(buffer, static_cast<size_t>(count))));
}

// Clears the buffer and copies at most size - 1 bytes (characters) and a
// terminator.
void StoreText(char* buffer, int size, STRING const& text)
{
    if (!buffer || size <= 0)
        return;
    std::memset(buffer, 0, static_cast<size_t>(size));
    size_t const n = std::min(static_cast<size_t>(text.StrLen), static_cast<size_t>(size - 1));
    std::memcpy(buffer, text.Buf(), n);
}

void StoreText(wchar_t* buffer, int count, WSTRING const& text)
{
    if (!buffer || count <= 0)
        return;
    std::wmemset(buffer, 0, static_cast<size_t>(count));
    size_t const n = std::min(static_cast<size_t>(text.Length()), static_cast<size_t>(count - 1));
    std::wmemcpy(buffer, text.Buf(), n);
}

// Choices given as a null-terminated array or one text split at "|".
void CopyChoices(STRINGARRAY& into, char const* const* list)
{
    for (; list && *list; ++list)
        into.AppendItem(STRING(*list, UNICODE_CPDEFAULT));
}

void CopyChoices(STRINGARRAY& into, char const* text)
{
    STRING const all(text ? text : "", UNICODE_CPDEFAULT);
    int const n = all.NumTokens("|");
    for (int i = 0; i < n; ++i)
        into.AppendItem(all.Token(i, "|", STRING::TOKEN_EMPTYNOTUNSET));
}

void CopyChoices(WSTRINGARRAY& into, wchar_t const* const* list)
{
    for (; list && *list; ++list)
        into.AppendItem(WSTRING(*list));
}

void CopyChoices(WSTRINGARRAY& into, wchar_t const* text)
{
    WSTRING item(L"");
    for (wchar_t const* p = text ? text : L""; ; ++p) {
        if (*p == L'|' || *p == 0) {
            into.AppendItem(item);
            item = L"";
            if (*p == 0)
                break;
        } else {
            item.Append(*p);
        }
    }
    if (text && !*text)
        into.DeleteAllItems();
}

// Reports a failed check with the text it is known by and the control's id.
#define DDREPORT(text, info) AssertMsg(0, text, __FILE__, __LINE__, (info), false)

STRING Decimal(int n)
{
    return STRING(n);
}

STRING Unsigned(int n)
{
    return STRING(static_cast<unsigned int>(n));
}

} // namespace

// ---------------------------------------------------------------------------
// DATADIALOGITEM

DATADIALOGITEM::DATADIALOGITEM(CONTROLID id, STRING& value) : IdCtrl(id), pValue(&value) {}

DATADIALOGITEM::DATADIALOGITEM(CONTROLID id, WSTRING& value) : IdCtrl(id), pWideValue(&value) {}

DATADIALOGITEM::DATADIALOGITEM(CONTROLID id, void* variable, int size)
    : IdCtrl(id), pValue(&InternalValue), pWideValue(&InternalWideValue), pData(variable), pDataLength(size)
{
}

DATADIALOGITEM::~DATADIALOGITEM() = default;

int DATADIALOGITEM::ValueNumber() const
{
    return pValue ? std::atoi(pValue->Buf()) : 0;
}

void DATADIALOGITEM::StoreNumber(int n) const
{
    if (!pData)
        return;
    switch (pDataLength) {
    case 4: {
        int32_t const v = n;
        std::memcpy(pData, &v, sizeof v);
        break;
    }
    case 8: {
        uint64_t const v = static_cast<uint32_t>(n);
        std::memcpy(pData, &v, sizeof v);
        break;
    }
    case 1:
        *static_cast<signed char*>(pData) = static_cast<signed char>(n);
        break;
    default:
        break;
    }
}

bool DATADIALOGITEM::CheckNumberSize() const
{
    if (!pData || pDataLength == 4 || pDataLength == 8)
        return true;
    DDREPORT("this->pDataLength==4", IdCtrl.AsString().Buf());
    return false;
}

// ---------------------------------------------------------------------------
// PUSHDATADIALOGITEM

PUSHDATADIALOGITEM::PUSHDATADIALOGITEM(CONTROLID id, STRING& value, DATADIALOGPUSHFUNCTION function,
                                       void* context, CONTROLID linked)
    : DATADIALOGITEM(id, value), PushFunction(function), Context(context), Linked(linked)
{
}

PUSHDATADIALOGITEM::~PUSHDATADIALOGITEM()
{
    Magic = 0;
}

void PUSHDATADIALOGITEM::DataToDialog(CONTROLPARENT parent)
{
    Parent = parent;
    Working = pValue ? *pValue : STRING("");
}

void PUSHDATADIALOGITEM::DialogToData(CONTROLPARENT)
{
    if (pValue)
        *pValue = Working;
}

void PUSHDATADIALOGITEM::PushEvent()
{
    if (Magic != MAGIC) {
        DDREPORT("this->Magic==0x50555348", IdCtrl.AsString().Buf());
        return;
    }
    if (PushFunction)
        PushFunction(Context, Linked, Parent, &Working);
}

// ---------------------------------------------------------------------------
// ENTRYDATADIALOGITEM

ENTRYDATADIALOGITEM::ENTRYDATADIALOGITEM(CONTROLID id, STRING& value, int maxLength)
    : DATADIALOGITEM(id, value), MaxLength(maxLength)
{
}

ENTRYDATADIALOGITEM::ENTRYDATADIALOGITEM(CONTROLID id, WSTRING& value, int maxLength)
    : DATADIALOGITEM(id, value), MaxLength(maxLength), Wide(true)
{
}

// The field takes no more than the buffer keeps: size - 1 characters and
// the terminator.
ENTRYDATADIALOGITEM::ENTRYDATADIALOGITEM(CONTROLID id, char* buffer, int size)
    : DATADIALOGITEM(id, buffer, size), MaxLength(size > 1 ? size - 1 : 1)
{
    InternalValue = BufferText(buffer, size);
}

ENTRYDATADIALOGITEM::ENTRYDATADIALOGITEM(CONTROLID id, wchar_t* buffer, int size)
    : DATADIALOGITEM(id, buffer, size), MaxLength(size > 1 ? size - 1 : 1), Wide(true)
{
    InternalWideValue = BufferText(buffer, size);
}

ENTRYDATADIALOGITEM::~ENTRYDATADIALOGITEM() = default;

void ENTRYDATADIALOGITEM::DataToDialog(CONTROLPARENT parent)
{
    pEntry = std::make_unique<ENTRYFIELD>(parent, IdCtrl);
    if (!pEntry->IsValid()) {
        DDREPORT("this->pEntry->IsValid()", IdCtrl.AsString().Buf());
        return;
    }
    pEntry->SetTextLength(MaxLength);
    if (Wide)
        pEntry->SetTextWide(ToField(*pWideValue).Buf());
    else
        pEntry->SetText(ToField(*pValue).Buf());
    pEntry->SimulateHit(0);
    pEntry->SetSelection(0, -1);
}

void ENTRYDATADIALOGITEM::DialogToData(CONTROLPARENT parent)
{
    if (!pEntry || !pEntry->IsValid())
        pEntry = std::make_unique<ENTRYFIELD>(parent, IdCtrl);
    if (!pEntry->IsValid()) {
        DDREPORT("this->pEntry->IsValid()", IdCtrl.AsString().Buf());
        return;
    }
    if (Wide) {
        *pWideValue = FromField(pEntry->GetTextWide());
        if (pData)
            StoreText(static_cast<wchar_t*>(pData), pDataLength, *pWideValue);
    } else {
        *pValue = FromField(pEntry->GetText());
        if (pData)
            StoreText(static_cast<char*>(pData), pDataLength, *pValue);
    }
}

// ---------------------------------------------------------------------------
// CHECKDATADIALOGITEM

CHECKDATADIALOGITEM::CHECKDATADIALOGITEM(CONTROLID id, STRING& value, int bit) : DATADIALOGITEM(id, value), Bit(bit)
{
}

CHECKDATADIALOGITEM::CHECKDATADIALOGITEM(CONTROLID id, signed char* variable)
    : DATADIALOGITEM(id, variable, 1), Bit(-1)
{
    InternalValue = Decimal(variable ? *variable : 0);
}

CHECKDATADIALOGITEM::CHECKDATADIALOGITEM(CONTROLID id, int* variable, int bit)
    : DATADIALOGITEM(id, variable, sizeof *variable), Bit(bit)
{
    InternalValue = Decimal(variable ? *variable : 0);
}

CHECKDATADIALOGITEM::CHECKDATADIALOGITEM(CONTROLID id, unsigned long* variable, int bit)
    : DATADIALOGITEM(id, variable, sizeof *variable), Bit(bit)
{
    InternalValue = Unsigned(variable ? static_cast<int>(static_cast<uint32_t>(*variable)) : 0);
}

CHECKDATADIALOGITEM::~CHECKDATADIALOGITEM() = default;

void CHECKDATADIALOGITEM::DataToDialog(CONTROLPARENT parent)
{
    pCheck = std::make_unique<CHECKBOX>(parent, IdCtrl);
    if (!pCheck->IsValid()) {
        DDREPORT("this->pCheck->IsValid()", IdCtrl.AsString().Buf());
        return;
    }
    auto const n = static_cast<uint32_t>(ValueNumber());
    if (Bit < 0)
        pCheck->SetControlValue(static_cast<signed char>(n & 0xFF));
    else
        pCheck->SetControlValue(Bit < 32 && (n >> Bit) & 1 ? 1 : 0);
}

void CHECKDATADIALOGITEM::DialogToData(CONTROLPARENT parent)
{
    if (!pCheck || !pCheck->IsValid())
        pCheck = std::make_unique<CHECKBOX>(parent, IdCtrl);
    if (!pCheck->IsValid()) {
        DDREPORT("this->pCheck->IsValid()", IdCtrl.AsString().Buf());
        return;
    }
    auto const s = static_cast<signed char>(pCheck->GetControlValue());
    auto n = static_cast<uint32_t>(ValueNumber());
    if (Bit < 0)
        n = static_cast<uint32_t>(static_cast<int>(s));
    else if (Bit < 32 && s != 0)
        n |= 1u << Bit;
    else if (Bit < 32)
        n &= ~(1u << Bit);
    *pValue = Unsigned(static_cast<int>(n));
    StoreNumber(static_cast<int>(n));
}

// ---------------------------------------------------------------------------
// RADIODATADIALOGITEM

RADIODATADIALOGITEM::RADIODATADIALOGITEM(CONTROLID id, STRING& value, int constant)
    : DATADIALOGITEM(id, value), Constant(constant)
{
}

RADIODATADIALOGITEM::RADIODATADIALOGITEM(CONTROLID id, int* variable, int constant)
    : DATADIALOGITEM(id, variable, sizeof *variable), Constant(constant)
{
    InternalValue = Decimal(variable ? *variable : 0);
}

RADIODATADIALOGITEM::RADIODATADIALOGITEM(CONTROLID id, unsigned long* variable, int constant)
    : DATADIALOGITEM(id, variable, sizeof *variable), Constant(constant)
{
    InternalValue = Unsigned(variable ? static_cast<int>(static_cast<uint32_t>(*variable)) : 0);
}

RADIODATADIALOGITEM::~RADIODATADIALOGITEM() = default;

void RADIODATADIALOGITEM::DataToDialog(CONTROLPARENT parent)
{
    CheckNumberSize();
    pRadio = std::make_unique<RADIOBUTTON>(parent, IdCtrl);
    if (!pRadio->IsValid()) {
        DDREPORT("this->pRadio->IsValid()", IdCtrl.AsString().Buf());
        return;
    }
    pRadio->SetControlValue(ValueNumber() == Constant ? 1 : 0);
}

void RADIODATADIALOGITEM::DialogToData(CONTROLPARENT parent)
{
    if (!pRadio || !pRadio->IsValid())
        pRadio = std::make_unique<RADIOBUTTON>(parent, IdCtrl);
    if (!pRadio->IsValid()) {
        DDREPORT("this->pRadio->IsValid()", IdCtrl.AsString().Buf());
        return;
    }
    if ((pRadio->GetControlValue() & 0xFF) == 0)
        return;
    *pValue = Decimal(Constant);
    if (CheckNumberSize())
        StoreNumber(Constant);
}

// ---------------------------------------------------------------------------
// SPINDATADIALOGITEM

SPINDATADIALOGITEM::SPINDATADIALOGITEM(CONTROLID id, STRING& value, int minimum, int maximum)
    : DATADIALOGITEM(id, value), Minimum(minimum), Maximum(maximum)
{
}

SPINDATADIALOGITEM::SPINDATADIALOGITEM(CONTROLID id, int* variable, int minimum, int maximum)
    : DATADIALOGITEM(id, variable, sizeof *variable), Minimum(minimum), Maximum(maximum)
{
    InternalValue = Decimal(variable ? *variable : 0);
}

SPINDATADIALOGITEM::~SPINDATADIALOGITEM()
{
    // The arrows go before the field they lean on.
    pSpin.reset();
}

CONTROLID SPINDATADIALOGITEM::GetIdSpin(CONTROLID field)
{
    return CONTROLID{plat::FourCC("SPIN"), field.id};
}

int SPINDATADIALOGITEM::Clamped(int n) const
{
    return std::clamp(n, std::min(Minimum, Maximum), std::max(Minimum, Maximum));
}

void SPINDATADIALOGITEM::DataToDialog(CONTROLPARENT parent)
{
    CheckNumberSize();
    pEntry = std::make_unique<ENTRYFIELD>(parent, IdCtrl);
    if (!pEntry->IsValid()) {
        DDREPORT("pEntry->IsValid()", IdCtrl.AsString().Buf());
        return;
    }
    if (!pSpin) {
        CONTROLID const idspin = GetIdSpin(IdCtrl);
        // A control already there under the arrows' id would be found in
        // their place: the field then works without arrows.
        if (CONTROL(parent, idspin).IsValid())
            DDREPORT("!CONTROL(parent, idspin).IsValid()", IdCtrl.AsString().Buf());
        else
            pSpin = std::make_unique<SPINBUTTON>(parent, idspin, IdCtrl);
    }
    // The field's rules hold while a wrapper that set them lives: set again
    // on the fresh one.
    if (Minimum >= 0 && Maximum >= 0)
        pEntry->SetNumbersOnly(true);
    if (pSpin && pSpin->IsValid()) {
        pSpin->SetMinMax(Minimum, Maximum);
        pSpin->SetValue(ValueNumber());
    } else {
        pEntry->SetText(Decimal(Clamped(ValueNumber())).Buf());
    }
}

void SPINDATADIALOGITEM::DialogToData(CONTROLPARENT parent)
{
    if (!pEntry || !pEntry->IsValid())
        pEntry = std::make_unique<ENTRYFIELD>(parent, IdCtrl);
    if (!pEntry->IsValid()) {
        DDREPORT("pEntry->IsValid()", IdCtrl.AsString().Buf());
        return;
    }
    int const n = pSpin && pSpin->IsValid() ? pSpin->GetValue() : Clamped(std::atoi(pEntry->GetText().Buf()));
    *pValue = Decimal(n);
    if (CheckNumberSize())
        StoreNumber(n);
}

// ---------------------------------------------------------------------------
// LISTBASEDATADIALOGITEM

LISTBASEDATADIALOGITEM::~LISTBASEDATADIALOGITEM() = default;

bool LISTBASEDATADIALOGITEM::MakeListbox(CONTROLPARENT parent)
{
    CONTROL const control(parent, IdCtrl);
    // The list box made in a placard's place stays bound: it owns the list.
    if (fMadeList && pList && pList->IsValid() && control.GetControlRef() == pList->GetControlRef())
        return true;
    pList.reset();
    fMadeList = false;
    FOURCHARCODE const kind = control.IsValid() ? control.GetKind() : 0;
    if (kind == CONTROLKIND_POPUP || kind == CONTROLKIND_POPUPGROUP) {
        pList = std::make_unique<POPUPBOX>(parent, IdCtrl);
    } else if (kind == CONTROLKIND_COMBOBOX) {
        pList = std::make_unique<COMBOBOX>(parent, IdCtrl);
    } else if (kind == CONTROLKIND_DATABROWSER) {
        pList = std::make_unique<LISTBOX>(parent, IdCtrl);
    } else if (kind == CONTROLKIND_PLACARD) {
        RECT const r = control.GetRect();
        CONTROL(control.GetControlRef()).Destroy();
        pList = std::make_unique<LISTBOX>(parent, IdCtrl, PlacardListStyle(), r.left, r.top, r.right - r.left,
                                          r.bottom - r.top);
        fMadeList = true;
    }
    if (!pList || !pList->IsValid()) {
        DDREPORT("this->pList->IsValid()", IdCtrl.AsString().Buf());
        pList.reset();
        fMadeList = false;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// LISTDATADIALOGITEM

LISTDATADIALOGITEM::LISTDATADIALOGITEM(CONTROLID id, STRING& value) : LISTBASEDATADIALOGITEM(id, value), OwnChoices(8)
{
}

LISTDATADIALOGITEM::LISTDATADIALOGITEM(CONTROLID id, STRING& value, STRINGARRAY const& choices)
    : LISTBASEDATADIALOGITEM(id, value), OwnChoices(8), pChoices(&choices)
{
}

LISTDATADIALOGITEM::LISTDATADIALOGITEM(CONTROLID id, int* variable, char const* choices)
    : LISTBASEDATADIALOGITEM(id, variable, sizeof *variable), OwnChoices(8), pChoices(&OwnChoices)
{
    InternalValue = Decimal(variable ? *variable : 0);
    CopyChoices(OwnChoices, choices);
}

LISTDATADIALOGITEM::LISTDATADIALOGITEM(CONTROLID id, int* variable, char const* const* choices)
    : LISTBASEDATADIALOGITEM(id, variable, sizeof *variable), OwnChoices(8), pChoices(&OwnChoices)
{
    InternalValue = Decimal(variable ? *variable : 0);
    CopyChoices(OwnChoices, choices);
}

LISTDATADIALOGITEM::~LISTDATADIALOGITEM() = default;

void LISTDATADIALOGITEM::DataToDialog(CONTROLPARENT parent)
{
    CheckNumberSize();
    if (!MakeListbox(parent))
        return;
    if (pChoices) {
        pList->DeleteAllItems();
        for (int i = 0; i < pChoices->NumItems(); ++i)
            pList->AddItem((*pChoices)[i]->Buf());
    }
    pList->SelectItem(ValueNumber(), 1);
}

void LISTDATADIALOGITEM::DialogToData(CONTROLPARENT parent)
{
    if (!pList && !MakeListbox(parent))
        return;
    int const i = pList->GetSelectedItem(0);
    *pValue = Decimal(i);
    if (CheckNumberSize())
        StoreNumber(i);
}

// ---------------------------------------------------------------------------
// LISTSTRINGDATADIALOGITEM

LISTSTRINGDATADIALOGITEM::LISTSTRINGDATADIALOGITEM(CONTROLID id, STRING& value)
    : LISTBASEDATADIALOGITEM(id, value), OwnChoices(8)
{
}

LISTSTRINGDATADIALOGITEM::LISTSTRINGDATADIALOGITEM(CONTROLID id, STRING& value, STRINGARRAY const& choices)
    : LISTBASEDATADIALOGITEM(id, value), OwnChoices(8), pChoices(&choices)
{
}

LISTSTRINGDATADIALOGITEM::LISTSTRINGDATADIALOGITEM(CONTROLID id, char* buffer, int size, char const* const* choices)
    : LISTBASEDATADIALOGITEM(id, buffer, size), OwnChoices(8), pChoices(&OwnChoices)
{
    InternalValue = BufferText(buffer, size);
    CopyChoices(OwnChoices, choices);
}

LISTSTRINGDATADIALOGITEM::LISTSTRINGDATADIALOGITEM(CONTROLID id, char* buffer, int size, char const* choices)
    : LISTBASEDATADIALOGITEM(id, buffer, size), OwnChoices(8), pChoices(&OwnChoices)
{
    InternalValue = BufferText(buffer, size);
    CopyChoices(OwnChoices, choices);
}

LISTSTRINGDATADIALOGITEM::~LISTSTRINGDATADIALOGITEM() = default;

void LISTSTRINGDATADIALOGITEM::DataToDialog(CONTROLPARENT parent)
{
    if (!MakeListbox(parent))
        return;
    if (!pChoices) {
        pList->SelectItem(pList->FindString(pValue->Buf()), 1);
        return;
    }
    pList->DeleteAllItems();
    for (int i = 0; i < pChoices->NumItems(); ++i) {
        char const* const choice = (*pChoices)[i]->Buf();
        pList->AddItem(choice);
        if (STRING::STRICMP(choice, pValue->Buf()) == 0)
            pList->SelectItem(i, 1);
    }
}

void LISTSTRINGDATADIALOGITEM::DialogToData(CONTROLPARENT parent)
{
    if (!pList && !MakeListbox(parent))
        return;
    int const i = pList->GetSelectedItem(0);
    *pValue = i == -1 ? STRING("") : pList->GetItemText(i);
    if (pData)
        StoreText(static_cast<char*>(pData), pDataLength, *pValue);
}

// ---------------------------------------------------------------------------
// LISTWSTRINGDATADIALOGITEM

LISTWSTRINGDATADIALOGITEM::LISTWSTRINGDATADIALOGITEM(CONTROLID id, WSTRING& value)
    : LISTBASEDATADIALOGITEM(id, value), OwnChoices(8)
{
}

LISTWSTRINGDATADIALOGITEM::LISTWSTRINGDATADIALOGITEM(CONTROLID id, WSTRING& value, WSTRINGARRAY const& choices)
    : LISTBASEDATADIALOGITEM(id, value), OwnChoices(8), pChoices(&choices)
{
}

LISTWSTRINGDATADIALOGITEM::LISTWSTRINGDATADIALOGITEM(CONTROLID id, wchar_t* buffer, int count,
                                                     wchar_t const* const* choices)
    : LISTBASEDATADIALOGITEM(id, buffer, count), OwnChoices(8), pChoices(&OwnChoices)
{
    InternalWideValue = BufferText(buffer, count);
    CopyChoices(OwnChoices, choices);
}

LISTWSTRINGDATADIALOGITEM::LISTWSTRINGDATADIALOGITEM(CONTROLID id, wchar_t* buffer, int count, wchar_t const* choices)
    : LISTBASEDATADIALOGITEM(id, buffer, count), OwnChoices(8), pChoices(&OwnChoices)
{
    InternalWideValue = BufferText(buffer, count);
    CopyChoices(OwnChoices, choices);
}

LISTWSTRINGDATADIALOGITEM::~LISTWSTRINGDATADIALOGITEM() = default;

void LISTWSTRINGDATADIALOGITEM::DataToDialog(CONTROLPARENT parent)
{
    if (!MakeListbox(parent))
        return;
    if (!pChoices) {
        int const count = pList->GetItemCount();
        for (int i = 0; i < count; ++i) {
            if (WSTRING::WSTRCMP(pList->GetItemTextWide(i).Buf(), pWideValue->Buf()) == 0) {
                pList->SelectItem(i, 1);
                break;
            }
        }
        return;
    }
    pList->DeleteAllItems();
    for (int i = 0; i < pChoices->NumItems(); ++i) {
        wchar_t const* const choice = (*pChoices)[i]->Buf();
        pList->AddItemWide(choice);
        if (WSTRING::WSTRCMP(choice, pWideValue->Buf()) == 0)
            pList->SelectItem(i, 1);
    }
}

void LISTWSTRINGDATADIALOGITEM::DialogToData(CONTROLPARENT parent)
{
    if (!pList && !MakeListbox(parent))
        return;
    int const i = pList->GetSelectedItem(0);
    *pWideValue = i == -1 ? WSTRING(L"") : pList->GetItemTextWide(i);
    if (pData)
        StoreText(static_cast<wchar_t*>(pData), pDataLength, *pWideValue);
}

// ---------------------------------------------------------------------------
// LISTSTRINGHASHDATADIALOGITEM

LISTSTRINGHASHDATADIALOGITEM::LISTSTRINGHASHDATADIALOGITEM(CONTROLID id, STRING& value, HASHLIST const& records,
                                                           char const* displayKey, char const* valueKey)
    : LISTSTRINGHASHDATADIALOGITEM(id, value, &records, displayKey, valueKey)
{
}

LISTSTRINGHASHDATADIALOGITEM::LISTSTRINGHASHDATADIALOGITEM(CONTROLID id, STRING& value, HASHLIST const* records,
                                                           char const* displayKey, char const* valueKey)
    : LISTBASEDATADIALOGITEM(id, value), pInitHash(records)
{
    if (displayKey)
        pInitHashKey = STRING(displayKey, UNICODE_CPDEFAULT);
    if (valueKey)
        ValueKey = STRING(valueKey, UNICODE_CPDEFAULT);
}

LISTSTRINGHASHDATADIALOGITEM::~LISTSTRINGHASHDATADIALOGITEM() = default;

int LISTSTRINGHASHDATADIALOGITEM::PlacardListStyle() const
{
    return LISTBOXSTYLE_MULTISELECT;
}

void LISTSTRINGHASHDATADIALOGITEM::DataToDialog(CONTROLPARENT parent)
{
    if (!MakeListbox(parent) || !pInitHash)
        return;
    if (!pInitHashKey.IsSet()) {
        DDREPORT("this->pInitHashKey", IdCtrl.AsString().Buf());
        return;
    }
    char const* const valueKey = ValueKey.IsSet() ? ValueKey.Buf() : pInitHashKey.Buf();
    // Filled anew each time: a second fill must not add the records again.
    pList->DeleteAllItems();
    STRING const& value = *pValue;
    int const fields = value.NumTokens("|");
    for (int r = 0; r < pInitHash->NumItems(); ++r) {
        HASH const& record = *(*pInitHash)[r];
        char const* const shown = record.CheckKey(pInitHashKey.Buf()) ? record[pInitHashKey.Buf()].Buf() : "";
        int const idx = pList->AddItem(shown);
        char const* const v = record.CheckKey(valueKey) ? record[valueKey].Buf() : "";
        for (int f = 0; f < fields; ++f) {
            if (STRING::STRICMP(v, value.Token(f, "|", STRING::TOKEN_EMPTYNOTUNSET).Buf()) == 0) {
                pList->SelectItem(idx, 1);
                break;
            }
        }
    }
}

void LISTSTRINGHASHDATADIALOGITEM::DialogToData(CONTROLPARENT parent)
{
    if (!pList && !MakeListbox(parent))
        return;
    bool lookUp = ValueKey.IsSet();
    if (lookUp && !pInitHash) {
        DDREPORT("this->pInitHash", IdCtrl.AsString().Buf());
        lookUp = false;
    }
    if (lookUp && !pInitHashKey.IsSet()) {
        DDREPORT("this->pInitHashKey", IdCtrl.AsString().Buf());
        lookUp = false;
    }
    // The chosen items in the order of the list, whatever order the list
    // reports its selection in.
    std::vector<int> chosen;
    for (int k = 0;; ++k) {
        int const i = pList->GetSelectedItem(k);
        if (i == -1)
            break;
        chosen.push_back(i);
    }
    std::sort(chosen.begin(), chosen.end());
    STRING value("");
    for (int i : chosen) {
        STRING text = pList->GetItemText(i);
        if (lookUp) {
            int const idx = pInitHash->FindItem(pInitHashKey.Buf(), text.Buf(), true);
            if (idx < 0) {
                // A text no record shows has no value to store.
                DDREPORT("idx>-1", text.Buf());
                continue;
            }
            HASH const& record = *(*pInitHash)[idx];
            text = record.CheckKey(ValueKey.Buf()) ? record[ValueKey.Buf()] : STRING("");
        }
        value.Append(text.Buf());
        value.Append('|');
    }
    value.Chop('|');
    *pValue = value;
}
