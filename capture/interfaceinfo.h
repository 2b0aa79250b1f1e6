// SPDX-License-Identifier: GPL-2.0-or-later
// interfaceinfo.h - one capture interface as the interface list and the
// capture block of Settings hold it.
#pragma once

#include <cstdint>

struct InterfaceInfo {
    char name[256];         // the capture library's device name ("nic_name")
    char description[256];  // its description, empty when it has none
    uint32_t address;       // IPv4 address, first octet in the lowest byte; 0 when none
    uint32_t netmask;       // IPv4 netmask, same byte order; 0 when none
    int32_t linkType;       // data-link value (1 Ethernet); 0 when the probe failed
};
