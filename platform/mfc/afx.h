#pragma once
// The framework's non-window classes in one include: strings, exceptions, files, threads and the command
// line, with the Windows API layer beneath them. The window classes are in afxwin.h.
#include "platform/win32/windows.h"

#include "platform/mfc/afx_cmdline.h"
#include "platform/mfc/afx_exception.h"
#include "platform/mfc/afx_file.h"
#include "platform/mfc/afx_object.h"
#include "platform/mfc/afx_string.h"
#include "platform/mfc/afx_thread.h"

// Checks of the original's debug builds; here they cost nothing and evaluate nothing, except VERIFY,
// whose expression always runs.
#ifndef ASSERT
#define ASSERT(f) ((void)0)
#endif
#ifndef VERIFY
#define VERIFY(f) ((void)(f))
#endif
#ifndef ASSERT_VALID
#define ASSERT_VALID(p) ((void)0)
#endif
#ifndef TRACE
#define TRACE(...) ((void)0)
#endif
#define TRACE0(text) ((void)0)
#define TRACE1(text, a) ((void)0)
#define TRACE2(text, a, b) ((void)0)
#define AFXAPI
#define AFX_CDECL
