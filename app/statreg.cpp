#include "statreg.h"

#include "apperror.h"

using namespace platform;

TStatReg::TStatReg(Platform& platform) : platform_(platform) {}

TStatReg::~TStatReg()
{
    CloseKey();
}

bool TStatReg::OpenKey(const std::string& name)
{
    StatKey opened = 0;
    const StatKey parent = currentKey_ ? currentKey_ : rootKey_;
    if (platform_.regOpenKey(parent, name, &opened) != kErrorSuccess || opened == 0)
        return false;
    CloseKey();
    currentKey_ = opened;
    return true;
}

int TStatReg::ReadBinaryData(const std::string& name, void* buffer, int bufferSize)
{
    std::uint32_t type = kTypeNone;
    std::uint32_t size = 0;
    if (platform_.regQueryValue(currentKey_, name, &type, nullptr, &size) != kErrorSuccess)
        return 0;
    const QString quoted = QString::fromStdString(name);
    const bool textOrNumber = type == kTypeString || type == kTypeExpandString || type == kTypeDWord;
    if (textOrNumber || size > static_cast<std::uint32_t>(bufferSize))
        throw EAppError(QStringLiteral("'%1' のデータ型が不正です").arg(quoted));
    if (platform_.regQueryValue(currentKey_, name, &type, buffer, &size) != kErrorSuccess)
        throw EAppError(QStringLiteral("'%1' の取得に失敗しました").arg(quoted));
    return static_cast<int>(size);
}

void TStatReg::CloseKey()
{
    if (currentKey_) {
        platform_.regCloseKey(currentKey_);
        currentKey_ = 0;
    }
}
