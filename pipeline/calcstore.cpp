// SPDX-License-Identifier: GPL-2.0-or-later
// calcstore.cpp - the field values of the offline filters with a
// calculation.
#include "pipeline/calcstore.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <vector>

#include "filterset/filterset.h"
#include "pipeline/packetstore.h"

namespace {

struct CalcValueAt {
    int64_t time;
    CalcCell cell;
};

struct CalcStoreRecord {
    std::vector<CalcValueAt> values[FilterSetMax];
    std::atomic<int32_t> kind[FilterSetMax];
};

CalcStoreRecord CalcStore;

}  // namespace

void CalcStoreReset() {
    for (int f = 0; f < FilterSetMax; ++f) {
        std::vector<CalcValueAt>().swap(CalcStore.values[f]);
        CalcStore.kind[f].store(CalcKindNone, std::memory_order_relaxed);
    }
}

void CalcStoreSetKind(int f, int kind) {
    if (f >= 0 && f < FilterSetMax) CalcStore.kind[f].store(kind, std::memory_order_relaxed);
}

int CalcStoreKind(int f) {
    return f >= 0 && f < FilterSetMax ? CalcStore.kind[f].load(std::memory_order_relaxed) : CalcKindNone;
}

int CalcStoreAdd(int f, int64_t time, const CalcCell* cell) {
    if (f < 0 || f >= FilterSetMax) return 1;
    try {
        CalcStore.values[f].push_back({time, *cell});
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return 1;
}

void CalcStoreSort() {
    for (std::vector<CalcValueAt>& v : CalcStore.values) {
        if (!std::is_sorted(v.begin(), v.end(),
                            [](const CalcValueAt& a, const CalcValueAt& b) { return a.time < b.time; })) {
            std::stable_sort(v.begin(), v.end(),
                             [](const CalcValueAt& a, const CalcValueAt& b) { return a.time < b.time; });
        }
        v.shrink_to_fit();  // what the growth kept in reserve goes
    }
}

void CalcStoreFold(int f, int64_t T, int64_t w, int n, CalcCell* out) {
    if (f < 0 || f >= FilterSetMax || n <= 0 || w <= 0) return;
    const std::vector<CalcValueAt>& v = CalcStore.values[f];
    const int64_t E = PacketStoreBinOf(T, w);
    const int64_t start = (E - n + 1) * w;
    auto it = std::lower_bound(v.begin(), v.end(), start, [](const CalcValueAt& a, int64_t t) { return a.time < t; });
    for (; it != v.end(); ++it) {
        int64_t j = E - PacketStoreBinOf(it->time, w);
        if (j < 0) break;  // past the newest column
        if (j < n) CalcCellAdd(&out[j], &it->cell);
    }
}

int64_t CalcStoreCount() {
    int64_t n = 0;
    for (const std::vector<CalcValueAt>& v : CalcStore.values) n += static_cast<int64_t>(v.size());
    return n;
}

int64_t CalcStoreBytes() {
    int64_t n = 0;
    for (const std::vector<CalcValueAt>& v : CalcStore.values) {
        n += static_cast<int64_t>(v.capacity() * sizeof(CalcValueAt));
    }
    return n;
}
