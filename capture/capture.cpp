// SPDX-License-Identifier: GPL-2.0-or-later
// capture.cpp - the source module "capture".
//
//   discovery        CaptureGetInterfaceList, CaptureTestFilter
//   dump file        the buffered dump stream, CaptureFileStart,
//                    CaptureFileStop, CaptureFileFailed, the append
//   capture thread   CapturePacketHandler, CaptureThread, CaptureStartThread,
//                    CaptureStopThread, CapturePacketHandlerControl
//
// Guards, besides the debug log's lock:
//   HandlerLock  held by the handler while it hands a packet to the pipeline;
//                the switch takes it to change PacketHandlerEnabled, so
//                switching off waits for a call in progress.
//   HandleLock   CaptureHandle is published after the open and withdrawn
//                before the close under this lock, and the stop issues its
//                break-loop request under it: a break never meets a handle
//                that is being closed.
//   DumpLock     the append, the publication of a new dump (after its
//                header is on disk) and the close exclude each other.
#include "capture/capture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "pipeline/packetring.h"
#include "platform/platform.h"
#include "pipeline/rawsharkmngr.h"
#include "platform/text.h"
#include "shell/debuglog.h"

// The record header travels in the machine's order, which the pcap format
// and the rawshark record stream read as little-endian here.
static_assert(std::endian::native == std::endian::little, "records are written in host order");

namespace {

constexpr int kDefaultSnapLength = 0xFFFF;
constexpr int kProbeTimeoutMs = 1;
constexpr int kStopWaitMs = 3000;
constexpr int kDumpBufferSize = 1 << 16;
constexpr int kTextSize = 256;

// One capture thread; owned by the UI thread, which alone creates, joins and
// frees it.
struct CaptureThreadContext {
    std::thread thread;
    std::atomic<int> ended{0};  // the thread's last act; release
    CaptureBlock block;         // the thread's own copy of the settings
};

// The dump file: a descriptor behind our own buffer that holds whole records
// only, so that after a short write the file can be cut back to its last
// whole record. The header is written straight to the descriptor.
struct DumpStream {
    int fd;
    int fill;           // bytes held in buffer, whole records
    int64_t committed;  // file length that ends at a whole record
    uint8_t buffer[kDumpBufferSize];
};

struct CaptureModule {
    // capture thread
    CaptureThreadContext* CaptureThreadHandle = nullptr;  // UI thread only
    CaptureThreadContext* Lingering = nullptr;            // stop timed out; UI thread only
    std::mutex HandleLock;
    pcap_t* CaptureHandle = nullptr;  // under HandleLock
    int StopRequested = 0;            // under HandleLock
    std::atomic<int> LinkType{-1};    // data-link value while CaptureHandle is set
    std::mutex HandlerLock;
    std::atomic<int> PacketHandlerEnabled{0};  // written under HandlerLock
    std::atomic<int> StatsValid{0};
    std::atomic<uint64_t> StatsReceived{0};
    std::atomic<uint64_t> StatsDropped{0};
    // The running capture's drop counters as last read (capture thread).
    uint64_t SeenKernelDrops = 0;
    uint64_t SeenIfaceDrops = 0;
    int64_t StatsReadAt = 0;  // PerfCounter of the last read
    std::atomic<CaptureInterfaceListFn> ListHook{nullptr};

    // dump file
    std::mutex DumpLock;
    std::atomic<int> DumpOpen{0};          // written under DumpLock; read early without it
    DumpStream DumpFile{};                 // under DumpLock
    char CaptureErrorText[kTextSize]{};    // under DumpLock
    std::atomic<int> DumpFailed{0};        // release after DumpFailText is written
    char DumpFailText[kTextSize]{};        // written before DumpFailed; read after it
    std::atomic<uint64_t> DumpRecords{0};  // records appended since the start; written under DumpLock
};

constinit CaptureModule Capture;

const char* OrEmpty(const char* text) { return text ? text : ""; }

}  // namespace

// ================================================================ snapshot length

int CaptureSnapLength(const CaptureBlock* block) {
    return block->enableLimitBytes ? block->limitBytes : kDefaultSnapLength;
}

// ================================================================ discovery

