// Menus and the modal popup menu.
#include "platform/win32/user_internal.h"

#include <algorithm>
#include <cstring>

using namespace ferolt::win32::user;
using ferolt::win32::user::S;

namespace
{
std::shared_ptr<Menu> MenuLocked(HMENU h)
{
    auto it = S().menus.find(reinterpret_cast<uintptr_t>(h));
    return it == S().menus.end() ? nullptr : it->second;
}

HMENU NewMenu(bool popup)
{
    auto m = std::make_shared<Menu>();
    m->popup = popup;
    std::lock_guard g(S().lock);
    uintptr_t id = S().nextMenu;
    S().nextMenu += 4;
    S().menus[id] = m;
    return reinterpret_cast<HMENU>(id);
}

// Finds an item by command (searching submenus) or by position. Lock held.
MenuItem* ItemLocked(HMENU h, UINT item, UINT flags, int depth = 0)
{
    auto m = MenuLocked(h);
    if (!m || depth > 16) return nullptr;
    if (flags & MF_BYPOSITION) return item < m->items.size() ? &m->items[item] : nullptr;
    for (auto& it : m->items)
    {
        if (!it.submenu && !(it.flags & MF_SEPARATOR) && it.id == item) return &it;
        if (it.submenu)
            if (MenuItem* sub = ItemLocked(it.submenu, item, flags, depth + 1)) return sub;
    }
    return nullptr;
}

BOOL Insert(HMENU menu, UINT position, UINT flags, UINT_PTR idOrPopup, LPCSTR text, bool append)
{
    std::lock_guard g(S().lock);
    auto m = MenuLocked(menu);
    if (!m || m->items.size() >= 4096) return FALSE;
    MenuItem it;
    it.flags = flags & ~static_cast<UINT>(MF_BYPOSITION | MF_APPEND | MF_CHANGE | MF_DELETE | MF_REMOVE);
    if (flags & MF_POPUP)
    {
        it.submenu = reinterpret_cast<HMENU>(idOrPopup);
        if (!MenuLocked(it.submenu) || it.submenu == menu) return FALSE;
    }
    else
    {
        it.id = idOrPopup;
    }
    if (!(flags & MF_SEPARATOR) && text && !(flags & (MF_BITMAP | MF_OWNERDRAW)))
        it.text = std::string(text).substr(0, 4096);
    size_t at = m->items.size();
    if (!append)
    {
        if (flags & MF_BYPOSITION)
        {
            // Beyond the end (or -1) appends.
            if (position < m->items.size()) at = position;
        }
        else
        {
            for (size_t i = 0; i < m->items.size(); ++i)
                if (!m->items[i].submenu && m->items[i].id == position) at = i;
        }
    }
    m->items.insert(m->items.begin() + static_cast<std::ptrdiff_t>(at), it);
    return TRUE;
}

void DestroyLocked(HMENU h, int depth)
{
    auto m = MenuLocked(h);
    if (!m || depth > 16) return;
    S().menus.erase(reinterpret_cast<uintptr_t>(h));
    for (auto& it : m->items)
        if (it.submenu) DestroyLocked(it.submenu, depth + 1);
}

void BuildModel(HMENU h, std::vector<ferolt::backend::MenuItemModel>& out, int depth)
{
    auto m = MenuLocked(h);
    if (!m || depth > 16) return;
    for (auto& it : m->items)
    {
        ferolt::backend::MenuItemModel x;
        x.separator = (it.flags & MF_SEPARATOR) != 0;
        x.checked = (it.flags & MF_CHECKED) != 0;
        x.grayed = (it.flags & (MF_GRAYED | MF_DISABLED)) != 0;
        x.text = it.text;
        x.id = static_cast<uint32_t>(it.id);
        if (it.submenu)
        {
            x.popup = true;
            x.id = 0;
            BuildModel(it.submenu, x.submenu, depth + 1);
        }
        out.push_back(std::move(x));
    }
}

// A command the user may choose: an enabled plain item somewhere in the menu.
bool Choosable(const std::vector<ferolt::backend::MenuItemModel>& items, uint32_t id)
{
    for (auto& x : items)
    {
        if (x.popup)
        {
            if (!x.grayed && Choosable(x.submenu, id)) return true;
        }
        else if (!x.separator && !x.grayed && x.id == id)
            return true;
    }
    return false;
}
} // namespace

HMENU CreateMenu()
{
    return NewMenu(false);
}
HMENU CreatePopupMenu()
{
    return NewMenu(true);
}

BOOL DestroyMenu(HMENU menu)
{
    std::lock_guard g(S().lock);
    if (!MenuLocked(menu)) return FALSE;
    DestroyLocked(menu, 0);
    return TRUE;
}

BOOL IsMenu(HMENU menu)
{
    std::lock_guard g(S().lock);
    return MenuLocked(menu) ? TRUE : FALSE;
}

HMENU GetSubMenu(HMENU menu, int pos)
{
    std::lock_guard g(S().lock);
    auto m = MenuLocked(menu);
    if (!m || pos < 0 || static_cast<size_t>(pos) >= m->items.size()) return nullptr;
    return m->items[static_cast<size_t>(pos)].submenu;
}

