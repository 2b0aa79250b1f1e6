// SPDX-License-Identifier: GPL-2.0-or-later
// graphrows.cpp - the view's column times and the rows' values.
#include "graph/graphrows.h"

#include <cstdlib>
#include <cstring>

#include "shell/debuglog.h"

namespace {

constexpr int kRowSlots = FilterSetMax + 1;  // the filter rows, then all traffic
// the rows' two arrays each, then the dropped packets
constexpr size_t kArrays = 2 * static_cast<size_t>(kRowSlots) + 1;
constexpr uint32_t kAllColor = 0x00ff00;

// Points every row at its part of the storage: bytes then packets, filter
// rows first, all traffic last.
void PointRows(GraphRows* rows) {
    size_t w = static_cast<size_t>(rows->width);
    for (int k = 0; k < kRowSlots; ++k) {
        GraphRow* row = k < FilterSetMax ? &rows->filter[k] : &rows->all;
        row->bytes = rows->storage ? rows->storage + 2 * static_cast<size_t>(k) * w : nullptr;
        row->packets = rows->storage ? row->bytes + w : nullptr;
        row->calc = rows->calcStorage ? rows->calcStorage + static_cast<size_t>(k) * w : nullptr;
    }
    rows->dropped = rows->storage ? rows->storage + 2 * static_cast<size_t>(kRowSlots) * w : nullptr;
}

}  // namespace

int64_t GraphViewColumnStart(const GraphView* view, int j) {
    int64_t c = view->columnTime > 0 ? view->columnTime : 1;
    int64_t column = view->rightEdge / c;
    if (view->rightEdge % c != 0 && view->rightEdge < 0) --column;
    return (column - j) * c;
}

int GraphRowsReset(GraphRows* rows, int width) {
    if (width < 0) width = 0;
    if (!rows->storage || rows->width != width) {
        GraphRowsFree(rows);
        if (width > 0) {
            size_t cells = kArrays * static_cast<size_t>(width);
            rows->storage = static_cast<uint64_t*>(malloc(cells * sizeof(uint64_t)));
            rows->calcStorage = static_cast<CalcCell*>(
                malloc(static_cast<size_t>(kRowSlots) * static_cast<size_t>(width) * sizeof(CalcCell)));
            if (!rows->storage || !rows->calcStorage) {
                GraphRowsFree(rows);
                DEBUG_LOG("GraphRowsReset() err,malloc() failed,width=%d", width);
                return 0;
            }
        }
        rows->width = width;
        PointRows(rows);
    }
    if (rows->storage) {
        memset(rows->storage, 0, kArrays * static_cast<size_t>(width) * sizeof(uint64_t));
        memset(static_cast<void*>(rows->calcStorage), 0,
               static_cast<size_t>(kRowSlots) * static_cast<size_t>(width) * sizeof(CalcCell));
    }
    rows->known = width;
    rows->droppedKnown = 0;
    rows->notice[0] = '\0';
    rows->noticeTip[0] = '\0';
    rows->count = 0;
    rows->selected = -1;
    rows->allOnly = 0;
    GraphRow* all = &rows->all;
    memset(&all->entry, 0, sizeof all->entry);
    memcpy(all->entry.filterText, "all", 4);
    all->entry.color = kAllColor;
    all->entry.autoScale = 1;
    all->entry.unit = UnitBps;
    all->present = 1;
    all->visible = 1;
    all->message[0] = '\0';
    return 1;
}

void GraphRowsFree(GraphRows* rows) {
    free(rows->storage);
    free(rows->calcStorage);
    rows->storage = nullptr;
    rows->calcStorage = nullptr;
    rows->width = 0;
    rows->known = 0;
    PointRows(rows);
}

void GraphRowsSetFilters(GraphRows* rows, const FilterEntry* entries, int count, const int* visible, int selected) {
    if (count < 0) count = 0;
    if (count > FilterSetMax) count = FilterSetMax;
    rows->count = count;
    rows->selected = selected >= 0 && selected < count ? selected : -1;
    for (int i = 0; i < count; ++i) {
        GraphRow* row = &rows->filter[i];
        row->entry = entries[i];
        row->present = 1;
        row->visible = visible ? (visible[i] != 0) : 1;
        row->message[0] = '\0';
        row->calcKind = CalcKindNone;
    }
}

int GraphRowsCopy(GraphRows* dst, const GraphRows* src) {
    if (!GraphRowsReset(dst, src->width)) return 0;
    uint64_t* storage = dst->storage;
    CalcCell* calcStorage = dst->calcStorage;
    *dst = *src;
    dst->storage = storage;
    dst->calcStorage = calcStorage;
    PointRows(dst);
    if (storage) {
        memcpy(storage, src->storage, kArrays * static_cast<size_t>(src->width) * sizeof(uint64_t));
        memcpy(static_cast<void*>(calcStorage), src->calcStorage,
               static_cast<size_t>(kRowSlots) * static_cast<size_t>(src->width) * sizeof(CalcCell));
    }
    return 1;
}
