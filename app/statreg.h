#pragma once
// Read-only access to one key of the statistics source at a time.

#include <string>

#include "platform/Platform.h"

class TStatReg {
public:
    explicit TStatReg(platform::Platform& platform);
    ~TStatReg();
    TStatReg(const TStatReg&) = delete;
    TStatReg& operator=(const TStatReg&) = delete;

    void SetRootKey(platform::StatKey root) { rootKey_ = root; }
    platform::StatKey CurrentKey() const { return currentKey_; }

    // Opens the sub-key below the current key, or below the root when none is open. On success
    // the previous current key is closed; on failure nothing changes.
    bool OpenKey(const std::string& name);
    // Reads a binary (or untyped) value into buffer; returns its size, 0 when it is missing.
    // Throws EAppError for a text or number value, one larger than the buffer, or a failed read.
    int ReadBinaryData(const std::string& name, void* buffer, int bufferSize);
    void CloseKey();

private:
    platform::Platform& platform_;
    platform::StatKey rootKey_ = platform::kDynDataRoot;
    platform::StatKey currentKey_ = 0;
};