void CaptureSetInterfaceListHook(CaptureInterfaceListFn hook) {
    Capture.ListHook.store(hook, std::memory_order_relaxed);
}

// Linux lists a link-layer (AF_PACKET) entry first for most devices; the
// first entry that names a network address is the one that counts.
static const pcap_addr_t* FirstNetworkAddress(const pcap_addr_t* entry) {
    for (; entry; entry = entry->next) {
        if (entry->addr && entry->addr->sa_family == AF_PACKET) continue;
        return entry;
    }
    return nullptr;
}

static int32_t ProbeLinkType(const char* name) {
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_t* probe = pcap_open_live(name, kDefaultSnapLength, 0, kProbeTimeoutMs, errbuf);
    if (!probe) {
        DEBUG_LOG("pcap_open_live(%s) err,%s", name, errbuf);
        return 0;
    }
    int32_t linkType = pcap_datalink(probe);
    pcap_close(probe);
    return linkType;
}

int CaptureGetInterfaceList(int max, InterfaceInfo* table) {
    CaptureInterfaceListFn hook = Capture.ListHook.load(std::memory_order_relaxed);
    if (hook) return hook(max, table);

    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_if_t* devices = nullptr;
    if (pcap_findalldevs(&devices, errbuf) == -1) {
        DEBUG_LOG("pcap_findalldevs() err,%s", errbuf);
        return -1;
    }
    if (!devices) return 0;

    int count = 0;
    for (const pcap_if_t* device = devices; device; device = device->next, ++count) {
        DEBUG_LOG("CaptureGetInterfaceList() info,%s,%s", device->name, OrEmpty(device->description));
        if (count >= max) continue;

        InterfaceInfo* info = &table[count];
        memset(info, 0, sizeof *info);
        info->linkType = ProbeLinkType(device->name);
        TextCopy(info->name, sizeof info->name, device->name);
        TextCopy(info->description, sizeof info->description, OrEmpty(device->description));

        const pcap_addr_t* entry = FirstNetworkAddress(device->addresses);
        if (entry && entry->addr && entry->netmask && entry->addr->sa_family == AF_INET &&
            entry->netmask->sa_family == AF_INET) {
            info->address = reinterpret_cast<const sockaddr_in*>(entry->addr)->sin_addr.s_addr;
            info->netmask = reinterpret_cast<const sockaddr_in*>(entry->netmask)->sin_addr.s_addr;
        }

        uint8_t ip[4], mask[4];
        memcpy(ip, &info->address, 4);
        memcpy(mask, &info->netmask, 4);
        DEBUG_LOG("CaptureGetInterfaceList() info,Link=%s(%s),IP=%d.%d.%d.%d,Mask=%d.%d.%d.%d",
                  OrEmpty(pcap_datalink_val_to_name(info->linkType)),
                  OrEmpty(pcap_datalink_val_to_description(info->linkType)), ip[0], ip[1], ip[2], ip[3], mask[0],
                  mask[1], mask[2], mask[3]);
    }
    pcap_freealldevs(devices);
    return count;
}

int CaptureProbe(const char* name, int* denied, char* err) {
    *denied = 0;
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_t* handle = pcap_create(name, errbuf);
    if (!handle) {
        ErrorSet(err, "%s", errbuf);
        return 0;
    }
    int status = pcap_activate(handle);
    if (status < 0) {
        *denied = status == PCAP_ERROR_PERM_DENIED;
        ErrorSet(err, "%s", pcap_geterr(handle)[0] ? pcap_geterr(handle) : pcap_statustostr(status));
        pcap_close(handle);
        return 0;
    }
    pcap_close(handle);
    return 1;
}

int CaptureTestFilter(const char* name, const char* filter) {
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_t* probe = pcap_open_live(OrEmpty(name), kDefaultSnapLength, 0, kProbeTimeoutMs, errbuf);
    if (!probe) {
        DEBUG_LOG("pcap_open_live(%s) err,%s", OrEmpty(name), errbuf);
        return -1;
    }
    bpf_program program;
    if (pcap_compile(probe, &program, OrEmpty(filter), 1, 0) == -1) {
        DEBUG_LOG("pcap_compile(%s) err", OrEmpty(filter));
        pcap_close(probe);
        return 0;
    }
    pcap_freecode(&program);
    pcap_close(probe);
    return 1;
}

