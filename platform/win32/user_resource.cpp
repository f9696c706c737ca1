// Menu and dialog descriptions, read when LoadMenu or a dialog function needs them.
//
// Menus (resource type RT_MENU) and dialogs (RT_DIALOG) are UTF-8 text, one statement per line;
// '#' or "//" starts a comment, strings are in double quotes with \" \\ \t \n escapes, blocks are
// BEGIN ... END (or { ... }), numbers are decimal or 0x-hex, styles are names and numbers joined
// by '|' ("NOT name" removes a default style). A menu:
//
//   POPUP "text"
//   BEGIN
//       MENUITEM "text\tF2", 511 [, GRAYED] [, CHECKED]
//       MENUITEM SEPARATOR
//       POPUP "sub" BEGIN ... END
//   END
//
// A dialog, positions and sizes in dialog units:
//
//   DIALOG x, y, width, height
//   STYLE DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU     (also EXSTYLE)
//   CAPTION "text"
//   FONT 8, "MS Shell Dlg"
//   BEGIN
//       LTEXT|RTEXT|CTEXT "text", id, x, y, w, h [, style]
//       EDITTEXT id, x, y, w, h [, style]
//       COMBOBOX id, x, y, w, h [, style]
//       PUSHBUTTON|DEFPUSHBUTTON "text", id, x, y, w, h [, style]
//       CONTROL "text", id, "class", style, x, y, w, h
//   END
//
// A menu resource holds one menu bar whose items are usually one POPUP each.
#include "platform/win32/user_internal.h"
#include "platform/win32/user_resources.h"
#include "platform/win32/user_text.h"

#include "platform/win32/winresource.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>

namespace ferolt::win32::user
{

namespace
{
constexpr size_t kMaxItems = 4096;
constexpr int kMaxDepth = 16;

struct Token
{
    enum Kind
    {
        End,
        Word,
        String,
        Number,
        Punct,
    } kind = End;
    std::string text;
    int64_t number = 0;
    int line = 0;
};

class Lexer
{
public:
    explicit Lexer(const std::string& s) : s_(s) {}

    Token Next()
    {
        if (peeked_)
        {
            Token t = *peeked_;
            peeked_.reset();
            return t;
        }
        return Read();
    }
    const Token& Peek()
    {
        if (!peeked_) peeked_ = Read();
        return *peeked_;
    }
    bool AtLineStart() { return Peek().line != lastLine_; }

private:
    Token Read()
    {
        for (;;)
        {
            while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n'))
            {
                if (s_[i_] == '\n') ++line_;
                ++i_;
            }
            if (i_ < s_.size() &&
                (s_[i_] == '#' || (s_[i_] == '/' && i_ + 1 < s_.size() && s_[i_ + 1] == '/')))
            {
                while (i_ < s_.size() && s_[i_] != '\n')
                    ++i_;
                continue;
            }
            break;
        }
        Token t;
        t.line = line_;
        if (i_ >= s_.size()) return t;
        char c = s_[i_];
        if (c == '"')
        {
            t.kind = Token::String;
            ++i_;
            while (i_ < s_.size() && t.text.size() < kMaxText)
            {
                char d = s_[i_++];
                if (d == '"')
                {
                    if (i_ < s_.size() && s_[i_] == '"')
                    {
                        t.text += '"';
                        ++i_;
                        continue;
                    }
                    break;
                }
                if (d == '\\' && i_ < s_.size())
                {
                    char e = s_[i_++];
                    t.text += e == 't' ? '\t' : e == 'n' ? '\n' : e;
                    continue;
                }
                if (d == '\n') ++line_;
                t.text += d;
            }
            return t;
        }
        if ((c >= '0' && c <= '9') ||
            (c == '-' && i_ + 1 < s_.size() && s_[i_ + 1] >= '0' && s_[i_ + 1] <= '9'))
        {
            t.kind = Token::Number;
            bool neg = c == '-';
            if (neg) ++i_;
            int base = 10;
            if (s_[i_] == '0' && i_ + 1 < s_.size() && (s_[i_ + 1] == 'x' || s_[i_ + 1] == 'X'))
            {
                base = 16;
                i_ += 2;
            }
            int64_t v = 0;
            while (i_ < s_.size())
            {
                char d = s_[i_];
                int digit = (d >= '0' && d <= '9')                 ? d - '0'
                            : (base == 16 && d >= 'a' && d <= 'f') ? d - 'a' + 10
                            : (base == 16 && d >= 'A' && d <= 'F') ? d - 'A' + 10
                                                                   : -1;
                if (digit < 0) break;
                v = std::min<int64_t>(v * base + digit, 0xFFFFFFFFll);
                ++i_;
            }
            while (i_ < s_.size() && (s_[i_] == 'L' || s_[i_] == 'l' || s_[i_] == 'U' || s_[i_] == 'u'))
                ++i_;
            t.number = neg ? -v : v;
            return t;
        }
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_')
        {
            t.kind = Token::Word;
            while (i_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[i_])) || s_[i_] == '_'))
                t.text += s_[i_++];
            return t;
        }
        t.kind = Token::Punct;
        t.text = std::string(1, c);
        ++i_;
        return t;
    }

    const std::string& s_;
    size_t i_ = 0;
    int line_ = 1;
    int lastLine_ = 0;
    std::optional<Token> peeked_;
};

