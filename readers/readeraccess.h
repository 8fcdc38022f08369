#pragma once

#include <QString>

// What to tell the user when a reader is found but cannot be opened.
namespace readeraccess
{

/// The udev rule lines (as in packaging/70-vantory.rules) that give the logged-in user the
/// R321's hidraw node and the FEIG readers' USB devices.
inline constexpr char R321Rule[] =
    R"(SUBSYSTEM=="hidraw", ATTRS{idVendor}=="0505", TAG+="uaccess")";
inline constexpr char FeigRule[] = R"(SUBSYSTEM=="usb", ATTRS{idVendor}=="0ab1", TAG+="uaccess")";
/// Where an installed rule can lie (package, cmake --install, by hand).
inline constexpr const char* RulePaths[] = {"/usr/lib/udev/rules.d/70-vantory.rules",
                                            "/usr/local/lib/udev/rules.d/70-vantory.rules",
                                            "/etc/udev/rules.d/70-vantory.rules"};

/// The explanation under "open device failure with reading" for the device at `path`, in
/// Chinese or English: access denied, and the commands that install the rule (unless
/// `ruleInstalled`) and reload udev. Empty on Windows, which needs no rule.
QString openFailureHint(const QString& path, bool chinese, bool ruleInstalled);

/// True when one of RulePaths exists.
bool ruleInstalled();

} // namespace readeraccess
