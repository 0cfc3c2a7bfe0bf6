// Our StatusNotifierItem on a real session bus, seen from a stand-in watcher and host: it tells
// the watcher, hands a ContextMenu's position on with the right click, and offers its menu over
// dbusmenu. Run under a private bus (ctest: linux_tests_on_bus); skipped without one.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QElapsedTimer>
#include <QMenu>
#include <QPixmap>
#include <QXmlStreamReader>

#include <cstring>
#include <functional>

#include "platform/linux/tray/tray.h"
#include "platform/linux/tray/dbustypes.h"
#include "tests/linux/waitfor.h"

using namespace platform;
using namespace platform::linux_impl;

namespace {

class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
public:
    QStringList registered;

public slots:
    void RegisterStatusNotifierItem(const QString& service) { registered << service; }
};

class SignalCounter : public QObject {
    Q_OBJECT
public:
    int n = 0;
public slots:
    void count() { ++n; }
};

struct Receiver final : TrayReceiver {
    explicit Receiver(TrayIcons& tray) : tray(tray) {}
    void trayMessage(std::uint32_t message, std::uint32_t, std::uint32_t mouse) override
    {
        messages.push_back({message, mouse});
        points.push_back(tray.clickPoint());
    }
    TrayIcons& tray;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> messages;
    std::vector<std::optional<QPoint>> points;
};

class SniOnBus : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus (run under dbus-run-session)";
        watcherBus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("watcher")));
        ASSERT_TRUE(watcherBus->registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
        ASSERT_TRUE(watcherBus->registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                               QDBusConnection::ExportAllSlots));
    }
    void TearDown() override
    {
        if (watcherBus) {
            watcherBus->unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
            watcherBus.reset();
            QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
        }
    }

    TrayData Record(Receiver& receiver, QMenu* menu)
    {
        TrayData data;
        data.size = sizeof data;
        data.window = &receiver;
        data.id = 100;
        data.flags = kNifMessage | kNifIcon | kNifTip;
        data.callbackMessage = kTrayCallbackMessage;
        QPixmap pixmap(16, 16);
        pixmap.fill(QColor(0, 255, 0));
        data.icon = QIcon(pixmap);
        std::strncpy(data.tip, "CPU 使用率 42%", sizeof data.tip - 1);
        data.menu = menu;
        return data;
    }

    // A call as a host makes it, from a connection of the host's own.
    QDBusMessage Call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {})
    {
        QDBusMessage call = QDBusMessage::createMethodCall(watcher.registered.value(0), path, interface, method);
        call.setArguments(arguments);
        return watcherBus->call(call, QDBus::BlockWithGui, 5000);
    }
    QVariant Property(const QString& name)
    {
        const QDBusMessage reply = Call(QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.freedesktop.DBus.Properties"),
                                        QStringLiteral("Get"),
                                        {QStringLiteral("org.kde.StatusNotifierItem"), name});
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }

    FakeWatcher watcher;
    std::unique_ptr<QDBusConnection> watcherBus;
};

}  // namespace

TEST_F(SniOnBus, RegistersWithTheWatcherAndLeavesTheBusWhenDeleted)
{
    TrayIcons tray;
    Receiver receiver(tray);
    QMenu menu;
    menu.addAction(QStringLiteral("終了"));
    ASSERT_TRUE(tray.apply(TrayOp::Add, Record(receiver, &menu)));
    ASSERT_TRUE(WaitFor([&] { return !watcher.registered.isEmpty(); }));
    const QString service = watcher.registered[0];
    EXPECT_TRUE(service.startsWith(QStringLiteral("org.kde.StatusNotifierItem-")));
    EXPECT_TRUE(QDBusConnection::sessionBus().interface()->isServiceRegistered(service).value());
    ASSERT_TRUE(tray.apply(TrayOp::Delete, Record(receiver, &menu)));
    EXPECT_FALSE(QDBusConnection::sessionBus().interface()->isServiceRegistered(service).value());
}

TEST_F(SniOnBus, ARightClickCarriesWhereTheHostSaysItWas)
{
    TrayIcons tray;
    Receiver receiver(tray);
    QMenu menu;
    ASSERT_TRUE(tray.apply(TrayOp::Add, Record(receiver, &menu)));
    ASSERT_TRUE(WaitFor([&] { return !watcher.registered.isEmpty(); }));
    Call(QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.kde.StatusNotifierItem"),
         QStringLiteral("ContextMenu"), {1262, 708});
    ASSERT_TRUE(WaitFor([&] { return !receiver.messages.empty(); }));
    EXPECT_EQ(receiver.messages[0], std::make_pair(kTrayCallbackMessage, kRButtonDown));
    EXPECT_EQ(receiver.points[0], QPoint(1262, 708));
    EXPECT_FALSE(tray.clickPoint());   // only while the message is handled

    Call(QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.kde.StatusNotifierItem"),
         QStringLiteral("Activate"), {5, 6});
    ASSERT_TRUE(WaitFor([&] { return receiver.messages.size() == 2; }));
    EXPECT_EQ(receiver.messages[1].second, kLButtonDown);
}

