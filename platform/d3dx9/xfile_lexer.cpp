// Tokens of both X file encodings, and the header and compressed body in front of them.
#include "platform/d3dx9/xfile_lexer.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace ferolt::d3dx9::xfile
{
namespace
{
// Binary token codes.
enum : uint16_t
{
    kTokName = 1,
    kTokString = 2,
    kTokInteger = 3,
    kTokGuid = 5,
    kTokIntegerList = 6,
    kTokFloatList = 7,
    kTokOBrace = 10,
    kTokCBrace = 11,
    kTokOParen = 12,
    kTokCParen = 13,
    kTokOBracket = 14,
    kTokCBracket = 15,
    kTokOAngle = 16,
    kTokCAngle = 17,
    kTokDot = 18,
    kTokComma = 19,
    kTokSemicolon = 20,
    kTokTemplate = 31,
    kTokFirstType = 40, // WORD, DWORD, FLOAT, DOUBLE, CHAR, UCHAR, SWORD, SDWORD, VOID, LPSTR, UNICODE,
    kTokLastType = 51,  // CSTRING
    kTokArray = 52,
};

// Longest name or string taken from a file; longer ones are damage, not names.
constexpr uint32_t kMaxTextLength = 1u << 20;

Token Make(Tok kind)
{
    Token t;
    t.kind = kind;
    return t;
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\v' || c == 0x1A || c == 0;
}
bool IsWordStart(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}
bool IsWordChar(unsigned char c)
{
    return IsWordStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}
bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}
bool IsHex(char c)
{
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsTypeKeyword(std::string_view w)
{
    static constexpr std::string_view kTypes[] = {
        "WORD", "DWORD",  "FLOAT",   "DOUBLE",  "CHAR",  "UCHAR",     "BYTE",   "SWORD",          "SDWORD",
        "VOID", "STRING", "CSTRING", "UNICODE", "LPSTR", "ULONGLONG", "BINARY", "BINARY_RESOURCE"};
    if (w.empty() || w[0] < 'A' || w[0] > 'Z') return false;
    for (std::string_view t : kTypes)
        if (w == t) return true;
    return false;
}
} // namespace

bool ReadHeader(const ByteReader& file, Header* out)
{
    std::span<const uint8_t> h;
    if (!file.Bytes(0, kHeaderSize, &h)) return false;
    auto is = [&](size_t at, const char* text) { return std::memcmp(h.data() + at, text, 4) == 0; };
    if (!is(0, "xof ")) return false;
    // Majors other than 3 were never written; the minor changed only the template set.
    if (h[4] != '0' || h[5] != '3' || h[6] != '0' || !IsDigit(static_cast<char>(h[7]))) return false;
    Header header;
    if (is(8, "txt "))
        header.binary = false;
    else if (is(8, "bin "))
        header.binary = true;
    else if (is(8, "tzip"))
        header.compressed = true;
    else if (is(8, "bzip"))
        header.binary = header.compressed = true;
    else
        return false;
    if (is(12, "0032"))
        header.doubles = false;
    else if (is(12, "0064"))
        header.doubles = true;
    else
        return false;
    *out = header;
    return true;
}

Lexer::Lexer(const ByteReader& body, bool binary, bool doubles)
    : body_(body), cursor_(body), binary_(binary), doubles_(doubles)
{
    // The text scanner walks the reader's range by pointer for speed; every step is checked against
    // its end.
    p_ = reinterpret_cast<const char*>(body.All().data());
    end_ = p_ + body.Size();
}

Token Lexer::Next()
{
    return binary_ ? NextBinary() : NextText();
}

void Lexer::DropList()
{
    if (!listLeft_) return;
    const size_t width = listFloats_ && doubles_ ? 8 : 4;
    // The list's size was checked against the data when it began.
    if (!cursor_.Skip(size_t(listLeft_) * width)) [[maybe_unused]]
        bool atEnd = cursor_.Seek(body_.Size());
    listLeft_ = 0;
}

Token Lexer::NextText()
{
    for (;;)
    {
        while (p_ < end_ && IsSpace(*p_))
            ++p_;
        if (p_ >= end_) return Make(Tok::End);
        const char c = *p_;
        if (c == '#' || (c == '/' && p_ + 1 < end_ && p_[1] == '/'))
        {
            const void* nl = std::memchr(p_, '\n', static_cast<size_t>(end_ - p_));
            p_ = nl ? static_cast<const char*>(nl) + 1 : end_;
            continue;
        }
        switch (c)
        {
        case '{':
            ++p_;
            return Make(Tok::OBrace);
        case '}':
            ++p_;
            return Make(Tok::CBrace);
        case '(':
            ++p_;
            return Make(Tok::OParen);
        case ')':
            ++p_;
            return Make(Tok::CParen);
        case '[':
            ++p_;
            return Make(Tok::OBracket);
        case ']':
            ++p_;
            return Make(Tok::CBracket);
        case '>':
            ++p_;
            return Make(Tok::CAngle);
        case ',':
            ++p_;
            return Make(Tok::Comma);
        case ';':
            ++p_;
            return Make(Tok::Semicolon);
        case '<':
        {
            // A GUID in angle brackets, or a lone bracket.
            const char* q = p_ + 1;
            while (q < end_ && (IsHex(*q) || *q == '-' || *q == ' '))
                ++q;
            if (q < end_ && *q == '>' && q - p_ > 1)
            {
                Token t = Make(Tok::Guid);
                t.text = std::string_view(p_ + 1, static_cast<size_t>(q - p_ - 1));
                p_ = q + 1;
                return t;
            }
            ++p_;
            return Make(Tok::OAngle);
        }
        case '"':
        {
            const char* start = p_ + 1;
            const void* close = std::memchr(start, '"', static_cast<size_t>(end_ - start));
            if (!close) return Make(Tok::Error);
            Token t = Make(Tok::String);
            t.text = std::string_view(start, static_cast<size_t>(static_cast<const char*>(close) - start));
            p_ = static_cast<const char*>(close) + 1;
            return t;
        }
        default:
            break;
        }
        if (IsDigit(c) || c == '-' || c == '+' || (c == '.' && p_ + 1 < end_ && IsDigit(p_[1])))
            return TextNumber();
        if (c == '.')
        {
            ++p_;
            return Make(Tok::Dot);
        }
        if (IsWordStart(static_cast<unsigned char>(c))) return TextWord();
        return Make(Tok::Error);
    }
}

Token Lexer::TextNumber()
{
    const char* start = p_;
    const char* q = p_;
    if (*q == '+')
        start = ++q; // from_chars takes no plus sign
    else if (*q == '-')
        ++q;
    uint64_t whole = 0;
    const char* digits = q;
    while (q < end_ && IsDigit(*q))
    {
        if (whole < (uint64_t(1) << 60)) whole = whole * 10 + static_cast<uint64_t>(*q - '0');
        ++q;
    }
    const bool plain = q - digits <= 18 && !(q < end_ && (*q == '.' || *q == 'e' || *q == 'E'));
    if (plain && q > digits)
    {
        Token t = Make(Tok::Integer);
        t.integer = *start == '-' ? -static_cast<int64_t>(whole) : static_cast<int64_t>(whole);
        t.number = static_cast<double>(t.integer);
        p_ = q;
        return t;
    }
    Token t = Make(Tok::Float);
    double value = 0;
    auto [ptr, ec] = std::from_chars(start, end_, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range)
        value = 0;
    else if (ec != std::errc())
        return Make(Tok::Error);
    p_ = ptr;
    // Some exporters print not-a-number as "-1.#IND00" or "1.#QNAN0": such values count as 0.
    if (p_ < end_ && *p_ == '#')
    {
        while (p_ < end_ && (IsWordChar(static_cast<unsigned char>(*p_)) || *p_ == '#'))
            ++p_;
        value = 0;
    }
    t.number = std::isfinite(value) ? value : 0.0;
    return t;
}

Token Lexer::TextWord()
{
    const char* start = p_;
    while (p_ < end_ && IsWordChar(static_cast<unsigned char>(*p_)))
        ++p_;
    std::string_view word(start, static_cast<size_t>(p_ - start));
    if (word == "template") return Make(Tok::Template);
    if (word == "array") return Make(Tok::Array);
    if (IsTypeKeyword(word))
    {
        Token t = Make(Tok::Primitive);
        t.text = word;
        return t;
    }
    Token t = Make(Tok::Name);
    t.text = word;
    return t;
}

Token Lexer::BinaryInteger()
{
    uint32_t v = 0;
    if (!cursor_.U32(&v)) return Make(Tok::Error);
    Token t = Make(Tok::Integer);
    t.integer = v;
    t.number = v;
    return t;
}

Token Lexer::NextBinary()
{
    if (listLeft_)
    {
        --listLeft_;
        if (!listFloats_) return BinaryInteger();
        Token t = Make(Tok::Float);
        if (doubles_)
        {
            double d = 0;
            if (!cursor_.F64(&d)) return Make(Tok::Error);
            t.number = std::isfinite(d) ? d : 0.0;
        }
        else
        {
            float f = 0;
            if (!cursor_.F32(&f)) return Make(Tok::Error);
            t.number = std::isfinite(f) ? f : 0.0f;
        }
        return t;
    }
    for (;;)
    {
        if (cursor_.AtEnd()) return Make(Tok::End);
        uint16_t code = 0;
        if (!cursor_.U16(&code)) return Make(Tok::Error);
        switch (code)
        {
        case kTokName:
        case kTokString:
        {
            uint32_t length = 0;
            std::span<const uint8_t> bytes;
            if (!cursor_.U32(&length) || length > kMaxTextLength || !cursor_.Take(length, &bytes))
                return Make(Tok::Error);
            Token t = Make(code == kTokName ? Tok::Name : Tok::String);
            t.text = std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            if (code == kTokString)
            {
                // A string carries its own terminator token.
                uint16_t terminator = 0;
                if (!cursor_.U16(&terminator) || (terminator != kTokSemicolon && terminator != kTokComma))
                    return Make(Tok::Error);
            }
            return t;
        }
        case kTokInteger:
            return BinaryInteger();
        case kTokGuid:
        {
            std::span<const uint8_t> bytes;
            if (!cursor_.Take(16, &bytes)) return Make(Tok::Error);
            Token t = Make(Tok::Guid);
            t.text = std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            return t;
        }
        case kTokIntegerList:
        case kTokFloatList:
        {
            uint32_t count = 0;
            if (!cursor_.U32(&count)) return Make(Tok::Error);
            const size_t width = code == kTokIntegerList ? 4 : (doubles_ ? 8 : 4);
            if (count > cursor_.Remaining() / width) return Make(Tok::Error);
            if (count == 0) continue;
            listLeft_ = count;
            listFloats_ = code == kTokFloatList;
            return NextBinary();
        }
        case kTokOBrace:
            return Make(Tok::OBrace);
        case kTokCBrace:
            return Make(Tok::CBrace);
        case kTokOParen:
            return Make(Tok::OParen);
        case kTokCParen:
            return Make(Tok::CParen);
        case kTokOBracket:
            return Make(Tok::OBracket);
        case kTokCBracket:
            return Make(Tok::CBracket);
        case kTokOAngle:
            return Make(Tok::OAngle);
        case kTokCAngle:
            return Make(Tok::CAngle);
        case kTokDot:
            return Make(Tok::Dot);
        case kTokComma:
            return Make(Tok::Comma);
        case kTokSemicolon:
            return Make(Tok::Semicolon);
        case kTokTemplate:
            return Make(Tok::Template);
        case kTokArray:
            return Make(Tok::Array);
        default:
            if (code >= kTokFirstType && code <= kTokLastType) return Make(Tok::Primitive);
            return Make(Tok::Error);
        }
    }
}
} // namespace ferolt::d3dx9::xfile
