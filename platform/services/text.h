// Platform strings, numbers and arrays.
//
// Text is the platform's string: an immutable sequence of UTF-16 code units
// shared by reference counting, so copies are cheap and never change each
// other. Byte text enters and leaves it in an explicit encoding; a
// conversion that cannot represent the text fails instead of cutting it,
// unless the caller names a loss byte. Number and Array are the matching
// value types that lists handed over by the platform are made of.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace plat {

using Bytes = std::vector<std::uint8_t>;

// Byte encodings of Text. The numbers are the ones callers store.
enum class TextEncoding : std::uint32_t {
    Latin1 = 0x0201, // ISO 8859-1: one byte per character U+0000..U+00FF
    Utf8 = 0x08000100,
};

class Text {
public:
    // A null text: no string at all (a failed creation gives one).
    Text() = default;

    static Text FromUnits(std::u16string_view units);
    static Text FromLatin1(std::string_view bytes);
    // Strict UTF-8: overlong forms, encoded surrogates, values above
    // U+10FFFF and cut sequences make the creation fail (null result).
    static Text FromUtf8(std::string_view bytes);
    static Text FromBytes(std::string_view bytes, TextEncoding encoding);

    bool IsNull() const { return !units_; }
    explicit operator bool() const { return !IsNull(); }

    // Length in UTF-16 units; 0 for a null text.
    std::size_t Length() const { return units_ ? units_->size() : 0; }
    std::u16string_view Units() const;

    // The text in a byte encoding. A character the encoding cannot hold
    // (a code point above U+00FF for Latin-1, an unpaired surrogate for
    // UTF-8) makes the conversion fail, or becomes one lossByte when it is
    // not 0; a surrogate pair is one character and so one loss byte.
    // A null text converts to nothing and fails.
    bool ToBytes(TextEncoding encoding, std::string& out, char lossByte = 0) const;
    bool ToLatin1(std::string& out, char lossByte = 0) const
    {
        return ToBytes(TextEncoding::Latin1, out, lossByte);
    }
    bool ToUtf8(std::string& out, char lossByte = 0) const
    {
        return ToBytes(TextEncoding::Utf8, out, lossByte);
    }

    // How many Text objects share these units (0 for a null text).
    long ShareCount() const { return units_.use_count(); }

    friend bool operator==(Text const& a, Text const& b);

private:
    explicit Text(std::u16string units);
    std::shared_ptr<std::u16string const> units_;
};

// A platform number: a signed 32-bit or 64-bit integer or a double, kept in
// the form it was made with.
class Number {
public:
    enum class Kind { Int32, Int64, Double };

    explicit Number(std::int32_t v) : value_(v) {}
    explicit Number(std::int64_t v) : value_(v) {}
    explicit Number(double v) : value_(v) {}

    Kind GetKind() const { return static_cast<Kind>(value_.index()); }

    // The value in the asked form; the result tells whether it is exact.
    // Out-of-range integers saturate, doubles are truncated toward zero
    // (NaN gives 0).
    bool GetInt32(std::int32_t& out) const;
    bool GetInt64(std::int64_t& out) const;
    bool GetDouble(double& out) const;

    friend bool operator==(Number const& a, Number const& b) = default;

private:
    std::variant<std::int32_t, std::int64_t, double> value_;
};

// One element of an Array: none (a null element), a text, a number, or
// data bytes (a kind that string lists skip).
using ArrayItem = std::variant<std::monostate, Text, Number, Bytes>;

// An immutable, shared list of platform values.
class Array {
public:
    Array() : items_(std::make_shared<std::vector<ArrayItem> const>()) {}
    explicit Array(std::vector<ArrayItem> items)
        : items_(std::make_shared<std::vector<ArrayItem> const>(std::move(items)))
    {
    }

    std::size_t Count() const { return items_->size(); }
    ArrayItem const& At(std::size_t index) const { return (*items_)[index]; }
    std::vector<ArrayItem> const& Items() const { return *items_; }

private:
    std::shared_ptr<std::vector<ArrayItem> const> items_;
};

} // namespace plat
