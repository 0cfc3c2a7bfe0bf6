#include "texts.h"

#include "platform/text.h"

#include <charconv>
#include <cstring>

// The window's title and the error boxes' caption. The tray tip and the exit command say
// "ソラトキ" instead; both names are meant, so neither is to be made to match the other.
QString AppTitle()
{
    return QStringLiteral("ミレボ");
}

void CopyTip(char (&tip)[64], const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    const std::size_t size = platform::utf8Prefix(
        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), sizeof tip - 1);
    std::memcpy(tip, bytes.constData(), size);
    tip[size] = '\0';
}

QString NameText(bool ok, const char* buffer, std::size_t bufferSize)
{
    if (!ok)
        return QStringLiteral("(不明)");
    return QString::fromUtf8(buffer, static_cast<qsizetype>(strnlen(buffer, bufferSize)));
}

std::optional<std::int64_t> ParseInt64(const QString& text)
{
    QByteArray bytes = text.toLatin1();
    if (text.isEmpty() || bytes.size() != text.size())
        return std::nullopt;
    const char* first = bytes.constData();
    const char* last = first + bytes.size();
    if (*first == '+' && ++first != last && *first == '-')
        return std::nullopt;
    if (first == last)
        return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last)
        return std::nullopt;
    return value;
}
