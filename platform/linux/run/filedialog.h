#pragma once
// The run dialog's file chooser.

#include "platform/Platform.h"

class QWidget;

namespace platform::linux_impl {

// One "name|pattern" entry as the chooser handles it.
struct FileFilter {
    QString label;            // what the filter list shows
    QString patterns;         // space-separated name patterns for the file list
    bool programs = false;    // show folders and files we may run, whatever their names
};

// "*.EXE" stands for programs, which here are known by permission, not by name; "*.*" means
// every file, also those without a dot. Several patterns may be joined by ';'.
FileFilter parseFileFilter(const QString& entry);

bool openFileName(QWidget* parent, OpenFileRequest& request);

}  // namespace platform::linux_impl