TEST_F(SniOnBus, IconAndTipAsHostsReadThem)
{
    TrayIcons tray;
    Receiver receiver(tray);
    ASSERT_TRUE(tray.apply(TrayOp::Add, Record(receiver, nullptr)));
    ASSERT_TRUE(WaitFor([&] { return !watcher.registered.isEmpty(); }));
    registerTrayDBusTypes();
    const auto pixmaps = qdbus_cast<SniPixmaps>(Property(QStringLiteral("IconPixmap")));
    ASSERT_FALSE(pixmaps.isEmpty());
    EXPECT_EQ(pixmaps[0].width, 16);
    ASSERT_EQ(pixmaps[0].argb.size(), 16 * 16 * 4);
    // Network order: alpha, red, green, blue.
    EXPECT_EQ(pixmaps[0].argb.left(4), QByteArray("\xff\x00\xff\x00", 4));
    const auto tip = qdbus_cast<SniToolTip>(Property(QStringLiteral("ToolTip")));
    EXPECT_EQ(tip.title, QStringLiteral("CPU 使用率 42%"));
    EXPECT_EQ(Property(QStringLiteral("Status")).toString(), QStringLiteral("Active"));
    EXPECT_FALSE(Property(QStringLiteral("ItemIsMenu")).toBool());
    // GNOME's AppIndicator host reads these with the icon and logs an error when they are missing.
    EXPECT_EQ(Property(QStringLiteral("IconAccessibleDesc")).toString(), QStringLiteral("CPU 使用率 42%"));
    EXPECT_TRUE(Property(QStringLiteral("AttentionAccessibleDesc")).isValid());
}

// Every NewIcon has a host fetch and decode the pictures again; the program makes a new icon
// object every tick, mostly of the same picture.
TEST_F(SniOnBus, ANewIconOfTheSamePictureIsNoNews)
{
    TrayIcons tray;
    Receiver receiver(tray);
    TrayData data = Record(receiver, nullptr);
    ASSERT_TRUE(tray.apply(TrayOp::Add, data));
    ASSERT_TRUE(WaitFor([&] { return !watcher.registered.isEmpty(); }));
    SignalCounter newIcons;
    ASSERT_TRUE(watcherBus->connect(watcher.registered[0], QStringLiteral("/StatusNotifierItem"),
                                    QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("NewIcon"),
                                    &newIcons, SLOT(count())));
    QPixmap same(16, 16);
    same.fill(QColor(0, 255, 0));
    data.icon = QIcon(same);   // another object, the same picture
    ASSERT_TRUE(tray.apply(TrayOp::Modify, data));
    QPixmap other(16, 16);
    other.fill(QColor(0, 0, 0));
    data.icon = QIcon(other);
    ASSERT_TRUE(tray.apply(TrayOp::Modify, data));
    ASSERT_TRUE(WaitFor([&] { return newIcons.n > 0; }));
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(newIcons.n, 1);
}