struct Named
{
    const char* name;
    DWORD value;
};

// Names the descriptions may use for styles and ids.
const Named kNames[] = {
    {"WS_OVERLAPPED", WS_OVERLAPPED},
    {"WS_POPUP", static_cast<DWORD>(WS_POPUP)},
    {"WS_CHILD", WS_CHILD},
    {"WS_VISIBLE", WS_VISIBLE},
    {"WS_DISABLED", WS_DISABLED},
    {"WS_CLIPSIBLINGS", WS_CLIPSIBLINGS},
    {"WS_CLIPCHILDREN", WS_CLIPCHILDREN},
    {"WS_CAPTION", WS_CAPTION},
    {"WS_BORDER", WS_BORDER},
    {"WS_DLGFRAME", WS_DLGFRAME},
    {"WS_VSCROLL", WS_VSCROLL},
    {"WS_HSCROLL", WS_HSCROLL},
    {"WS_SYSMENU", WS_SYSMENU},
    {"WS_THICKFRAME", WS_THICKFRAME},
    {"WS_GROUP", WS_GROUP},
    {"WS_TABSTOP", WS_TABSTOP},
    {"WS_MINIMIZEBOX", WS_MINIMIZEBOX},
    {"WS_MAXIMIZEBOX", WS_MAXIMIZEBOX},
    {"WS_OVERLAPPEDWINDOW", WS_OVERLAPPEDWINDOW},
    {"WS_EX_CLIENTEDGE", WS_EX_CLIENTEDGE},
    {"WS_EX_DLGMODALFRAME", WS_EX_DLGMODALFRAME},
    {"WS_EX_TOOLWINDOW", WS_EX_TOOLWINDOW},
    {"DS_MODALFRAME", DS_MODALFRAME},
    {"DS_SETFONT", DS_SETFONT},
    {"DS_FIXEDSYS", DS_FIXEDSYS},
    {"DS_SHELLFONT", DS_SHELLFONT},
    {"DS_CENTER", DS_CENTER},
    {"DS_3DLOOK", DS_3DLOOK},
    {"DS_ABSALIGN", DS_ABSALIGN},
    {"DS_SETFOREGROUND", DS_SETFOREGROUND},
    {"ES_LEFT", ES_LEFT},
    {"ES_CENTER", ES_CENTER},
    {"ES_RIGHT", ES_RIGHT},
    {"ES_MULTILINE", ES_MULTILINE},
    {"ES_AUTOHSCROLL", ES_AUTOHSCROLL},
    {"ES_AUTOVSCROLL", ES_AUTOVSCROLL},
    {"ES_READONLY", ES_READONLY},
    {"ES_NUMBER", ES_NUMBER},
    {"ES_PASSWORD", ES_PASSWORD},
    {"SS_LEFT", SS_LEFT},
    {"SS_CENTER", SS_CENTER},
    {"SS_RIGHT", SS_RIGHT},
    {"SS_BITMAP", SS_BITMAP},
    {"SS_ICON", SS_ICON},
    {"SS_NOTIFY", SS_NOTIFY},
    {"SS_CENTERIMAGE", SS_CENTERIMAGE},
    {"SS_REALSIZEIMAGE", SS_REALSIZEIMAGE},
    {"SS_SUNKEN", SS_SUNKEN},
    {"SS_NOPREFIX", SS_NOPREFIX},
    {"SS_LEFTNOWORDWRAP", SS_LEFTNOWORDWRAP},
    {"SS_SIMPLE", SS_SIMPLE},
    {"BS_PUSHBUTTON", BS_PUSHBUTTON},
    {"BS_DEFPUSHBUTTON", BS_DEFPUSHBUTTON},
    {"BS_CHECKBOX", BS_CHECKBOX},
    {"BS_AUTOCHECKBOX", BS_AUTOCHECKBOX},
    {"BS_RADIOBUTTON", BS_RADIOBUTTON},
    {"BS_AUTORADIOBUTTON", BS_AUTORADIOBUTTON},
    {"BS_GROUPBOX", BS_GROUPBOX},
    {"CBS_SIMPLE", CBS_SIMPLE},
    {"CBS_DROPDOWN", CBS_DROPDOWN},
    {"CBS_DROPDOWNLIST", CBS_DROPDOWNLIST},
    {"CBS_SORT", CBS_SORT},
    {"CBS_HASSTRINGS", CBS_HASSTRINGS},
    {"CBS_AUTOHSCROLL", CBS_AUTOHSCROLL},
    {"IDOK", IDOK},
    {"IDCANCEL", IDCANCEL},
    {"IDYES", IDYES},
    {"IDNO", IDNO},
    {"IDHELP", IDHELP},
    {"IDC_STATIC", static_cast<DWORD>(-1)},
};

