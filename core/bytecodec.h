#pragma once
// Little-endian values and byte strings, as the worker's frames and the
// Java lookup carry them: appended to a vector, and read off a body of
// bytes that nobody vouches for, never past its end.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

inline void PutLittleEndian(std::vector<std::uint8_t>* out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out->push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// Reads little-endian values and byte strings off a body, never past it;
// once a read fails, every later one fails too.
class ByteReader {
public:
    ByteReader(const std::uint8_t* bytes, std::size_t size) : at_(bytes), left_(size) {}
    bool Get(std::uint64_t* value, int bytes)
    {
        *value = 0;
        if (!ok_ || left_ < static_cast<std::size_t>(bytes))
            return ok_ = false;
        for (int i = 0; i < bytes; ++i)
            *value |= static_cast<std::uint64_t>(at_[i]) << (8 * i);
        at_ += bytes;
        left_ -= static_cast<std::size_t>(bytes);
        return true;
    }
    template <typename Value>
    bool GetAs(Value* value, int bytes)
    {
        std::uint64_t read = 0;
        bool got = Get(&read, bytes);
        *value = static_cast<Value>(read);
        return got;
    }
    // `count` bytes, none of them NUL.
    bool Text(std::string* text, std::size_t count)
    {
        if (!ok_ || left_ < count || std::memchr(at_, 0, count) != nullptr)
            return ok_ = false;
        text->assign(reinterpret_cast<const char*>(at_), count);
        at_ += count;
        left_ -= count;
        return true;
    }
    // `count` UTF-16 units, none of them NUL.
    bool Units(std::vector<std::uint16_t>* units, std::uint64_t count)
    {
        if (!ok_ || left_ / 2 < count)
            return ok_ = false;
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint16_t unit = 0;
            if (!GetAs(&unit, 2) || unit == 0)
                return ok_ = false;
            units->push_back(unit);
        }
        return true;
    }
    bool Flag(bool* flag)
    {
        std::uint64_t value = 0;
        if (!Get(&value, 1) || value > 1)
            return ok_ = false;
        *flag = value != 0;
        return true;
    }
    // `count` bytes as they stand.
    bool Bytes(std::vector<std::uint8_t>* bytes, std::size_t count)
    {
        if (!ok_ || left_ < count)
            return ok_ = false;
        bytes->assign(at_, at_ + count);
        at_ += count;
        left_ -= count;
        return true;
    }
    const std::uint8_t* At() const { return at_; }
    std::size_t Left() const { return left_; }
    // True when everything was read and nothing is left over.
    bool Done() const { return ok_ && left_ == 0; }

private:
    const std::uint8_t* at_;
    std::size_t left_;
    bool ok_ = true;
};
