#pragma once
// Everything of the Windows API layer in one include, as the original's umbrella header.
#include "platform/win32/windef.h"
#include "platform/win32/winerror.h"
#include "platform/win32/winbase.h"
#include "platform/win32/winresource.h"
#include "platform/win32/winreg.h"
#include "platform/win32/wingdi.h"
#include "platform/win32/winuser.h"
#include "platform/win32/gdi_dc.h"
#include "platform/win32/objidl.h"
#include "platform/win32/mmsystem.h"
#include "platform/win32/crt.h"
