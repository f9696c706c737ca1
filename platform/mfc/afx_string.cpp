// The framework's string.
#include "platform/mfc/afx_string.h"

#include "platform/win32/winresource.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace
{
char Upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}
char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
const char* OrEmpty(LPCSTR text)
{
    return text && !IS_INTRESOURCE(text) ? text : "";
}
bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
} // namespace

CString::CString(LPCSTR text)
{
    if (text && IS_INTRESOURCE(text))
        LoadString(static_cast<UINT>(reinterpret_cast<ULONG_PTR>(text)));
    else if (text)
        text_ = text;
}

CString::CString(LPCSTR text, int length)
{
    if (text && !IS_INTRESOURCE(text) && length > 0) text_.assign(text, static_cast<size_t>(length));
}

CString::CString(char ch, int repeat)
{
    if (repeat > 0) text_.assign(static_cast<size_t>(repeat), ch);
}

CString& CString::operator=(LPCSTR text)
{
    text_ = OrEmpty(text);
    return *this;
}

CString& CString::operator=(char ch)
{
    text_.assign(1, ch);
    return *this;
}

char CString::GetAt(int index) const
{
    return index >= 0 && index < GetLength() ? text_[static_cast<size_t>(index)] : '\0';
}

void CString::SetAt(int index, char ch)
{
    if (index >= 0 && index < GetLength()) text_[static_cast<size_t>(index)] = ch;
}

CString& CString::operator+=(const CString& other)
{
    text_ += other.text_;
    return *this;
}

CString& CString::operator+=(LPCSTR text)
{
    text_ += OrEmpty(text);
    return *this;
}

CString& CString::operator+=(char ch)
{
    text_ += ch;
    return *this;
}

void CString::Append(LPCSTR text, int length)
{
    if (text && length > 0) text_.append(text, static_cast<size_t>(length));
}