std::optional<DWORD> LookUp(const std::string& word)
{
    for (auto& n : kNames)
        if (word == n.name) return n.value;
    return std::nullopt;
}

bool IsWord(const Token& t, const char* w)
{
    return t.kind == Token::Word && t.text == w;
}
bool IsPunct(const Token& t, char c)
{
    return t.kind == Token::Punct && t.text.size() == 1 && t.text[0] == c;
}

bool SkipComma(Lexer& lx)
{
    if (IsPunct(lx.Peek(), ','))
    {
        lx.Next();
        return true;
    }
    return false;
}

std::optional<int64_t> Integer(Lexer& lx)
{
    Token t = lx.Next();
    if (t.kind == Token::Number) return t.number;
    if (t.kind == Token::Word)
        if (auto v = LookUp(t.text)) return static_cast<int32_t>(*v);
    return std::nullopt;
}

// name | name | NOT name ...; `value` starts with the defaults.
bool Styles(Lexer& lx, DWORD* value)
{
    for (;;)
    {
        bool negate = false;
        if (IsWord(lx.Peek(), "NOT"))
        {
            lx.Next();
            negate = true;
        }
        Token t = lx.Next();
        DWORD v;
        if (t.kind == Token::Number)
            v = static_cast<DWORD>(t.number);
        else if (t.kind == Token::Word && LookUp(t.text))
            v = *LookUp(t.text);
        else
            return false;
        if (negate)
            *value &= ~v;
        else
            *value |= v;
        if (!IsPunct(lx.Peek(), '|')) return true;
        lx.Next();
    }
}

bool BlockStart(Lexer& lx)
{
    Token t = lx.Next();
    return IsWord(t, "BEGIN") || IsPunct(t, '{');
}

bool IsBlockEnd(const Token& t)
{
    return IsWord(t, "END") || IsPunct(t, '}');
}

