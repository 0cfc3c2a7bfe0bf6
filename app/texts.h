#pragma once
// Small text helpers shared by the windows: fixed texts, byte-limited copies, number parsing.

#include <cstddef>
#include <cstdint>
#include <optional>

#include <QString>

// The application's title: the caption of its error boxes and of its taskbar button.
QString AppTitle();

// Copies text into a 64-byte tip field, NUL-terminated, cut to 63 bytes at a character boundary.
void CopyTip(char (&tip)[64], const QString& text);

// The text of a name read into a buffer: up to the first NUL; a sound placeholder when the name
// could not be read.
QString NameText(bool ok, const char* buffer, std::size_t bufferSize);

// A whole decimal number with an optional sign and nothing else, as a signed 64-bit value.
std::optional<std::int64_t> ParseInt64(const QString& text);

