#include "usbtmc/usbtmcnodes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <dirent.h>

namespace usbtmc {
namespace {

constexpr const char *ClassFolder = "/sys/class/usbmisc";

// The first line of a sysfs attribute, without its line end; empty when the
// file cannot be read.
std::string attribute(const std::string &path)
{
    std::ifstream file(path);
    std::string text;
    if (!file || !std::getline(file, text))
        return {};
    while (!text.empty() && (text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

// A whole hexadecimal attribute ("fe", "0015"); -1 otherwise.
long hexAttribute(const std::string &path)
{
    const std::string text = attribute(path);
    if (text.empty() || text.size() > 8)
        return -1;
    char *end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 16);
    return *end == '\0' ? value : -1;
}

// The number of "usbtmcN", or -1 for another name.
long nodeNumber(const std::string &name)
{
    constexpr size_t prefix = 6; // "usbtmc"
    if (name.compare(0, prefix, "usbtmc") != 0 || name.size() == prefix || name.size() > prefix + 6)
        return -1;
    if (!std::all_of(name.begin() + prefix, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return -1;
    return std::strtol(name.c_str() + prefix, nullptr, 10);
}

} // namespace

std::string Node::descriptor() const
{
    char ids[32];
    std::snprintf(ids, sizeof ids, "USB0::0x%04X::0x%04X::", vendorId & 0xFFFF, productId & 0xFFFF);
    std::string text = ids + serial;
    if (interfaceNumber != 0)
        text += "::" + std::to_string(interfaceNumber);
    return text + "::INSTR";
}

std::vector<Node> listNodes()
{
    std::vector<std::pair<long, Node>> found;
    DIR *folder = ::opendir(ClassFolder);
    if (!folder)
        return {};
    while (const dirent *entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        const long number = nodeNumber(name);
        if (number < 0)
            continue;
        // device is the USB interface, its parent the USB device.
        const std::string interface = std::string(ClassFolder) + '/' + name + "/device/";
        if (hexAttribute(interface + "bInterfaceClass") != 0xFE
            || hexAttribute(interface + "bInterfaceSubClass") != 0x03)
            continue;
        const long vendor = hexAttribute(interface + "../idVendor");
        const long product = hexAttribute(interface + "../idProduct");
        if (vendor < 0 || product < 0)
            continue;
        Node node;
        node.name = name;
        node.devicePath = "/dev/" + name;
        node.vendorId = unsigned(vendor);
        node.productId = unsigned(product);
        node.serial = attribute(interface + "../serial");
        // A serial number must not break the descriptor's fields.
        if (node.serial.empty() || node.serial.find("::") != std::string::npos)
            node.serial = name;
        node.interfaceNumber = unsigned(std::max(0L, hexAttribute(interface + "bInterfaceNumber")));
        found.emplace_back(number, std::move(node));
    }
    ::closedir(folder);
    std::sort(found.begin(), found.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<Node> nodes;
    for (auto &entry : found)
        nodes.push_back(std::move(entry.second));
    return nodes;
}

} // namespace usbtmc
