// Helpers shared by the container tests: a recorder of assertion questions
// and conversions between arrays and plain vectors for readable checks.
#pragma once

#include "velmot/core/logit.h"
#include "velmot/core/stringarray.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace containers_test {

// Records the "Condition:" line of every assertion question asked while it
// lives. Quiet reports (data errors) ask no question and are not recorded.
class ASKED {
public:
    ASKED()
    {
        Current() = this;
        Previous = SetAssertQuestionHook(&Hook);
    }
    ~ASKED()
    {
        SetAssertQuestionHook(Previous);
        Current() = nullptr;
    }
    ASKED(ASKED const&) = delete;
    ASKED& operator=(ASKED const&) = delete;

    std::vector<std::string> Take()
    {
        std::lock_guard<std::mutex> hold(Mutex);
        std::vector<std::string> out;
        out.swap(Seen);
        return out;
    }

private:
    static ASKED*& Current()
    {
        static ASKED* current = nullptr;
        return current;
    }

    static bool Hook(char const*, char const* question)
    {
        ASKED* self = Current();
        if (!self)
            return true;
        std::string text = question;
        std::string condition = "<missing>";
        for (char const* key : {"    Condition: ", "    Bedingung: "}) {
            size_t at = text.find(key);
            if (at != std::string::npos) {
                at += strlen(key);
                condition = text.substr(at, text.find('\n', at) - at);
                break;
            }
        }
        std::lock_guard<std::mutex> hold(self->Mutex);
        self->Seen.push_back(condition);
        return true;
    }

    std::mutex Mutex;
    std::vector<std::string> Seen;
    ASSERTQUESTIONHOOK Previous = nullptr;
};

inline std::string Bytes(STRING const& s)
{
    return std::string(s.Buf(), static_cast<size_t>(s.StrLen));
}

inline STRING Make(std::string const& bytes)
{
    STRING s;
    s.Make(static_cast<int32_t>(bytes.size()), bytes.data());
    return s;
}

inline std::vector<std::string> Items(STRINGARRAY const& a)
{
    std::vector<std::string> out;
    for (int i = 0; i < a.NumItems(); ++i)
        out.push_back(Bytes(*a[i]));
    return out;
}

inline void Fill(STRINGARRAY& a, std::vector<std::string> const& items)
{
    for (auto const& s : items)
        a.AppendItem(Make(s));
}

} // namespace containers_test
