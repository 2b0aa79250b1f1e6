// SPDX-License-Identifier: GPL-2.0-or-later
// settings.cpp - the settings record of lumo and lumo_offline and its ini
// file: every key, default and conversion in one table, read and written in
// the table's order.
#include "shell/settings.h"

#include <cerrno>
#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/profile.h"
#include "platform/text.h"
#include "shell/debuglog.h"

namespace {

// How a key's text becomes a field and back.
enum KeyKind {
    KindDebugMode,  // int32 into DebugLogEnabled, not into the record
    KindInt32,      // GetPrivateProfileInt, written "%d"
    KindInterval,   // signed 64-bit decimal text; 0 or no number gives 50000
    KindColor,      // unsigned 32-bit text, automatic base; low 24 bits
    KindText,       // text cut to the field's size
    KindRawshark,   // text, then kept only when it names rawshark, else searched
};

enum : unsigned { ForLumo = 1u, ForOffline = 2u, ForBoth = ForLumo | ForOffline };

struct SettingsKey {
    const char* key;
    KeyKind kind;
    size_t offset;  // of the field in Settings (unused for KindDebugMode)
    size_t size;    // text fields: buffer size; 0 otherwise
    int64_t defNumber;
    const char* defText;
    unsigned programs;
};

#define FIELD(f) offsetof(Settings, f)
#define TEXTSIZE(f) sizeof(Settings::f)

// Every key of both programs in write order; lumo_offline keeps the rows
// marked ForBoth, in the same order.
const SettingsKey kSettingsKeys[] = {
    {"debug_mode", KindDebugMode, 0, 0, 0, nullptr, ForBoth},
    {"position_x", KindInt32, FIELD(positionX), 0, 0, nullptr, ForBoth},
    {"position_y", KindInt32, FIELD(positionY), 0, 0, nullptr, ForBoth},
    {"size_x", KindInt32, FIELD(sizeX), 0, 0, nullptr, ForBoth},
    {"size_y", KindInt32, FIELD(sizeY), 0, 0, nullptr, ForBoth},
    {"topmost", KindInt32, FIELD(topmost), 0, 0, nullptr, ForBoth},
    {"draw_interval", KindInt32, FIELD(drawInterval), 0, 20, nullptr, ForLumo},
    {"sampling_interval", KindInterval, FIELD(samplingInterval), 0, 0, "50000", ForBoth},
    {"back_color", KindColor, FIELD(backColor), 0, 0, "0x000000", ForBoth},
    {"line_color", KindColor, FIELD(lineColor), 0, 0, "0x0000a0", ForBoth},
    {"char_color", KindColor, FIELD(charColor), 0, 0, "0xa0a0ff", ForBoth},
    {"rawshark_path", KindRawshark, FIELD(rawshark.rawsharkPath), TEXTSIZE(rawshark.rawsharkPath), 0, "", ForBoth},
    {"enable_MAC_address_resolution", KindInt32, FIELD(rawshark.macResolution), 0, 0, nullptr, ForBoth},
    {"enable_network_address_resolution", KindInt32, FIELD(rawshark.networkResolution), 0, 0, nullptr, ForBoth},
    {"enable_transport_layer_port_number_resolution", KindInt32, FIELD(rawshark.transportResolution), 0, 0, nullptr,
     ForBoth},
    {"enable_concurrent_asynchronous_DNS_lookups", KindInt32, FIELD(rawshark.concurrentDns), 0, 0, nullptr, ForBoth},
    {"nic_name", KindText, FIELD(capture.iface.name), TEXTSIZE(capture.iface.name), 0, "", ForLumo},
    {"promiscuous_mode", KindInt32, FIELD(capture.promiscuousMode), 0, 1, nullptr, ForLumo},
    {"enable_limit_bytes", KindInt32, FIELD(capture.enableLimitBytes), 0, 0, nullptr, ForLumo},
    {"limit_bytes", KindInt32, FIELD(capture.limitBytes), 0, 128, nullptr, ForLumo},
    {"timeout", KindInt32, FIELD(capture.timeout), 0, 10, nullptr, ForLumo},
    {"capture_filter", KindText, FIELD(capture.captureFilter), TEXTSIZE(capture.captureFilter), 0, "", ForLumo},
    // Keys added later go last, so every older key keeps its place in the file.
    {"one_pass", KindInt32, FIELD(rawshark.onePass), 0, 1, nullptr, ForBoth},
    {"time_of_day", KindInt32, FIELD(timeOfDay), 0, 0, nullptr, ForBoth},
    {"log_scale", KindInt32, FIELD(logScale), 0, 0, nullptr, ForBoth},
    {"moving_average", KindInt32, FIELD(movingAverage), 0, 0, nullptr, ForBoth},
    {"judges", KindInt32, FIELD(rawshark.judges), 0, 0, nullptr, ForBoth},
};

#undef FIELD
#undef TEXTSIZE

constexpr int kKeyCount = static_cast<int>(sizeof kSettingsKeys / sizeof kSettingsKeys[0]);

constexpr int32_t kBinCount = 65536;
constexpr int64_t kDefaultSamplingInterval = 50000;

const char* SectionOf(SettingsProgram program) { return program == SettingsLumoOffline ? "Lumo_offline" : "Lumo"; }

unsigned MaskOf(SettingsProgram program) { return program == SettingsLumoOffline ? ForOffline : ForLumo; }

template <typename T>
T* FieldOf(Settings* s, const SettingsKey& k) {
    return reinterpret_cast<T*>(reinterpret_cast<char*>(s) + k.offset);
}

template <typename T>
const T* FieldOf(const Settings* s, const SettingsKey& k) {
    return reinterpret_cast<const T*>(reinterpret_cast<const char*>(s) + k.offset);
}

// _strtoi64 over the text: blanks, one sign, decimal digits to the first
// other character, saturating; no digits give 0.
int64_t ParseInterval(const char* text) { return static_cast<int64_t>(strtoll(text, nullptr, 10)); }

void LoadKey(Settings* s, const SettingsKey& k, const char* section, const char* path) {
    char text[kPathMax];
    switch (k.kind) {
        case KindDebugMode:
            DebugLogEnabled.store(ProfileGetInt(section, k.key, static_cast<int>(k.defNumber), path),
                                  std::memory_order_relaxed);
            break;
        case KindInt32:
            *FieldOf<int32_t>(s, k) = ProfileGetInt(section, k.key, static_cast<int>(k.defNumber), path);
            break;
        case KindInterval: {
            ProfileGetString(section, k.key, k.defText, text, 256, path);
            int64_t v = ParseInterval(text);
            *FieldOf<int64_t>(s, k) = v == 0 ? kDefaultSamplingInterval : v;
            break;
        }
        case KindColor:
            ProfileGetString(section, k.key, k.defText, text, 256, path);
            *FieldOf<uint32_t>(s, k) = ColorFromText(text);
            break;
        case KindText: ProfileGetString(section, k.key, k.defText, FieldOf<char>(s, k), k.size, path); break;
        case KindRawshark: {
            char* field = FieldOf<char>(s, k);
            ProfileGetString(section, k.key, k.defText, field, k.size, path);
            PlatformFindRawshark(field, k.size);
            break;
        }
    }
}

// The key's value as the file holds it.
std::string SaveText(const Settings* s, const SettingsKey& k) {
    char buffer[32];
    switch (k.kind) {
        case KindDebugMode:
            snprintf(buffer, sizeof buffer, "%d", static_cast<int>(DebugLogEnabled.load(std::memory_order_relaxed)));
            return buffer;
        case KindInt32: snprintf(buffer, sizeof buffer, "%d", static_cast<int>(*FieldOf<int32_t>(s, k))); return buffer;
        case KindInterval: snprintf(buffer, sizeof buffer, "%" PRId64, *FieldOf<int64_t>(s, k)); return buffer;
        case KindColor: ColorToText(*FieldOf<uint32_t>(s, k), buffer); return buffer;
        case KindText:
        case KindRawshark: {
            // A field filled to its last byte is cut where a reader would cut it.
            const char* field = FieldOf<char>(s, k);
            size_t n = strnlen(field, k.size);
            return std::string(field, n < k.size ? n : k.size - 1);
        }
    }
    return std::string();
}

}  // namespace

