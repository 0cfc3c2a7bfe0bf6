#include "platform/linux/proc/statregistry.h"

#include "platform/text.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

namespace platform::linux_impl {
namespace {

constexpr std::string_view kCpuUsage = "KERNEL\\CPUUsage";
constexpr std::uint32_t kLoadSize = 4;

// Key and value names compare without regard to ASCII case, as in any registry.
constexpr auto sameName = equalsIgnoringAsciiCase;

}  // namespace

std::optional<StatRegistry::Node> StatRegistry::childOf(Node node, std::string_view name)
{
    if (node == Node::Root && sameName(name, "PerfStats"))
        return Node::PerfStats;
    if (node == Node::PerfStats && sameName(name, "StartStat"))
        return Node::StartStat;
    if (node == Node::PerfStats && sameName(name, "StatData"))
        return Node::StatData;
    return std::nullopt;
}

StatRegistry::StatRegistry(Source source) : source_(std::move(source)) {}

std::optional<StatRegistry::Node> StatRegistry::nodeOf(StatKey key) const
{
    if (key == kDynDataRoot)
        return Node::Root;
    const auto it = open_.find(key);
    if (it == open_.end())
        return std::nullopt;
    return it->second;
}

long StatRegistry::openKey(StatKey parent, const std::string& subKey, StatKey* result)
{
    if (result == nullptr)
        return kErrorInvalidHandle;
    *result = 0;
    auto node = nodeOf(parent);
    if (!node)
        return kErrorInvalidHandle;

    // An empty path opens the parent itself again; an empty part anywhere names nothing.
    if (!subKey.empty()) {
        const std::string_view path = subKey;
        for (std::size_t pos = 0;;) {
            const std::size_t cut = path.find('\\', pos);
            node = childOf(*node, path.substr(pos, cut - pos));
            if (!node)
                return kErrorFileNotFound;
            if (cut == std::string_view::npos)
                break;
            pos = cut + 1;
        }
    }

    if (nextHandle_ == kDynDataRoot)
        ++nextHandle_;
    *result = nextHandle_++;
    open_.emplace(*result, *node);
    return kErrorSuccess;
}

long StatRegistry::queryValue(StatKey key, const std::string& name, std::uint32_t* type,
                              void* data, std::uint32_t* size)
{
    const auto node = nodeOf(key);
    if (!node)
        return kErrorInvalidHandle;
    if ((*node != Node::StartStat && *node != Node::StatData) || !sameName(name, kCpuUsage))
        return kErrorFileNotFound;

    if (type != nullptr)
        *type = kTypeBinary;
    if (data == nullptr) {
        if (size != nullptr)
            *size = kLoadSize;
        return kErrorSuccess;
    }
    // Too small a buffer is told before any sampling, so the interval is not disturbed.
    if (size == nullptr || *size < kLoadSize) {
        if (size != nullptr)
            *size = kLoadSize;
        return kErrorMoreData;
    }

    const auto load = sampleLoad(*node == Node::StatData);
    if (!load)
        return kErrorFileNotFound;
    // Little-endian whatever the machine's order, spelt out: the parsers build without Qt.
    const std::uint32_t bits = static_cast<std::uint32_t>(*load);
    const unsigned char bytes[kLoadSize] = {
        static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8),
        static_cast<unsigned char>(bits >> 16), static_cast<unsigned char>(bits >> 24)};
    std::memcpy(data, bytes, kLoadSize);
    *size = kLoadSize;
    return kErrorSuccess;
}

void StatRegistry::closeKey(StatKey key)
{
    open_.erase(key);
}

std::optional<std::int32_t> StatRegistry::sampleLoad(bool startNewInterval)
{
    const auto text = source_ ? source_() : std::nullopt;
    const auto now = text ? parseCpuLine(*text) : std::nullopt;
    if (!now)
        return std::nullopt;
    const std::int32_t load = cpuLoad(baseline_, *now);
    if (startNewInterval)
        baseline_ = *now;
    return load;
}

}  // namespace platform::linux_impl
