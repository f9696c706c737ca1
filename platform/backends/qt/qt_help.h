#pragma once
// The help window: a Qt compressed help file with its contents beside the pages, or a plain HTML page.
#include <QtCore/QString>
#include <QtWidgets/QWidget>

namespace ferolt::backend::qt
{
// Shows `file` in a help window and returns it, or null when the file cannot be shown. A compressed
// help file is copied first, so the caller may delete its file as soon as this returns.
QWidget* ShowHelpWindow(QWidget* previous, const QString& file);
} // namespace ferolt::backend::qt
