#include "platform/linux/tray/dbusmenu.h"

#include <QAction>
#include <QActionGroup>
#include <QEvent>
#include <QMenu>
#include <QMetaObject>

namespace platform::linux_impl {
namespace {

// Qt marks the access key with '&' ("&&" for a literal one); dbusmenu with '_' ("__").
QString labelOf(const QString& text)
{
    QString label;
    label.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('&')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&')) {
                label += QLatin1Char('&');
                ++i;
            } else {
                label += QLatin1Char('_');
            }
        } else if (c == QLatin1Char('_')) {
            label += QLatin1String("__");
        } else {
            label += c;
        }
    }
    return label;
}

}  // namespace

DBusMenuExporter::DBusMenuExporter(QMenu* menu, QObject* parent) : QObject(parent), menu_(menu)
{
    registerTrayDBusTypes();
    new DBusMenuAdaptor(this);
    if (menu != nullptr)
        watch(menu);
}

void DBusMenuExporter::watch(QMenu* menu)
{
    menu->installEventFilter(this);
}

bool DBusMenuExporter::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ActionAdded:
    case QEvent::ActionRemoved:
    case QEvent::ActionChanged:
        changed();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void DBusMenuExporter::changed()
{
    ++revision_;
    emit layoutChanged(revision_, 0);
}

int DBusMenuExporter::idOf(QAction* action)
{
    const auto it = ids_.find(action);
    if (it != ids_.end() && actions_[it->second] == action)
        return it->second;
    const int id = nextId_++;
    ids_[action] = id;
    actions_[id] = action;
    if (QMenu* submenu = action->menu())
        watch(submenu);
    return id;
}

QAction* DBusMenuExporter::actionOf(int id) const
{
    const auto it = actions_.find(id);
    return it != actions_.end() ? it->second.data() : nullptr;
}

QMenu* DBusMenuExporter::menuOf(int id) const
{
    if (id == 0)
        return menu_;
    QAction* action = actionOf(id);
    return action != nullptr ? action->menu() : nullptr;
}

QVariantMap DBusMenuExporter::properties(int id, const QStringList& names)
{
    QVariantMap all;
    if (id == 0) {
        all[QStringLiteral("children-display")] = QStringLiteral("submenu");
    } else if (QAction* action = actionOf(id)) {
        if (action->isSeparator()) {
            all[QStringLiteral("type")] = QStringLiteral("separator");
        } else {
            all[QStringLiteral("label")] = labelOf(action->text());
            if (action->menu() != nullptr)
                all[QStringLiteral("children-display")] = QStringLiteral("submenu");
            if (action->isCheckable()) {
                const bool radio = action->actionGroup() != nullptr && action->actionGroup()->isExclusive();
                all[QStringLiteral("toggle-type")] = radio ? QStringLiteral("radio") : QStringLiteral("checkmark");
                all[QStringLiteral("toggle-state")] = action->isChecked() ? 1 : 0;
            }
        }
        all[QStringLiteral("enabled")] = action->isEnabled();
        all[QStringLiteral("visible")] = action->isVisible();
    }
    if (names.isEmpty())
        return all;
    QVariantMap asked;
    for (const QString& name : names) {
        if (const auto it = all.constFind(name); it != all.constEnd())
            asked.insert(name, *it);
    }
    return asked;
}

DBusMenuLayout DBusMenuExporter::build(int id, int depth, const QStringList& names)
{
    DBusMenuLayout item{id, properties(id, names), {}};
    if (depth == 0)
        return item;
    if (QMenu* menu = menuOf(id)) {
        for (QAction* action : menu->actions())
            item.children.push_back(build(idOf(action), depth < 0 ? -1 : depth - 1, names));
    }
    return item;
}

uint DBusMenuExporter::layout(int parentId, int depth, const QStringList& names, DBusMenuLayout& out)
{
    out = build(parentId, depth, names);
    return revision_;
}

DBusMenuItems DBusMenuExporter::groupProperties(const QList<int>& ids, const QStringList& names)
{
    DBusMenuItems items;
    for (const int id : ids) {
        if (id == 0 || actionOf(id) != nullptr)
            items.push_back({id, properties(id, names)});
    }
    return items;
}

QVariant DBusMenuExporter::itemProperty(int id, const QString& name)
{
    return properties(id, {name}).value(name);
}

bool DBusMenuExporter::handleEvent(int id, const QString& eventId)
{
    if (eventId == QLatin1String("clicked")) {
        QAction* action = actionOf(id);
        if (action == nullptr)
            return false;
        // From the event loop: the item may end the program, which must not happen inside a
        // D-Bus call that is still to be answered.
        QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
    } else if (eventId == QLatin1String("opened") && id == 0 && !announced_) {
        // A host that opens the menu without asking first.
        aboutToShow(0);
    } else if (eventId == QLatin1String("closed") && id == 0) {
        announced_ = false;
    }
    return id == 0 || actionOf(id) != nullptr;
}

bool DBusMenuExporter::aboutToShow(int id)
{
    QMenu* menu = menuOf(id);
    if (menu == nullptr)
        return false;
    if (id == 0)
        announced_ = true;
    emit menu->aboutToShow();
    return false;   // the layout the host has is current: changes are announced as they happen
}

DBusMenuAdaptor::DBusMenuAdaptor(DBusMenuExporter* exporter)
    : QDBusAbstractAdaptor(exporter), exporter_(exporter)
{
    connect(exporter, &DBusMenuExporter::layoutChanged, this, &DBusMenuAdaptor::LayoutUpdated);
}

uint DBusMenuAdaptor::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                DBusMenuLayout& layout)
{
    return exporter_->layout(parentId, recursionDepth, propertyNames, layout);
}

DBusMenuItems DBusMenuAdaptor::GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames)
{
    return exporter_->groupProperties(ids, propertyNames);
}

QDBusVariant DBusMenuAdaptor::GetProperty(int id, const QString& name)
{
    return QDBusVariant(exporter_->itemProperty(id, name));
}

void DBusMenuAdaptor::Event(int id, const QString& eventId, const QDBusVariant&, uint)
{
    exporter_->handleEvent(id, eventId);
}

QList<int> DBusMenuAdaptor::EventGroup(const DBusMenuEvents& events)
{
    QList<int> errors;
    for (const DBusMenuEvent& event : events) {
        if (!exporter_->handleEvent(event.id, event.eventId))
            errors.push_back(event.id);
    }
    return errors;
}

bool DBusMenuAdaptor::AboutToShow(int id)
{
    return exporter_->aboutToShow(id);
}

QList<int> DBusMenuAdaptor::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors)
{
    for (const int id : ids) {
        if (id != 0 && exporter_->groupProperties({id}, {}).isEmpty())
            idErrors.push_back(id);
        else
            exporter_->aboutToShow(id);
    }
    return {};
}

}  // namespace platform::linux_impl