int CString::Compare(LPCSTR other) const
{
    int c = strcmp(text_.c_str(), OrEmpty(other));
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int CString::CompareNoCase(LPCSTR other) const
{
    int c = strcasecmp(text_.c_str(), OrEmpty(other));
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

CString& CString::MakeUpper()
{
    std::transform(text_.begin(), text_.end(), text_.begin(), Upper);
    return *this;
}

CString& CString::MakeLower()
{
    std::transform(text_.begin(), text_.end(), text_.begin(), Lower);
    return *this;
}

CString& CString::MakeReverse()
{
    std::reverse(text_.begin(), text_.end());
    return *this;
}

CString CString::Left(int count) const
{
    count = std::clamp(count, 0, GetLength());
    return CString(text_.substr(0, static_cast<size_t>(count)));
}

CString CString::Mid(int first) const
{
    return Mid(first, GetLength());
}

CString CString::Mid(int first, int count) const
{
    first = std::clamp(first, 0, GetLength());
    count = std::clamp(count, 0, GetLength() - first);
    return CString(text_.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
}

CString CString::Right(int count) const
{
    count = std::clamp(count, 0, GetLength());
    return CString(text_.substr(static_cast<size_t>(GetLength() - count)));
}

CString CString::SpanIncluding(LPCSTR characters) const
{
    return Left(static_cast<int>(strspn(text_.c_str(), OrEmpty(characters))));
}

CString CString::SpanExcluding(LPCSTR characters) const
{
    return Left(static_cast<int>(strcspn(text_.c_str(), OrEmpty(characters))));
}

int CString::Find(char ch, int start) const
{
    if (start < 0 || start >= GetLength()) return -1;
    size_t at = text_.find(ch, static_cast<size_t>(start));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::Find(LPCSTR sub, int start) const
{
    if (!sub || IS_INTRESOURCE(sub) || start < 0 || start > GetLength()) return -1;
    size_t at = text_.find(sub, static_cast<size_t>(start));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::ReverseFind(char ch) const
{
    size_t at = text_.rfind(ch);
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::FindOneOf(LPCSTR characters) const
{
    size_t at = text_.find_first_of(OrEmpty(characters));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::Replace(char oldChar, char newChar)
{
    int count = 0;
    for (char& c : text_)
        if (c == oldChar)
        {
            c = newChar;
            ++count;
        }
    return count;
}

int CString::Replace(LPCSTR oldText, LPCSTR newText)
{
    std::string from = OrEmpty(oldText), to = OrEmpty(newText);
    if (from.empty()) return 0;
    int count = 0;
    size_t at = 0;
    while ((at = text_.find(from, at)) != std::string::npos)
    {
        text_.replace(at, from.size(), to);
        at += to.size();
        ++count;
    }
    return count;
}

int CString::Remove(char ch)
{
    size_t before = text_.size();
    std::erase(text_, ch);
    return static_cast<int>(before - text_.size());
}

int CString::Insert(int index, char ch)
{
    index = std::clamp(index, 0, GetLength());
    text_.insert(static_cast<size_t>(index), 1, ch);
    return GetLength();
}

int CString::Insert(int index, LPCSTR text)
{
    index = std::clamp(index, 0, GetLength());
    text_.insert(static_cast<size_t>(index), OrEmpty(text));
    return GetLength();
}

int CString::Delete(int index, int count)
{
    index = std::max(index, 0);
    if (count > 0 && index < GetLength())
        text_.erase(static_cast<size_t>(index), static_cast<size_t>(std::min(count, GetLength() - index)));
    return GetLength();
}

CString& CString::TrimLeft()
{
    size_t first = 0;
    while (first < text_.size() && IsSpace(text_[first]))
        ++first;
    text_.erase(0, first);
    return *this;
}

CString& CString::TrimRight()
{
    while (!text_.empty() && IsSpace(text_.back()))
        text_.pop_back();
    return *this;
}

CString& CString::TrimLeft(LPCSTR targets)
{
    text_.erase(0, std::min(text_.size(), text_.find_first_not_of(OrEmpty(targets))));
    return *this;
}

CString& CString::TrimRight(LPCSTR targets)
{
    size_t last = text_.find_last_not_of(OrEmpty(targets));
    text_.erase(last == std::string::npos ? 0 : last + 1);
    return *this;
}

CString& CString::TrimLeft(char target)
{
    const char targets[2] = {target, '\0'};
    return TrimLeft(targets);
}

CString& CString::TrimRight(char target)
{
    const char targets[2] = {target, '\0'};
    return TrimRight(targets);
}

CString& CString::Trim()
{
    return TrimRight().TrimLeft();
}
CString& CString::Trim(char target)
{
    return TrimRight(target).TrimLeft(target);
}
CString& CString::Trim(LPCSTR targets)
{
    return TrimRight(targets).TrimLeft(targets);
}

CString CString::Tokenize(LPCSTR delimiters, int& start) const
{
    if (start < 0 || start >= GetLength())
    {
        start = -1;
        return CString();
    }
    std::string set = OrEmpty(delimiters);
    size_t from = text_.find_first_not_of(set, static_cast<size_t>(start));
    if (from == std::string::npos)
    {
        start = -1;
        return CString();
    }
    size_t to = text_.find_first_of(set, from);
    if (to == std::string::npos) to = text_.size();
    start = static_cast<int>(std::min(to + 1, text_.size() + 1));
    return CString(text_.substr(from, to - from));
}

void CString::FormatV(LPCSTR format, va_list arguments)
{
    if (!format)
    {
        text_.clear();
        return;
    }
    va_list copy;
    va_copy(copy, arguments);
    int length = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length < 0)
    {
        text_.clear();
        return;
    }
    std::string result(static_cast<size_t>(length) + 1, '\0');
    vsnprintf(result.data(), result.size(), format, arguments);
    result.resize(static_cast<size_t>(length));
    text_ = std::move(result);
}

void CString::Format(LPCSTR format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    FormatV(format, arguments);
    va_end(arguments);
}

void CString::AppendFormat(LPCSTR format, ...)
{
    CString tail;
    va_list arguments;
    va_start(arguments, format);
    tail.FormatV(format, arguments);
    va_end(arguments);
    text_ += tail.text_;
}

LPSTR CString::GetBuffer(int minLength)
{
    size_t size = std::max(text_.size(), static_cast<size_t>(std::max(minLength, 0)));
    text_.resize(size, '\0');
    bufferSize_ = size;
    return text_.data();
}

LPSTR CString::GetBufferSetLength(int length)
{
    text_.resize(static_cast<size_t>(std::max(length, 0)), '\0');
    bufferSize_ = text_.size();
    return text_.data();
}

void CString::ReleaseBuffer(int newLength)
{
    size_t limit = std::max(bufferSize_, text_.size());
    text_.resize(limit, '\0');
    size_t length =
        newLength < 0 ? strnlen(text_.c_str(), limit) : std::min(static_cast<size_t>(newLength), limit);
    text_.resize(length);
    bufferSize_ = 0;
}

void CString::Truncate(int length)
{
    if (length >= 0 && length < GetLength()) text_.resize(static_cast<size_t>(length));
}

BOOL CString::LoadString(UINT id)
{
    const char* text = nullptr;
    size_t length = 0;
    if (!ferolt::win32::FindResourceString(id, &text, &length)) return FALSE;
    text_.assign(text, length);
    return TRUE;
}

CString operator+(const CString& a, const CString& b)
{
    return CString(a.str() + b.str());
}
CString operator+(const CString& a, LPCSTR b)
{
    return CString(a.str() + OrEmpty(b));
}
CString operator+(LPCSTR a, const CString& b)
{
    return CString(OrEmpty(a) + b.str());
}
CString operator+(const CString& a, char b)
{
    return CString(a.str() + b);
}
CString operator+(char a, const CString& b)
{
    return CString(a + b.str());
}

bool operator==(const CString& a, const CString& b)
{
    return a.str() == b.str();
}
bool operator==(const CString& a, LPCSTR b)
{
    return a.str() == OrEmpty(b);
}
bool operator==(LPCSTR a, const CString& b)
{
    return b == a;
}
bool operator!=(const CString& a, const CString& b)
{
    return !(a == b);
}
bool operator!=(const CString& a, LPCSTR b)
{
    return !(a == b);
}
bool operator!=(LPCSTR a, const CString& b)
{
    return !(b == a);
}
bool operator<(const CString& a, const CString& b)
{
    return a.Compare(b) < 0;
}
bool operator>(const CString& a, const CString& b)
{
    return a.Compare(b) > 0;
}
bool operator<=(const CString& a, const CString& b)
{
    return a.Compare(b) <= 0;
}
bool operator>=(const CString& a, const CString& b)
{
    return a.Compare(b) >= 0;
}
