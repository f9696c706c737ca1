#pragma once
// The framework's multibyte string. Text is UTF-8; case conversion and case-insensitive comparison
// touch ASCII letters only, so names compare the same way as the layer's file paths.
// Pass a CString to printf-style functions as (LPCSTR)s or s.GetString().
#include "platform/win32/windef.h"
// Before the class: LoadString is a macro there, so the member is LoadStringA in every file, as in the
// original.
#include "platform/win32/winresource.h"

#include <cstdarg>
#include <string>

class CString
{
public:
    CString() = default;
    CString(const CString&) = default;
    CString(CString&&) noexcept = default;
    // A null pointer gives the empty string; MAKEINTRESOURCE(id) loads string resource id.
    CString(LPCSTR text);
    CString(LPCSTR text, int length);
    CString(const unsigned char* text) : CString(reinterpret_cast<LPCSTR>(text)) {}
    explicit CString(char ch, int repeat = 1);
    CString(const std::string& text) : text_(text) {}
    CString& operator=(const CString&) = default;
    CString& operator=(CString&&) noexcept = default;
    CString& operator=(LPCSTR text);
    CString& operator=(char ch);

    int GetLength() const { return static_cast<int>(text_.size()); }
    BOOL IsEmpty() const { return text_.empty(); }
    void Empty() { text_.clear(); }
    LPCSTR GetString() const { return text_.c_str(); }
    operator LPCSTR() const { return text_.c_str(); }
    // Out-of-range indices give 0 instead of reading outside the string.
    char GetAt(int index) const;
    char operator[](int index) const { return GetAt(index); }
    void SetAt(int index, char ch);

    CString& operator+=(const CString& other);
    CString& operator+=(LPCSTR text);
    CString& operator+=(char ch);
    void Append(LPCSTR text, int length);
    void AppendChar(char ch) { text_ += ch; }

    int Compare(LPCSTR other) const;
    int CompareNoCase(LPCSTR other) const;

    CString& MakeUpper();
    CString& MakeLower();
    CString& MakeReverse();

    // Indices are clamped to the string, as the original does: Mid(-2, 3) is Mid(0, 3), Left(100) the
    // whole string, a negative count the empty string.
    CString Left(int count) const;
    CString Mid(int first) const;
    CString Mid(int first, int count) const;
    CString Right(int count) const;
    CString SpanIncluding(LPCSTR characters) const;
    CString SpanExcluding(LPCSTR characters) const;

    // -1 when not found, or when start lies outside the string.
    int Find(char ch, int start = 0) const;
    int Find(LPCSTR sub, int start = 0) const;
    int ReverseFind(char ch) const;
    int FindOneOf(LPCSTR characters) const;

    int Replace(char oldChar, char newChar);
    int Replace(LPCSTR oldText, LPCSTR newText);
    int Remove(char ch);
    int Insert(int index, char ch);
    int Insert(int index, LPCSTR text);
    int Delete(int index, int count = 1);
    CString& Trim();
    CString& Trim(char target);
    CString& Trim(LPCSTR targets);
    CString& TrimLeft();
    CString& TrimLeft(char target);
    CString& TrimLeft(LPCSTR targets);
    CString& TrimRight();
    CString& TrimRight(char target);
    CString& TrimRight(LPCSTR targets);
    CString Tokenize(LPCSTR delimiters, int& start) const;

    void Format(LPCSTR format, ...) __attribute__((format(printf, 2, 3)));
    void AppendFormat(LPCSTR format, ...) __attribute__((format(printf, 2, 3)));
    void FormatV(LPCSTR format, va_list arguments);

    // A writable buffer of at least minLength bytes plus a zero, holding the current text;
    // ReleaseBuffer(-1) takes the length up to the first zero, ReleaseBuffer(n) keeps n bytes.
    LPSTR GetBuffer(int minLength);
    LPSTR GetBuffer() { return GetBuffer(0); }
    LPSTR GetBufferSetLength(int length);
    void ReleaseBuffer(int newLength = -1);
    void ReleaseBufferSetLength(int newLength) { ReleaseBuffer(newLength); }
    void Truncate(int length);

    // Loads string resource id of the executable; FALSE (and the string unchanged) when it is missing.
    BOOL LoadString(UINT id);

    const std::string& str() const { return text_; }

private:
    std::string text_;
    size_t bufferSize_ = 0; // bytes handed out by GetBuffer, for ReleaseBuffer(-1)
};

CString operator+(const CString& a, const CString& b);
CString operator+(const CString& a, LPCSTR b);
CString operator+(LPCSTR a, const CString& b);
CString operator+(const CString& a, char b);
CString operator+(char a, const CString& b);

bool operator==(const CString& a, const CString& b);
bool operator==(const CString& a, LPCSTR b);
bool operator==(LPCSTR a, const CString& b);
bool operator!=(const CString& a, const CString& b);
bool operator!=(const CString& a, LPCSTR b);
bool operator!=(LPCSTR a, const CString& b);
bool operator<(const CString& a, const CString& b);
bool operator>(const CString& a, const CString& b);
bool operator<=(const CString& a, const CString& b);
bool operator>=(const CString& a, const CString& b);

using CStringA = CString;