// ================================================================ dump file

// Writes all n bytes unless the file refuses; returns the bytes written.
static size_t WriteAll(int fd, const void* data, size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < n) {
        ssize_t r = write(fd, p + done, n - done);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (r == 0) break;
        done += static_cast<size_t>(r);
    }
    return done;
}

// The end of the last whole record among the first `written` bytes of a
// run of whole records.
static int LastRecordBoundary(const uint8_t* records, int fill, size_t written) {
    int end = 0;
    while (end + static_cast<int>(sizeof(PacketRecordHeader)) <= fill) {
        PacketRecordHeader header;
        memcpy(&header, records + end, sizeof header);
        size_t next = static_cast<size_t>(end) + sizeof header + header.incl_len;
        if (next > written) break;
        end = static_cast<int>(next);
    }
    return end;
}

// Cuts the file back to its committed length, the end of its last whole
// record, so that a reader never meets a partial record. DumpLock held.
static void DumpCutToCommitted() {
    if (ftruncate(Capture.DumpFile.fd, Capture.DumpFile.committed) != 0) DEBUG_LOG("ftruncate() err,errno=%d", errno);
}

// Writes the buffered records. On a short write keeps the whole records
// that reached the file and cuts the rest. Returns 1, or 0 on a short write.
// DumpLock held.
static int DumpFlush() {
    DumpStream* dump = &Capture.DumpFile;
    if (dump->fill == 0) return 1;
    size_t written = WriteAll(dump->fd, dump->buffer, static_cast<size_t>(dump->fill));
    if (written == static_cast<size_t>(dump->fill)) {
        dump->committed += dump->fill;
        dump->fill = 0;
        return 1;
    }
    dump->committed += LastRecordBoundary(dump->buffer, dump->fill, written);
    dump->fill = 0;
    DumpCutToCommitted();
    return 0;
}

// Records the failure for CaptureFileFailed. DumpLock held.
static void DumpMarkFailed() {
    TextCopy(Capture.DumpFailText, sizeof Capture.DumpFailText, "fwrite() error");
    Capture.DumpFailed.store(1, std::memory_order_release);
}

// Closes the open dump after writing what its buffer holds. DumpLock held.
static void DumpCloseLocked() {
    if (!DumpFlush()) {
        DEBUG_LOG("fwrite() err");
        DumpMarkFailed();
    }
    close(Capture.DumpFile.fd);
    Capture.DumpFile.fd = -1;
    Capture.DumpOpen.store(0, std::memory_order_relaxed);
}

// Appends one record. On failure the dump ends; the capture goes on.
// Capture thread, DumpLock held, dump open.
static void DumpAppend(const PacketRecordHeader* header, const uint8_t* data) {
    DumpStream* dump = &Capture.DumpFile;
    Capture.CaptureErrorText[0] = '\0';
    size_t size = sizeof *header + header->incl_len;
    int ok = 1;
    if (static_cast<size_t>(dump->fill) + size > sizeof dump->buffer) ok = DumpFlush();
    if (ok && size > sizeof dump->buffer) {
        // Larger than the buffer: straight to the file, cut back if short.
        ok = WriteAll(dump->fd, header, sizeof *header) == sizeof *header &&
             WriteAll(dump->fd, data, header->incl_len) == header->incl_len;
        if (ok)
            dump->committed += static_cast<int64_t>(size);
        else
            DumpCutToCommitted();
    } else if (ok) {
        memcpy(dump->buffer + dump->fill, header, sizeof *header);
        memcpy(dump->buffer + dump->fill + sizeof *header, data, header->incl_len);
        dump->fill += static_cast<int>(size);
    }
    if (ok) {
        Capture.DumpRecords.store(Capture.DumpRecords.load(std::memory_order_relaxed) + 1, std::memory_order_release);
        return;
    }

    TextCopy(Capture.CaptureErrorText, sizeof Capture.CaptureErrorText, "fwrite() error");
    DEBUG_LOG("fwrite() err");
    DumpMarkFailed();
    // The stop that ends the dump, with the lock already held.
    DEBUG_LOG("CaptureFileStop() info");
    Capture.CaptureErrorText[0] = '\0';
    DumpCloseLocked();
}

