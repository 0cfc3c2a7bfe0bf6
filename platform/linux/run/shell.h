#pragma once
// Starting a program, or opening a document or address, named by the run dialog's text.

#include <QString>

namespace platform::linux_impl {

// The absolute path of the program `text` names: a path when it holds a '/', otherwise looked
// up along `searchPath` (':'-separated; empty entries are skipped, so the current directory is
// searched only when listed as "."). Only regular files we may execute count. Empty when none.
QString findProgram(const QString& text, const QString& searchPath);

// What shellOpen does with a text.
enum class OpenKind { Nothing, Program, Document, Address };
struct OpenTarget {
    OpenKind kind = OpenKind::Nothing;
    QString target;   // the program's path, the document's absolute path, or the address
};
OpenTarget classifyOpen(const QString& text, const QString& searchPath);

// Starts or opens what the whole text names (never split, never through a shell); does
// nothing when it names nothing. A document or an address is handed to the desktop's opener
// (xdg-open on PATH) as its one argument. Whatever starts gets its own session, every signal at
// its default action, none blocked and no descriptor of ours but 0-2, and is reaped when it
// ends; the call never waits for it.
void shellOpen(const QString& text);

}  // namespace platform::linux_impl
