// Records the assertion reports raised while it lives, through the question
// hook of AssertMsg, so tests can check the condition and the extra
// information that a failed check reports.
#pragma once

#include "velmot/core/logit.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace testutil {

// The full text of every assertion question asked while a QUESTIONHOOK
// lives (one hook at a time; the list is emptied when a hook is made).
inline std::vector<std::string>& AskedQuestions()
{
    static std::vector<std::string> questions;
    return questions;
}

class QUESTIONHOOK {
public:
    QUESTIONHOOK()
    {
        AskedQuestions().clear();
        Previous = SetAssertQuestionHook(&Record);
    }
    ~QUESTIONHOOK() { SetAssertQuestionHook(Previous); }
    QUESTIONHOOK(QUESTIONHOOK const&) = delete;
    QUESTIONHOOK& operator=(QUESTIONHOOK const&) = delete;

private:
    static bool Record(char const*, char const* question)
    {
        AskedQuestions().emplace_back(question);
        return true;
    }
    ASSERTQUESTIONHOOK Previous = nullptr;
};

struct ASSERTION {
    std::string Condition;
    std::string Info;
};

class ASSERTRECORDER {
public:
    ASSERTRECORDER()
    {
        Current() = this;
        Previous = SetAssertQuestionHook(&Hook);
    }
    ~ASSERTRECORDER()
    {
        SetAssertQuestionHook(Previous);
        Current() = nullptr;
    }
    ASSERTRECORDER(ASSERTRECORDER const&) = delete;
    ASSERTRECORDER& operator=(ASSERTRECORDER const&) = delete;

    std::vector<ASSERTION> Take()
    {
        std::lock_guard<std::mutex> lock(Mutex);
        std::vector<ASSERTION> out;
        out.swap(Seen);
        return out;
    }

    size_t Count()
    {
        std::lock_guard<std::mutex> lock(Mutex);
        return Seen.size();
    }

private:
    static ASSERTRECORDER*& Current()
    {
        static ASSERTRECORDER* current = nullptr;
        return current;
    }

    // The report lines of both languages: "Condition: " / "Bedingung: " and
    // "Add. Info: " / "Info : ".
    static std::string Field(std::string const& text, char const* english, char const* german)
    {
        for (char const* key : {english, german}) {
            size_t at = text.find(key);
            if (at != std::string::npos) {
                at += strlen(key);
                return text.substr(at, text.find('\n', at) - at);
            }
        }
        return "<missing>";
    }

    static bool Hook(char const*, char const* question)
    {
        ASSERTRECORDER* self = Current();
        if (!self)
            return true;
        std::string const text = question;
        std::lock_guard<std::mutex> lock(self->Mutex);
        self->Seen.push_back({Field(text, "    Condition: ", "    Bedingung: "), Field(text, "    Add. Info: ", "    Info : ")});
        return true;
    }

    std::mutex Mutex;
    std::vector<ASSERTION> Seen;
    ASSERTQUESTIONHOOK Previous = nullptr;
};

} // namespace testutil
