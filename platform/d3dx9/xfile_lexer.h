#pragma once
// X files below the object level: the 16-byte header, the MSZIP body of compressed files, and one
// token stream over both encodings. Binary integer and float lists come out one number at a time, so
// the object reader sees the same tokens from text and binary files.
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/bytes/byte_reader.h"
#include "platform/win32/windef.h"
#include "platform/win32/winerror.h"

namespace ferolt::d3dx9::xfile
{
struct Header
{
    bool binary = false;
    bool compressed = false;
    bool doubles = false; // 64-bit floats
};
constexpr size_t kHeaderSize = 16;
// "xof ", a version "0302" or "0303", a format and "0032" or "0064".
bool ReadHeader(const ByteReader& file, Header* out);

// Largest body a compressed file may declare.
constexpr size_t kMaxInflatedBytes = 512u << 20;
// The body after the header of a "tzip" or "bzip" file: a u32 total size (with the 16 header bytes),
// then blocks of {u16 unpacked size, u16 packed size, "CK", deflate data}, each inflated with the
// previous block's output as its dictionary.
HRESULT InflateBody(const ByteReader& body, std::vector<uint8_t>* out);

enum class Tok : uint8_t
{
    End,
    Error,
    Name,
    String,
    Integer,
    Float,
    Guid,
    OBrace,
    CBrace,
    OParen,
    CParen,
    OBracket,
    CBracket,
    OAngle,
    CAngle,
    Dot,
    Comma,
    Semicolon,
    Template,
    Array,
    Primitive, // a type keyword: WORD, DWORD, FLOAT, STRING, ...
};

struct Token
{
    Tok kind = Tok::End;
    std::string_view text; // Name, String
    int64_t integer = 0;   // Integer
    double number = 0;     // Integer and Float
};

class Lexer
{
public:
    Lexer(const ByteReader& body, bool binary, bool doubles);
    Token Next();
    // Drops what is left of a binary number list, for skipping whole objects quickly.
    void DropList();

private:
    Token NextText();
    Token NextBinary();
    Token BinaryInteger();
    Token TextNumber();
    Token TextWord();

    ByteReader body_;
    ByteCursor cursor_;
    const char* p_;
    const char* end_;
    bool binary_;
    bool doubles_;
    // A binary list being handed out.
    uint32_t listLeft_ = 0;
    bool listFloats_ = false;
};
} // namespace ferolt::d3dx9::xfile
