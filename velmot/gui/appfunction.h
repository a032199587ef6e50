// Calls on the GUI thread: a thread other than the main thread runs a
// member function of a window object on the main thread and gets its
// result.
//
// The call is captured with its object, its member function and up to six
// arguments, checked by the compiler (the arguments are copied into the
// call), sent to a window as user message WM_APPFUNCTION (1264) with the
// APPFUNCTION's address as the first word, and run there by the window's
// OnUserMessage while the calling thread waits:
//
//     APPFUNCTION call(&dialog, &MYDIALOG::AskQuestion, title, text);
//     MSGWORD answer = call.CallFrom(window);
//
// A window class named in CallFrom handles message 1264 in OnUserMessage by
// calling Call() on the APPFUNCTION whose address is the first word, and
// returns true. The result is the member function's return value as a
// pointer-sized word (0 for void). A window that no longer answers leaves
// the call unrun and CallFrom returns 0. The caller must hold no lock the
// main thread needs for the call.
#pragma once

#include "velmot/core/vtypes.h"

#include <concepts>
#include <functional>
#include <tuple>
#include <type_traits>
#include <utility>

class DARWINDOW;

class VELMOT_EXPORT APPFUNCTION {
public:
    static constexpr int MAXARGS = 6;

    template <class OBJ, class FN, class... ARGS>
        requires std::is_member_function_pointer_v<FN> && (sizeof...(ARGS) <= MAXARGS) &&
                 std::is_invocable_v<FN, OBJ*, std::decay_t<ARGS>&...>
    APPFUNCTION(OBJ* object, FN function, ARGS&&... args)
        : Object(object), Type(static_cast<int32_t>(sizeof...(ARGS)))
    {
        Function = [object, function, captured = std::make_tuple(std::forward<ARGS>(args)...)]() mutable {
            return std::apply(
                [&](auto&... a) { return ToWord<std::invoke_result_t<FN, OBJ*, decltype(a)...>>(object, function, a...); },
                captured);
        };
    }
    APPFUNCTION(APPFUNCTION const&) = delete;
    APPFUNCTION& operator=(APPFUNCTION const&) = delete;

    // Runs the captured call on the calling thread and stores its result.
    void Call();
    // Delivers the call to the window's thread (message 1264, waited for)
    // and returns the stored result; on the main thread the call runs
    // before this returns.
    MSGWORD CallFrom(DARWINDOW const& window);

    void* GetObject() const { return Object; }
    int32_t GetType() const { return Type; } // the number of arguments
    MSGWORD GetResult() const { return Result; }

private:
    template <class R, class OBJ, class FN, class... A>
    static MSGWORD ToWord(OBJ* object, FN function, A&... a)
    {
        if constexpr (std::is_void_v<R>) {
            std::invoke(function, object, a...);
            return 0;
        } else if constexpr (std::is_pointer_v<R>) {
            return reinterpret_cast<MSGWORD>(std::invoke(function, object, a...));
        } else if constexpr (std::is_enum_v<R>) {
            return static_cast<MSGWORD>(static_cast<std::underlying_type_t<R>>(std::invoke(function, object, a...)));
        } else {
            static_assert(std::is_integral_v<R>, "the result must fit a message word");
            // Signed results are sign-extended, so -1 reads back as -1.
            return static_cast<MSGWORD>(static_cast<intptr_t>(std::invoke(function, object, a...)));
        }
    }

    void* Object;
    int32_t Type;
    std::function<MSGWORD()> Function;
    MSGWORD Result = 0;
};
