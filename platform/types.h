#pragma once
// The plain values that cross the platform interface: figures, window rows, handles, the
// statistics source's keys and types, and the tray's operation and message codes. Nothing here
// needs Qt, so the /proc and title parsers (and their fuzzers) build with the C++ library alone.
//
// Why a Linux program carries numbers such as 0x80000006, 88 or 0x401: the program's logic is
// written against the small operating-system interface of the desktop it first ran on, with
// that interface's records, codes and message numbers, and keeps them, so that its behaviour
// (what it checks, in which order, what a failure does) stays exactly as designed. Each backend
// turns them into what its own system offers; nothing outside this program ever sees them.

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// ---- memory -------------------------------------------------------------------------------------
struct MemoryStatus {
    std::uint32_t memoryLoad = 0;   // percent of physical memory in use
    std::uint64_t totalPhys = 0;    // bytes of physical memory
};

// ---- windows ------------------------------------------------------------------------------------
// The longest title a row carries, in bytes of UTF-8: every source cuts longer ones to it.
constexpr std::size_t kMaxTitleBytes = 1023;

struct WindowInfo {
    std::uint64_t id = 0;           // the window system's id of the window
    std::string title;              // UTF-8, at most kMaxTitleBytes, cut at a character boundary; "" = none
    bool visible = false;           // mapped or minimised; withdrawn and never-mapped windows are not
    std::uint32_t pid = 0;          // owning process; 0 when the owner cannot be found out
    std::uint64_t identity = 0;     // the owner's start time, to tell it from a later process that
                                    // reuses the id; 0 when unknown: such a row is never ended
    bool foreignPid = false;        // the source's pids name processes of another pid namespace
                                    // (a sandbox or container between it and us): listed, but
                                    // End task refuses, with an error
};

// ---- processes ----------------------------------------------------------------------------------
using ProcessHandle = std::uint64_t;   // 0 = no handle

// ---- statistics source (a small registry of keys and typed values) ------------------------------
using StatKey = std::uint64_t;
constexpr StatKey kDynDataRoot = 0x80000006;   // the root below which the statistics keys live

enum ValueType : std::uint32_t {
    kTypeNone = 0,
    kTypeString = 1,
    kTypeExpandString = 2,
    kTypeBinary = 3,
    kTypeDWord = 4,
};

// Error codes of the registry operations.
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorMoreData = 234;

// ---- tray ---------------------------------------------------------------------------------------
// Which fields of the tray record count, and the record's own size.
constexpr std::uint32_t kNifMessage = 1, kNifIcon = 2, kNifTip = 4;
constexpr std::uint32_t kTrayDataSize = 88;
// The first message number free for a program's own use; the tray's callback is the next one.
constexpr std::uint32_t kUserMessage = 0x400;
constexpr std::uint32_t kTrayCallbackMessage = kUserMessage + 1;
// The mouse messages a tray callback carries (in lParam).
constexpr std::uint32_t kMouseMove = 0x200, kLButtonDown = 0x201, kLButtonUp = 0x202,
                        kLButtonDblClk = 0x203, kRButtonDown = 0x204, kRButtonUp = 0x205,
                        kMButtonDown = 0x207;

enum class TrayOp { Add = 0, Modify = 1, Delete = 2 };

}  // namespace platform
