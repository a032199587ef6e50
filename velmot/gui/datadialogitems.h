// Data dialog items: the binding of one control of a dialog or dialog page
// (by its CONTROLID) to one value of the program.
//
// An item is bound to a STRING or WSTRING the caller owns (read and written
// at each call, so it must outlive the item), or to a plain variable given
// by address and size, which the item reads once, in its constructor, into
// its internal copy as text; storing writes the internal copy and then the
// variable. Values are always held as text: a number is its decimal text.
//
// The dialog (datadialogs.h) owns its items: it fills the controls with
// DataToDialog and stores them back with DialogToData, each called on every
// item in the order they were added.
//
// Line ends: values keep "\r\n", text fields show "\r"; a field's "\r" or
// "\n" is stored as "\r\n".
//
// Main thread only.
#pragma once

#include "velmot/core/hash.h"
#include "velmot/core/stringarray.h"
#include "velmot/core/strings.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/winbuttons.h"
#include "velmot/gui/winentry.h"
#include "velmot/gui/winlists.h"
#include "velmot/gui/winvalues.h"

#include <memory>

// What a push button runs: the item's context, the control the button acts
// on, the controls' parent and the item's working string, which becomes the
// value when the dialog is stored.
using DATADIALOGPUSHFUNCTION = void (*)(void* context, CONTROLID linked, CONTROLPARENT parent, STRING* value);

class VELMOT_EXPORT DATADIALOGITEM {
public:
    DATADIALOGITEM(CONTROLID id, STRING& value);
    DATADIALOGITEM(CONTROLID id, WSTRING& value);
    // Bound to a variable: both value pointers point at the internal copies.
    DATADIALOGITEM(CONTROLID id, void* variable, int size);
    DATADIALOGITEM(DATADIALOGITEM const&) = delete;
    DATADIALOGITEM& operator=(DATADIALOGITEM const&) = delete;

    virtual void DataToDialog(CONTROLPARENT parent) = 0;
    virtual void DialogToData(CONTROLPARENT parent) = 0;
    virtual ~DATADIALOGITEM();

    CONTROLID IdCtrl;
    STRING InternalValue;
    WSTRING InternalWideValue;
    // The caller's string or the internal copy; null for the other width.
    STRING* pValue = nullptr;
    WSTRING* pWideValue = nullptr;
    // The bound variable; null for items bound to a string.
    void* pData = nullptr;
    // Bytes, or wide characters for wide text items.
    int32_t pDataLength = 0;

protected:
    // The number the value's text reads as (0 for an empty text).
    int ValueNumber() const;
    // Writes n to the bound variable by its size: 4 bytes as a 32-bit
    // number, 8 bytes as n in the low 32 bits and zero in the high ones, 1
    // byte as the low byte; any other size is left alone.
    void StoreNumber(int n) const;
    // Reports "this->pDataLength==4" unless the variable (if any) holds a
    // number this item can write.
    bool CheckNumberSize() const;
};

class VELMOT_EXPORT PUSHDATADIALOGITEM : public DATADIALOGITEM {
public:
    static constexpr uint32_t MAGIC = 0x50555348; // 'PUSH'

    PUSHDATADIALOGITEM(CONTROLID id, STRING& value, DATADIALOGPUSHFUNCTION function, void* context,
                       CONTROLID linked);
    ~PUSHDATADIALOGITEM() override;

    void DataToDialog(CONTROLPARENT parent) override;
    void DialogToData(CONTROLPARENT parent) override;
    // Runs the push function on the working string.
    void PushEvent();

    DATADIALOGPUSHFUNCTION PushFunction = nullptr;
    void* Context = nullptr;
    CONTROLID Linked;
    CONTROLPARENT Parent;
    STRING Working;
    uint32_t Magic = MAGIC;
};