bool ParseMenuItems(Lexer& lx, HMENU menu, int depth, size_t* count)
{
    if (depth > kMaxDepth || !BlockStart(lx)) return false;
    for (;;)
    {
        Token t = lx.Next();
        if (IsBlockEnd(t)) return true;
        if (++*count > kMaxItems) return false;
        if (IsWord(t, "POPUP"))
        {
            Token text = lx.Next();
            if (text.kind != Token::String) return false;
            while (SkipComma(lx))
                lx.Next(); // options of a popup are not used
            HMENU sub = CreatePopupMenu();
            if (!ParseMenuItems(lx, sub, depth + 1, count))
            {
                DestroyMenu(sub);
                return false;
            }
            AppendMenuA(menu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(sub), text.text.c_str());
            continue;
        }
        if (!IsWord(t, "MENUITEM")) return false;
        if (IsWord(lx.Peek(), "SEPARATOR"))
        {
            lx.Next();
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        Token text = lx.Next();
        if (text.kind != Token::String || !SkipComma(lx)) return false;
        auto id = Integer(lx);
        if (!id) return false;
        UINT flags = MF_STRING;
        while (SkipComma(lx))
        {
            Token o = lx.Next();
            if (IsWord(o, "GRAYED"))
                flags |= MF_GRAYED;
            else if (IsWord(o, "CHECKED"))
                flags |= MF_CHECKED;
            else if (IsWord(o, "INACTIVE"))
                flags |= MF_DISABLED;
            else if (o.kind != Token::Word)
                return false;
        }
        AppendMenuA(menu, flags, static_cast<UINT_PTR>(*id & 0xFFFF), text.text.c_str());
    }
}

bool Rect4(Lexer& lx, DialogControl* c)
{
    auto x = Integer(lx);
    if (!x || !SkipComma(lx)) return false;
    auto y = Integer(lx);
    if (!y || !SkipComma(lx)) return false;
    auto w = Integer(lx);
    if (!w || !SkipComma(lx)) return false;
    auto h = Integer(lx);
    if (!h) return false;
    auto clamp = [](int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, -10000, 10000)); };
    c->x = clamp(*x);
    c->y = clamp(*y);
    c->cx = clamp(*w);
    c->cy = clamp(*h);
    return true;
}

bool ParseControl(Lexer& lx, const Token& kw, DialogControl* c)
{
    const std::string& k = kw.text;
    DWORD base = WS_CHILD | WS_VISIBLE;
    bool hasText = k != "EDITTEXT" && k != "COMBOBOX";
    if (hasText)
    {
        Token t = lx.Next();
        if (t.kind != Token::String || !SkipComma(lx)) return false;
        c->text = t.text;
    }
    auto id = Integer(lx);
    if (!id || !SkipComma(lx)) return false;
    c->id = static_cast<int>(*id);
    if (k == "CONTROL")
    {
        Token cls = lx.Next();
        if (cls.kind != Token::String || !SkipComma(lx)) return false;
        c->className = cls.text;
        c->style = base;
        if (!Styles(lx, &c->style) || !SkipComma(lx)) return false;
        if (!Rect4(lx, c)) return false;
        if (SkipComma(lx) && !Styles(lx, &c->exStyle)) return false;
        return true;
    }
    if (!Rect4(lx, c)) return false;
    if (k == "LTEXT" || k == "RTEXT" || k == "CTEXT")
    {
        c->className = "Static";
        c->style = base | WS_GROUP | (k == "RTEXT" ? SS_RIGHT : k == "CTEXT" ? SS_CENTER : SS_LEFT);
    }
    else if (k == "EDITTEXT")
    {
        c->className = "Edit";
        c->style = base | WS_BORDER | WS_TABSTOP | ES_LEFT;
    }
    else if (k == "COMBOBOX")
    {
        c->className = "ComboBox";
        c->style = base | WS_TABSTOP;
    }
    else if (k == "PUSHBUTTON" || k == "DEFPUSHBUTTON")
    {
        c->className = "Button";
        c->style = base | WS_TABSTOP | (k == "DEFPUSHBUTTON" ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    }
    else
    {
        return false;
    }
    if (SkipComma(lx) && !Styles(lx, &c->style)) return false;
    if (SkipComma(lx) && !Styles(lx, &c->exStyle)) return false;
    return true;
}
} // namespace

HMENU ParseMenu(const std::string& text)
{
    // Either a bare list of POPUP/MENUITEM statements or one wrapped in BEGIN ... END.
    std::string framed;
    {
        Lexer probe(text);
        const Token& first = probe.Peek();
        framed = (IsWord(first, "BEGIN") || IsPunct(first, '{')) ? text : "BEGIN\n" + text + "\nEND\n";
    }
    Lexer lx(framed);
    HMENU bar = CreateMenu();
    size_t count = 0;
    if (!ParseMenuItems(lx, bar, 0, &count) || lx.Next().kind != Token::End)
    {
        DestroyMenu(bar);
        return nullptr;
    }
    return bar;
}

