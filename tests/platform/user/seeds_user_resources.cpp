// Seeds for fuzz_user_resources: a menu bar with a submenu and a dialog with every kind of control.
#include "tests/support/fuzz_seeds.h"

#include <string>

namespace ferolt::test
{
namespace
{
FuzzSeed Text(const char* name, const std::string& text)
{
    return {name, std::vector<uint8_t>(text.begin(), text.end())};
}
} // namespace

std::vector<FuzzSeed> FuzzSeeds()
{
    return {
        Text("menu",
             "POPUP \"Kontext\"\nBEGIN\n  MENUITEM \"Sonne\", 527\n  MENUITEM \"Gegensonne\", 528, CHECKED\n"
             "  MENUITEM SEPARATOR\n  POPUP \"Sichtpunkte\"\n  BEGIN\n    MENUITEM \"Vorne\", 600, GRAYED\n"
             "  END\nEND\n"),
        Text("dialog", "DIALOG 10, 20, 200, 100\nSTYLE DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU\n"
                       "CAPTION \"Gr\xf6\xdf"
                       "e\"\nFONT 8, \"MS Shell Dlg\"\nBEGIN\n"
                       "    EDITTEXT 520, 50, 7, 68, 12, ES_AUTOHSCROLL\n"
                       "    COMBOBOX 522, 81, 31, 100, 61, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP\n"
                       "    CONTROL \"\", 535, \"Static\", SS_BITMAP | SS_CENTERIMAGE, 18, 17, 60, 22\n"
                       "    LTEXT \"Breite:\", -1, 7, 9, 40, 8\n"
                       "    DEFPUSHBUTTON \"OK\", IDOK, 76, 80, 50, 14\n"
                       "    PUSHBUTTON \"Abbrechen\", IDCANCEL, 142, 80, 50, 14\nEND\n"),
    };
}
} // namespace ferolt::test
