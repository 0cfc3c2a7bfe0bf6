#pragma once
// The statistics source: a tiny fixed tree of keys with the processor load as its one value.
//
//   (root kDynDataRoot) \ PerfStats \ StartStat  "KERNEL\CPUUsage"
//                                   \ StatData   "KERNEL\CPUUsage"
//
// Reading StatData gives the load since the previous StatData reading and starts a new
// interval; reading StartStat gives the load of the interval so far without ending it.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/linux/proc/cpustat.h"
#include "platform/types.h"

namespace platform::linux_impl {

class StatRegistry {
public:
    using Source = std::function<std::optional<std::string>()>;   // the text of /proc/stat

    explicit StatRegistry(Source source);

    long openKey(StatKey parent, const std::string& subKey, StatKey* result);
    long queryValue(StatKey key, const std::string& name, std::uint32_t* type, void* data,
                    std::uint32_t* size);
    void closeKey(StatKey key);

private:
    enum class Node { Root, PerfStats, StartStat, StatData };

    static std::optional<Node> childOf(Node node, std::string_view name);
    std::optional<Node> nodeOf(StatKey key) const;
    std::optional<std::int32_t> sampleLoad(bool startNewInterval);

    Source source_;
    CpuTimes baseline_;   // zero until the first StatData reading: the first load is since boot
    std::map<StatKey, Node> open_;
    StatKey nextHandle_ = 1;
};

}  // namespace platform::linux_impl
