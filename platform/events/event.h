// Events: a class, a kind, a time stamp and typed parameters.
//
// An event is made with Event::Create and shared through EventPtr, because a
// waiting sender on another thread and the main queue both hold it until the
// main thread has run its handlers. An event is not locked: whoever posts or
// sends it from another thread hands it over and reads it again only after
// the send has returned.
#pragma once

#include "platform/events/codes.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

namespace plat {

class Event;
using EventPtr = std::shared_ptr<Event>;

class Event : public std::enable_shared_from_this<Event> {
    struct Token {};

public:
    // A new event; a time of 0 takes the current clock (NowMs).
    static EventPtr Create(OSType eventClass, uint32_t kind, uint64_t timeMs = 0);

    Event(Token, OSType eventClass, uint32_t kind, uint64_t timeMs);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    OSType Class() const { return class_; }
    uint32_t Kind() const { return kind_; }
    uint64_t Time() const { return time_; }
    void SetTime(uint64_t ms) { time_ = ms; }

    // Stores a parameter, replacing one of the same name.
    Status SetParam(OSType name, OSType type, const void* data, size_t size);

    // Reads a parameter of exactly this type (kTypeWildcard: any) and size:
    // kErrParamNotFound when absent, kErrParamWrongType when the type or size
    // differs. Nothing is written on failure.
    Status GetParam(OSType name, OSType type, void* out, size_t size) const;

    // Reads up to `capacity` bytes of a parameter of this type (or any with
    // kTypeWildcard); *actualSize receives the stored size, *actualType the
    // stored type (both optional). A shorter buffer gets a cut copy.
    Status GetParamBytes(OSType name, OSType type, void* out, size_t capacity,
                         size_t* actualSize = nullptr, OSType* actualType = nullptr) const;

    bool HasParam(OSType name) const;
    Status RemoveParam(OSType name);
    size_t ParamCount() const;

    template <class T>
    Status Set(OSType name, OSType type, const T& value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        return SetParam(name, type, &value, sizeof(T));
    }

    template <class T>
    Status Get(OSType name, OSType type, T* out) const
    {
        static_assert(std::is_trivially_copyable_v<T>);
        return GetParam(name, type, out, sizeof(T));
    }

    // A pointer-sized word (kTypeWord); `fallback` when absent or mistyped.
    Status SetWord(OSType name, uintptr_t value) { return Set(name, kTypeWord, value); }
    uintptr_t GetWord(OSType name, uintptr_t fallback = 0) const
    {
        uintptr_t v = fallback;
        return Get(name, kTypeWord, &v) == kNoErr ? v : fallback;
    }

private:
    // Values up to this size live inside the parameter record; longer ones
    // (texts, lists) on the heap.
    static constexpr size_t kInline = 24;
    struct Param {
        OSType name = 0;
        OSType type = 0;
        uint32_t size = 0;
        union {
            uint8_t inl[kInline];
            uint8_t* heap;
        };
        Param() : heap(nullptr) {}
        const uint8_t* Data() const { return size <= kInline ? inl : heap; }
        void Free()
        {
            if (size > kInline)
                delete[] heap;
            size = 0;
        }
    };
    static constexpr size_t kFixed = 6;

    Param* Find(OSType name);
    const Param* Find(OSType name) const;

    OSType class_;
    uint32_t kind_;
    uint64_t time_;
    uint32_t count_ = 0; // parameters in fixed_ (the rest in more_)
    Param fixed_[kFixed];
    std::vector<Param> more_;
};

} // namespace plat