static void SetErrorText(const char* text, char* err) {
    std::lock_guard<std::mutex> hold(Capture.DumpLock);
    TextCopy(Capture.CaptureErrorText, sizeof Capture.CaptureErrorText, text);
    ErrorSet(err, "%s", text);
}

int CaptureFileStart(const char* path, const CaptureBlock* block, char* err) {
    SetErrorText("", err);

    int linkType = CaptureLinkType();
    if (linkType == -1) {
        SetErrorText("do not capture yet.", err);
        DEBUG_LOG("do not capture yet");
        return 0;
    }

    if (Capture.DumpOpen.load(std::memory_order_relaxed)) CaptureFileStop();

    int fd = open(OrEmpty(path), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        SetErrorText("fopen() error", err);
        DEBUG_LOG("fopen() err");
        return 0;
    }

    struct {
        uint32_t magic;
        uint16_t versionMajor, versionMinor;
        int32_t thiszone;
        uint32_t sigfigs;
        uint32_t snaplen;
        uint32_t linktype;
    } header = {
        0xA1B2C3D4, 2, 4, 0, 0, static_cast<uint32_t>(CaptureSnapLength(block)), static_cast<uint32_t>(linkType)};
    static_assert(sizeof header == 24, "pcap file header is 24 bytes");

    if (WriteAll(fd, &header, sizeof header) != sizeof header) {
        SetErrorText("fwrite() error", err);
        DEBUG_LOG("fwrite() err");
        DEBUG_LOG("CaptureFileStop() info");
        close(fd);  // the file keeps what was written
        return 0;
    }

    {
        // Only now may the capture thread append: the header is in the file.
        std::lock_guard<std::mutex> hold(Capture.DumpLock);
        Capture.DumpFile.fd = fd;
        Capture.DumpFile.fill = 0;
        Capture.DumpFile.committed = static_cast<int64_t>(sizeof header);
        Capture.DumpFailText[0] = '\0';
        Capture.DumpFailed.store(0, std::memory_order_relaxed);
        Capture.DumpRecords.store(0, std::memory_order_relaxed);
        Capture.DumpOpen.store(1, std::memory_order_relaxed);
    }
    DEBUG_LOG("CaptureFileStart(%s) info", path);
    return 1;
}

void CaptureFileStop() {
    DEBUG_LOG("CaptureFileStop() info");
    std::lock_guard<std::mutex> hold(Capture.DumpLock);
    Capture.CaptureErrorText[0] = '\0';
    if (Capture.DumpOpen.load(std::memory_order_relaxed)) DumpCloseLocked();
}

uint64_t CaptureFileRecords() { return Capture.DumpRecords.load(std::memory_order_acquire); }

int CaptureFileFailed(char* err) {
    // The text is written before the flag and stays until the next start,
    // which runs on this same thread; no lock, so a slow disk never stalls
    // the caller.
    int failed = Capture.DumpFailed.load(std::memory_order_acquire);
    ErrorSet(err, "%s", failed ? Capture.DumpFailText : "");
    return failed;
}

// ================================================================ capture thread

// The capture loop's callback, once per packet on the capture thread.
static void CapturePacketHandler(u_char* /*user*/, const struct pcap_pkthdr* pcap, const u_char* bytes) {
    PacketRecordHeader header;
    CaptureRecordFromPcap(pcap, &header);

    // The early test keeps the lock off the path while the switch is off;
    // the test under the lock is the one that counts.
    if (Capture.PacketHandlerEnabled.load(std::memory_order_relaxed)) {
        std::lock_guard<std::mutex> hold(Capture.HandlerLock);
        if (Capture.PacketHandlerEnabled.load(std::memory_order_relaxed)) {
            // In the ring before any rawshark process can judge it.
            PacketRingStore(&header, bytes);
            RawsharkMngrWritePacket(&header, bytes);
        }
    }

    if (Capture.DumpOpen.load(std::memory_order_relaxed)) {
        std::lock_guard<std::mutex> hold(Capture.DumpLock);
        if (Capture.DumpOpen.load(std::memory_order_relaxed)) DumpAppend(&header, bytes);
    }
}