int GetMenuItemCount(HMENU menu)
{
    std::lock_guard g(S().lock);
    auto m = MenuLocked(menu);
    return m ? static_cast<int>(m->items.size()) : -1;
}

UINT GetMenuItemID(HMENU menu, int pos)
{
    std::lock_guard g(S().lock);
    auto m = MenuLocked(menu);
    if (!m || pos < 0 || static_cast<size_t>(pos) >= m->items.size()) return static_cast<UINT>(-1);
    auto& it = m->items[static_cast<size_t>(pos)];
    return it.submenu ? static_cast<UINT>(-1) : static_cast<UINT>(it.id);
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags)
{
    std::lock_guard g(S().lock);
    MenuItem* it = ItemLocked(menu, item, flags);
    if (!it) return static_cast<UINT>(-1);
    UINT state = it->flags & (MF_CHECKED | MF_GRAYED | MF_DISABLED | MF_SEPARATOR | MF_POPUP);
    if (it->submenu)
    {
        auto sub = MenuLocked(it->submenu);
        state |= static_cast<UINT>(sub ? sub->items.size() : 0) << 8;
    }
    return state;
}

int GetMenuStringA(HMENU menu, UINT item, LPSTR buffer, int max, UINT flags)
{
    std::lock_guard g(S().lock);
    MenuItem* it = ItemLocked(menu, item, flags);
    if (!it) return 0;
    if (!buffer || max <= 0) return static_cast<int>(it->text.size());
    int n = std::min<int>(static_cast<int>(it->text.size()), max - 1);
    std::memcpy(buffer, it->text.data(), static_cast<size_t>(n));
    buffer[n] = 0;
    return n;
}

BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR idOrPopup, LPCSTR text)
{
    return Insert(menu, 0, flags, idOrPopup, text, true);
}

BOOL InsertMenuA(HMENU menu, UINT position, UINT flags, UINT_PTR idOrPopup, LPCSTR text)
{
    return Insert(menu, position, flags, idOrPopup, text, false);
}

static BOOL Remove(HMENU menu, UINT position, UINT flags, bool destroy)
{
    std::lock_guard g(S().lock);
    auto m = MenuLocked(menu);
    if (!m) return FALSE;
    for (size_t i = 0; i < m->items.size(); ++i)
    {
        bool hit =
            (flags & MF_BYPOSITION) ? i == position : (!m->items[i].submenu && m->items[i].id == position);
        if (!hit) continue;
        HMENU sub = m->items[i].submenu;
        m->items.erase(m->items.begin() + static_cast<std::ptrdiff_t>(i));
        if (destroy && sub) DestroyLocked(sub, 0);
        return TRUE;
    }
    return FALSE;
}

BOOL RemoveMenu(HMENU menu, UINT position, UINT flags)
{
    return Remove(menu, position, flags, false);
}
BOOL DeleteMenu(HMENU menu, UINT position, UINT flags)
{
    return Remove(menu, position, flags, true);
}

DWORD CheckMenuItem(HMENU menu, UINT item, UINT check)
{
    std::lock_guard g(S().lock);
    MenuItem* it = ItemLocked(menu, item, check);
    if (!it) return static_cast<DWORD>(-1);
    DWORD old = it->flags & MF_CHECKED;
    it->flags = (it->flags & ~static_cast<UINT>(MF_CHECKED)) | (check & MF_CHECKED);
    return old;
}

BOOL EnableMenuItem(HMENU menu, UINT item, UINT enable)
{
    std::lock_guard g(S().lock);
    MenuItem* it = ItemLocked(menu, item, enable);
    if (!it) return -1;
    BOOL old = static_cast<BOOL>(it->flags & (MF_GRAYED | MF_DISABLED));
    it->flags =
        (it->flags & ~static_cast<UINT>(MF_GRAYED | MF_DISABLED)) | (enable & (MF_GRAYED | MF_DISABLED));
    return old;
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*)
{
    if (!IsMenu(menu) || !IsWindow(owner)) return FALSE;
    if (!(flags & TPM_NONOTIFY)) SendMessageA(owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), 0);
    std::vector<ferolt::backend::MenuItemModel> items;
    {
        std::lock_guard g(S().lock);
        BuildModel(menu, items, 0);
    }
    uint32_t chosen = 0;
    if (auto b = CurrentBackend())
    {
        LayerModalLoop loop(nullptr, [owner] { return IsWindow(owner) != FALSE; });
        chosen = b->ShowPopupMenu(items, POINT{x, y}, owner, loop);
    }
    // Only what the menu offers can come back.
    if (chosen && !Choosable(items, chosen)) chosen = 0;
    if (flags & TPM_RETURNCMD) return static_cast<BOOL>(chosen);
    if (!chosen) return FALSE;
    PostMessageA(owner, WM_COMMAND, MAKEWPARAM(chosen, 0), 0);
    return TRUE;
}