std::shared_ptr<DialogTemplate> ParseDialog(const std::string& text)
{
    Lexer lx(text);
    auto d = std::make_shared<DialogTemplate>();
    if (!IsWord(lx.Next(), "DIALOG")) return nullptr;
    DialogControl box;
    if (!Rect4(lx, &box)) return nullptr;
    d->x = box.x;
    d->y = box.y;
    d->cx = std::max(0, box.cx);
    d->cy = std::max(0, box.cy);
    for (;;)
    {
        Token t = lx.Next();
        if (IsWord(t, "BEGIN") || IsPunct(t, '{')) break;
        if (IsWord(t, "STYLE"))
        {
            d->style = 0;
            if (!Styles(lx, &d->style)) return nullptr;
        }
        else if (IsWord(t, "EXSTYLE"))
        {
            if (!Styles(lx, &d->exStyle)) return nullptr;
        }
        else if (IsWord(t, "CAPTION"))
        {
            Token c = lx.Next();
            if (c.kind != Token::String) return nullptr;
            d->caption = c.text;
        }
        else if (IsWord(t, "FONT"))
        {
            auto pt = Integer(lx);
            if (!pt || !SkipComma(lx)) return nullptr;
            Token f = lx.Next();
            if (f.kind != Token::String) return nullptr;
            d->pointSize = static_cast<int>(std::clamp<int64_t>(*pt, 1, 72));
            d->face = f.text.substr(0, LF_FACESIZE - 1);
            while (SkipComma(lx))
                lx.Next(); // weight, italic, charset
        }
        else
        {
            return nullptr;
        }
    }
    for (;;)
    {
        Token t = lx.Next();
        if (IsBlockEnd(t)) break;
        if (t.kind != Token::Word || d->controls.size() >= kMaxItems) return nullptr;
        DialogControl c;
        if (!ParseControl(lx, t, &c)) return nullptr;
        d->controls.push_back(std::move(c));
    }
    if (lx.Next().kind != Token::End) return nullptr;
    return d;
}

bool LoadResourceText(HINSTANCE instance, LPCSTR name, int type, std::string* out)
{
    HRSRC r = FindResourceA(instance, name, MAKEINTRESOURCEA(type));
    if (!r) return false;
    HGLOBAL h = LoadResource(instance, r);
    const void* p = h ? LockResource(h) : nullptr;
    DWORD size = SizeofResource(instance, r);
    if (!p) return false;
    out->assign(static_cast<const char*>(p), size);
    return true;
}
} // namespace ferolt::win32::user

using namespace ferolt::win32::user;

HMENU LoadMenuA(HINSTANCE instance, LPCSTR name)
{
    std::string text;
    if (!LoadResourceText(instance, name, 4 /* RT_MENU */, &text)) return nullptr;
    return ParseMenu(text);
}

namespace ferolt::win32
{
HMENU LoadMenuFromText(const std::string& text)
{
    return ParseMenu(text);
}

std::string Cp1252ToUtf8(const std::string& text)
{
    // 0x80..0x9F differ from Latin-1; 0 marks the five undefined positions.
    static const uint16_t high[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text)
    {
        uint32_t cp = c;
        if (c >= 0x80 && c < 0xA0) cp = high[c - 0x80] ? high[c - 0x80] : 0xFFFD;
        if (cp < 0x80)
            out += static_cast<char>(cp);
        else if (cp < 0x800)
        {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
        else
        {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::string Utf8ToCp1252(const std::string& text)
{
    static const uint16_t high[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    std::string out;
    size_t i = 0;
    while (i < text.size())
    {
        unsigned char c = static_cast<unsigned char>(text[i]);
        uint32_t cp;
        size_t n;
        if (c < 0x80)
        {
            cp = c;
            n = 1;
        }
        else if ((c & 0xE0) == 0xC0)
        {
            cp = c & 0x1F;
            n = 2;
        }
        else if ((c & 0xF0) == 0xE0)
        {
            cp = c & 0x0F;
            n = 3;
        }
        else if ((c & 0xF8) == 0xF0)
        {
            cp = c & 0x07;
            n = 4;
        }
        else
        {
            out += '?';
            ++i;
            continue;
        }
        bool bad = i + n > text.size();
        for (size_t k = 1; !bad && k < n; ++k)
        {
            unsigned char d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80) bad = true;
            cp = (cp << 6) | (d & 0x3F);
        }
        if (bad)
        {
            out += '?';
            ++i;
            continue;
        }
        i += n;
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        {
            out += static_cast<char>(cp);
            continue;
        }
        char mapped = '?';
        for (int k = 0; k < 32; ++k)
            if (high[k] == cp) mapped = static_cast<char>(0x80 + k);
        out += mapped;
    }
    return out;
}
} // namespace ferolt::win32