int SettingsFilePath(SettingsProgram program, char* out, size_t size) {
    return DataFilePath(program == SettingsLumoOffline ? "lumo_offline.ini" : "lumo.ini", out, size);
}

int SettingsLoad(Settings* settings, SettingsProgram program) {
    memset(settings, 0, sizeof *settings);
    char path[kPathMax];
    if (!SettingsFilePath(program, path, sizeof path)) path[0] = '\0';
    const char* section = SectionOf(program);
    unsigned mask = MaskOf(program);

    settings->binCount = kBinCount;
    // Fields of keys the program does not have keep their lumo defaults, so
    // that code shared by both programs sees sane values.
    for (const SettingsKey& k : kSettingsKeys) {
        if (k.programs & mask) {
            LoadKey(settings, k, section, path);
        } else {
            LoadKey(settings, k, section, nullptr);
        }
    }
    return 1;
}

int SettingsSave(const Settings* settings, SettingsProgram program) {
    char path[kPathMax];
    if (!SettingsFilePath(program, path, sizeof path)) return 1;
    DataFolderCreate();

    const char* keys[kKeyCount];
    const char* values[kKeyCount];
    std::string texts[kKeyCount];
    int n = 0;
    unsigned mask = MaskOf(program);
    for (const SettingsKey& k : kSettingsKeys) {
        if (!(k.programs & mask)) continue;
        keys[n] = k.key;
        texts[n] = SaveText(settings, k);
        values[n] = texts[n].c_str();
        ++n;
    }
    if (!ProfileWriteStrings(SectionOf(program), keys, values, n, path)) {
        // One refused value (a line end in a text) must not cost the others.
        for (int i = 0; i < n; ++i) ProfileWriteString(SectionOf(program), keys[i], values[i], path);
    }
    return 1;
}

int IsRectOnAnyMonitor(int x, int y, int width, int height, const MonitorRect* monitors, int count) {
    if (width <= 0 || height <= 0) return 0;
    // 64-bit so that a rectangle near the edge of the int range cannot wrap.
    int64_t left = x, top = y;
    int64_t right = left + width - 1, bottom = top + height - 1;
    if (top >= bottom || left >= right) return 0;
    for (int i = 0; monitors && i < count; ++i) {
        const MonitorRect& m = monitors[i];
        if (right > m.left && m.right > left && bottom > m.top && m.bottom > top) return 1;
    }
    return 0;
}

// The colour of what the graph warns of: an orange that reads on the dark
// and the light backgrounds alike.
static constexpr uint32_t kWarnColor = 0xff8c00;

GraphStyle SettingsGraphStyle(const Settings* settings) {
    GraphStyle style;
    style.backColor = settings->backColor;
    style.lineColor = settings->lineColor;
    style.charColor = settings->charColor;
    style.timeOfDay = settings->timeOfDay;
    style.warnColor = kWarnColor;
    style.logScale = settings->logScale != 0;
    style.movingAverage = settings->movingAverage > 1 ? settings->movingAverage : 0;
    return style;
}