// Once a second: what the library counts as dropped since the capture
// opened, the kernel's buffer and the interface apart. What is new goes to
// the drop counters while packets flow to the ring (what was dropped while
// the pipeline was being rebuilt belongs to no count), and is logged.
static void ReadDrops(pcap_t* handle, int force) {
    int64_t now = PerfCounter();
    if (!force && now - Capture.StatsReadAt < PerfFrequency()) return;
    Capture.StatsReadAt = now;
    pcap_stat stats;
    if (pcap_stats(handle, &stats) != 0) return;
    uint64_t kernel = stats.ps_drop, iface = stats.ps_ifdrop;
    uint64_t newKernel = kernel > Capture.SeenKernelDrops ? kernel - Capture.SeenKernelDrops : 0;
    uint64_t newIface = iface > Capture.SeenIfaceDrops ? iface - Capture.SeenIfaceDrops : 0;
    Capture.SeenKernelDrops = kernel;
    Capture.SeenIfaceDrops = iface;
    Capture.StatsReceived.store(stats.ps_recv, std::memory_order_relaxed);
    Capture.StatsDropped.store(stats.ps_drop, std::memory_order_relaxed);
    if (newKernel == 0 && newIface == 0) return;
    DEBUG_LOG("CaptureThread() info,dropped kernel=%llu interface=%llu", static_cast<unsigned long long>(kernel),
              static_cast<unsigned long long>(iface));
    if (Capture.PacketHandlerEnabled.load(std::memory_order_relaxed)) {
        std::lock_guard<std::mutex> hold(Capture.HandlerLock);
        if (Capture.PacketHandlerEnabled.load(std::memory_order_relaxed)) PacketRingAddDrops(newKernel, newIface);
    }
}

static void CaptureThread(CaptureThreadContext* context) {
    DEBUG_LOG("CaptureThread() info,start thread");
    const CaptureBlock* block = &context->block;
    int snapLength = CaptureSnapLength(block);

    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_t* handle = pcap_open_live(block->iface.name, snapLength, block->promiscuousMode, block->timeout, errbuf);
    if (!handle) {
        DEBUG_LOG("pcap_open_live(%s,%d,%d,%d) err,%s", block->iface.name, snapLength, block->promiscuousMode,
                  block->timeout, errbuf);
        context->ended.store(1, std::memory_order_release);
        return;
    }

    if (block->captureFilter[0]) {
        bpf_program program;
        if (pcap_compile(handle, &program, block->captureFilter, 1, block->iface.netmask) == -1) {
            DEBUG_LOG("pcap_compile(%s) err", block->captureFilter);
        } else {
            if (pcap_setfilter(handle, &program) == -1) DEBUG_LOG("pcap_setfilter() err");
            pcap_freecode(&program);
        }
    }

    int run;
    {
        std::lock_guard<std::mutex> hold(Capture.HandleLock);
        run = !Capture.StopRequested;
        if (run) {
            Capture.CaptureHandle = handle;
            Capture.LinkType.store(pcap_datalink(handle), std::memory_order_relaxed);
        }
    }

    if (run) {
        // The library (1.10 on Linux) wakes a waiting read when the loop is
        // broken, so a stop on an idle interface, even with read time-out 0,
        // returns at once rather than after the next packet.
        // Dispatched block by block (each returns by the read time-out when
        // the interface is idle), so the drop counters are read once a
        // second whether packets come or not.
        Capture.SeenKernelDrops = Capture.SeenIfaceDrops = 0;
        Capture.StatsReadAt = PerfCounter();
        for (;;) {
            int got = pcap_dispatch(handle, -1, CapturePacketHandler, nullptr);
            if (got == PCAP_ERROR_BREAK) break;
            if (got == PCAP_ERROR) {
                DEBUG_LOG("pcap_loop() err");
                break;
            }
            ReadDrops(handle, 0);
        }
        ReadDrops(handle, 1);
        {
            std::lock_guard<std::mutex> hold(Capture.HandleLock);
            Capture.CaptureHandle = nullptr;
            Capture.LinkType.store(-1, std::memory_order_relaxed);
        }
        pcap_stat stats;
        if (pcap_stats(handle, &stats) == 0) Capture.StatsValid.store(1, std::memory_order_relaxed);
    }
    // Withdrawn above: no break-loop request can reach the handle now.
    pcap_close(handle);
    DEBUG_LOG("CaptureThread() info,end thread");
    context->ended.store(1, std::memory_order_release);
}

