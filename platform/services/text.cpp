#include "platform/services/text.h"

#include <cmath>
#include <limits>

namespace plat {
namespace {

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Decodes strict UTF-8 (RFC 3629) into UTF-16 units; false on any fault.
bool DecodeUtf8(std::string_view in, std::u16string& out)
{
    out.clear();
    out.reserve(in.size());
    size_t i = 0;
    while (i < in.size()) {
        unsigned char b = static_cast<unsigned char>(in[i]);
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        int extra;
        char32_t c;
        char32_t min;
        if (b >= 0xC2 && b <= 0xDF) {
            extra = 1;
            c = b & 0x1F;
            min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2;
            c = b & 0x0F;
            min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3;
            c = b & 0x07;
            min = 0x10000;
        } else {
            return false; // continuation byte, C0/C1 lead, or F5..FF
        }
        if (in.size() - i <= static_cast<size_t>(extra))
            return false;
        for (int k = 1; k <= extra; ++k) {
            unsigned char cb = static_cast<unsigned char>(in[i + k]);
            if ((cb & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (cb & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        i += static_cast<size_t>(extra) + 1;
    }
    return true;
}

template <typename To, typename From>
bool Saturate(From v, To& out)
{
    if constexpr (std::is_floating_point_v<From>) {
        if (std::isnan(v)) {
            out = 0;
            return false;
        }
        if (v <= static_cast<From>(std::numeric_limits<To>::min())) {
            out = std::numeric_limits<To>::min();
            return v == static_cast<From>(std::numeric_limits<To>::min());
        }
        // The maximum of int64 is not exact as a double; compare against
        // 2^63 (or 2^31), which is.
        From limit = std::ldexp(From(1), std::numeric_limits<To>::digits);
        if (v >= limit) {
            out = std::numeric_limits<To>::max();
            return false;
        }
        out = static_cast<To>(v);
        return static_cast<From>(out) == v;
    } else {
        if (v < std::numeric_limits<To>::min()) {
            out = std::numeric_limits<To>::min();
            return false;
        }
        if (v > std::numeric_limits<To>::max()) {
            out = std::numeric_limits<To>::max();
            return false;
        }
        out = static_cast<To>(v);
        return true;
    }
}

} // namespace

Text::Text(std::u16string units)
    : units_(std::make_shared<std::u16string const>(std::move(units)))
{
}

Text Text::FromUnits(std::u16string_view units)
{
    return Text(std::u16string(units));
}

Text Text::FromLatin1(std::string_view bytes)
{
    std::u16string units;
    units.reserve(bytes.size());
    for (char b : bytes)
        units.push_back(static_cast<unsigned char>(b));
    return Text(std::move(units));
}

Text Text::FromUtf8(std::string_view bytes)
{
    std::u16string units;
    if (!DecodeUtf8(bytes, units))
        return Text();
    return Text(std::move(units));
}

Text Text::FromBytes(std::string_view bytes, TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Latin1: return FromLatin1(bytes);
    case TextEncoding::Utf8: return FromUtf8(bytes);
    }
    return Text();
}

std::u16string_view Text::Units() const
{
    return units_ ? std::u16string_view(*units_) : std::u16string_view();
}

bool Text::ToBytes(TextEncoding encoding, std::string& out, char lossByte) const
{
    out.clear();
    if (!units_)
        return false;
    if (encoding != TextEncoding::Latin1 && encoding != TextEncoding::Utf8)
        return false;
    std::u16string_view u = *units_;
    out.reserve(u.size());
    for (size_t i = 0; i < u.size(); ++i) {
        char32_t c = u[i];
        bool paired = IsHighSurrogate(u[i]) && i + 1 < u.size() && IsLowSurrogate(u[i + 1]);
        if (paired) {
            c = 0x10000 + ((c - 0xD800) << 10) + (u[i + 1] - 0xDC00);
            ++i;
        }
        bool fits;
        if (encoding == TextEncoding::Latin1)
            fits = c <= 0xFF;
        else
            fits = paired || !(c >= 0xD800 && c <= 0xDFFF);
        if (!fits) {
            if (lossByte == 0) {
                out.clear();
                return false;
            }
            out.push_back(lossByte);
            continue;
        }
        if (encoding == TextEncoding::Latin1)
            out.push_back(static_cast<char>(c));
        else
            AppendUtf8(out, c);
    }
    return true;
}

bool operator==(Text const& a, Text const& b)
{
    if (a.IsNull() || b.IsNull())
        return a.IsNull() && b.IsNull();
    return a.Units() == b.Units();
}

bool Number::GetInt32(std::int32_t& out) const
{
    return std::visit([&](auto v) { return Saturate(v, out); }, value_);
}

bool Number::GetInt64(std::int64_t& out) const
{
    return std::visit([&](auto v) { return Saturate(v, out); }, value_);
}

bool Number::GetDouble(double& out) const
{
    return std::visit(
        [&](auto v) {
            out = static_cast<double>(v);
            // Integers beyond 2^53 may not survive the trip to a double.
            if constexpr (std::is_same_v<decltype(v), std::int64_t>) {
                if (out >= std::ldexp(1.0, 63))
                    return false;
                return static_cast<std::int64_t>(out) == v;
            }
            return true;
        },
        value_);
}

} // namespace plat
