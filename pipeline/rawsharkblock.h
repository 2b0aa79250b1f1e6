// SPDX-License-Identifier: GPL-2.0-or-later
// rawsharkblock.h - the rawshark block of the settings: what the rawshark
// manager receives as a whole. Settings holds it (shell/settings.h); the
// settings table names its keys.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// What the rawshark manager receives as a whole. Field order is fixed.
struct RawsharkBlock {
    char rawsharkPath[kPathMax];  // "rawshark_path", "" then searched
    int32_t macResolution;        // "enable_MAC_address_resolution"
    int32_t networkResolution;    // "enable_network_address_resolution"
    int32_t transportResolution;  // "enable_transport_layer_port_number_resolution"
    int32_t concurrentDns;        // "enable_concurrent_asynchronous_DNS_lookups"
    int32_t onePass;              // "one_pass", 1: one lumo_judge for every filter, 0: one rawshark each
    int32_t judges;               // "judges", one-pass judges sharing the packets by conversation; 0: automatic
};
