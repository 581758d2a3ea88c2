#ifndef USBSYNTH_NODEACCESS_H
#define USBSYNTH_NODEACCESS_H

#include <QString>
#include <QStringList>

// Instruments the kernel's usbtmc driver has bound but this user may not
// open: the device nodes are created root-only unless a udev rule grants
// access.
namespace nodeaccess {

// The rule the package installs.
constexpr const char *UdevRule = "70-usbsynth-usbtmc.rules";

// The /dev/usbtmcN nodes of USB-TMC instruments (listed under
// /sys/class/usbmisc) that exist but cannot be opened for reading and
// writing; always empty outside Linux.
QStringList deniedUsbtmcNodes();

// The message for one such node, naming the rule and what to do.
QString deniedMessage(const QString &node);

} // namespace nodeaccess

#endif // USBSYNTH_NODEACCESS_H
