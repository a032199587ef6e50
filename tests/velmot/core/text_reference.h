// Helpers of the text tests: reference answers from python3 (through
// text_reference.py) and a recorder for assertion questions.
#pragma once

#include "velmot/core/logit.h"
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace textref {

inline std::string Script()
{
    return testutil::SourceDir() + "/velmot/core/text_reference.py";
}

// The output of a table mode. A missing python3 fails the test: the
// reference is the point of these tests.
inline std::string Table(std::string const& mode)
{
    std::string out;
    int rc = testutil::RunProgram({"python3", Script(), mode}, &out);
    EXPECT_EQ(0, rc) << "python3 " << Script() << " " << mode;
    return out;
}

// Each input transformed by python3 in the given mode, in one run.
inline std::vector<std::string> Transform(std::string const& mode, std::vector<std::string> const& inputs)
{
    std::string framed;
    for (auto const& in : inputs) {
        uint32_t n = static_cast<uint32_t>(in.size());
        framed.append(reinterpret_cast<char const*>(&n), 4);
        framed.append(in);
    }
    std::string out;
    int rc = testutil::RunProgram({"python3", Script(), mode}, &out, framed);
    EXPECT_EQ(0, rc) << "python3 " << Script() << " " << mode;
    std::vector<std::string> results;
    size_t pos = 0;
    while (pos + 4 <= out.size()) {
        uint32_t n;
        memcpy(&n, out.data() + pos, 4);
        results.push_back(out.substr(pos + 4, n));
        pos += 4 + n;
    }
    EXPECT_EQ(inputs.size(), results.size()) << "python3 answered " << results.size() << " records";
    results.resize(inputs.size());
    return results;
}

inline std::string RandomBytes(std::mt19937& rng, size_t n)
{
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(rng() & 0xFF);
    return s;
}

// Counts the assertion questions asked while it lives; quiet reports (data
// errors) never reach it.
class AssertRecorder {
public:
    AssertRecorder() { previous_ = SetAssertQuestionHook(&Hook); Questions().clear(); }
    ~AssertRecorder() { SetAssertQuestionHook(previous_); }
    static std::vector<std::string>& Questions()
    {
        static std::vector<std::string> q;
        return q;
    }
    size_t Count() const { return Questions().size(); }
    bool Saw(std::string const& text) const
    {
        for (auto const& q : Questions()) {
            if (q.find(text) != std::string::npos)
                return true;
        }
        return false;
    }

private:
    static bool Hook(char const*, char const* question)
    {
        Questions().push_back(question ? question : "");
        return true;
    }
    ASSERTQUESTIONHOOK previous_;
};

} // namespace textref