class VELMOT_EXPORT ENTRYDATADIALOGITEM : public DATADIALOGITEM {
public:
    ENTRYDATADIALOGITEM(CONTROLID id, STRING& value, int maxLength);
    ENTRYDATADIALOGITEM(CONTROLID id, WSTRING& value, int maxLength);
    // A buffer of `size` bytes (code page 1252), zero-terminated.
    ENTRYDATADIALOGITEM(CONTROLID id, char* buffer, int size);
    // A buffer of `size` wide characters, zero-terminated.
    ENTRYDATADIALOGITEM(CONTROLID id, wchar_t* buffer, int size);
    ~ENTRYDATADIALOGITEM() override;

    void DataToDialog(CONTROLPARENT parent) override;
    void DialogToData(CONTROLPARENT parent) override;

    int MaxLength = 0;
    std::unique_ptr<ENTRYFIELD> pEntry;
    bool Wide = false;
};

class VELMOT_EXPORT CHECKDATADIALOGITEM : public DATADIALOGITEM {
public:
    // Bit -1: the whole value is the check state; else bit `bit` of it.
    CHECKDATADIALOGITEM(CONTROLID id, STRING& value, int bit);
    CHECKDATADIALOGITEM(CONTROLID id, signed char* variable);
    CHECKDATADIALOGITEM(CONTROLID id, int* variable, int bit);
    // An unsigned long is 8 bytes here; the low 32 bits hold the flags.
    CHECKDATADIALOGITEM(CONTROLID id, unsigned long* variable, int bit);
    ~CHECKDATADIALOGITEM() override;

    void DataToDialog(CONTROLPARENT parent) override;
    void DialogToData(CONTROLPARENT parent) override;

    int Bit = -1;
    std::unique_ptr<CHECKBOX> pCheck;
};

// Several radio items bound to one value, each with its own constant, form
// a group: only the button that is on writes its constant.
class VELMOT_EXPORT RADIODATADIALOGITEM : public DATADIALOGITEM {
public:
    RADIODATADIALOGITEM(CONTROLID id, STRING& value, int constant);
    RADIODATADIALOGITEM(CONTROLID id, int* variable, int constant);
    RADIODATADIALOGITEM(CONTROLID id, unsigned long* variable, int constant);
    ~RADIODATADIALOGITEM() override;

    void DataToDialog(CONTROLPARENT parent) override;
    void DialogToData(CONTROLPARENT parent) override;

    int Constant = 0;
    std::unique_ptr<RADIOBUTTON> pRadio;
};

// A number field with little arrows (made beside it on the first fill,
// with the id GetIdSpin gives) that keep it between minimum and maximum.
class VELMOT_EXPORT SPINDATADIALOGITEM : public DATADIALOGITEM {
public:
    SPINDATADIALOGITEM(CONTROLID id, STRING& value, int minimum, int maximum);
    SPINDATADIALOGITEM(CONTROLID id, int* variable, int minimum, int maximum);
    ~SPINDATADIALOGITEM() override;

    void DataToDialog(CONTROLPARENT parent) override;
    void DialogToData(CONTROLPARENT parent) override;

    // The little arrows of a field: signature 'SPIN', the field's number.
    static CONTROLID GetIdSpin(CONTROLID field);

    int Minimum = 0;
    int Maximum = 0;
    std::unique_ptr<ENTRYFIELD> pEntry;
    std::unique_ptr<SPINBUTTON> pSpin;

private:
    int Clamped(int n) const;
};

// The list kinds: a pop-up button or group, a combo box, a list box, or a
// placard that a list box replaces on the first fill.
class VELMOT_EXPORT LISTBASEDATADIALOGITEM : public DATADIALOGITEM {
public:
    using DATADIALOGITEM::DATADIALOGITEM;
    ~LISTBASEDATADIALOGITEM() override;

    // Binds the list wrapper to the control; false (reported) when the
    // control is missing or of a kind that holds no list.
    bool MakeListbox(CONTROLPARENT parent);

    std::unique_ptr<BASELIST> pList;

protected:
    // The style of a list box made in a placard's place.
    virtual int PlacardListStyle() const { return 0; }

private:
    // The list box this item made in a placard's place: it owns the list
    // and is kept for the item's life.
    bool fMadeList = false;
};