// Joins and frees a thread that has ended. UI thread.
static void ReapThread(CaptureThreadContext* context) {
    if (context->thread.joinable()) context->thread.join();
    delete context;
}

int CaptureStartThread(const CaptureBlock* block) {
    if (Capture.Lingering) {
        if (!Capture.Lingering->ended.load(std::memory_order_acquire)) {
            DEBUG_LOG("CaptureStartThread() err,previous thread still running");
            return 0;
        }
        ReapThread(Capture.Lingering);
        Capture.Lingering = nullptr;
    }
    if (Capture.CaptureThreadHandle) {
        if (!Capture.CaptureThreadHandle->ended.load(std::memory_order_acquire)) {
            DEBUG_LOG("CaptureStartThread() err,already running");
            return 0;
        }
        ReapThread(Capture.CaptureThreadHandle);
        Capture.CaptureThreadHandle = nullptr;
    }

    CaptureThreadContext* context = new (std::nothrow) CaptureThreadContext;
    if (!context) {
        DEBUG_LOG("_beginthreadex() err,errno=%d", ENOMEM);
        return 0;
    }
    context->block = *block;
    // The library and the log read these as C strings.
    context->block.iface.name[sizeof context->block.iface.name - 1] = '\0';
    context->block.captureFilter[sizeof context->block.captureFilter - 1] = '\0';
    {
        std::lock_guard<std::mutex> hold(Capture.HandleLock);
        Capture.StopRequested = 0;
    }
    Capture.StatsValid.store(0, std::memory_order_relaxed);
    try {
        context->thread = std::thread(CaptureThread, context);
    } catch (const std::system_error& e) {
        DEBUG_LOG("_beginthreadex() err,errno=%d", e.code().value());
        delete context;
        return 0;
    }
    Capture.CaptureThreadHandle = context;
    DEBUG_LOG("CaptureStartThread() info");
    return 1;
}

int CaptureStopThread() {
    CaptureThreadContext* context = Capture.CaptureThreadHandle;
    if (context) {
        {
            // A thread still opening its interface sees the request and does
            // not start its loop; a running loop is broken under the lock
            // that its withdrawal takes, so the handle is not being closed.
            std::lock_guard<std::mutex> hold(Capture.HandleLock);
            Capture.StopRequested = 1;
            if (Capture.CaptureHandle) pcap_breakloop(Capture.CaptureHandle);
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
        while (!context->ended.load(std::memory_order_acquire)) {
            if (std::chrono::steady_clock::now() >= deadline) {
                DEBUG_LOG("WaitForSingleObject() timeout");
                // Kept so that a later start can reap it once it has ended.
                Capture.Lingering = context;
                Capture.CaptureThreadHandle = nullptr;
                return 0;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        try {
            context->thread.join();
        } catch (const std::system_error& e) {
            DEBUG_LOG("WaitForSingleObject() err,GetLastError=%d", e.code().value());
            Capture.Lingering = context;
            Capture.CaptureThreadHandle = nullptr;
            return 0;
        }
        delete context;
        Capture.CaptureThreadHandle = nullptr;
    }
    DEBUG_LOG("CaptureStopThread() info");
    return 1;
}

void CapturePacketHandlerControl(int on) {
    {
        // Taking the lock waits for a handler call in progress; a call that
        // starts later sees the new value.
        std::lock_guard<std::mutex> hold(Capture.HandlerLock);
        Capture.PacketHandlerEnabled.store(on ? 1 : 0, std::memory_order_relaxed);
    }
    if (on)
        DEBUG_LOG("CapturePacketHandlerControl(TRUE) info");
    else
        DEBUG_LOG("CapturePacketHandlerControl(FALSE) info");
}

int CaptureLinkType() { return Capture.LinkType.load(std::memory_order_relaxed); }

int CaptureLastStats(uint64_t* received, uint64_t* dropped) {
    if (!Capture.StatsValid.load(std::memory_order_relaxed)) return 0;
    if (received) *received = Capture.StatsReceived.load(std::memory_order_relaxed);
    if (dropped) *dropped = Capture.StatsDropped.load(std::memory_order_relaxed);
    return 1;
}
