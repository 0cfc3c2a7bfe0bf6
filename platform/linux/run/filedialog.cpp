#include "platform/linux/run/filedialog.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QScreen>
#include <QSortFilterProxyModel>

#include <vector>

namespace platform::linux_impl {
namespace {

// Hides the files we may not run while the programs filter is chosen.
class ProgramsOnly final : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setActive(bool active)
    {
        if (active != active_) {
            active_ = active;
            invalidateFilter();
        }
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        if (!active_)
            return true;
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (files == nullptr)
            return true;
        const QFileInfo info = files->fileInfo(files->index(row, 0, parent));
        return info.isDir() || (info.isFile() && info.isExecutable());
    }

private:
    bool active_ = false;
};

// The way the filter list shows a filter; the details are hidden, so only the label shows.
QString nameFilterOf(const FileFilter& filter)
{
    return filter.label + QStringLiteral(" (") + filter.patterns + u')';
}

}  // namespace

FileFilter parseFileFilter(const QString& entry)
{
    const qsizetype bar = entry.indexOf(u'|');
    FileFilter filter;
    filter.label = bar < 0 ? entry : entry.left(bar);
    const QString given = bar < 0 ? QString() : entry.mid(bar + 1);
    QStringList patterns;
    for (const QString& raw : given.split(u';', Qt::SkipEmptyParts)) {
        const QString pattern = raw.trimmed();
        if (pattern.compare(u"*.exe", Qt::CaseInsensitive) == 0)
            filter.programs = true;
        else if (pattern == u"*.*")
            patterns << QStringLiteral("*");
        else if (!pattern.isEmpty())
            patterns << pattern;
    }
    if (filter.programs || patterns.isEmpty())
        patterns = QStringList{QStringLiteral("*")};
    patterns.removeDuplicates();
    filter.patterns = patterns.join(u' ');
    return filter;
}

bool openFileName(QWidget* parent, OpenFileRequest& request)
{
    std::vector<FileFilter> filters;
    QStringList nameFilters;
    for (const QString& entry : request.filters) {
        filters.push_back(parseFileFilter(entry));
        nameFilters << nameFilterOf(filters.back());
    }

    QFileDialog dialog(parent);
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    auto* programsOnly = new ProgramsOnly(&dialog);
    dialog.setProxyModel(programsOnly);

    // The dialog names the chosen filter by what its list shows, which with the details hidden
    // is just the label.
    const auto indexOf = [&](const QString& shown) -> int {
        for (std::size_t i = 0; i < filters.size(); ++i) {
            if (shown == nameFilters[i] || shown.trimmed() == filters[i].label.trimmed())
                return static_cast<int>(i);
        }
        return -1;
    };
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& shown) {
        const int at = indexOf(shown);
        programsOnly->setActive(at >= 0 && filters[at].programs);
    });
    if (!nameFilters.isEmpty()) {
        dialog.setNameFilters(nameFilters);
        const int wanted = request.filterIndex >= 1 && request.filterIndex <= nameFilters.size()
                               ? request.filterIndex - 1
                               : 0;
        dialog.selectNameFilter(nameFilters[wanted]);
        programsOnly->setActive(filters[wanted].programs);
    }
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);

    // Centred across the screen, a third of the way down.
    QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        const QRect area = screen->availableGeometry();
        const QSize size = dialog.sizeHint().expandedTo(dialog.minimumSizeHint());
        dialog.resize(size);
        dialog.move(area.x() + (area.width() - size.width()) / 2,
                    area.y() + (area.height() - size.height()) / 3);
    }

    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    request.fileName = dialog.selectedFiles().constFirst();
    if (const int at = indexOf(dialog.selectedNameFilter()); at >= 0)
        request.filterIndex = at + 1;
    return true;
}

}  // namespace platform::linux_impl
