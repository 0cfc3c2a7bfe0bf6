// The statistics tree driven the way a caller might, right or wrong, over /proc/stat texts
// that may be anything: the bytes script a run of open, query and close calls and the text
// each sampling reads. No call may crash, write past the room it was given, report a size
// other than the value's, or give a load outside 0..100.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "check.h"
#include "platform/linux/proc/statregistry.h"

using namespace platform;
using namespace platform::linux_impl;

namespace {

constexpr std::uint32_t kLoadSize = 4;

const char* const kKeyNames[] = {
    "", "PerfStats", "perfstats", "PERFSTATS\\StatData", "PerfStats\\StartStat",
    "PerfStats\\StatData", "StatData", "StartStat", "PerfStats\\", "\\PerfStats",
    "PerfStats\\\\StatData", "PerfStats\\StatData\\", "PerfStats\\StatData\\x",
};
const char* const kValueNames[] = {
    "KERNEL\\CPUUsage", "kernel\\cpuusage", "KERNEL\\CPUUsage\\", "KERNEL", "CPUUsage", "",
};

bool isErrorCode(long rc)
{
    return rc == kErrorSuccess || rc == kErrorFileNotFound || rc == kErrorInvalidHandle ||
           rc == kErrorMoreData;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    // Each sampling reads a text that is unreadable, a well-formed aggregate line of fuzzed
    // counters (so that loads get computed and checked), or any bytes at all.
    StatRegistry registry([&in]() -> std::optional<std::string> {
        switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0:
            return std::nullopt;
        case 1:
        case 2: {
            std::string line = "cpu ";
            const int fields = in.ConsumeIntegralInRange(4, 10);
            for (int i = 0; i < fields; ++i)
                line += " " + std::to_string(in.ConsumeIntegral<std::uint64_t>());
            return line + "\ncpu0 1 2 3 4\n";
        }
        default:
            return in.ConsumeRandomLengthString(512);
        }
    });

    std::vector<StatKey> known{kDynDataRoot, 0};
    std::set<StatKey> open;
    for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
        const auto pickKey = [&]() -> StatKey {
            if (in.ConsumeBool())
                return in.ConsumeIntegral<StatKey>();
            return known[in.ConsumeIntegralInRange<std::size_t>(0, known.size() - 1)];
        };
        const auto pickName = [&](const auto& names) -> std::string {
            if (in.ConsumeBool())
                return in.ConsumeRandomLengthString(40);
            return names[in.ConsumeIntegralInRange<std::size_t>(0, std::size(names) - 1)];
        };

        switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0: {
            const StatKey parent = pickKey();
            const std::string subKey = pickName(kKeyNames);
            const bool withResult = in.ConsumeIntegralInRange(0, 15) != 0;
            StatKey result = 0xDEADBEEF;
            const long rc = registry.openKey(parent, subKey, withResult ? &result : nullptr);
            FUZZ_CHECK(isErrorCode(rc) && rc != kErrorMoreData);
            if (!withResult) {
                FUZZ_CHECK(rc != kErrorSuccess);
                break;
            }
            if (rc != kErrorSuccess) {
                FUZZ_CHECK(result == 0);
                break;
            }
            // A fresh handle: never 0, never the root, never one still open.
            FUZZ_CHECK(result != 0 && result != kDynDataRoot);
            FUZZ_CHECK(open.insert(result).second);
            known.push_back(result);
            break;
        }
        case 1: {
            const StatKey key = pickKey();
            const std::string name = pickName(kValueNames);
            const bool withType = in.ConsumeBool(), withData = in.ConsumeIntegralInRange(0, 3) != 0,
                       withSize = in.ConsumeIntegralInRange(0, 7) != 0;
            // Exactly the room the caller says it has, so that a write past it is caught.
            const std::uint32_t room = in.ConsumeIntegralInRange<std::uint32_t>(0, 9);
            // (new[] gives a real pointer even for no room at all, unlike an empty vector.)
            const auto buffer = std::make_unique<unsigned char[]>(room);
            std::uint32_t type = 0xDEADBEEF, sizeArg = room;
            const long rc = registry.queryValue(key, name, withType ? &type : nullptr,
                                                withData ? buffer.get() : nullptr,
                                                withSize ? &sizeArg : nullptr);
            FUZZ_CHECK(isErrorCode(rc));
            if (rc == kErrorSuccess || rc == kErrorMoreData) {
                if (withSize)
                    FUZZ_CHECK(sizeArg == kLoadSize);
                if (withType)
                    FUZZ_CHECK(type == kTypeBinary);
            } else if (withSize && rc == kErrorInvalidHandle) {
                FUZZ_CHECK(sizeArg == room);
            }
            if (rc == kErrorMoreData)
                FUZZ_CHECK(withData && (!withSize || room < kLoadSize));
            if (rc == kErrorSuccess && withData) {
                FUZZ_CHECK(withSize && room >= kLoadSize);
                std::int32_t load = 0;
                std::memcpy(&load, buffer.get(), sizeof load);
                FUZZ_CHECK(load >= 0 && load <= 100);
            }
            break;
        }
        case 2: {
            const StatKey key = pickKey();
            registry.closeKey(key);
            open.erase(key);
            break;
        }
        case 3: {
            // The root is always there and can never be closed.
            registry.closeKey(kDynDataRoot);
            StatKey result = 0;
            FUZZ_CHECK(registry.openKey(kDynDataRoot, "PerfStats", &result) == kErrorSuccess);
            FUZZ_CHECK(open.insert(result).second);
            known.push_back(result);
            break;
        }
        }
    }
    return 0;
}