// The value is the index of the chosen item.
class VELMOT_EXPORT LISTDATADIALOGITEM : public LISTBASEDATADIALOGITEM {
public:
    // Without choices the control's own items are used.
    LISTDATADIALOGITEM(CONTROLID id, STRING& value);
    LISTDATADIALOGITEM(CONTROLID id, STRING& value, STRINGARRAY const& choices);
    // Choices as one text split at "|".
    LISTDATADIALOGITEM(CONTROLID id, int* variable, char const* choices);
    // Choices as a null-terminated array.
    LISTDATADIALOGITEM(CONTROLID id, int* variable, char const* const* choices);
    ~LISTDATADIALOGITEM() override;

    void DataToDialog(CONTROLPARENT parent) override;
    void DialogToData(CONTROLPARENT parent) override;

    STRINGARRAY OwnChoices;
    STRINGARRAY const* pChoices = nullptr;
};

// The value is the text of the chosen item (compared ignoring case).
class VELMOT_EXPORT LISTSTRINGDATADIALOGITEM : public LISTBASEDATADIALOGITEM {
public:
    LISTSTRINGDATADIALOGITEM(CONTROLID id, STRING& value);
    LISTSTRINGDATADIALOGITEM(CONTROLID id, STRING& value, STRINGARRAY const& choices);
    LISTSTRINGDATADIALOGITEM(CONTROLID id, char* buffer, int size, char const* const* choices);
    LISTSTRINGDATADIALOGITEM(CONTROLID id, char* buffer, int size, char const* choices);
    ~LISTSTRINGDATADIALOGITEM() override;

    void DataToDialog(CONTROLPARENT parent) override;
    void DialogToData(CONTROLPARENT parent) override;

    STRINGARRAY OwnChoices;
    STRINGARRAY const* pChoices = nullptr;
};

// The value is the wide text of the chosen item (compared exactly).
class VELMOT_EXPORT LISTWSTRINGDATADIALOGITEM : public LISTBASEDATADIALOGITEM {
public:
    LISTWSTRINGDATADIALOGITEM(CONTROLID id, WSTRING& value);
    LISTWSTRINGDATADIALOGITEM(CONTROLID id, WSTRING& value, WSTRINGARRAY const& choices);
    LISTWSTRINGDATADIALOGITEM(CONTROLID id, wchar_t* buffer, int count, wchar_t const* const* choices);
    LISTWSTRINGDATADIALOGITEM(CONTROLID id, wchar_t* buffer, int count, wchar_t const* choices);
    ~LISTWSTRINGDATADIALOGITEM() override;

    void DataToDialog(CONTROLPARENT parent) override;
    void DialogToData(CONTROLPARENT parent) override;

    WSTRINGARRAY OwnChoices;
    WSTRINGARRAY const* pChoices = nullptr;
};

// A multiple-choice list of records: each record shows its display-key
// field; the value is the "|"-separated list of the chosen records'
// value-key fields (the display key when no value key is given), in the
// order of the list.
class VELMOT_EXPORT LISTSTRINGHASHDATADIALOGITEM : public LISTBASEDATADIALOGITEM {
public:
    LISTSTRINGHASHDATADIALOGITEM(CONTROLID id, STRING& value, HASHLIST const& records, char const* displayKey,
                                 char const* valueKey);
    // Records may be null: the list then stays as it is.
    LISTSTRINGHASHDATADIALOGITEM(CONTROLID id, STRING& value, HASHLIST const* records, char const* displayKey,
                                 char const* valueKey);
    ~LISTSTRINGHASHDATADIALOGITEM() override;

    void DataToDialog(CONTROLPARENT parent) override;
    void DialogToData(CONTROLPARENT parent) override;

    HASHLIST const* pInitHash = nullptr;
    STRING pInitHashKey;
    STRING ValueKey; // unset: the display key serves

protected:
    int PlacardListStyle() const override;
};
