#pragma once

#include <QString>

// The values in which the branded and the neutral program differ. branding.cpp is
// compiled once per program; nothing else may depend on which build it is.
namespace branding
{

/// Window title in the given language.
QString windowTitle(bool chinese);
/// Start text of the model label in the device-data panel.
QString productText();
/// Icon of the About Us toolbar action.
QString aboutIcon();
/// Image shown in the about dialog.
QString aboutImage();
/// Name of the program, as shown by --help and --version.
QString programName();

} // namespace branding