TEST_F(SniOnBus, TheMenuGoesOutOverDBusMenu)
{
    TrayIcons tray;
    Receiver receiver(tray);
    QMenu menu;
    QAction* exit = menu.addAction(QStringLiteral("終了"));
    menu.addSeparator();
    QAction* mnemonic = menu.addAction(QStringLiteral("新規実行(&G)..."));
    mnemonic->setEnabled(false);
    int triggered = 0, shown = 0;
    QObject::connect(exit, &QAction::triggered, [&] { ++triggered; });
    QObject::connect(&menu, &QMenu::aboutToShow, [&] { ++shown; });
    ASSERT_TRUE(tray.apply(TrayOp::Add, Record(receiver, &menu)));
    ASSERT_TRUE(WaitFor([&] { return !watcher.registered.isEmpty(); }));

    const auto path = qvariant_cast<QDBusObjectPath>(Property(QStringLiteral("Menu")));
    ASSERT_EQ(path.path(), QStringLiteral("/MenuBar"));
    const QString dbusmenu = QStringLiteral("com.canonical.dbusmenu");
    const QDBusMessage layoutReply =
        Call(path.path(), dbusmenu, QStringLiteral("GetLayout"), {0, -1, QStringList()});
    ASSERT_EQ(layoutReply.type(), QDBusMessage::ReplyMessage) << layoutReply.errorMessage().toStdString();
    const auto layout = qdbus_cast<DBusMenuLayout>(layoutReply.arguments().value(1));
    ASSERT_EQ(layout.children.size(), 3);
    EXPECT_EQ(layout.children[0].properties.value(QStringLiteral("label")).toString(), QStringLiteral("終了"));
    EXPECT_EQ(layout.children[1].properties.value(QStringLiteral("type")).toString(), QStringLiteral("separator"));
    EXPECT_EQ(layout.children[2].properties.value(QStringLiteral("label")).toString(),
              QStringLiteral("新規実行(_G)..."));
    EXPECT_FALSE(layout.children[2].properties.value(QStringLiteral("enabled")).toBool());

    // A host that draws the menu asks first (the program brings its window forward then), and
    // reports the choice.
    Call(path.path(), dbusmenu, QStringLiteral("AboutToShow"), {0});
    EXPECT_EQ(shown, 1);
    Call(path.path(), dbusmenu, QStringLiteral("Event"),
         {layout.children[0].id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    EXPECT_TRUE(WaitFor([&] { return triggered == 1; }));
    EXPECT_TRUE(receiver.messages.empty());   // no right click for the program to answer

    // GTK hosts send their clicks in groups; an unknown item comes back as an error.
    DBusMenuEvents events{{layout.children[0].id, QStringLiteral("clicked"), QDBusVariant(0), 0},
                          {999, QStringLiteral("clicked"), QDBusVariant(0), 0}};
    const QDBusMessage group =
        Call(path.path(), dbusmenu, QStringLiteral("EventGroup"), {QVariant::fromValue(events)});
    ASSERT_EQ(group.type(), QDBusMessage::ReplyMessage) << group.errorMessage().toStdString();
    EXPECT_EQ(qdbus_cast<QList<int>>(group.arguments().value(0)), QList<int>{999});
    EXPECT_TRUE(WaitFor([&] { return triggered == 2; }));
}

// Every member of the menu interface, with its signature, as introspection shows it: Qt's D-Bus
// leaves out, with no more than a warning, any member whose types it does not know by name.
TEST_F(SniOnBus, TheMenuObjectOffersEveryMemberOfTheInterface)
{
    TrayIcons tray;
    Receiver receiver(tray);
    QMenu menu;
    menu.addAction(QStringLiteral("終了"));
    ASSERT_TRUE(tray.apply(TrayOp::Add, Record(receiver, &menu)));
    ASSERT_TRUE(WaitFor([&] { return !watcher.registered.isEmpty(); }));
    const QDBusMessage reply = Call(QStringLiteral("/MenuBar"), QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                    QStringLiteral("Introspect"));
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();

    // "method Name(in) -> out", "signal Name(args)", "property Name type access": what reaches
    // the wire, for each member of com.canonical.dbusmenu.
    QStringList members;
    QString name, in, out;
    QXmlStreamReader xml(reply.arguments().value(0).toString());
    bool inInterface = false;
    while (!xml.atEnd()) {
        xml.readNext();
        const auto attribute = [&](const char* key) { return xml.attributes().value(QLatin1String(key)).toString(); };
        const auto element = xml.name().toString();
        if (xml.isStartElement() && element == QLatin1String("interface")) {
            inInterface = attribute("name") == QLatin1String("com.canonical.dbusmenu");
        } else if (!inInterface) {
            continue;
        } else if (xml.isStartElement() && element == QLatin1String("property")) {
            members << QStringLiteral("property %1 %2 %3").arg(attribute("name"), attribute("type"), attribute("access"));
        } else if (xml.isStartElement() && (element == QLatin1String("method") || element == QLatin1String("signal"))) {
            name = attribute("name");
            in.clear();
            out.clear();
        } else if (xml.isStartElement() && element == QLatin1String("arg")) {
            (attribute("direction") == QLatin1String("in") ? in : out) += attribute("type");
        } else if (xml.isEndElement() && element == QLatin1String("method")) {
            members << QStringLiteral("method %1(%2) -> %3").arg(name, in, out);
        } else if (xml.isEndElement() && element == QLatin1String("signal")) {
            members << QStringLiteral("signal %1(%2)").arg(name, out);
        }
    }
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    members.sort();
    const QStringList expected{
        QStringLiteral("method AboutToShow(i) -> b"),
        QStringLiteral("method AboutToShowGroup(ai) -> aiai"),
        QStringLiteral("method Event(isvu) -> "),
        QStringLiteral("method EventGroup(a(isvu)) -> ai"),
        QStringLiteral("method GetGroupProperties(aias) -> a(ia{sv})"),
        QStringLiteral("method GetLayout(iias) -> u(ia{sv}av)"),
        QStringLiteral("method GetProperty(is) -> v"),
        QStringLiteral("property IconThemePath as read"),
        QStringLiteral("property Status s read"),
        QStringLiteral("property TextDirection s read"),
        QStringLiteral("property Version u read"),
        QStringLiteral("signal ItemActivationRequested(iu)"),
        QStringLiteral("signal ItemsPropertiesUpdated(a(ia{sv})a(ias))"),
        QStringLiteral("signal LayoutUpdated(ui)"),
    };
    EXPECT_EQ(members.join(QLatin1Char('\n')).toStdString(), expected.join(QLatin1Char('\n')).toStdString());
}

#include "test_tray_sni.moc"
